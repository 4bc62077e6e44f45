#pragma once

#include <QHash>

#include "platform/Notifications.h"

namespace tvx {

// org.freedesktop.Notifications on the session bus.
class DBusNotificationService : public NotificationService {
    Q_OBJECT

public:
    DBusNotificationService();
    bool Notify(NotifyKind kind, const QString& summary, const QString& body) override;
    void Withdraw(NotifyKind kind) override;

private slots:
    void OnActionInvoked(uint id, const QString& action);
    void OnClosed(uint id, uint reason);

private:
    bool m_listening = false;
    bool m_bodyMarkup = false;        // the service reads the body as markup: names are escaped
    QHash<uint, NotifyKind> m_shown;  // notifications on screen, by the service's id
};

}  // namespace tvx
