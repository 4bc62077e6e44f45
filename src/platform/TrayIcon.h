#pragma once

#include <QObject>
#include <QString>

class QIcon;

namespace tvx {

// Mouse messages of the notification-area icon, as the main window reads them.
enum TrayMessage { TrayLeftUp = 514, TrayLeftDoubleClick = 515, TrayRightUp = 517 };

// The program's icon in the notification area. Where the desktop has none, a small window
// stands in for it: it shows the same picture and tip and answers the same clicks.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    virtual bool Add(const QIcon& icon, const QString& tip) = 0;
    virtual void Modify(const QIcon& icon) = 0;
    virtual void Remove() = 0;
    virtual bool IsShown() const = 0;

signals:
    void MouseMessage(int message);
    // The user closed the stand-in window: the program is to end as from its menu.
    void CloseRequested();
};

}  // namespace tvx
