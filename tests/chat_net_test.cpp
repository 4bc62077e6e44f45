#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "address/AddressCode.h"
#include "chat/ChatInviter.h"
#include "chat/ChatResponder.h"
#include "common/Format.h"
#include "common/Handshake.h"
#include "common/Messages.h"
#include "platform/SocketErrors.h"
#include "protocol/Codes.h"
#include "protocol/PeerLink.h"
#include "protocol/PeerMessages.h"
#include "protocol/Wire.h"
#include "records/HistoryLog.h"
#include "support/Loopback.h"
#include "support/TestPeer.h"
#include "texts/SendTexts.h"

namespace tvx::test {
namespace {

using C = ProtocolCodes;

// Red 12-point bold underlined on one side, a plain 9-point blue on the other.
const QString kStyleA = QStringLiteral("FF8000101") + QStringLiteral("12");
const QString kStyleB = QStringLiteral("80FF  000") + QStringLiteral("9 ");

struct Shown {
    MessageKind kind;
    QString text;
    bool systemModal;
};

// Everything the inviter tells its window.
struct InviterLog {
    explicit InviterLog(ChatInviter& c) {
        QObject::connect(&c, &ChatInviter::StageChanged, &context,
                         [this](ChatInviter::Stage s) { stages << s; });
        QObject::connect(&c, &ChatInviter::StepChanged, &context, [this](int s) { steps << s; });
        QObject::connect(&c, &ChatInviter::WaitSeconds, &context,
                         [this](qint64 seconds) { waits << seconds; });
        QObject::connect(&c, &ChatInviter::Retrying, &context, [this](int n) { retries << n; });
        QObject::connect(&c, &ChatInviter::Accepted, &context,
                         [this](bool automatically, const QString& reply) {
                             accepted = true;
                             acceptedAutomatically = automatically;
                             autoReply = reply;
                         });
        QObject::connect(&c, &ChatInviter::Refused, &context,
                         [this](const QString& note) { refused = note; });
        QObject::connect(&c, &ChatInviter::AutoRefused, &context,
                         [this](const QString& note) { autoRefused = note; });
        QObject::connect(&c, &ChatInviter::TextReceived, &context,
                         [this](const QString& text) { texts << text; });
        QObject::connect(&c, &ChatInviter::PeerLeftChat, &context, [this] { ++peerLeft; });
        QObject::connect(&c, &ChatInviter::ConnectionLost, &context, [this] { ++lost; });
        QObject::connect(&c, &ChatInviter::Failed, &context,
                         [this](const InviteFailure& failure) { failures << failure; });
        QObject::connect(&c, &ChatInviter::ChatClosed, &context, [this] { ++closed; });
    }
    QObject context;
    QList<ChatInviter::Stage> stages;
    QList<int> steps, retries;
    QList<qint64> waits;
    QStringList texts;
    bool accepted = false, acceptedAutomatically = false;
    QString autoReply;
    std::optional<QString> refused, autoRefused;
    int peerLeft = 0, lost = 0, closed = 0;
    QList<InviteFailure> failures;
};

// Everything the responder tells its window.
struct ResponderLog {
    explicit ResponderLog(ChatResponder& r) {
        QObject::connect(&r, &ChatResponder::InvitationReceived, &context,
                         [this](const QString& text, const QString&) { invitations << text; });
        QObject::connect(&r, &ChatResponder::CountDown, &context,
                         [this](int left) { countDown << left; });
        QObject::connect(&r, &ChatResponder::CountDownExpired, &context, [this] { ++expired; });
        QObject::connect(&r, &ChatResponder::BlinkWanted, &context, [this] { ++blinks; });
        QObject::connect(&r, &ChatResponder::ChatEntered, &context,
                         [this](bool automatically, const QString&) { entered << automatically; });
        QObject::connect(&r, &ChatResponder::TextReceived, &context,
                         [this](const QString& text) { texts << text; });
        QObject::connect(&r, &ChatResponder::PeerLeftChat, &context, [this] { ++peerLeft; });
        QObject::connect(&r, &ChatResponder::ConnectionLost, &context, [this] { ++lost; });
        QObject::connect(&r, &ChatResponder::Reported, &context,
                         [this](const ChatAnswerOutcome& outcome) { failures << outcome; });
        QObject::connect(&r, &ChatResponder::ResetDone, &context,
                         [this](bool keep) { resets << keep; });
        QObject::connect(&r, &ChatResponder::ListenerFailed, &context,
                         [this](SocketError error) { listenerFailures << error; });
    }
    QObject context;
    QList<int> countDown;
    QList<SocketError> listenerFailures;
    QStringList invitations, texts;
    QList<bool> entered, resets;
    int expired = 0, blinks = 0, peerLeft = 0, lost = 0;
    QList<ChatAnswerOutcome> failures;
};

class ChatNet : public ::testing::Test {
protected:
    void SetUp() override {
        for (LoopbackPeer* peer : {&caller, &answerer})
            peer->session.appFolder = folder.path() + (peer == &caller ? "/a-" : "/b-");
        // An answerer that would encrypt, before callers that know only the plain wire (this
        // inviter has no key, the raw callers below speak the wire by hand).
        answerer.session.identity = TlsIdentity::CreateTransient();
        inviter.SetPauseMs(0);
    }

    ChatInviter::Request To(const QString& address, const QString& note = QString()) {
        ChatInviter::Request request;
        request.peerAddress = ResolvePeerAddress(address);
        request.shownAddress = address.toUpper();
        request.note = note;
        return request;
    }

    // Runs an invitation by hand to the open chat on both sides.
    bool OpenChat(const QString& note = QString()) {
        inviter.StartInvitation(To(kAnswererAddress, note));
        if (!WaitUntil([&] { return responder.invitationWaiting(); }))
            return false;
        responder.Accept();
        return WaitUntil([&] { return inviter.chatting(); });
    }

    QTemporaryDir folder;
    LoopbackPeer caller{kCallerAddress, QStringLiteral("小明")};
    LoopbackPeer answerer{kAnswererAddress, QStringLiteral("小红")};
    ChatInviter inviter{caller.session};
    ChatResponder responder{answerer.session};
    InviterLog in{inviter};
    ResponderLog out{responder};
};

TEST_F(ChatNet, InvitationByIpv4AcceptedTextsKeepTheirStyleAndTheUsersLeaveIsNotReported) {
    caller.session.settings.useLogFile = true;
    answerer.session.settings.useLogFile = true;
    ASSERT_TRUE(responder.Load());
    inviter.StartInvitation(To(kAnswererAddress, QStringLiteral("聊聊?")));
    ASSERT_TRUE(WaitUntil([&] { return responder.invitationWaiting(); }));
    ASSERT_TRUE(WaitUntil([&] { return in.steps.size() == 3; }));

    EXPECT_EQ(in.steps, (QList<int>{1, 2, 3}));
    EXPECT_EQ(in.stages, (QList<ChatInviter::Stage>{ChatInviter::Stage::Progress}));
    EXPECT_EQ(in.waits, QList<qint64>{0});
    EXPECT_EQ(inviter.phase(), ChatInviter::Phase::Inviting);
    EXPECT_EQ(out.invitations, QStringList{QStringLiteral("聊聊?")});
    EXPECT_EQ(responder.phase(), ChatResponder::Phase::Invited);
    EXPECT_EQ(out.countDown, QList<int>{60});
    EXPECT_EQ(out.blinks, 1);
    EXPECT_TRUE(answerer.session.activity.invitationWaiting());
    EXPECT_EQ(responder.peerNickName(), QStringLiteral("小明"));
    EXPECT_EQ(responder.peerFields().value(0), caller.session.localAddressCode);
    EXPECT_EQ(inviter.peerNickName(), QStringLiteral("小红"));
    EXPECT_EQ(responder.chatKey(), inviter.chatKey());
    EXPECT_GE(inviter.chatKey(), 1);
    EXPECT_LE(inviter.chatKey(), 254);

    // Waiting counts the seconds since the invitation.
    caller.fake.system->uptimeMs += 75000;
    ASSERT_TRUE(WaitUntil([&] { return in.waits.last() != 0; }));
    EXPECT_EQ(in.waits.last(), 75);

    responder.Accept();
    ASSERT_TRUE(WaitUntil([&] { return inviter.chatting(); }));
    EXPECT_TRUE(in.accepted);
    EXPECT_FALSE(in.acceptedAutomatically);
    EXPECT_EQ(in.stages.last(), ChatInviter::Stage::Chat);
    EXPECT_EQ(out.entered, QList<bool>{false});
    EXPECT_EQ(responder.phase(), ChatResponder::Phase::Chatting);
    EXPECT_TRUE(answerer.session.activity.acceptWindowChatting());
    EXPECT_FALSE(answerer.session.activity.invitationWaiting());

    // Texts both ways with their styles, leading and trailing spaces, line breaks, and the
    // one character that this chat's key scrambles into the terminator's value.
    const int key = inviter.chatKey();
    const QChar terminatorInDisguise(char16_t(C::Terminator ^ ((key << 8) | key)));
    const QString first = kStyleA + QStringLiteral("  你好,\r\nworld ") + terminatorInDisguise;
    const QString second = kStyleB + terminatorInDisguise + QStringLiteral("回复") +
                           terminatorInDisguise + QStringLiteral("x");
    ASSERT_TRUE(inviter.SendChatText(first));
    ASSERT_TRUE(WaitUntil([&] { return out.texts.size() == 1; }));
    ASSERT_TRUE(responder.SendChatText(second));
    ASSERT_TRUE(WaitUntil([&] { return in.texts.size() == 1; }));
    EXPECT_EQ(out.texts, QStringList{first});
    EXPECT_EQ(in.texts, QStringList{second});

    // The user leaves: the responder is told, the close that follows is not news here.
    inviter.Leave();
    EXPECT_EQ(in.stages.last(), ChatInviter::Stage::Input);
    ASSERT_TRUE(WaitUntil([&] { return !inviter.chatting(); }));
    ASSERT_TRUE(WaitUntil([&] { return responder.link().state() == PeerLink::State::Listening; }));
    EXPECT_EQ(out.peerLeft, 1);
    EXPECT_EQ(in.peerLeft, 0);
    EXPECT_TRUE(in.failures.isEmpty());
    EXPECT_TRUE(out.failures.isEmpty());
    EXPECT_EQ(out.resets, QList<bool>{true});  // the window stays with its transcript
    EXPECT_FALSE(answerer.session.activity.acceptWindowChatting());
    EXPECT_EQ(in.stages.last(), ChatInviter::Stage::Input);
    EXPECT_FALSE(inviter.SendChatText(kStyleA + "x"));

    // Both sides wrote their entry of the invitation.
    QFile sent(caller.session.appFolder + kLogFileName);
    QFile received(answerer.session.appFolder + kLogFileName);
    ASSERT_TRUE(sent.open(QIODevice::ReadOnly));
    ASSERT_TRUE(received.open(QIODevice::ReadOnly));
    const QString sentLog = FromAnsi(sent.readAll());
    const QString receivedLog = FromAnsi(received.readAll());
    EXPECT_TRUE(sentLog.contains(QStringLiteral("发送邀请"))) << sentLog.toStdString();
    EXPECT_TRUE(sentLog.contains(QStringLiteral("聊聊?")));
    EXPECT_TRUE(receivedLog.contains(QStringLiteral("收到邀请")));
    EXPECT_TRUE(receivedLog.contains(caller.session.localAddressCode));
}

TEST_F(ChatNet, InvitationByTvxAddressAcceptedAutomaticallyAndThePeerLeaving) {
    caller.session.settings.useLogFile = true;
    answerer.session.settings.useLogFile = true;
    answerer.fake.settings->values[QStringLiteral("AutoChat")] = QStringLiteral("1");
    answerer.fake.settings->values[QStringLiteral("AutoChatTip")] = QStringLiteral(" 马上回来 ");
    ASSERT_TRUE(responder.Load());
    EXPECT_TRUE(answerer.session.settings.autoChat);

    const QString code = EncodeAddressCode(kAnswererAddress);
    inviter.StartInvitation(To(code));
    ASSERT_TRUE(WaitUntil([&] { return inviter.chatting(); }));
    EXPECT_TRUE(in.acceptedAutomatically);
    EXPECT_EQ(in.autoReply, QStringLiteral("马上回来"));
    EXPECT_EQ(inviter.shownAddress(), code);
    EXPECT_EQ(out.entered, QList<bool>{true});
    EXPECT_TRUE(out.invitations.isEmpty());
    EXPECT_TRUE(out.countDown.isEmpty());
    EXPECT_EQ(out.blinks, 0);
    EXPECT_FALSE(answerer.session.activity.invitationWaiting());
    QFile received(answerer.session.appFolder + kLogFileName);
    ASSERT_TRUE(received.open(QIODevice::ReadOnly));
    EXPECT_TRUE(FromAnsi(received.readAll()).contains(QStringLiteral("(无)")));

    // The options dialog turns the reply text off at run time: the default is sent next time.
    ASSERT_TRUE(responder.SendChatText(kStyleB + QStringLiteral("在吗")));
    ASSERT_TRUE(WaitUntil([&] { return in.texts.size() == 1; }));
    responder.Leave();
    ASSERT_TRUE(WaitUntil([&] { return in.peerLeft == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return responder.link().state() == PeerLink::State::Listening; }));
    EXPECT_EQ(out.peerLeft, 0);
    EXPECT_FALSE(inviter.chatting());
    EXPECT_EQ(in.stages.last(), ChatInviter::Stage::Chat);  // the transcript stays
    EXPECT_FALSE(inviter.SendChatText(kStyleA + "x"));
    EXPECT_TRUE(in.failures.isEmpty());
    EXPECT_TRUE(out.failures.isEmpty());

    answerer.session.settings.autoChatTip.clear();
    inviter.StartInvitation(To(kAnswererAddress));
    ASSERT_TRUE(WaitUntil([&] { return inviter.chatting(); }));
    EXPECT_EQ(in.autoReply, kDefaultAutoChatTip);
}

TEST_F(ChatNet, RefusalTrimsTheNoteTheCountDownSendsItAsTypedAndCanBePaused) {
    ASSERT_TRUE(responder.Load());
    responder.SetCloseGraceMs(60000);

    inviter.StartInvitation(To(kAnswererAddress));
    ASSERT_TRUE(WaitUntil([&] { return responder.invitationWaiting(); }));
    responder.Refuse(QStringLiteral("  正忙 稍后  "));
    ASSERT_TRUE(WaitUntil([&] { return in.refused.has_value(); }));
    EXPECT_EQ(*in.refused, QStringLiteral("正忙 稍后"));
    EXPECT_EQ(in.stages.last(), ChatInviter::Stage::Refused);
    EXPECT_EQ(inviter.phase(), ChatInviter::Phase::Idle);
    // The inviter closes at once; the responder listens again without a word.
    ASSERT_TRUE(WaitUntil([&] { return responder.link().state() == PeerLink::State::Listening; }));
    EXPECT_EQ(out.resets, QList<bool>{false});
    EXPECT_TRUE(out.failures.isEmpty());

    responder.SetCountDownTickMs(20);
    out.countDown.clear();
    responder.SetRefusalNote(QStringLiteral("  不在  "));
    inviter.StartInvitation(To(kAnswererAddress));
    ASSERT_TRUE(WaitUntil([&] { return responder.invitationWaiting(); }));
    ASSERT_TRUE(WaitUntil([&] { return responder.countDown() <= 55; }));
    responder.SetCountDownRunning(false);
    const int paused = responder.countDown();
    QTest::qWait(200);
    EXPECT_EQ(responder.countDown(), paused);
    EXPECT_TRUE(responder.invitationWaiting());
    responder.SetCountDownRunning(true);
    ASSERT_TRUE(WaitUntil([&] { return in.autoRefused.has_value(); }));
    EXPECT_EQ(*in.autoRefused, QStringLiteral("  不在  "));
    EXPECT_EQ(out.expired, 1);
    EXPECT_EQ(out.countDown.last(), 0);
    EXPECT_EQ(out.countDown.size(), 61);  // 60 down to 0, none skipped or repeated by the pause
    EXPECT_EQ(in.stages.last(), ChatInviter::Stage::AutoRefused);
    EXPECT_FALSE(answerer.session.activity.invitationWaiting());
    ASSERT_TRUE(WaitUntil([&] { return out.resets.size() == 2; }));
    EXPECT_TRUE(in.failures.isEmpty());
}

TEST_F(ChatNet, FiveHundredTextsFromEachSideAtOnceArriveInOrderNoneMerged) {
    ASSERT_TRUE(responder.Load());
    ASSERT_TRUE(OpenChat());
    QStringList fromInviter, fromResponder;
    for (int k = 0; k < 500; ++k) {
        fromInviter << kStyleA + QStringLiteral("甲 %1 ").arg(k) + QString(k % 50, QChar('a'));
        fromResponder << kStyleB + QStringLiteral("乙\r\n%1").arg(k);
    }
    for (int k = 0; k < 500; ++k) {
        ASSERT_TRUE(inviter.SendChatText(fromInviter[k]));
        ASSERT_TRUE(responder.SendChatText(fromResponder[k]));
    }
    ASSERT_TRUE(WaitUntil([&] { return in.texts.size() >= 500 && out.texts.size() >= 500; }));
    EXPECT_EQ(out.texts, fromInviter);
    EXPECT_EQ(in.texts, fromResponder);
    EXPECT_TRUE(inviter.chatting());
    EXPECT_TRUE(responder.chatting());
}

// The input box stops at its limit, a line break counted once; a peer's longer text is cut to
// that length on either side, and a character of two halves is not split.
TEST_F(ChatNet, ATextLongerThanTheInputBoxAllowsIsCutToItsLength) {
    ASSERT_TRUE(responder.Load());
    ASSERT_TRUE(OpenChat());
    const QString fits = kStyleA +
                         (QString(99, QLatin1Char('a')) + QStringLiteral("\r\n")).repeated(40) +
                         QString(kMaxChatTextLength - 40 * 100, QLatin1Char('b'));
    const QString dragons(5000, QChar(0x9F8D));
    const QString halves = QString(kMaxChatTextLength - 1, QLatin1Char('c')) +
                           QString::fromUtf16(u"\U0001F600") + QStringLiteral("d");
    for (const QString& text : {fits, kStyleB + dragons, kStyleA + halves})
        ASSERT_TRUE(inviter.SendChatText(text));
    ASSERT_TRUE(responder.SendChatText(kStyleB + dragons));
    ASSERT_TRUE(WaitUntil([&] { return out.texts.size() == 3 && in.texts.size() == 1; }));
    EXPECT_TRUE(out.texts[0] == fits);
    EXPECT_TRUE(out.texts[1] == kStyleB + dragons.left(kMaxChatTextLength));
    EXPECT_TRUE(out.texts[2] == kStyleA + halves.left(kMaxChatTextLength - 1));
    EXPECT_TRUE(in.texts[0] == kStyleB + dragons.left(kMaxChatTextLength));
    EXPECT_TRUE(responder.chatting());
}

// A caller reduced to the shared link, so that the test can glue bytes on the wire.
struct RawCaller {
    explicit RawCaller(Session& session) : link(PeerRole::ChatInitiator, session.linkContext) {
        QObject::connect(&link, &PeerLink::Introduced, &link, [this] { introduced = true; });
        QObject::connect(&link, &PeerLink::MessageReceived, &link,
                         [this](char16_t code, const QString& payload) {
                             received << MessageBody(code, payload);
                         });
        QObject::connect(&link, &PeerLink::PeerClosed, &link, [this] { closed = true; });
    }
    bool Introduce() {
        introduced = closed = false;
        received.clear();
        return link.Connect(kAnswererAddress) == SocketError::None &&
               WaitUntil([&] { return introduced; });
    }
    void SendRaw(const QByteArray& bytes) { link.socket().Send(bytes); }
    PeerLink link;
    QStringList received;
    bool introduced = false;
    bool closed = false;
};

TEST_F(ChatNet, GluedMessagesAreHandledOneByOneOnBothSides) {
    ASSERT_TRUE(responder.Load());
    RawCaller raw(caller.session);
    ASSERT_TRUE(raw.Introduce());
    raw.link.Send(BuildInvitation({QStringLiteral("hi"), 77}));
    ASSERT_TRUE(WaitUntil([&] { return responder.invitationWaiting(); }));
    responder.Accept();
    ASSERT_TRUE(WaitUntil([&] { return raw.received.size() == 1; }));
    EXPECT_EQ(raw.received, QStringList{BuildInvitationAccepted()});

    // Two texts and the leave in one send: two lines, each in its own style, then the leave.
    const QString a = kStyleA + QStringLiteral("A");
    const QString b = kStyleB + QStringLiteral("B");
    raw.SendRaw(FrameControlMessage(MessageBody(C::InitiatorText, ScrambleChatText(a, 77))) +
                FrameControlMessage(MessageBody(C::InitiatorText, ScrambleChatText(b, 77))) +
                FrameControlMessage(BuildInitiatorLeaves()));
    ASSERT_TRUE(WaitUntil([&] { return out.peerLeft == 1; }));
    EXPECT_EQ(out.texts, (QStringList{a, b}));
    ASSERT_TRUE(WaitUntil([&] { return raw.closed; }));

    // The other way: a responder reduced to the link answers and glues a text to its leave.
    responder.Shutdown();
    PeerLink rawAnswerer(PeerRole::ChatResponder, answerer.session.linkContext);
    std::optional<ChatInvitation> invitation;
    QObject::connect(&rawAnswerer, &PeerLink::MessageReceived, &rawAnswerer,
                     [&](char16_t code, const QString& payload) {
                         if (code == C::ChatInvitation)
                             invitation = ParseInvitation(payload);
                     });
    ASSERT_EQ(rawAnswerer.Listen(), SocketError::None);
    inviter.StartInvitation(To(kAnswererAddress));
    ASSERT_TRUE(WaitUntil([&] { return invitation.has_value(); }));
    const QString c = kStyleB + QStringLiteral("再见");
    rawAnswerer.socket().Send(
        FrameControlMessage(BuildInvitationAccepted()) +
        FrameControlMessage(MessageBody(C::ResponderText, ScrambleChatText(c, invitation->key))) +
        FrameControlMessage(BuildResponderLeaves()));
    ASSERT_TRUE(WaitUntil([&] { return in.peerLeft == 1; }));
    EXPECT_TRUE(in.accepted);
    EXPECT_EQ(in.texts, QStringList{c});
    EXPECT_FALSE(inviter.chatting());
    EXPECT_EQ(in.stages.last(), ChatInviter::Stage::Chat);
    EXPECT_TRUE(in.failures.isEmpty());
}

TEST_F(ChatNet, AnInvitationWhoseKeyIsNotOneTo254ResetsWithoutAWord) {
    ASSERT_TRUE(responder.Load());
    RawCaller raw(caller.session);
    const QString sep(QChar(C::Separator));
    for (const QString& key : {QStringLiteral("0"), QStringLiteral("255"), QStringLiteral("abc"),
                               QStringLiteral("-1"), QString()}) {
        ASSERT_TRUE(raw.Introduce()) << key.toStdString();
        raw.link.Send(MessageBody(C::ChatInvitation, QStringLiteral("hi") + sep + key));
        ASSERT_TRUE(WaitUntil([&] { return raw.closed; })) << key.toStdString();
        raw.link.Reset();
        ASSERT_TRUE(
            WaitUntil([&] { return responder.link().state() == PeerLink::State::Listening; }));
    }
    // No separator at all: no key either.
    ASSERT_TRUE(raw.Introduce());
    raw.link.Send(MessageBody(C::ChatInvitation, QStringLiteral("hi")));
    ASSERT_TRUE(WaitUntil([&] { return raw.closed; }));
    EXPECT_TRUE(out.invitations.isEmpty());
    EXPECT_TRUE(out.failures.isEmpty());
    EXPECT_EQ(out.blinks, 0);
    EXPECT_FALSE(answerer.session.activity.invitationWaiting());

    // A caller that stays after being refused is dropped, so that others can call again.
    raw.link.Reset();
    ASSERT_TRUE(WaitUntil([&] { return responder.link().state() == PeerLink::State::Listening; }));
    responder.SetCloseGraceMs(100);
    ASSERT_TRUE(raw.Introduce());
    raw.link.Send(BuildInvitation({QStringLiteral("hi"), 9}));
    ASSERT_TRUE(WaitUntil([&] { return responder.invitationWaiting(); }));
    responder.Refuse(QString());
    ASSERT_TRUE(WaitUntil([&] { return raw.closed; }));
    EXPECT_EQ(raw.received, QStringList{BuildInvitationRefused(QString())});
    EXPECT_EQ(responder.link().state(), PeerLink::State::Listening);
    EXPECT_TRUE(out.failures.isEmpty());
}

TEST_F(ChatNet, ConnectionLostDuringTheChatIsReportedOnEachSide) {
    ASSERT_TRUE(responder.Load());
    ASSERT_TRUE(OpenChat());
    // The platform reports the connection reset (10054) on the inviter's socket.
    emit inviter.link().socket().Error(SocketError::ConnectionReset);
    EXPECT_EQ(in.lost, 1);
    ASSERT_EQ(in.failures.size(), 1);
    EXPECT_EQ(in.failures[0].kind, InviteFailure::Kind::NetworkError);
    EXPECT_EQ(in.failures[0].error, SocketError::ConnectionReset);
    EXPECT_FALSE(inviter.chatting());
    EXPECT_EQ(in.stages.last(), ChatInviter::Stage::Chat);
    // The inviter closed; the responder sees the peer leave.
    ASSERT_TRUE(WaitUntil([&] { return out.peerLeft == 1; }));

    ASSERT_TRUE(WaitUntil([&] { return responder.link().state() == PeerLink::State::Listening; }));
    ASSERT_TRUE(OpenChat());
    emit responder.link().socket().Error(SocketError::ConnectionAborted);
    EXPECT_EQ(out.lost, 1);
    ASSERT_EQ(out.failures.size(), 1);
    EXPECT_EQ(out.failures[0].kind, ChatAnswerOutcome::Kind::ConnectionLost);
    EXPECT_EQ(out.failures[0].socketError, SocketError::ConnectionAborted);
    EXPECT_EQ(out.failures[0].peerName, QStringLiteral("小明"));
    EXPECT_EQ(out.resets.last(), true);
    EXPECT_EQ(responder.link().state(), PeerLink::State::Listening);
    EXPECT_FALSE(answerer.session.activity.acceptWindowChatting());
}

TEST_F(ChatNet, AdmissionRefusalsAndVersionsAreReportedToTheInviter) {
    ASSERT_TRUE(responder.Load());
    // Wrong verification code.
    answerer.session.settings.passWord2 = Digest(QStringLiteral("芝麻"));
    ChatInviter::Request request = To(kAnswererAddress);
    request.verificationCode = QStringLiteral("芝麻开门");
    inviter.StartInvitation(request);
    ASSERT_TRUE(WaitUntil([&] { return !in.failures.isEmpty(); }));
    EXPECT_EQ(in.failures[0].kind, InviteFailure::Kind::LinkRefused);
    EXPECT_EQ(in.failures[0].refusal, LinkRefusal::WrongCode);
    EXPECT_EQ(in.stages.last(), ChatInviter::Stage::Input);
    // The right code passes.
    request.verificationCode = QStringLiteral("芝麻");
    inviter.StartInvitation(request);
    ASSERT_TRUE(WaitUntil([&] { return responder.invitationWaiting(); }));
    inviter.Cancel();
    ASSERT_TRUE(WaitUntil([&] { return responder.link().state() == PeerLink::State::Listening; }));

    // Blocked caller: the note as the options dialog last set it, trimmed.
    answerer.session.settings.passWord2.clear();
    answerer.session.blockList = QStringList{caller.session.localAddressCode};
    answerer.session.settings.blockText = QStringLiteral("  请勿打扰  ");
    inviter.StartInvitation(To(kAnswererAddress));
    ASSERT_TRUE(WaitUntil([&] { return in.failures.size() == 2; }));
    EXPECT_EQ(in.failures[1].refusal, LinkRefusal::Blocked);
    EXPECT_EQ(in.failures[1].note, QStringLiteral("请勿打扰"));
    EXPECT_EQ(out.invitations.size(), 1);  // only the one with the right code
    ASSERT_TRUE(WaitUntil([&] { return responder.link().state() == PeerLink::State::Listening; }));

    // A responder of a newer version.
    answerer.session.blockList.clear();
    responder.link().SetProtocolVersion(QString(QChar(char16_t(0x0600))));
    inviter.StartInvitation(To(kAnswererAddress));
    ASSERT_TRUE(WaitUntil([&] { return in.failures.size() == 3; }));
    EXPECT_EQ(in.failures[2].refusal, LinkRefusal::OwnVersionTooLow);
    EXPECT_EQ(inviter.phase(), ChatInviter::Phase::Idle);
    // Nothing was shown by the link itself: the window shows every message.
    EXPECT_TRUE(caller.fake.messageBox->shown.isEmpty());
    EXPECT_TRUE(out.failures.isEmpty());
}

TEST_F(ChatNet, RetriesAgainstNobodyListeningAndTheHandshakeDeadline) {
    // Nothing listens on 9170: with the count at 2, one retry, then the final message.
    ChatInviter::Request request = To(kAnswererAddress);
    request.autoRetry = true;
    request.retryLimit = 2;
    inviter.StartInvitation(request);
    ASSERT_TRUE(WaitUntil([&] { return !in.failures.isEmpty(); }));
    EXPECT_EQ(in.retries, QList<int>{1});
    EXPECT_EQ(inviter.retryCount(), 2);
    EXPECT_EQ(in.failures[0].kind, InviteFailure::Kind::RetriesUsedUp);
    EXPECT_EQ(in.failures[0].attempts, 2);
    EXPECT_EQ(in.stages.last(), ChatInviter::Stage::Input);
    EXPECT_EQ(in.failures.size(), 1);

    // Without the retry the refusal is told at once.
    inviter.StartInvitation(To(kAnswererAddress));
    ASSERT_TRUE(WaitUntil([&] { return in.failures.size() == 2; }));
    EXPECT_EQ(in.failures[1].kind, InviteFailure::Kind::NetworkError);
    EXPECT_EQ(in.failures[1].error, SocketError::ConnectionRefused);

    // A listener that takes the connection and never answers the challenge.
    Socket silent;
    QObject::connect(&silent, &Socket::ConnectionRequest, &silent, [&] { silent.Accept(); });
    ASSERT_EQ(silent.Bind(kAnswererAddress, kChatPort), SocketError::None);
    ASSERT_EQ(silent.Listen(), SocketError::None);
    inviter.SetHandshakeTimeout(300);
    inviter.StartInvitation(To(kAnswererAddress));
    ASSERT_TRUE(WaitUntil([&] { return in.failures.size() == 3; }));
    EXPECT_EQ(in.failures[2].kind, InviteFailure::Kind::HandshakeTimedOut);
    EXPECT_EQ(inviter.phase(), ChatInviter::Phase::Idle);
    silent.Close();

    // The chat port taken by another program: the responder cannot run.
    Socket squatter;
    ASSERT_EQ(squatter.Bind(kAnswererAddress, kChatPort), SocketError::None);
    ASSERT_EQ(squatter.Listen(), SocketError::None);
    EXPECT_FALSE(responder.Load());
    EXPECT_EQ(out.listenerFailures, QList<SocketError>{SocketError::AddressInUse});
}

// The chat keys were never read, so a blocked file sender got no note. The chat responder's
// load reads them now; the file receiver's admission sends the note, trimmed.
TEST(ChatSettings, ABlockedFileSenderGetsTheTrimmedBlockText) {
    TestPeer receiver(kAnswererAddress, QStringLiteral("小红"));
    receiver.fake.settings->values[QStringLiteral("BlockText")] = QStringLiteral("  不收文件  ");
    // The main window loads the answering chat window, whose responder reads the chat keys.
    ASSERT_TRUE(receiver.Start());
    receiver.session.blockList = QStringList{kCallerAddress};

    LoopbackPeer sender(kCallerAddress, QStringLiteral("小明"));
    PeerLink link(PeerRole::FileSender, sender.session.linkContext);
    QStringList refusals;
    QObject::connect(&link, &PeerLink::Refused, &link,
                     [&](LinkRefusal refusal, const QString& note) {
                         refusals << LinkRefusalText(refusal, note);
                     });
    ASSERT_EQ(link.Connect(kAnswererAddress), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return !refusals.isEmpty(); }));
    EXPECT_EQ(refusals[0], QStringLiteral("发送连接请求失败:当前IP不在对方允许连接的范围内。") +
                               QStringLiteral("\r\n\r\n附言:不收文件"));
}

}  // namespace
}  // namespace tvx::test
