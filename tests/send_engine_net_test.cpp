#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "common/Messages.h"
#include "common/Paths.h"
#include "records/HistoryLog.h"
#include "startup/Language.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/ScriptedReceiver.h"
#include "transfer/FileSendEngine.h"

// The sending engine alone, with no window and no widget application, against a receiver
// that runs the protocol by script on 127.0.0.2 and 127.0.0.3.
namespace tvx::test {
namespace {

using C = ProtocolCodes;
using Engine = FileSendEngine;

constexpr qint64 kChunk = 64 * 1024;

using Kind = SendOutcome::Kind;

class SendEngineNet : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        sender.session.appFolder = folder.path() + QLatin1Char('/');
        sender.session.settings.sendBufferBytes = kChunk;
        // A sender that would encrypt, before a receiver that knows only the plain wire: no
        // mark in its challenge, nothing in its reserved field.
        sender.session.identity = TlsIdentity::CreateTransient();
        receiver.link.SetAnnouncedFeatures(QString());
        engine.SetPauseMs(0);
        engine.SetCloseGraceMs(100);
        QObject::connect(&engine, &Engine::StepChanged, &engine,
                         [this](int step) { steps << step; });
        QObject::connect(&engine, &Engine::StreamStarted, &engine, [this] { streamed = true; });
        QObject::connect(&engine, &Engine::Waiting, &engine,
                         [this](qint64 seconds) { waits << seconds; });
        QObject::connect(&engine, &Engine::Retrying, &engine,
                         [this](int attempt) { retries << attempt; });
        QObject::connect(&engine, &Engine::ChunkSent, &engine, [this](qint64 offset, qint64 size) {
            chunks.append({offset, size});
        });
        QObject::connect(&engine, &Engine::Ended, &engine,
                         [this](const SendOutcome& outcome) { ends.append(outcome); });
    }

    Engine::Request Request(const QString& path, const QString& note = QString()) {
        Engine::Request request;
        request.peerAddress = kAnswererAddress;
        request.shownAddress = kAnswererAddress;
        request.typedAddress = kAnswererAddress;
        request.filePath = path;
        request.note = note;
        return request;
    }

    QString MakeFile(const QString& name, const QByteArray& content) {
        const QString path = folder.path() + QLatin1Char('/') + name;
        EXPECT_TRUE(WriteFile(path, content));
        return path;
    }

    bool StartToOffer(const Engine::Request& request) {
        receiver.offer.reset();
        receiver.bytes.clear();
        chunks.clear();
        engine.Start(request);
        return WaitUntil([&] { return receiver.offer.has_value(); }) &&
               WaitUntil([&] { return engine.waitCounterRunning(); });
    }

    bool AcceptAndReceive(qint64 offset) {
        receiver.Answer(BuildAcceptance(offset));
        const qint64 expected = receiver.offer->length - offset;
        return WaitUntil([&] { return receiver.bytes.size() >= expected; }) &&
               WaitUntil([&] { return engine.position() == receiver.offer->length; });
    }

    bool ReceiverListening() {
        return WaitUntil([&] { return receiver.link.state() == PeerLink::State::Listening; });
    }

    QTemporaryDir folder;
    LoopbackPeer sender{kCallerAddress, QStringLiteral("小明")};
    LoopbackPeer peer{kAnswererAddress, QStringLiteral("小红")};
    ScriptedReceiver receiver{peer.session};
    Engine engine{sender.session};
    QList<int> steps;
    bool streamed = false;
    QList<qint64> waits;
    QList<int> retries;
    QList<QPair<qint64, qint64>> chunks;
    QList<SendOutcome> ends;
};

TEST_F(SendEngineNet, RunsWithoutAnyWidgetApplication) {
    ASSERT_NE(QCoreApplication::instance(), nullptr);
    EXPECT_FALSE(QCoreApplication::instance()->inherits("QGuiApplication"));
}

TEST_F(SendEngineNet, ResumedFileArrivesExactlyWithProgressOfferLogAndCompletion) {
    sender.session.settings.useLogFile = true;
    const QByteArray content = Pattern(4 * kChunk + 7);
    const QString path = MakeFile(QStringLiteral("报告.bin"), content);
    ASSERT_TRUE(receiver.Listen());

    int progressReports = 0;
    QObject::connect(&engine, &Engine::ProgressChanged, &engine, [&] { ++progressReports; });
    QString startPercent;
    QObject::connect(&engine, &Engine::SendingStarted, &engine,
                     [&] { startPercent = engine.progress().PercentText(); });

    ASSERT_TRUE(StartToOffer(Request(path, QStringLiteral("第一行\r\n第二行"))));
    EXPECT_EQ(steps, (QList<int>{1, 2, 3}));
    EXPECT_EQ(receiver.offer->fileName, QStringLiteral("报告.bin"));
    EXPECT_EQ(receiver.offer->length, content.size());
    EXPECT_EQ(receiver.offer->note, QStringLiteral("第一行\r\n第二行"));
    EXPECT_EQ(receiver.offer->modified, FileTimeText(path));
    EXPECT_EQ(receiver.offer->key, engine.dataKey());
    EXPECT_GE(engine.dataKey(), 1);
    EXPECT_LE(engine.dataKey(), 254);
    EXPECT_EQ(engine.phase(), Engine::Phase::WaitingForAnswer);
    EXPECT_EQ(waits, QList<qint64>{0});
    EXPECT_EQ(engine.peerCard().value(0), QStringLiteral("小红"));
    QFile log(sender.session.appFolder + kLogFileName);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(FromAnsi(log.readAll()).contains(QStringLiteral("<strong>报告.bin</strong>")));

    // The receiver already holds half: the rest follows in send-buffer chunks.
    ASSERT_TRUE(AcceptAndReceive(2 * kChunk));
    EXPECT_EQ(receiver.Plain(), content.mid(2 * kChunk));
    EXPECT_EQ(startPercent, QStringLiteral("50%"));
    const QList<QPair<qint64, qint64>> expected = {
        {2 * kChunk, kChunk}, {3 * kChunk, kChunk}, {4 * kChunk, 7}};
    EXPECT_EQ(chunks, expected);
    EXPECT_GE(progressReports, 1);
    EXPECT_TRUE(streamed);
    EXPECT_TRUE(sender.session.activity.sendWindowSending());
    EXPECT_TRUE(engine.speedTickRunning());
    engine.SpeedTick();
    EXPECT_EQ(engine.progress().SpeedText(), QStringLiteral("128 KB/S"));
    EXPECT_EQ(engine.progress().PercentText(), QStringLiteral("100%"));

    // A receiver with every byte closes the data connection and, busy writing, reports
    // completion only well after the close grace: that is no cancel.
    receiver.data.Close();
    EXPECT_FALSE(WaitUntil([&] { return !ends.isEmpty(); }, 500));
    receiver.Answer(BuildCompletion());
    ASSERT_TRUE(WaitUntil([&] { return !ends.isEmpty(); }));
    ASSERT_EQ(ends.size(), 1);
    const SendOutcome& done = ends.front();
    EXPECT_EQ(done.kind, Kind::Completed);
    EXPECT_EQ(done.peer, QStringLiteral("127.0.0.3"));
    EXPECT_EQ(done.filePath, path);
    EXPECT_EQ(done.finishedAt, QTime(8, 4, 9));
    EXPECT_EQ(done.seconds, 0);
    EXPECT_EQ(engine.phase(), Engine::Phase::Idle);
    EXPECT_FALSE(sender.session.activity.sendWindowSending());
    EXPECT_FALSE(engine.speedTickRunning());
    EXPECT_TRUE(ReceiverListening());
}

TEST_F(SendEngineNet, ChunksFollowTheSendBufferAndEqualBytesStayEqual) {
    ASSERT_TRUE(receiver.Listen());
    struct Case {
        qint64 size;
        QList<QPair<qint64, qint64>> chunks;
    };
    const Case cases[] = {{kChunk, {{0, kChunk}}}, {kChunk + 1, {{0, kChunk}, {kChunk, 1}}}};
    for (const Case& c : cases) {
        ASSERT_TRUE(
            StartToOffer(Request(MakeFile(QStringLiteral("same.bin"), QByteArray(c.size, 'A')))));
        ASSERT_TRUE(AcceptAndReceive(0));
        EXPECT_EQ(chunks, c.chunks);
        // Every byte travels xor the key, so equal bytes stay equal on the wire.
        EXPECT_EQ(receiver.bytes, QByteArray(c.size, char('A' ^ receiver.offer->key)));
        receiver.Answer(BuildCompletion());
        ASSERT_TRUE(WaitUntil([&] { return engine.phase() == Engine::Phase::Idle; }));
        receiver.link.Reset();
        ASSERT_TRUE(ReceiverListening());
    }
}

TEST_F(SendEngineNet, AnswersEndInTheirOutcomesAndBadOffsetsInTheReadError) {
    ASSERT_TRUE(receiver.Listen());
    const QString path = MakeFile(QStringLiteral("a.bin"), Pattern(1000));
    struct Case {
        QString answer;
        Kind kind;
        QString note;
    };
    const Case cases[] = {
        {BuildOfferRefused(QStringLiteral("不要了")), Kind::Refused, QStringLiteral("不要了")},
        {BuildOfferRefused(QString()), Kind::Refused, QString()},
        {BuildOfferRefusedAuto(QStringLiteral("x")), Kind::AutoRefused, QStringLiteral("x")},
        {BuildReceiverCancel(QStringLiteral("满了")), Kind::PeerCancelled, QStringLiteral("满了")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note.toStdString());
        ends.clear();
        ASSERT_TRUE(StartToOffer(Request(path)));
        receiver.Answer(c.answer);
        ASSERT_TRUE(WaitUntil([&] { return !ends.isEmpty(); }));
        ASSERT_EQ(ends.size(), 1);
        EXPECT_EQ(ends.front().kind, c.kind);
        EXPECT_EQ(ends.front().note, c.note);
        EXPECT_EQ(ends.front().fileName, QStringLiteral("a.bin"));
        EXPECT_EQ(engine.phase(), Engine::Phase::Idle);
        receiver.link.Reset();
        ASSERT_TRUE(ReceiverListening());
    }

    for (const QString& offset :
         {QStringLiteral("-1"), QStringLiteral("abc"), QStringLiteral("1000"),
          QStringLiteral("1001"), QStringLiteral("1.5"), QStringLiteral(" 5")}) {
        SCOPED_TRACE(offset.toStdString());
        ends.clear();
        ASSERT_TRUE(StartToOffer(Request(path)));
        receiver.Answer(MessageBody(C::OfferAccepted, offset));
        ASSERT_TRUE(WaitUntil([&] { return !ends.isEmpty(); }));
        EXPECT_EQ(ends.front().kind, Kind::ReadFailed);
        EXPECT_TRUE(chunks.isEmpty());
        EXPECT_FALSE(sender.session.activity.sendWindowSending());
        ASSERT_TRUE(ReceiverListening());
    }
}

TEST_F(SendEngineNet, SenderCancelCarriesTheNoteAndThePeersCloseEndsQuietly) {
    ASSERT_TRUE(receiver.Listen());
    ASSERT_TRUE(StartToOffer(Request(MakeFile(QStringLiteral("c.bin"), Pattern(5000)))));
    EXPECT_FALSE(engine.CancelSending(QStringLiteral("太早")));  // nothing is sending yet
    ASSERT_TRUE(AcceptAndReceive(0));
    EXPECT_TRUE(engine.CancelSending(QStringLiteral("发错了")));
    ASSERT_TRUE(WaitUntil([&] { return receiver.senderCancel.has_value(); }));
    EXPECT_EQ(*receiver.senderCancel, QStringLiteral("发错了"));
    receiver.link.Reset();
    ASSERT_TRUE(WaitUntil([&] { return engine.phase() == Engine::Phase::Idle; }));
    ASSERT_EQ(ends.size(), 1);
    EXPECT_EQ(ends.front().kind, Kind::Cancelled);
    EXPECT_FALSE(sender.session.activity.sendWindowSending());
}

// Without listeners to each chunk the sending thread does not wait for the event loop between
// chunks: the bytes still arrive exact from the accepted offset with the progress to 100%, and
// both the sender's cancel and the receiver's close stop the stream short of the end.
TEST_F(SendEngineNet, WithoutChunkListenersTheStreamRunsFreelyAndStillStops) {
    QObject::disconnect(&engine, &Engine::ChunkSent, nullptr, nullptr);
    ASSERT_TRUE(receiver.Listen());
    const QByteArray content = Pattern(40 * kChunk + 7);
    ASSERT_TRUE(StartToOffer(Request(MakeFile(QStringLiteral("free.bin"), content))));
    ASSERT_TRUE(AcceptAndReceive(3 * kChunk + 5));
    EXPECT_EQ(receiver.Plain(), content.mid(3 * kChunk + 5));
    EXPECT_TRUE(chunks.isEmpty());
    EXPECT_TRUE(streamed);
    EXPECT_EQ(engine.progress().PercentText(), QStringLiteral("100%"));
    receiver.Answer(BuildCompletion());
    ASSERT_TRUE(WaitUntil([&] { return !ends.isEmpty(); }));
    EXPECT_EQ(ends.front().kind, Kind::Completed);
    receiver.link.Reset();
    ASSERT_TRUE(ReceiverListening());

    // Far more than the connection holds, so that each end comes while the bytes flow.
    const qint64 size = 48 * 1024 * 1024;
    const QString big = MakeFile(QStringLiteral("big.bin"), QByteArray(size, 'z'));
    ASSERT_TRUE(StartToOffer(Request(big)));
    receiver.Answer(BuildAcceptance(0));
    ASSERT_TRUE(WaitUntil([&] { return receiver.bytes.size() >= 1024 * 1024; }));
    EXPECT_TRUE(engine.CancelSending(QStringLiteral("停")));
    ASSERT_TRUE(WaitUntil([&] { return receiver.senderCancel.has_value(); }));
    receiver.link.Reset();
    ASSERT_TRUE(WaitUntil([&] { return engine.phase() == Engine::Phase::Idle; }));
    EXPECT_LT(receiver.bytes.size(), size / 2);
    EXPECT_EQ(ends.last().kind, Kind::Cancelled);
    ASSERT_TRUE(ReceiverListening());

    ends.clear();
    ASSERT_TRUE(StartToOffer(Request(big)));
    receiver.Answer(BuildAcceptance(0));
    ASSERT_TRUE(WaitUntil([&] { return receiver.bytes.size() >= 1024 * 1024; }));
    receiver.data.Close();
    ASSERT_TRUE(WaitUntil([&] { return !ends.isEmpty(); }));
    ASSERT_EQ(ends.size(), 1);
    EXPECT_EQ(ends.front().kind, Kind::PeerCancelled);
    EXPECT_EQ(ends.front().size, size);
    EXPECT_LT(ends.front().sent, size);
}

// The receiver has nothing to say on the data connection: one that pours bytes back while the
// file goes breaks the transfer, and the sender takes in little of what it wrote.
TEST_F(SendEngineNet, BytesFromTheReceiverOnTheDataConnectionBreakTheTransfer) {
    ASSERT_TRUE(receiver.Listen());
    const qint64 size = 48 * 1024 * 1024;
    ASSERT_TRUE(StartToOffer(Request(MakeFile(QStringLiteral("big.bin"), QByteArray(size, 'z')))));
    receiver.Answer(BuildAcceptance(0));
    ASSERT_TRUE(WaitUntil([&] { return receiver.bytes.size() >= 1024 * 1024; }));
    qint64 pouredOut = 0;
    QObject::connect(&receiver.data, &Socket::SendProgress, &receiver.data,
                     [&](qint64 sent, qint64) { pouredOut += sent; });
    const QByteArray flood(64 * 1024 * 1024, 'x');
    ASSERT_EQ(receiver.data.Send(flood), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return !ends.isEmpty(); }));
    ASSERT_EQ(ends.size(), 1);
    EXPECT_EQ(ends.front().kind, Kind::ProtocolBroken);
    EXPECT_EQ(engine.phase(), Engine::Phase::Idle);
    EXPECT_FALSE(sender.session.activity.sendWindowSending());
    EXPECT_LT(receiver.bytes.size(), size);
    ASSERT_TRUE(WaitUntil([&] { return receiver.data.state() != Socket::State::Connected; }));
    EXPECT_LT(pouredOut, flood.size() / 2);
}

TEST_F(SendEngineNet, RefusedConnectionsRetryUpToTheCountThenGiveUp) {
    // Nobody listens on 127.0.0.3:8510.
    const QString path = MakeFile(QStringLiteral("r.bin"), Pattern(10));
    engine.Start(Request(path));
    ASSERT_TRUE(WaitUntil([&] { return !ends.isEmpty(); }));
    EXPECT_EQ(ends.front().kind, Kind::NetworkError);
    EXPECT_EQ(ends.front().error, SocketError::ConnectionRefused);
    EXPECT_TRUE(retries.isEmpty());
    ends.clear();

    engine.SetRetryPolicy(true, 3);
    engine.Start(Request(path));
    ASSERT_TRUE(WaitUntil([&] { return !ends.isEmpty(); }));
    ASSERT_EQ(ends.size(), 1);
    EXPECT_EQ(ends.front().kind, Kind::RetriesUsedUp);
    EXPECT_EQ(ends.front().attempts, 3);
    EXPECT_EQ(retries, (QList<int>{1, 2}));
    EXPECT_EQ(engine.retryCount(), 3);
    EXPECT_EQ(engine.phase(), Engine::Phase::Idle);
}

TEST_F(SendEngineNet, SilenceEndsTheHandshakeAndTheTransfer) {
    {
        RawEnd silent;
        ASSERT_EQ(silent.socket.Bind(kAnswererAddress, kFileControlPort), SocketError::None);
        ASSERT_EQ(silent.socket.Listen(), SocketError::None);
        engine.SetVerificationTimeoutMs(300);
        engine.Start(Request(MakeFile(QStringLiteral("t.bin"), Pattern(10))));
        ASSERT_TRUE(WaitUntil([&] { return !ends.isEmpty(); }));
        EXPECT_EQ(ends.front().kind, Kind::HandshakeTimedOut);
        EXPECT_EQ(engine.phase(), Engine::Phase::Idle);
    }
    ends.clear();
    engine.SetVerificationTimeoutMs(20000);
    ASSERT_TRUE(receiver.Listen());
    ASSERT_TRUE(StartToOffer(Request(MakeFile(QStringLiteral("s.bin"), Pattern(3000)))));
    ASSERT_TRUE(AcceptAndReceive(0));
    engine.SpeedTick();  // the bytes sent count as progress
    for (int tick = 1; tick < TransferProgress::kStallLimit; ++tick)
        engine.SpeedTick();
    EXPECT_TRUE(ends.isEmpty());
    EXPECT_EQ(engine.phase(), Engine::Phase::Sending);
    engine.SpeedTick();
    ASSERT_EQ(ends.size(), 1);
    EXPECT_EQ(ends.front().kind, Kind::Stalled);
    EXPECT_EQ(engine.phase(), Engine::Phase::Idle);
    EXPECT_FALSE(sender.session.activity.sendWindowSending());
}

}  // namespace
}  // namespace tvx::test

// Engines need no widgets: this test runs in a plain core application.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    tvx::UseChineseLanguage(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
