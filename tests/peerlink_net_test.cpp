#include <gtest/gtest.h>

#include "common/Handshake.h"
#include "common/Messages.h"
#include "protocol/Codes.h"
#include "protocol/HandshakeSteps.h"
#include "protocol/PeerLink.h"
#include "protocol/PeerMessages.h"
#include "session/SessionLinkContext.h"
#include "support/Loopback.h"

namespace tvx::test {
namespace {

using C = ProtocolCodes;

// Records what a link tells its owner.
struct LinkLog {
    explicit LinkLog(PeerLink& link) {
        QObject::connect(&link, &PeerLink::Verified, &link, [this] { events << "verified"; });
        QObject::connect(&link, &PeerLink::Admitted, &link, [this] { events << "admitted"; });
        QObject::connect(&link, &PeerLink::DataListenerDue, &link,
                         [this] { events << "data listener"; });
        QObject::connect(&link, &PeerLink::Introduced, &link,
                         [this](const QString&, const QStringList&) { events << "introduced"; });
        QObject::connect(&link, &PeerLink::Refused, &link,
                         [this](LinkRefusal refusal, const QString& note) {
                             refusals << refusal;
                             notes << note;
                         });
        QObject::connect(&link, &PeerLink::ConnectionBroken, &link, [this] { events << "broken"; });
        QObject::connect(&link, &PeerLink::HandshakeTimedOut, &link,
                         [this] { events << "timed out"; });
        QObject::connect(&link, &PeerLink::ResetDone, &link, [this] { ++resets; });
        QObject::connect(&link, &PeerLink::MessageReceived, &link,
                         [this](char16_t code, const QString& payload) {
                             received << MessageBody(code, payload);
                         });
    }
    bool Has(const QString& event) const { return events.contains(event); }
    QStringList events;
    QList<LinkRefusal> refusals;
    QStringList notes;  // one per refusal
    QStringList received;
    int resets = 0;
};

class PeerLinkNet : public ::testing::Test {
protected:
    LoopbackPeer caller{kCallerAddress, QStringLiteral("小明")};
    LoopbackPeer answerer{kAnswererAddress, QStringLiteral("小红")};

    // Runs a caller against an answerer until both are introduced or one gives up.
    bool RunToIntroduction(PeerLink& from, LinkLog& fromLog, PeerLink& to, LinkLog& toLog) {
        if (to.state() == PeerLink::State::Idle && to.Listen() != SocketError::None)
            return false;
        if (from.Connect(kAnswererAddress) != SocketError::None)
            return false;
        return WaitUntil([&] {
                   return (fromLog.Has("introduced") && toLog.Has("introduced")) ||
                          !fromLog.refusals.isEmpty() || fromLog.resets > 0;
               }) &&
               fromLog.Has("introduced") && toLog.Has("introduced");
    }

    QList<ScriptedMessageBox::Shown>& CallerBoxes() { return caller.fake.messageBox->shown; }
    QList<ScriptedMessageBox::Shown>& AnswererBoxes() { return answerer.fake.messageBox->shown; }
};

TEST_F(PeerLinkNet, FilePairRunsToTheEndAndCarriesTheTransferMessages) {
    PeerLink receiver(PeerRole::FileReceiver, answerer.session.linkContext);
    PeerLink sender(PeerRole::FileSender, caller.session.linkContext);
    LinkLog receiverLog(receiver), senderLog(sender);
    ASSERT_TRUE(RunToIntroduction(sender, senderLog, receiver, receiverLog));

    EXPECT_EQ(receiverLog.events,
              (QStringList{"verified", "admitted", "data listener", "introduced"}));
    EXPECT_EQ(senderLog.events, (QStringList{"verified", "admitted", "introduced"}));
    EXPECT_EQ(receiver.remoteAddress(), kCallerAddress);
    EXPECT_EQ(receiver.peerAddressCode(), caller.session.localAddressCode);
    EXPECT_EQ(receiver.peerCard(), caller.session.personalInfo.Fields());
    EXPECT_EQ(sender.peerCard(), answerer.session.personalInfo.Fields());
    EXPECT_EQ(receiver.counter(), 5);
    EXPECT_EQ(sender.counter(), 5);

    // After the introduction the expected codes go to the owners, in both directions.
    const QString offer = BuildOffer(
        {QStringLiteral("a.bin"), 10, QStringLiteral("2007-03-05 08:04:09"), QString(), 9});
    ASSERT_EQ(sender.Send(offer), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return receiverLog.received.size() == 1; }));
    EXPECT_EQ(receiverLog.received.front(), offer);
    ASSERT_EQ(receiver.Send(BuildAcceptance(4)), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return senderLog.received.size() == 1; }));
    ASSERT_EQ(receiver.Send(BuildCompletion()), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return senderLog.received.size() == 2; }));
    EXPECT_EQ(senderLog.received, (QStringList{BuildAcceptance(4), BuildCompletion()}));

    // A code the sender never expects: reset and reported as a broken connection.
    ASSERT_EQ(receiver.Send(BuildInvitation({QStringLiteral("x"), 3})), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return senderLog.Has("broken"); }));
    // The link only reports; its owner's window shows the box.
    EXPECT_TRUE(CallerBoxes().isEmpty());
    EXPECT_EQ(sender.state(), PeerLink::State::Idle);
    // The receiver sees the close and listens again.
    ASSERT_TRUE(WaitUntil([&] { return receiver.state() == PeerLink::State::Listening; }));
    EXPECT_TRUE(AnswererBoxes().isEmpty());
}

TEST_F(PeerLinkNet, ChatPairRunsToTheEndAndUsesItsOwnCode) {
    // The chat responder checks PassWord2; PassWord1 belongs to the file receiver.
    answerer.session.settings.passWord1 = Digest(QStringLiteral("file code"));
    answerer.session.settings.passWord2 = Digest(QStringLiteral("chat code"));
    PeerLink responder(PeerRole::ChatResponder, answerer.session.linkContext);
    PeerLink initiator(PeerRole::ChatInitiator, caller.session.linkContext);
    initiator.SetVerificationDigest(Digest(QStringLiteral("chat code")));
    LinkLog responderLog(responder), initiatorLog(initiator);
    ASSERT_TRUE(RunToIntroduction(initiator, initiatorLog, responder, responderLog));
    EXPECT_FALSE(responderLog.Has("data listener"));
    EXPECT_EQ(initiator.peerCard().front(), QStringLiteral("小红"));
    EXPECT_EQ(responder.peerCard().front(), QStringLiteral("小明"));

    const QString invitation = BuildInvitation({QStringLiteral("聊聊"), 77});
    initiator.Send(invitation);
    const QString text = BuildChatText(C::InitiatorText,
                                       {QStringLiteral("FF    1009 "), QStringLiteral("你好")}, 77);
    ASSERT_TRUE(WaitUntil([&] { return responderLog.received.size() == 1; }));
    initiator.Send(text);
    ASSERT_TRUE(WaitUntil([&] { return responderLog.received.size() == 2; }));
    EXPECT_EQ(responderLog.received, (QStringList{invitation, text}));

    // The responder resets without a word on a code it does not take; the initiator sees
    // the close.
    initiator.Send(BuildOffer({QStringLiteral("a"), 1, QString(), QString(), 1}));
    ASSERT_TRUE(WaitUntil([&] { return initiator.state() == PeerLink::State::Idle; }));
    ASSERT_TRUE(WaitUntil([&] { return responder.state() == PeerLink::State::Listening; }));
    EXPECT_TRUE(AnswererBoxes().isEmpty());
    EXPECT_TRUE(CallerBoxes().isEmpty());
}

TEST_F(PeerLinkNet, AdmissionWithTheStoredDigest) {
    PeerLink receiver(PeerRole::FileReceiver, answerer.session.linkContext);
    ASSERT_EQ(receiver.Listen(), SocketError::None);
    LinkLog receiverLog(receiver);

    // Nothing stored: a caller with a digest is admitted too.
    {
        PeerLink sender(PeerRole::FileSender, caller.session.linkContext);
        sender.SetVerificationDigest(Digest(QStringLiteral("whatever")));
        LinkLog senderLog(sender);
        EXPECT_TRUE(RunToIntroduction(sender, senderLog, receiver, receiverLog));
    }
    ASSERT_TRUE(WaitUntil([&] { return receiver.state() == PeerLink::State::Listening; }));

    answerer.session.settings.passWord1 = Digest(QStringLiteral("暗号"));
    for (const QString& typed : {QString(), QStringLiteral("wrong")}) {
        PeerLink sender(PeerRole::FileSender, caller.session.linkContext);
        if (!typed.isEmpty())
            sender.SetVerificationDigest(Digest(typed));
        LinkLog senderLog(sender);
        ASSERT_EQ(sender.Connect(kAnswererAddress), SocketError::None);
        ASSERT_TRUE(WaitUntil([&] { return !senderLog.refusals.isEmpty(); }));
        EXPECT_EQ(senderLog.refusals, QList<LinkRefusal>{LinkRefusal::WrongCode});
        EXPECT_EQ(sender.state(), PeerLink::State::Idle);
        ASSERT_TRUE(WaitUntil([&] { return receiver.state() == PeerLink::State::Listening; }));
    }
    EXPECT_TRUE(CallerBoxes().isEmpty());

    PeerLink sender(PeerRole::FileSender, caller.session.linkContext);
    sender.SetVerificationDigest(Digest(QStringLiteral("暗号")));
    LinkLog senderLog(sender);
    receiverLog.events.clear();
    EXPECT_TRUE(RunToIntroduction(sender, senderLog, receiver, receiverLog));
    EXPECT_TRUE(AnswererBoxes().isEmpty());
}

TEST_F(PeerLinkNet, BlockedCallerGetsTheBlockNote) {
    answerer.session.settings.blockText = QStringLiteral("  请勿打扰  ");
    // The answerer's block list holds the caller; the link asks it with the socket's address.
    struct BlockingContext : SessionLinkContext {
        using SessionLinkContext::SessionLinkContext;
        bool IsBlocked(const QString& address) const override {
            asked << address;
            return address == kCallerAddress;
        }
        mutable QStringList asked;
    } blocking(answerer.session);
    PeerLink responder(PeerRole::ChatResponder, blocking);
    PeerLink initiator(PeerRole::ChatInitiator, caller.session.linkContext);
    LinkLog responderLog(responder), initiatorLog(initiator);
    ASSERT_EQ(responder.Listen(), SocketError::None);
    ASSERT_EQ(initiator.Connect(kAnswererAddress), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return !initiatorLog.refusals.isEmpty(); }));
    EXPECT_EQ(initiatorLog.refusals, QList<LinkRefusal>{LinkRefusal::Blocked});
    EXPECT_EQ(initiatorLog.notes, QStringList{QStringLiteral("请勿打扰")});
    EXPECT_EQ(blocking.asked, QStringList{kCallerAddress});
    EXPECT_FALSE(responderLog.Has("admitted"));
    ASSERT_TRUE(WaitUntil([&] { return responder.state() == PeerLink::State::Listening; }));
}

TEST_F(PeerLinkNet, VersionCheckGivesEachSideItsMessage) {
    struct Case {
        QString callerVersion;
        QString answererVersion;
        LinkRefusal refusal;
    };
    const QString v5(QChar(C::Version));
    const QString v6(QChar(WireUnit(0x00, 0x06)));
    const QList<Case> cases{
        {v6, v5, LinkRefusal::PeerVersionTooLow},
        {v5, v6, LinkRefusal::OwnVersionTooLow},
    };
    for (PeerRole role : {PeerRole::FileSender, PeerRole::ChatInitiator}) {
        const bool file = role == PeerRole::FileSender;
        for (const Case& c : cases) {
            PeerLink to(file ? PeerRole::FileReceiver : PeerRole::ChatResponder,
                        answerer.session.linkContext);
            PeerLink from(role, caller.session.linkContext);
            from.SetProtocolVersion(c.callerVersion);
            to.SetProtocolVersion(c.answererVersion);
            LinkLog fromLog(from), toLog(to);
            ASSERT_EQ(to.Listen(), SocketError::None);
            ASSERT_EQ(from.Connect(kAnswererAddress), SocketError::None);
            ASSERT_TRUE(WaitUntil([&] { return !fromLog.refusals.isEmpty(); }));
            EXPECT_EQ(fromLog.refusals, QList<LinkRefusal>{c.refusal});
            EXPECT_FALSE(fromLog.Has("verified"));
            // The answerer only sees the close.
            ASSERT_TRUE(WaitUntil([&] { return toLog.resets > 0; }));
            EXPECT_EQ(to.state(), PeerLink::State::Listening);
        }
    }
    EXPECT_TRUE(CallerBoxes().isEmpty());
    EXPECT_TRUE(AnswererBoxes().isEmpty());
}

TEST_F(PeerLinkNet, FirstMessageMustBeThirtyTwoBytes) {
    PeerLink receiver(PeerRole::FileReceiver, answerer.session.linkContext);
    LinkLog receiverLog(receiver);
    ASSERT_EQ(receiver.Listen(), SocketError::None);
    for (int units : {15, 17}) {
        RawEnd raw;
        ASSERT_EQ(raw.socket.Connect(kAnswererAddress, kFileControlPort, kCallerAddress),
                  SocketError::None);
        ASSERT_TRUE(WaitUntil([&] { return raw.socket.state() == Socket::State::Connected; }));
        const int resetsBefore = receiverLog.resets;
        raw.SendBody(QString(units, QChar(0x4141)));
        ASSERT_TRUE(WaitUntil([&] { return raw.closed; })) << units;
        EXPECT_TRUE(raw.messages.isEmpty());
        EXPECT_EQ(receiverLog.resets, resetsBefore + 1);
        EXPECT_EQ(receiver.state(), PeerLink::State::Listening);
    }
    // Any 32 bytes, zeros and separators included, are answered with their response.
    RawEnd raw;
    ASSERT_EQ(raw.socket.Connect(kAnswererAddress, kFileControlPort, kCallerAddress),
              SocketError::None);
    QString challenge(16, QChar(0));
    challenge[3] = QChar(C::Separator);
    challenge[9] = QChar(0xFFFF);
    ASSERT_TRUE(WaitUntil([&] { return raw.socket.state() == Socket::State::Connected; }));
    raw.SendBody(challenge);
    ASSERT_TRUE(raw.Receive(1));
    EXPECT_EQ(raw.messages.front(), ChallengeResponse(challenge));
    EXPECT_EQ(receiver.state(), PeerLink::State::Handshaking);
}

TEST_F(PeerLinkNet, WrongResponseAtStepSixResetsTheAnswerer) {
    PeerLink responder(PeerRole::ChatResponder, answerer.session.linkContext);
    ASSERT_EQ(responder.Listen(), SocketError::None);
    RawEnd raw;
    ASSERT_EQ(raw.socket.Connect(kAnswererAddress, kChatPort, kCallerAddress), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return raw.socket.state() == Socket::State::Connected; }));
    const QString mine = DrawChallenge();
    raw.SendBody(mine);
    ASSERT_TRUE(raw.Receive(1));
    raw.SendBody(QString(QChar(C::AskChallenge)));
    ASSERT_TRUE(raw.Receive(2));
    QString wrong = ChallengeResponse(raw.messages[1]);
    wrong[0] = QChar(wrong[0].unicode() ^ 1);
    raw.SendBody(wrong);
    ASSERT_TRUE(WaitUntil([&] { return raw.closed; }));
    EXPECT_EQ(raw.messages.size(), 2);
    EXPECT_EQ(responder.state(), PeerLink::State::Listening);
    EXPECT_TRUE(AnswererBoxes().isEmpty());
}

TEST_F(PeerLinkNet, AnswererTakesNothingBeforeAdmission) {
    // A caller that passes the handshake and skips the admission request is reset.
    PeerLink receiver(PeerRole::FileReceiver, answerer.session.linkContext);
    LinkLog receiverLog(receiver);
    ASSERT_EQ(receiver.Listen(), SocketError::None);
    for (const QString& skipped :
         {BuildCallerIntroduction(QStringLiteral("NVSSWFDSEN"), {}),
          BuildOffer({QStringLiteral("a"), 1, QString(), QString(), 1}), QString()}) {
        RawEnd raw;
        ASSERT_EQ(raw.socket.Connect(kAnswererAddress, kFileControlPort, kCallerAddress),
                  SocketError::None);
        ASSERT_TRUE(WaitUntil([&] { return raw.socket.state() == Socket::State::Connected; }));
        const QString mine = DrawChallenge();
        raw.SendBody(mine);
        ASSERT_TRUE(raw.Receive(1));
        raw.SendBody(QString(QChar(C::AskChallenge)));
        ASSERT_TRUE(raw.Receive(2));
        raw.SendBody(ChallengeResponse(raw.messages[1]));
        ASSERT_TRUE(raw.Receive(3));
        // The reserved field announces batches, which plain senders ignore.
        EXPECT_EQ(raw.messages[2],
                  BuildVerifiedReply(QChar(C::Version), true, QStringLiteral("batch/1")));
        raw.SendBody(skipped);
        ASSERT_TRUE(WaitUntil([&] { return raw.closed; }));
        EXPECT_EQ(raw.messages.size(), 3);
        EXPECT_EQ(receiver.state(), PeerLink::State::Listening);
    }
    EXPECT_TRUE(receiverLog.received.isEmpty());
    EXPECT_FALSE(receiverLog.Has("admitted"));
}

TEST_F(PeerLinkNet, WrongResponseAtStepThreeResetsTheCaller) {
    RawEnd raw;
    ASSERT_EQ(raw.socket.Bind(kAnswererAddress, kFileControlPort), SocketError::None);
    ASSERT_EQ(raw.socket.Listen(), SocketError::None);
    PeerLink sender(PeerRole::FileSender, caller.session.linkContext);
    LinkLog senderLog(sender);
    ASSERT_EQ(sender.Connect(kAnswererAddress), SocketError::None);
    ASSERT_TRUE(raw.Receive(1));
    EXPECT_EQ(raw.messages.front().size(), 16);
    raw.SendBody(ChallengeResponse(QStringLiteral("not the challenge")));
    ASSERT_TRUE(WaitUntil([&] { return raw.closed; }));
    EXPECT_EQ(sender.state(), PeerLink::State::Idle);
    EXPECT_EQ(senderLog.resets, 1);
    EXPECT_TRUE(CallerBoxes().isEmpty());
}

TEST_F(PeerLinkNet, HandshakeTimeOutOnBothSides) {
    // The answerer gives up on a silent caller and listens again.
    PeerLink responder(PeerRole::ChatResponder, answerer.session.linkContext);
    responder.SetHandshakeTimeout(200);
    LinkLog responderLog(responder);
    ASSERT_EQ(responder.Listen(), SocketError::None);
    RawEnd silentCaller;
    ASSERT_EQ(silentCaller.socket.Connect(kAnswererAddress, kChatPort, kCallerAddress),
              SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return silentCaller.closed; }));
    EXPECT_TRUE(responderLog.Has("timed out"));
    EXPECT_EQ(responder.state(), PeerLink::State::Listening);
    responder.Stop();
    EXPECT_EQ(responder.state(), PeerLink::State::Idle);

    // The caller reports it and leaves the rest to its owner.
    RawEnd silentAnswerer;
    ASSERT_EQ(silentAnswerer.socket.Bind(kAnswererAddress, kChatPort), SocketError::None);
    ASSERT_EQ(silentAnswerer.socket.Listen(), SocketError::None);
    PeerLink initiator(PeerRole::ChatInitiator, caller.session.linkContext);
    initiator.SetHandshakeTimeout(200);
    LinkLog initiatorLog(initiator);
    ASSERT_EQ(initiator.Connect(kAnswererAddress), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return initiatorLog.Has("timed out"); }));
    EXPECT_EQ(initiator.state(), PeerLink::State::Handshaking);
    EXPECT_TRUE(CallerBoxes().isEmpty());
}

TEST_F(PeerLinkNet, RefusedConnectionReachesTheOwner) {
    PeerLink sender(PeerRole::FileSender, caller.session.linkContext);
    QList<SocketError> errors;
    QObject::connect(&sender, &PeerLink::SocketFailed, &sender,
                     [&](SocketError e) { errors << e; });
    ASSERT_EQ(sender.Connect(kAnswererAddress), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return !errors.isEmpty(); }));
    EXPECT_EQ(errors, QList<SocketError>{SocketError::ConnectionRefused});
    EXPECT_EQ(sender.state(), PeerLink::State::Idle);
}

}  // namespace
}  // namespace tvx::test
