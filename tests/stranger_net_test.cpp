// What a stranger on the same network can try against a running copy, each tried as the
// stranger would and then shown to fail: the data port, an idle connection, guessing the
// verification code, markup in the history log and file names the file system cannot hold.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>

#include "chat/ChatAcceptWindow.h"
#include "chat/ChatResponder.h"
#include "common/Controls.h"
#include "common/Format.h"
#include "common/Handshake.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "protocol/Codes.h"
#include "protocol/HandshakeSteps.h"
#include "protocol/PeerLink.h"
#include "protocol/PeerMessages.h"
#include "protocol/Wire.h"
#include "protocol/WrongCodeLimit.h"
#include "records/HistoryLog.h"
#include "support/Files.h"
#include "support/ScriptedSender.h"
#include "support/TestPeer.h"
#include "texts/SendTexts.h"
#include "transfer/ReceiveRules.h"

namespace tvx::test {
namespace {

using C = ProtocolCodes;

// A third computer on the network, neither the sender nor the receiver.
const QString kStrangerAddress = QStringLiteral("127.0.0.4");

// A bare connection that records whether the other side dropped it.
struct BareConnection {
    BareConnection() {
        QObject::connect(&socket, &Socket::Connected, &socket, [this] { connected = true; });
        QObject::connect(&socket, &Socket::Closed, &socket, [this] { dropped = true; });
        QObject::connect(&socket, &Socket::Error, &socket, [this] { dropped = true; });
        QObject::connect(&socket, &Socket::DataArrival, &socket, [this] {
            QString message;
            if (buffer.Append(socket.Read(), message) == ReceiveBuffer::Outcome::Message)
                messages << message;
        });
    }
    Socket socket;
    ReceiveBuffer buffer;
    QStringList messages;
    bool connected = false;
    bool dropped = false;
};

struct Receiver {
    Receiver() : peer(kAnswererAddress, QStringLiteral("小红")) {}
    ReceiverPage& receiver() { return peer.receiver(); }
    bool WaitListening() {
        return WaitUntil(
            [&] { return receiver().ControlLink().state() == PeerLink::State::Listening; });
    }
    TestPeer peer;
};

}  // namespace

TEST(Stranger, DataPortTakesOnlyTheVerifiedCaller) {
    Receiver rig;
    rig.peer.ReceiveAutomatically();
    ASSERT_TRUE(rig.peer.Start());
    const QByteArray content = RandomBytes(200000);
    ScriptedSender genuine(kCallerAddress);
    ASSERT_TRUE(genuine.ReachIntroduction());

    // Between the genuine sender's introduction and its data connection a stranger races to
    // 8511 and sends bytes of its own: it is dropped, and the receiver waits on.
    BareConnection stranger;
    ASSERT_EQ(stranger.socket.Connect(kAnswererAddress, kFileDataPort, kStrangerAddress),
              SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return stranger.connected; }));
    stranger.socket.Send(QByteArray(5000, 'X'));
    ASSERT_TRUE(WaitUntil([&] { return stranger.dropped; }));
    EXPECT_EQ(rig.receiver().ControlLink().state(), PeerLink::State::Introduced);
    EXPECT_FALSE(genuine.closed);

    // A second stranger knocks at the same moment as the genuine sender: the genuine one is
    // taken whichever came first.
    BareConnection second;
    ASSERT_EQ(second.socket.Connect(kAnswererAddress, kFileDataPort, kStrangerAddress),
              SocketError::None);
    ASSERT_TRUE(genuine.ConnectData());
    ASSERT_TRUE(WaitUntil([&] { return second.dropped; }));

    genuine.Offer(QStringLiteral("genuine.bin"), content.size());
    ASSERT_TRUE(genuine.WaitForAnswer());
    EXPECT_EQ(genuine.answers[0].first, C::OfferAccepted);
    second.socket.Send(QByteArray(5000, 'Y'));
    genuine.SendBytes(content, 0);
    ASSERT_TRUE(genuine.WaitForAnswer(2));
    EXPECT_EQ(genuine.answers[1].first, C::FileComplete);
    EXPECT_EQ(ReadAll(rig.peer.DownloadFolder() + QStringLiteral("genuine.bin")), content);
    EXPECT_TRUE(rig.peer.fake.messageBox->shown.isEmpty());
}

TEST(Stranger, IdleCallersAreDroppedAndTheNextSenderGetsThrough) {
    static_assert(PeerLink::kBusinessTimeoutMs == 30000);
    Receiver rig;
    rig.peer.ReceiveAutomatically();
    ASSERT_TRUE(rig.peer.Start());
    constexpr int kBusinessMs = 1500;
    rig.receiver().ControlLink().SetBusinessTimeout(kBusinessMs);
    const QByteArray content = RandomBytes(10000);

    // A caller that is introduced and then sends nothing holds the receiver: the next sender
    // is refused by the system ...
    ScriptedSender idle(kStrangerAddress, QStringLiteral("闲人"));
    ASSERT_TRUE(idle.ReachIntroduction());
    {
        ScriptedSender early(kCallerAddress);
        EXPECT_FALSE(early.ReachIntroduction());
        EXPECT_FALSE(idle.closed);
    }
    // ... until the business time runs out: the idle caller is dropped without a word and the
    // next sender's file arrives.
    ASSERT_TRUE(WaitUntil([&] { return idle.closed; }, 10 * kBusinessMs));
    ASSERT_TRUE(rig.WaitListening());
    {
        ScriptedSender genuine(kCallerAddress);
        ASSERT_TRUE(genuine.SendFile(QStringLiteral("after-idle.bin"), content));
        // An offer stops the clock: a transfer may take longer than the business time.
        EXPECT_FALSE(WaitUntil([&] { return genuine.closed; }, 2 * kBusinessMs));
        genuine.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    EXPECT_EQ(ReadAll(rig.peer.DownloadFolder() + QStringLiteral("after-idle.bin")), content);

    // The handshake's own time-out ends at verification; stopping right after it is dropped
    // all the same.
    BareConnection bare;
    ASSERT_EQ(bare.socket.Connect(kAnswererAddress, kFileControlPort, kStrangerAddress),
              SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return bare.connected; }));
    const QString challenge = DrawChallenge();
    SendControlMessage(bare.socket, challenge);
    ASSERT_TRUE(WaitUntil([&] { return bare.messages.size() == 1; }));
    SendControlMessage(bare.socket, QString(QChar(C::AskChallenge)));
    ASSERT_TRUE(WaitUntil([&] { return bare.messages.size() == 2; }));
    SendControlMessage(bare.socket, ChallengeResponse(bare.messages[1]));
    ASSERT_TRUE(WaitUntil([&] { return bare.messages.size() == 3; }));
    EXPECT_EQ(bare.messages[2].front().unicode(), C::Verified);
    ASSERT_TRUE(WaitUntil([&] { return bare.dropped; }, 10 * kBusinessMs));
    ASSERT_TRUE(rig.WaitListening());
    EXPECT_TRUE(rig.peer.fake.messageBox->shown.isEmpty());
}

TEST(Stranger, IdleChatCallersAreDroppedToo) {
    LoopbackPeer answerer(kAnswererAddress, QStringLiteral("小红"));
    PeerLink responder(PeerRole::ChatResponder, answerer.session.linkContext);
    constexpr int kBusinessMs = 1000;
    responder.SetBusinessTimeout(kBusinessMs);
    QStringList received;
    QObject::connect(
        &responder, &PeerLink::MessageReceived, &responder,
        [&](char16_t code, const QString& payload) { received << MessageBody(code, payload); });
    ASSERT_EQ(responder.Listen(), SocketError::None);

    for (const bool invites : {false, true}) {
        LoopbackPeer caller(kStrangerAddress, QStringLiteral("闲人"));
        PeerLink initiator(PeerRole::ChatInitiator, caller.session.linkContext);
        bool introduced = false;
        bool closed = false;
        QObject::connect(&initiator, &PeerLink::Introduced, &initiator, [&] { introduced = true; });
        QObject::connect(&initiator, &PeerLink::PeerClosed, &initiator, [&] { closed = true; });
        ASSERT_EQ(initiator.Connect(kAnswererAddress), SocketError::None);
        ASSERT_TRUE(WaitUntil([&] { return introduced; }));
        if (invites) {
            initiator.Send(BuildInvitation({QStringLiteral("你好"), 7}));
            ASSERT_TRUE(WaitUntil([&] { return !received.isEmpty(); }));
            EXPECT_FALSE(WaitUntil([&] { return closed; }, 2 * kBusinessMs));
        } else {
            ASSERT_TRUE(WaitUntil([&] { return closed; }, 10 * kBusinessMs));
            ASSERT_TRUE(WaitUntil([&] { return responder.state() == PeerLink::State::Listening; }));
        }
    }
}

TEST(Stranger, GuessingTheCodeIsShutOutForTheRestOfTheMinute) {
    Receiver rig;
    rig.peer.fake.settings->values[QStringLiteral("PassWord1")] = Digest(QStringLiteral("secret"));
    ASSERT_TRUE(rig.peer.Start());
    // The chat answerer of the same running copy shares the count.
    PeerLink& chat = rig.peer.mainWindow->AcceptWindow()->Responder().link();
    rig.peer.session.settings.passWord2 = Digest(QStringLiteral("chat"));
    ASSERT_EQ(chat.state(), PeerLink::State::Listening);

    // One connection per try, as a guessing loop would make them; true when admitted.
    auto tryFile = [&](const QString& from, const QString& code) {
        ScriptedSender caller(from);
        const bool admitted = caller.ReachIntroduction(code) && caller.admitted;
        EXPECT_TRUE(admitted || caller.refusals.value(0).startsWith(
                                    QStringLiteral("发送连接请求失败:验证码无效。")));
        caller.Close();
        EXPECT_TRUE(rig.WaitListening());
        return admitted;
    };
    auto tryChat = [&](const QString& from, const QString& code) {
        LoopbackPeer caller(from, QStringLiteral("闲人"));
        PeerLink initiator(PeerRole::ChatInitiator, caller.session.linkContext);
        initiator.SetVerificationDigest(Digest(code));
        bool admitted = false;
        bool refused = false;
        QObject::connect(&initiator, &PeerLink::Admitted, &initiator, [&] { admitted = true; });
        QObject::connect(&initiator, &PeerLink::Refused, &initiator, [&] { refused = true; });
        initiator.Connect(kAnswererAddress);
        EXPECT_TRUE(WaitUntil([&] { return admitted || refused; }));
        initiator.Reset();
        EXPECT_TRUE(WaitUntil([&] { return chat.state() == PeerLink::State::Listening; }));
        return admitted;
    };

    // Four wrong codes and then the right one: the right one clears the count.
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(tryFile(kStrangerAddress, QStringLiteral("guess%1").arg(i)));
    EXPECT_TRUE(tryFile(kStrangerAddress, QStringLiteral("secret")));
    // Five wrong codes within a minute, then the right one: refused without a look at it.
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(tryFile(kStrangerAddress, QStringLiteral("again%1").arg(i)));
    EXPECT_FALSE(tryFile(kStrangerAddress, QStringLiteral("secret")));
    rig.peer.fake.system->uptimeMs += 59000;
    EXPECT_FALSE(tryFile(kStrangerAddress, QStringLiteral("secret")));
    EXPECT_FALSE(tryChat(kStrangerAddress, QStringLiteral("chat")));
    // Other addresses are not held up by the stranger.
    EXPECT_TRUE(tryFile(kCallerAddress, QStringLiteral("secret")));
    EXPECT_TRUE(tryChat(kCallerAddress, QStringLiteral("chat")));
    // Once the minute has passed the right code is taken again.
    rig.peer.fake.system->uptimeMs += 1000;
    EXPECT_TRUE(tryFile(kStrangerAddress, QStringLiteral("secret")));
    EXPECT_TRUE(tryChat(kStrangerAddress, QStringLiteral("chat")));
    EXPECT_TRUE(rig.peer.fake.messageBox->shown.isEmpty());
}

TEST(Stranger, WrongCodeTableStaysBounded) {
    WrongCodeLimit limit;
    auto address = [](int n) { return QStringLiteral("10.%1.%2.1").arg(n / 256).arg(n % 256); };
    for (int n = 0; n < WrongCodeLimit::kMaxAddresses + 100; ++n)
        limit.CountWrong(address(n), n);
    EXPECT_EQ(limit.AddressCount(), WrongCodeLimit::kMaxAddresses);
    // A guesser shut out now stays shut out while many more addresses come and go.
    const qint64 now = WrongCodeLimit::kMaxAddresses + 100;
    for (int i = 0; i < WrongCodeLimit::kMaxWrongCodes; ++i)
        limit.CountWrong(QStringLiteral("10.200.0.1"), now);
    for (int n = 0; n < 100; ++n)
        limit.CountWrong(address(5000 + n), now + 1);
    EXPECT_TRUE(limit.IsShutOut(QStringLiteral("10.200.0.1"), now + 1));
    EXPECT_LE(limit.AddressCount(), WrongCodeLimit::kMaxAddresses);
    // Ended windows make room first.
    limit.CountWrong(QStringLiteral("10.201.0.1"), now + WrongCodeLimit::kWindowMs + 1);
    limit.CountWrong(address(9000), now + WrongCodeLimit::kWindowMs + 2);
    EXPECT_EQ(limit.AddressCount(), 2);
}

TEST(Stranger, MarkupInTheHistoryLogShowsAsText) {
    Receiver rig;
    rig.peer.ReceiveAutomatically();
    rig.peer.fake.settings->values[QStringLiteral("UseLogFile")] = QStringLiteral("1");
    ASSERT_TRUE(rig.peer.Start());
    const QString nick = QStringLiteral("<script>alert(\"x\")</script>");
    const QString name = QStringLiteral("<b>R&D<i>.txt");
    const QString note = QStringLiteral("<img src=x onerror=alert(1)>");
    ScriptedSender caller(kStrangerAddress, nick);
    ASSERT_TRUE(caller.SendFile(name, "abc", note));
    EXPECT_EQ(ReadAll(rig.peer.DownloadFolder() + name), QByteArray("abc"));

    const QString log = FromAnsi(ReadAll(rig.peer.session.appFolder + kLogFileName));
    EXPECT_FALSE(log.contains(QStringLiteral("<script")));
    EXPECT_FALSE(log.contains(QStringLiteral("<img")));
    EXPECT_FALSE(log.contains(QStringLiteral("<b>")));
    EXPECT_TRUE(log.contains(QStringLiteral("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;")));
    EXPECT_TRUE(log.contains(QStringLiteral("<strong>&lt;b&gt;R&amp;D&lt;i&gt;.txt</strong>")));
    // Header and fixed parts as ever; only the values are escaped.
    const QStringList values = {nick,
                                caller.peer.session.localAddressCode,
                                name,
                                QStringLiteral("未知类型"),
                                FormatSizeWithBytes(3),
                                QStringLiteral("今天 08:04:09"),
                                note};
    EXPECT_EQ(log.toStdString(),
              (LogFileHeader() +
               BuildLogEntry(LogEvent::FileReceived, LogTimeText(rig.peer.fake.system->now),
                             EscapedLogValues(values)) +
               QStringLiteral("\r\n"))
                  .toStdString());
}

TEST(Stranger, NamesTheFileSystemCannotHoldArriveShortenedAndResume) {
    Receiver rig;
    rig.peer.ReceiveAutomatically();
    rig.peer.fake.settings->values[QStringLiteral("UseLogFile")] = QStringLiteral("1");
    ASSERT_TRUE(rig.peer.Start());
    const QString folder = rig.peer.DownloadFolder();
    const int limit = FileNameLimit(folder);
    const QString offered = QString(96, QChar(0x6587)) + QStringLiteral("abcdefgh.txt");
    ASSERT_EQ(FileNameBytes(offered), 300);
    // As offered, the name cannot be created here at all.
    ASSERT_LT(limit, 300);
    EXPECT_FALSE(QFile(folder + offered + QStringLiteral(".tvx")).open(QIODevice::WriteOnly));

    const QString saved = FitFileName(offered, limit);
    EXPECT_LE(FileNameBytes(saved) + kTempSuffixBytes, limit);
    EXPECT_GT(FileNameBytes(saved) + kTempSuffixBytes + 3, limit);  // no more cut than needed
    EXPECT_TRUE(saved.endsWith(QStringLiteral(".txt")));
    EXPECT_TRUE(offered.startsWith(saved.chopped(4)));

    const QByteArray content = RandomBytes(300000);
    {
        ScriptedSender first(kCallerAddress);
        ASSERT_TRUE(first.ReachIntroduction());
        ASSERT_TRUE(first.ConnectData());
        first.Offer(offered, content.size());
        ASSERT_TRUE(first.WaitForAnswer());
        EXPECT_EQ(first.answers[0].second, QString());
        first.SendBytes(content, 0, 123457);
        ASSERT_TRUE(WaitUntil([&] { return rig.receiver().Position() == 123457; }));
        first.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    EXPECT_EQ(ReadAll(folder + saved + QStringLiteral(".tvx")), content.left(123457));
    {
        ScriptedSender again(kCallerAddress);
        ASSERT_TRUE(again.SendFile(offered, content));
        EXPECT_EQ(again.answers[0].second, QStringLiteral("123457"));
        again.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    EXPECT_EQ(ReadAll(folder + saved), content);
    // Sent once more, the numbered name is shortened to fit as well.
    {
        ScriptedSender third(kCallerAddress);
        ASSERT_TRUE(third.SendFile(offered, content.left(10)));
        third.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    const QString numbered = FitMarkedName(saved, QStringLiteral("(1)"), limit);
    EXPECT_TRUE(numbered.endsWith(QStringLiteral("(1).txt")));
    EXPECT_LE(FileNameBytes(numbered), limit);
    EXPECT_EQ(ReadAll(folder + numbered), content.left(10));

    // Line breaks and tabs never reach a file name.
    {
        ScriptedSender fourth(kCallerAddress);
        ASSERT_TRUE(fourth.SendFile(QStringLiteral("第一行\r\n第二行\t\x7f.txt"), "xyz"));
        fourth.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    EXPECT_EQ(ReadAll(folder + QStringLiteral("第一行__第二行__.txt")), QByteArray("xyz"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 3);
    // The history shows the names as they were offered.
    const QString log = FromAnsi(ReadAll(rig.peer.session.appFolder + kLogFileName));
    EXPECT_EQ(log.count(QStringLiteral("<strong>") + offered + QStringLiteral("</strong>")), 3);
    EXPECT_TRUE(log.contains(QStringLiteral("<strong>第一行\r\n第二行\t\x7f.txt</strong>")));
    EXPECT_TRUE(rig.peer.fake.messageBox->shown.isEmpty());
}

TEST(Stranger, OfferPageShowsTheNameAsOfferedAndTheDialogOneThatFits) {
    Receiver rig;
    ASSERT_TRUE(rig.peer.Start());
    ReceiverPage& receiver = rig.receiver();
    const QString offered =
        QStringLiteral("报告\n") + QString(120, QChar(0x8868)) + QStringLiteral(".doc");
    ScriptedSender caller(kCallerAddress);
    ASSERT_TRUE(caller.ReachIntroduction());
    ASSERT_TRUE(caller.ConnectData());
    caller.Offer(offered, 5, QStringLiteral("<h1>大字</h1>"));
    ASSERT_TRUE(WaitUntil([&] { return rig.peer.session.activity.offerWaiting(); }));
    EXPECT_EQ(ControlText(&receiver, QStringLiteral("lblOfferFileName")), offered);
    // What the peer sends shows as text on the page too, never as markup.
    for (const char* label : {"lblOfferFileName", "lblOfferNote"}) {
        EXPECT_EQ(
            qobject_cast<QLabel*>(receiver.findChild<QWidget*>(QLatin1String(label)))->textFormat(),
            Qt::PlainText);
    }

    QTemporaryDir saveDir;
    const QString proposed = FitFileName(ReceivedFileName(offered), 255);
    EXPECT_TRUE(proposed.startsWith(QStringLiteral("报告_")));
    // The user keeps the proposed name in a folder of its own.
    rig.peer.fake.dialogs->paths << saveDir.filePath(proposed);
    receiver.findChild<QPushButton*>(QStringLiteral("cmdAccept"))->click();
    EXPECT_EQ(rig.peer.fake.dialogs->requests[0].proposedName, proposed);
    ASSERT_TRUE(caller.WaitForAnswer());
    caller.SendBytes("hello", 0);
    ASSERT_TRUE(caller.WaitForAnswer(2));
    EXPECT_EQ(ReadAll(saveDir.filePath(proposed)), QByteArray("hello"));
    EXPECT_EQ(ControlText(&receiver, QStringLiteral("lblRecvFileName")), offered);
}

TEST(Stranger, ShorteningKeepsWholeCharacters) {
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");  // four bytes, two units
    const QString accented = QStringLiteral("e\u0301");           // three bytes, one character
    for (const QString& piece : {smile, accented}) {
        const QString name = piece.repeated(100) + QStringLiteral(".txt");
        const QString fitted = FitFileName(name, 255);
        EXPECT_LE(FileNameBytes(fitted) + kTempSuffixBytes, 255);
        EXPECT_TRUE(fitted.endsWith(QStringLiteral(".txt")));
        const QString kept = fitted.chopped(4);
        EXPECT_EQ(kept, piece.repeated(kept.size() / piece.size()));
        EXPECT_EQ(QString::fromUtf8(fitted.toUtf8()), fitted);
    }
    // A long "extension" is no extension: the name is cut at its end.
    const QString dotted = QStringLiteral("a.") + QString(300, QLatin1Char('b'));
    EXPECT_EQ(FitFileName(dotted, 255), dotted.left(251));
    // Names that fit are left alone, numbered names too.
    EXPECT_EQ(FitFileName(QStringLiteral("a.txt"), 255), QStringLiteral("a.txt"));
    EXPECT_EQ(FitMarkedName(QStringLiteral("a.txt"), QStringLiteral("(12)"), 255),
              QStringLiteral("a(12).txt"));
}

}  // namespace tvx::test
