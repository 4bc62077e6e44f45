#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <memory>

#include "platform/TrayIcon.h"

class QSystemTrayIcon;
class QLabel;
class QLockFile;
class QWidget;

namespace tvx {

// Where the stand-in window goes: the bottom right corner of the available screen area (above
// a panel), where a notification-area icon would be. Copy number `slot` (0 for the first
// running copy) stands above the ones before it, so that no copy covers another.
QPoint StandInPosition(const QRect& available, const QSize& size, int slot);

class DesktopTrayIcon : public TrayIcon {
    Q_OBJECT

public:
    DesktopTrayIcon();
    ~DesktopTrayIcon() override;
    bool Add(const QIcon& icon, const QString& tip) override;
    void Modify(const QIcon& icon) override;
    void Remove() override;
    bool IsShown() const override;
    QRect StandInFrame() const override;
    // The stand-in window, when the desktop has no notification area (null otherwise).
    QWidget* StandInWindow() const;

private:
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<QWidget> m_standIn;
    std::unique_ptr<QLockFile> m_slot;  // held while the stand-in shows: its place on screen
    QLabel* m_picture = nullptr;
};

}  // namespace tvx
