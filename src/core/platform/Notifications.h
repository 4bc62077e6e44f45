#pragma once

#include <QHash>
#include <QObject>
#include <QString>

namespace tvx {

// What a desktop notification announces; its default action brings the matching window forward.
// CallerRejected only tells: a caller was turned away for its encryption. WebArrived: a file
// came in through the web page.
enum class NotifyKind { Offer, Invitation, AutoReceived, CallerRejected, WebArrived };

// Desktop notifications beside the tray icon. Where the desktop has no notification service
// nothing is shown and nothing fails.
class NotificationService : public QObject {
    Q_OBJECT

public:
    // False when no notification could be sent (no service).
    virtual bool Notify(NotifyKind kind, const QString& summary, const QString& body) = 0;
    // Takes back the notifications of this kind still on screen: what they announced no
    // longer waits.
    virtual void Withdraw(NotifyKind /*kind*/) {}

signals:
    // The user chose the notification's default action (clicked it).
    void Activated(NotifyKind kind);
};

}  // namespace tvx
