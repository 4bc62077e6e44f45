#pragma once

#include <QObject>
#include <QString>

#include "platform/Socket.h"
#include "protocol/PeerLink.h"

namespace tvx {

// How a caller reads a failed connection: the same table for a file and a chat.
enum class CallerFailure {
    PortInUse,    // the peer or another program holds the port; tried again
    BadAddress,   // no such address
    Broken,       // the connection ended midway
    Unreachable,  // no answer (shut down, timed out); tried again
    NotRunning,   // refused: nobody listens; tried again
    WrongState,
    Unknown,
};
CallerFailure ClassifyCallerError(SocketError error);
// Whether a connection that failed so is tried again when the user asked for retries.
bool IsRetriedCallerFailure(CallerFailure failure);

// The calling end of a control or chat connection: the link, dialled with the verification
// code's digest, and the retries of a connection that failed (how many, which failures). The
// owner decides when a failure may be retried; the retry itself comes a turn of the event
// loop later, once the failed connection has finished its own clean-up.
class CallerLink : public QObject {
    Q_OBJECT

public:
    CallerLink(PeerRole role, LinkContext& context, QObject* parent = nullptr);

    PeerLink& link() { return m_link; }
    // The automatic retry box and its count: `attempts` counts the first one too.
    void SetRetryPolicy(bool autoRetry, int attempts);
    // A new call: no retries used yet.
    void RestartCount();
    int retryCount() const { return m_retryCount; }
    bool retryPending() const { return m_retryPending; }

    // Connects the link, reset by the owner, to the peer's dotted address; SocketError::None
    // or what failed at once.
    SocketError Dial(const QString& peerAddress, const QString& verificationCode);
    // A failed connection: queues a retry when the policy and the failure allow it. False when
    // the owner is to report the failure itself.
    bool RetryAfter(SocketError error);
    // Drops a queued retry and resets the link.
    void Reset();

signals:
    // A queued retry is due: attempt `attempt` (from 1) is to be dialled by the owner.
    void RetryDue(int attempt);
    // The queued retry would exceed the attempts allowed.
    void RetriesUsedUp();
    // The peer did not finish the handshake in time; the link has not reset.
    void HandshakeTimedOut();

private:
    PeerLink m_link;
    bool m_autoRetry = false;
    int m_attempts = 99;
    int m_retryCount = 0;
    bool m_retryPending = false;
    quint64 m_generation = 0;  // a reset outdates a queued retry
};

}  // namespace tvx
