#pragma once

#include <QList>
#include <QPair>
#include <QRandomGenerator>

#include "platform/Socket.h"
#include "protocol/Codes.h"
#include "protocol/PeerLink.h"
#include "protocol/PeerMessages.h"
#include "protocol/Wire.h"
#include "support/Loopback.h"
#include "texts/SendTexts.h"

namespace tvx::test {

inline QByteArray RandomBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// A sender written out by hand on 127.0.0.2: the protocol's caller for the control
// connection, a bare socket for the data connection, and the file bytes sent on request.
struct ScriptedSender {
    ScriptedSender()
        : peer(kCallerAddress, QStringLiteral("小明")),
          link(PeerRole::FileSender, peer.session.linkContext) {
        QObject::connect(&link, &PeerLink::Introduced, &link, [this] { introduced = true; });
        QObject::connect(&link, &PeerLink::MessageReceived, &link,
                         [this](char16_t code, const QString& payload) {
                             answers.append({code, payload});
                         });
        QObject::connect(&link, &PeerLink::PeerClosed, &link, [this] { closed = true; });
        QObject::connect(&link, &PeerLink::Refused, &link,
                         [this](LinkRefusal refusal, const QString& note) {
                             refusals << LinkRefusalText(refusal, note);
                         });
        QObject::connect(&data, &Socket::Connected, &data, [this] { dataConnected = true; });
    }

    // Runs the control connection up to the introduction and opens the data connection.
    bool Introduce() {
        if (link.Connect(kAnswererAddress) != SocketError::None)
            return false;
        if (!WaitUntil([&] { return introduced; }))
            return false;
        data.Connect(kAnswererAddress, kFileDataPort, kCallerAddress);
        return WaitUntil([&] { return dataConnected; });
    }
    void Offer(const QString& name, qint64 length, const QString& note = QString()) {
        offer = FileOffer{name, length, QStringLiteral("2007-03-05 08:04:09"), note, key};
        link.Send(BuildOffer(offer));
    }
    void OfferRaw(const QString& payload) {
        link.Send(MessageBody(ProtocolCodes::FileOffer, payload));
    }
    bool WaitForAnswer(int count = 1) {
        return WaitUntil([&] { return answers.size() >= count; });
    }
    // Sends plain[from, to) scrambled with the offer's key.
    void SendBytes(const QByteArray& plain, qint64 from, qint64 to = -1) {
        QByteArray chunk = plain.mid(from, to < 0 ? -1 : to - from);
        ScrambleBytes(chunk, key);
        data.Send(chunk);
    }
    void Close() {
        data.Close();
        link.Reset();
    }

    LoopbackPeer peer;
    PeerLink link;
    Socket data;
    int key = 0x5A;
    FileOffer offer;
    bool introduced = false;
    bool dataConnected = false;
    bool closed = false;
    QStringList refusals;  // what the link refused with, as the user would read it
    QList<QPair<char16_t, QString>> answers;
};

}  // namespace tvx::test
