#pragma once

#include <QByteArray>
#include <QStringList>
#include <optional>

#include "platform/Socket.h"
#include "protocol/Codes.h"
#include "protocol/PeerLink.h"
#include "protocol/PeerMessages.h"
#include "protocol/Wire.h"
#include "session/Session.h"

namespace tvx::test {

// The receiving end of a file transfer reduced to the protocol: the shared link in its
// receiver role on 8510 and a bare data listener on 8511. The test answers the offer itself
// and reads back what arrived.
struct ScriptedReceiver {
    explicit ScriptedReceiver(Session& session)
        : link(PeerRole::FileReceiver, session.linkContext) {
        QObject::connect(&link, &PeerLink::DataListenerDue, &link, [this, &session] {
            data.Close();
            if (data.Bind(session.localAddress, kFileDataPort) == SocketError::None)
                data.Listen();
        });
        QObject::connect(&data, &Socket::ConnectionRequest, &data, [this] { data.Accept(); });
        QObject::connect(&data, &Socket::DataArrival, &data, [this] { bytes.append(data.Read()); });
        QObject::connect(&data, &Socket::Closed, &data, [this] { dataClosed = true; });
        QObject::connect(&link, &PeerLink::MessageReceived, &link,
                         [this](char16_t code, const QString& payload) {
                             messages << MessageBody(code, payload);
                             if (code == ProtocolCodes::FileOffer)
                                 offer = ParseOffer(payload);
                             else if (code == ProtocolCodes::SenderCancel)
                                 senderCancel = payload;
                         });
        QObject::connect(&link, &PeerLink::PeerClosed, &link, [this] { controlClosed = true; });
        QObject::connect(&link, &PeerLink::ResetDone, &link, [this] { data.Close(); });
    }

    bool Listen() { return link.Listen() == SocketError::None; }
    void Answer(const QString& body) { link.Send(body); }
    // The bytes received so far, unscrambled with the offer's key.
    QByteArray Plain() const {
        QByteArray plain = bytes;
        if (offer)
            ScrambleBytes(plain, offer->key);
        return plain;
    }

    PeerLink link;
    Socket data;
    QByteArray bytes;
    std::optional<FileOffer> offer;
    std::optional<QString> senderCancel;
    QStringList messages;
    bool dataClosed = false;
    bool controlClosed = false;
};

}  // namespace tvx::test
