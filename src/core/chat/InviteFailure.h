#pragma once

#include <QString>

#include "platform/Socket.h"
#include "protocol/PeerLink.h"

namespace tvx {

// Why an invitation or a chat was closed with a message for the user.
struct InviteFailure {
    enum class Kind {
        LinkRefused,     // turned away in the handshake: refusal, note
        ProtocolBroken,  // the peer sent what it should not have
        HandshakeTimedOut,
        NetworkError,   // error
        RetriesUsedUp,  // attempts
    };

    Kind kind = Kind::NetworkError;
    QString peer;  // the address as shown
    LinkRefusal refusal = LinkRefusal::WrongCode;
    QString note;  // the block note
    // IdentityChanged: the certificate the peer showed and the one pinned before (SHA-256).
    QByteArray peerFingerprint;
    QByteArray pinnedFingerprint;
    SocketError error = SocketError::None;
    int attempts = 0;
};

}  // namespace tvx
