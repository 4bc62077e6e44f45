#include "protocol/CallerLink.h"

#include <QTimer>

#include "common/Handshake.h"

namespace tvx {

CallerFailure ClassifyCallerError(SocketError error) {
    switch (error) {
        case SocketError::AddressInUse:
            return CallerFailure::PortInUse;
        case SocketError::AddressNotAvailable:
        case SocketError::HostNotFound:
            return CallerFailure::BadAddress;
        case SocketError::ConnectionAborted:
        case SocketError::ConnectionReset:
            return CallerFailure::Broken;
        case SocketError::ShutDown:
        case SocketError::TimedOut:
            return CallerFailure::Unreachable;
        case SocketError::ConnectionRefused:
            return CallerFailure::NotRunning;
        case SocketError::WrongState:
            return CallerFailure::WrongState;
        default:
            return CallerFailure::Unknown;
    }
}

bool IsRetriedCallerFailure(CallerFailure failure) {
    return failure == CallerFailure::PortInUse || failure == CallerFailure::Unreachable ||
           failure == CallerFailure::NotRunning;
}

CallerLink::CallerLink(PeerRole role, LinkContext& context, QObject* parent)
    : QObject(parent), m_link(role, context) {
    connect(&m_link, &PeerLink::HandshakeTimedOut, this, [this] {
        if (!m_link.verified())
            emit HandshakeTimedOut();
    });
}

void CallerLink::SetRetryPolicy(bool autoRetry, int attempts) {
    m_autoRetry = autoRetry;
    m_attempts = attempts;
}

void CallerLink::RestartCount() {
    m_retryCount = 0;
}

SocketError CallerLink::Dial(const QString& peerAddress, const QString& verificationCode) {
    m_link.SetVerificationDigest(verificationCode.isEmpty() ? QString() : Digest(verificationCode));
    return m_link.Connect(peerAddress);
}

bool CallerLink::RetryAfter(SocketError error) {
    if (!m_autoRetry || !IsRetriedCallerFailure(ClassifyCallerError(error)))
        return false;
    m_retryPending = true;
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation != m_generation || !m_retryPending)
            return;
        m_retryPending = false;
        ++m_retryCount;
        if (m_attempts <= m_retryCount) {
            emit RetriesUsedUp();
            return;
        }
        emit RetryDue(m_retryCount);
    });
    return true;
}

void CallerLink::Reset() {
    ++m_generation;
    m_retryPending = false;
    m_link.Reset();
}

}  // namespace tvx
