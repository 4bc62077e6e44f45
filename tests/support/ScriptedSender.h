#pragma once

#include <QList>
#include <QPair>

#include "common/Handshake.h"
#include "platform/Socket.h"
#include "protocol/Codes.h"
#include "protocol/PeerLink.h"
#include "protocol/PeerMessages.h"
#include "protocol/Wire.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "texts/SendTexts.h"

namespace tvx::test {

// A file sender written out by hand, on 127.0.0.2 unless told otherwise: the protocol's caller
// for the control connection, a bare socket for the data connection, and the file bytes sent on
// request.
struct ScriptedSender {
    explicit ScriptedSender(const QString& address = kCallerAddress,
                            const QString& nickName = QStringLiteral("小明"))
        : peer(address, nickName), link(PeerRole::FileSender, peer.session.linkContext) {
        QObject::connect(&link, &PeerLink::Admitted, &link, [this] { admitted = true; });
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
        QObject::connect(&link, &PeerLink::ResetDone, &link, [this] { ++resets; });
        QObject::connect(&data, &Socket::Connected, &data, [this] { dataConnected = true; });
    }

    // The control connection up to the introduction, with the verification code when one is
    // given; false on a refusal or a failure.
    bool ReachIntroduction(const QString& code = QString()) {
        link.SetVerificationDigest(code.isEmpty() ? QString() : Digest(code));
        const int resetsBefore = resets;
        if (link.Connect(kAnswererAddress) != SocketError::None)
            return false;
        WaitUntil([&] { return introduced || !refusals.isEmpty() || resets > resetsBefore; });
        return introduced;
    }
    bool ConnectData() {
        data.Connect(kAnswererAddress, kFileDataPort, peer.session.localAddress);
        return WaitUntil([&] { return dataConnected; });
    }
    // Runs the control connection up to the introduction and opens the data connection.
    bool Introduce() { return ReachIntroduction() && ConnectData(); }
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
    // Introduces itself, offers the file and sends it whole; true when the receiver has it.
    bool SendFile(const QString& name, const QByteArray& content, const QString& note = {}) {
        if (!Introduce())
            return false;
        Offer(name, content.size(), note);
        if (!WaitForAnswer() || answers[0].first != ProtocolCodes::OfferAccepted)
            return false;
        SendBytes(content, answers[0].second.toLongLong());
        return WaitForAnswer(2) && answers[1].first == ProtocolCodes::FileComplete;
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
    bool admitted = false;
    bool introduced = false;
    bool dataConnected = false;
    bool closed = false;
    int resets = 0;
    QStringList refusals;  // what the link refused with, as the user would read it
    QList<QPair<char16_t, QString>> answers;
};

}  // namespace tvx::test
