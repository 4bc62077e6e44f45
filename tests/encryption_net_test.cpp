#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>

#include "chat/ChatInviter.h"
#include "chat/ChatResponder.h"
#include "common/Handshake.h"
#include "protocol/BatchMessages.h"
#include "protocol/Codes.h"
#include "protocol/HandshakeSteps.h"
#include "protocol/PeerMessages.h"
#include "records/HistoryLog.h"
#include "security/TlsIdentity.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "texts/SendTexts.h"
#include "transfer/FileReceiveEngine.h"
#include "transfer/FileSendEngine.h"

// Encrypted connections between two copies on 127.0.0.2 and 127.0.0.3: what travels, trust on
// first use, refusals both ways, a man in the middle, and strangers that break TLS.
namespace tvx::test {
namespace {

using Kind = SendOutcome::Kind;
using C = ProtocolCodes;

const QString kMiddleAddress = QStringLiteral("127.0.0.4");

// Records what travels on the loopback interface between the two copies while it lives, where
// tcpdump is installed and allowed to capture.
class Capture {
public:
    Capture() : path_(dir_.filePath(QStringLiteral("wire.pcap"))) {
        const QString tcpdump = QStandardPaths::findExecutable(
            QStringLiteral("tcpdump"), {"/usr/sbin", "/usr/bin", "/sbin", "/bin"});
        if (tcpdump.isEmpty()) {
            why_ = QStringLiteral("tcpdump is not installed");
            return;
        }
        process_.setProgram(tcpdump);
        // Run as root, tcpdump would write as a user of its own, who cannot write here.
        const passwd* user = ::getpwuid(::geteuid());
        process_.setArguments({"-i", "lo", "-U", "-n", "-s", "0", "-B", "32768", "-Z",
                               QString::fromLocal8Bit(user ? user->pw_name : "root"), "-w", path_,
                               "tcp and net 127.0.0.0/8"});
        process_.start();
        QByteArray said;
        const bool listening = WaitUntil(
            [&] {
                said += process_.readAllStandardError();
                return process_.state() == QProcess::NotRunning || said.contains("listening");
            },
            10000);
        if (!listening || process_.state() != QProcess::Running)
            why_ = QStringLiteral("tcpdump cannot capture here: ") + QString::fromLocal8Bit(said);
    }
    ~Capture() { Stop(); }

    bool running() const { return why_.isEmpty(); }
    QString why() const { return why_; }
    QByteArray Stop() {
        if (process_.state() == QProcess::Running) {
            WaitUntil([] { return false; }, 300);  // the last packets reach the file
            process_.terminate();
            process_.waitForFinished(5000);
        }
        QFile file(path_);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
    QString path_;
    QProcess process_;
    QString why_;
};

QByteArray Xored(const QByteArray& bytes, quint8 key) {
    QByteArray out = bytes;
    for (char& c : out)
        c = char(quint8(c) ^ key);
    return out;
}

QByteArray Utf16(const QString& text) {
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

struct Receiver {
    Receiver() : peer(kAnswererAddress, QStringLiteral("小红")) {
        peer.session.appFolder = data.path() + QLatin1Char('/');
        peer.session.identity = TlsIdentity::CreateTransient();
        peer.session.settings.autoRecvFile = true;
        peer.session.settings.autoSavePath = downloads.path();
        engine = std::make_unique<FileReceiveEngine>(peer.session);
        engine->SetCompletionPauseMs(0);
        QObject::connect(engine.get(), &FileReceiveEngine::CallerRejected, engine.get(),
                         [this](LinkRefusal refusal) { rejected.append(refusal); });
    }
    QString Saved(const QString& name) const { return downloads.filePath(name); }

    QTemporaryDir data;
    QTemporaryDir downloads;
    LoopbackPeer peer;
    std::unique_ptr<FileReceiveEngine> engine;
    QList<LinkRefusal> rejected;
};

class EncryptionNet : public ::testing::Test {
protected:
    void SetUp() override {
        sender.session.appFolder = source.path() + QLatin1Char('/');
        sender.session.identity = TlsIdentity::CreateTransient();
        sender.session.knownPeers = KnownPeers(source.filePath(KnownPeers::FileName()));
        engine.SetPauseMs(0);
        QObject::connect(&engine, &FileSendEngine::Ended, &engine,
                         [this](const SendOutcome& outcome) { ends.append(outcome); });
        ASSERT_TRUE(receiver.engine->StartFileListener());
        file = source.filePath(QStringLiteral("报告.bin"));
        content = RandomBytes(3 * 1024 * 1024 + 11);
        ASSERT_TRUE(WriteFile(file, content));
    }

    FileSendEngine::Request To(const QString& address) {
        FileSendEngine::Request request;
        request.peerAddress = request.shownAddress = request.typedAddress = address;
        request.filePath = file;
        return request;
    }
    SendOutcome Send(FileSendEngine::Request request) {
        QFile::remove(receiver.Saved(QStringLiteral("报告.bin")));
        // The receiver takes one caller at a time: it may still be closing the last one.
        EXPECT_TRUE(WaitUntil(
            [&] { return receiver.engine->ControlLink().state() == PeerLink::State::Listening; }));
        const int before = int(ends.size());
        engine.Start(request);
        if (!WaitUntil([&] { return ends.size() > before; }, 30000))
            return SendOutcome();
        return ends.last();
    }
    SendOutcome Send() { return Send(To(kAnswererAddress)); }
    bool Arrived() const { return ReadAll(receiver.Saved(QStringLiteral("报告.bin"))) == content; }

    QTemporaryDir source;
    LoopbackPeer sender{kCallerAddress, QStringLiteral("小明")};
    FileSendEngine engine{sender.session};
    Receiver receiver;
    QList<SendOutcome> ends;
    QString file;
    QByteArray content;
};

TEST_F(EncryptionNet, TwoCopiesEncryptAFileAndAChatAndTheWireHoldsNoneOfItsSecrets) {
    const QString code = QStringLiteral("口令-7391");
    receiver.peer.session.settings.passWord1 = Digest(code);
    sender.session.settings.useLogFile = true;
    Capture capture;

    FileSendEngine::Request request = To(kAnswererAddress);
    request.verificationCode = code;
    const SendOutcome sent = Send(request);
    EXPECT_EQ(sent.kind, Kind::Completed);
    EXPECT_TRUE(sent.encrypted);
    EXPECT_EQ(sent.peerFingerprint, receiver.peer.session.identity->fingerprint());
    EXPECT_TRUE(Arrived());
    // Both ends pinned each other on this first contact.
    EXPECT_EQ(sender.session.knownPeers.Pinned(kAnswererAddress),
              receiver.peer.session.identity->fingerprint());
    EXPECT_EQ(receiver.peer.session.knownPeers.Pinned(kCallerAddress),
              sender.session.identity->fingerprint());
    EXPECT_EQ(KnownPeers(source.filePath(KnownPeers::FileName())).Pinned(kAnswererAddress),
              receiver.peer.session.identity->fingerprint());
    // The history log says the send was encrypted, and to whom.
    EXPECT_TRUE(QString::fromLocal8Bit(ReadAll(sender.session.appFolder + kLogFileName))
                    .contains(FingerprintCode(sent.peerFingerprint)));

    // A folder goes through the batch's threads inside TLS too.
    const QString folder = source.filePath(QStringLiteral("相册"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/内")));
    const QByteArray photo = RandomBytes(2 * 1024 * 1024 + 5);
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("/内/照片.jpg"), photo));
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("/说明.txt"), "zebra-quartz notes"));
    FileSendEngine::Request tree = To(kAnswererAddress);
    tree.verificationCode = code;
    tree.batch = std::make_shared<BatchSelection>(BatchSelection::Scan({folder}));
    const SendOutcome batch = Send(tree);
    EXPECT_EQ(batch.kind, Kind::Completed);
    EXPECT_TRUE(batch.encrypted);
    EXPECT_EQ(ReadAll(receiver.Saved(QStringLiteral("相册/内/照片.jpg"))), photo);

    ChatInviter inviter(sender.session);
    ChatResponder responder(receiver.peer.session);
    inviter.SetPauseMs(0);
    QStringList heard;
    QObject::connect(&responder, &ChatResponder::TextReceived, &responder,
                     [&](const QString& text) { heard << text; });
    ASSERT_TRUE(responder.Load());
    ChatInviter::Request invitation;
    invitation.peerAddress = invitation.shownAddress = kAnswererAddress;
    inviter.StartInvitation(invitation);
    ASSERT_TRUE(WaitUntil([&] { return responder.invitationWaiting(); }));
    responder.Accept();
    ASSERT_TRUE(WaitUntil([&] { return inviter.chatting(); }));
    EXPECT_TRUE(inviter.encrypted());
    EXPECT_TRUE(responder.encrypted());
    EXPECT_EQ(inviter.peerFingerprint(), receiver.peer.session.identity->fingerprint());
    const QString secret = QStringLiteral("只给你看的一句话 zebra-quartz");
    ASSERT_TRUE(inviter.SendChatText(secret));
    ASSERT_TRUE(WaitUntil([&] { return !heard.isEmpty(); }));
    EXPECT_TRUE(heard.first().endsWith(secret));
    inviter.Leave();

    const QByteArray wire = capture.Stop();
    if (!capture.running()) {
        GTEST_SKIP() << "Wire capture skipped: " << qPrintable(capture.why());
    }
    // The capture saw the handshake: the marked challenges travel before TLS.
    ASSERT_TRUE(wire.contains("TVX/TLS1"));
    // (Under a busy processor the kernel may drop a few packets from the capture.)
    ASSERT_GT(wire.size(), content.size() / 2);
    for (const QByteArray& sample : {content.mid(4096, 48), content.mid(content.size() / 2, 48),
                                     content.right(48), photo.mid(1024 * 1024, 48)}) {
        for (int key = 0; key < 256; ++key)
            ASSERT_FALSE(wire.contains(Xored(sample, quint8(key)))) << "file bytes, key " << key;
    }
    const QByteArray text = Utf16(QStringLiteral("只给你看的一句话 zebra"));
    for (int key = 0; key < 256; ++key)
        ASSERT_FALSE(wire.contains(Xored(text, quint8(key)))) << "chat text, key " << key;
    EXPECT_FALSE(wire.contains(Utf16(Digest(code))));
    EXPECT_FALSE(wire.contains(Digest(code).toLatin1()));
}

TEST_F(EncryptionNet, APeerWithoutEncryptionStillSendsReceivesAndChatsOnThePlainWire) {
    // A copy that speaks the design's wire only: no mark in its challenges.
    receiver.peer.session.identity.reset();
    const SendOutcome sent = Send();
    EXPECT_EQ(sent.kind, Kind::Completed);
    EXPECT_FALSE(sent.encrypted);
    EXPECT_TRUE(Arrived());

    ChatInviter inviter(receiver.peer.session);
    ChatResponder responder(sender.session);
    inviter.SetPauseMs(0);
    ASSERT_TRUE(responder.Load());
    ChatInviter::Request invitation;
    invitation.peerAddress = invitation.shownAddress = kCallerAddress;
    inviter.StartInvitation(invitation);
    ASSERT_TRUE(WaitUntil([&] { return responder.invitationWaiting(); }));
    responder.Accept();
    ASSERT_TRUE(WaitUntil([&] { return inviter.chatting(); }));
    EXPECT_FALSE(responder.encrypted());
    EXPECT_TRUE(responder.peerFingerprint().isEmpty());
    inviter.Leave();

    // And the other way: a plain sender to an encrypting receiver.
    receiver.peer.session.identity = TlsIdentity::CreateTransient();
    sender.session.identity.reset();
    EXPECT_EQ(Send().kind, Kind::Completed);
    EXPECT_TRUE(Arrived());
}

TEST_F(EncryptionNet, KnownPeersAreHeldToTheirCertificateAndToEncryptionUnlessTheUserAgrees) {
    ASSERT_EQ(Send().kind, Kind::Completed);
    const QByteArray first = receiver.peer.session.identity->fingerprint();

    // Another certificate at the same address: refused, both codes shown.
    receiver.peer.session.identity = TlsIdentity::CreateTransient();
    const QByteArray second = receiver.peer.session.identity->fingerprint();
    SendOutcome refused = Send();
    ASSERT_EQ(refused.kind, Kind::LinkRefused);
    EXPECT_EQ(refused.refusal, LinkRefusal::IdentityChanged);
    EXPECT_EQ(refused.pinnedFingerprint, first);
    EXPECT_EQ(refused.peerFingerprint, second);
    const QString shown = SendFailureMessage(refused).text;
    EXPECT_TRUE(shown.contains(FingerprintCode(first))) << qPrintable(shown);
    EXPECT_TRUE(shown.contains(FingerprintCode(second))) << qPrintable(shown);
    EXPECT_FALSE(Arrived());
    FileSendEngine::Request accept = To(kAnswererAddress);
    accept.acceptNewIdentity = true;
    EXPECT_EQ(Send(accept).kind, Kind::Completed);
    EXPECT_EQ(sender.session.knownPeers.Pinned(kAnswererAddress), second);
    EXPECT_EQ(Send().kind, Kind::Completed);

    // The known peer now offers the plain wire only: a downgrade, unless the user agrees.
    receiver.peer.session.identity.reset();
    refused = Send();
    ASSERT_EQ(refused.kind, Kind::LinkRefused);
    EXPECT_EQ(refused.refusal, LinkRefusal::Downgrade);
    FileSendEngine::Request plain = To(kAnswererAddress);
    plain.allowPlain = true;
    const SendOutcome agreed = Send(plain);
    EXPECT_EQ(agreed.kind, Kind::Completed);
    EXPECT_FALSE(agreed.encrypted);

    // Required encryption refuses a plain peer both ways.
    sender.session.settings.requireEncryption = true;
    refused = Send(plain);
    ASSERT_EQ(refused.kind, Kind::LinkRefused);
    EXPECT_EQ(refused.refusal, LinkRefusal::PlainPeer);
    sender.session.settings.requireEncryption = false;
    sender.session.identity.reset();
    receiver.peer.session.identity = TlsIdentity::CreateTransient();
    receiver.peer.session.settings.requireEncryption = true;
    EXPECT_NE(Send(plain).kind, Kind::Completed);
    EXPECT_FALSE(Arrived());
    EXPECT_EQ(receiver.rejected.value(0), LinkRefusal::PlainPeer);

    // The receiver holds the sender to its certificate too.
    receiver.peer.session.settings.requireEncryption = false;
    sender.session.identity = TlsIdentity::CreateTransient();
    EXPECT_NE(Send(accept).kind, Kind::Completed);
    EXPECT_EQ(receiver.rejected.value(1), LinkRefusal::IdentityChanged);
    receiver.peer.session.acceptChangedIdentity = true;
    EXPECT_EQ(Send(accept).kind, Kind::Completed);
}

// One raw end of the middle: the handshake step by step, marked, then TLS.
struct MiddleEnd : RawEnd {
    bool Step(int count) { return Receive(count); }
    QString challenge;
};

TEST_F(EncryptionNet, AManInTheMiddleCannotRelayTheCodeIntoAnotherSession) {
    const QString code = QStringLiteral("4711");
    receiver.peer.session.settings.passWord1 = Digest(code);
    const std::unique_ptr<TlsIdentity> middle = TlsIdentity::CreateTransient();

    // Towards the sender the middle answers as a receiver would.
    MiddleEnd toSender;
    ASSERT_EQ(toSender.socket.Bind(kMiddleAddress, kFileControlPort), SocketError::None);
    ASSERT_EQ(toSender.socket.Listen(), SocketError::None);
    FileSendEngine::Request request = To(kMiddleAddress);
    request.verificationCode = code;
    engine.Start(request);
    ASSERT_TRUE(toSender.Step(1));
    ASSERT_TRUE(IsMarkedChallenge(toSender.messages[0]));
    toSender.SendBody(AnswererHandshakeStep(1, toSender.messages[0], toSender.challenge).text);
    ASSERT_TRUE(toSender.Step(2));
    toSender.SendBody(
        AnswererHandshakeStep(2, toSender.messages[1], toSender.challenge, true).text);
    ASSERT_TRUE(toSender.Step(3));
    ASSERT_EQ(AnswererHandshakeStep(3, toSender.messages[2], toSender.challenge).kind,
              HandshakeStep::Kind::Verified);
    toSender.SendBody(BuildVerifiedReply(QString(QChar(C::Version)), true, OwnFeatureField()));
    ASSERT_EQ(toSender.socket.StartTls(*middle, true), SocketError::None);
    ASSERT_TRUE(toSender.Step(4));
    const std::optional<CodedMessage> admission = SplitCode(toSender.messages[3]);
    ASSERT_TRUE(admission && admission->code == C::AdmissionRequest);
    const QString relayed = admission->payload;
    EXPECT_EQ(relayed.size(), 64);
    EXPECT_NE(relayed, Digest(code));

    // Towards the receiver the middle calls as a sender would and relays the digest.
    MiddleEnd toReceiver;
    QObject::connect(&toReceiver.socket, &Socket::Connected, &toReceiver.socket, [&] {
        toReceiver.challenge = DrawChallenge(true);
        toReceiver.SendBody(toReceiver.challenge);
    });
    ASSERT_EQ(toReceiver.socket.Connect(kAnswererAddress, kFileControlPort, kMiddleAddress),
              SocketError::None);
    ASSERT_TRUE(toReceiver.Step(1));
    toReceiver.SendBody(CallerHandshakeStep(1, toReceiver.messages[0], toReceiver.challenge).text);
    ASSERT_TRUE(toReceiver.Step(2));
    ASSERT_TRUE(IsMarkedChallenge(toReceiver.messages[1]));
    toReceiver.SendBody(CallerHandshakeStep(2, toReceiver.messages[1], toReceiver.challenge).text);
    ASSERT_TRUE(toReceiver.Step(3));
    ASSERT_EQ(toReceiver.socket.StartTls(*middle, false), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return toReceiver.socket.encrypted(); }));
    toReceiver.SendBody(BuildAdmissionRequest(relayed));
    ASSERT_TRUE(toReceiver.Step(4));
    EXPECT_EQ(toReceiver.messages[3], QString(QChar(C::RefusedCode)));
    // Turned away, the middle is not remembered by the receiver.
    EXPECT_TRUE(receiver.peer.session.knownPeers.Pinned(kMiddleAddress).isEmpty());
    engine.Cancel();
}

TEST_F(EncryptionNet, StrangersThatBreakTheNegotiationLeaveTheListenerServingTheNextCaller) {
    // The bytes after the verified reply, and whether they are refused at once (a record that
    // is not yet whole waits for its end, or for the handshake's time-out).
    const QList<QPair<QByteArray, bool>> breaks = {
        {QByteArray::fromHex("5a03030010") + QByteArray(16, '\x5a'), true},  // no TLS record
        {QByteArray::fromHex("1503030002022f"), true},  // an alert instead of a hello
        {QByteArray::fromHex("16030100ffff") + QByteArray(64, '\x01'), false},  // cut short
        {QByteArray(), false},  // gone right after the reply
    };
    for (const auto& [bytes, atOnce] : breaks) {
        MiddleEnd stranger;
        QObject::connect(&stranger.socket, &Socket::Connected, &stranger.socket, [&] {
            stranger.challenge = DrawChallenge(true);
            stranger.SendBody(stranger.challenge);
        });
        ASSERT_EQ(stranger.socket.Connect(kAnswererAddress, kFileControlPort, kMiddleAddress),
                  SocketError::None);
        ASSERT_TRUE(stranger.Step(1));
        stranger.SendBody(CallerHandshakeStep(1, stranger.messages[0], stranger.challenge).text);
        ASSERT_TRUE(stranger.Step(2));
        stranger.SendBody(CallerHandshakeStep(2, stranger.messages[1], stranger.challenge).text);
        ASSERT_TRUE(stranger.Step(3));
        stranger.socket.Send(bytes);
        if (atOnce) {
            EXPECT_TRUE(WaitUntil([&] {
                return stranger.closed || stranger.socket.state() != Socket::State::Connected;
            })) << bytes.toHex().constData();
        }
        stranger.socket.Close();
        ASSERT_TRUE(WaitUntil(
            [&] { return receiver.engine->phase() == FileReceiveEngine::Phase::Listening; }));
    }
    EXPECT_EQ(Send().kind, Kind::Completed);
    EXPECT_TRUE(Arrived());
}

}  // namespace
}  // namespace tvx::test
