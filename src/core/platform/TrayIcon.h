#pragma once

#include <QObject>
#include <QRect>
#include <QString>

class QIcon;

namespace tvx {

// How the user clicked the notification-area icon: the left button released, a double
// click of it, or the right button released.
enum class TrayClick { Left, Double, Right };

// The program's icon in the notification area. Where the desktop has none, a small window
// stands in for it: it shows the same picture and tip and answers the same clicks.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    virtual bool Add(const QIcon& icon, const QString& tip) = 0;
    virtual void Modify(const QIcon& icon) = 0;
    virtual void Remove() = 0;
    virtual bool IsShown() const = 0;
    // Where the stand-in window is on screen, its frame included; empty while the icon sits
    // in the notification area (or is not shown). Pop-ups keep clear of it.
    virtual QRect StandInFrame() const { return QRect(); }

signals:
    void Clicked(tvx::TrayClick click);
    // The user closed the stand-in window: the program is to end as from its menu.
    void CloseRequested();
};

}  // namespace tvx
