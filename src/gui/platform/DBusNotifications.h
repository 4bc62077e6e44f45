#pragma once

#include <QHash>

#include "platform/Notifications.h"

namespace tvx {

// org.freedesktop.Notifications on the session bus.
class DBusNotificationService : public NotificationService {
    Q_OBJECT

public:
    // programPath: where the program runs from (this process's file when empty); its icon is
    // looked for from there.
    explicit DBusNotificationService(const QString& programPath = {});
    bool Notify(NotifyKind kind, const QString& summary, const QString& body) override;
    void Withdraw(NotifyKind kind) override;

private slots:
    void OnActionInvoked(uint id, const QString& action);
    void OnClosed(uint id, uint reason);

private:
    QString m_appIcon;    // the icon's name in the theme, or its file where not installed
    QString m_imagePath;  // the icon's file as a file:// address; empty when none was found
    bool m_listening = false;
    bool m_bodyMarkup = false;        // the service reads the body as markup: names are escaped
    QHash<uint, NotifyKind> m_shown;  // notifications on screen, by the service's id
};

}  // namespace tvx
