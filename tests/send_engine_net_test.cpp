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

struct Failure {
    MessageKind kind;
    QString text;
    bool systemModal;
};

struct Outcome {
    int page;
    QString line;
    QString note;
};

class SendEngineNet : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        sender.session.appFolder = folder.path() + QLatin1Char('/');
        sender.session.settings.sendBufferBytes = kChunk;
        engine.SetPauseMs(0);
        engine.SetCloseGraceMs(100);
        QObject::connect(&engine, &Engine::PageChanged, &engine,
                         [this](int page) { pages << page; });
        QObject::connect(&engine, &Engine::StatusLine, &engine,
                         [this](const QString& text) { statusLines << text; });
        QObject::connect(&engine, &Engine::ChunkSent, &engine, [this](qint64 offset, qint64 size) {
            chunks.append({offset, size});
        });
        QObject::connect(&engine, &Engine::Failure, &engine,
                         [this](MessageKind kind, const QString& text, bool modal) {
                             failures.append({kind, text, modal});
                         });
        QObject::connect(&engine, &Engine::Outcome, &engine,
                         [this](int page, const QString& line, const QString& note) {
                             outcomes.append({page, line, note});
                         });
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
    QList<int> pages;
    QStringList statusLines;
    QList<QPair<qint64, qint64>> chunks;
    QList<Failure> failures;
    QList<Outcome> outcomes;
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
    EXPECT_EQ(pages.front(), Engine::PageConnecting);
    EXPECT_EQ(receiver.offer->fileName, QStringLiteral("报告.bin"));
    EXPECT_EQ(receiver.offer->length, content.size());
    EXPECT_EQ(receiver.offer->note, QStringLiteral("第一行\r\n第二行"));
    EXPECT_EQ(receiver.offer->modified, FileTimeText(path));
    EXPECT_EQ(receiver.offer->key, engine.dataKey());
    EXPECT_GE(engine.dataKey(), 1);
    EXPECT_LE(engine.dataKey(), 254);
    EXPECT_EQ(engine.phase(), Engine::Phase::WaitingForAnswer);
    EXPECT_EQ(statusLines.last(), QStringLiteral("(已等待 0 秒)"));
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
    EXPECT_TRUE(pages.contains(Engine::PageSending));
    EXPECT_TRUE(sender.session.activity.sendWindowSending());
    EXPECT_TRUE(engine.speedTickRunning());
    engine.SpeedTick();
    EXPECT_EQ(engine.progress().SpeedText(), QStringLiteral("128 KB/S"));
    EXPECT_EQ(engine.progress().PercentText(), QStringLiteral("100%"));

    receiver.Answer(BuildCompletion());
    ASSERT_TRUE(WaitUntil([&] { return !outcomes.isEmpty(); }));
    EXPECT_EQ(outcomes.front().page, Engine::PageFinished);
    EXPECT_EQ(outcomes.front().line,
              QStringLiteral("文件已成功发送到 127.0.0.3 。\r\n\r\n源文件 ") + path +
                  QStringLiteral("\r\n\r\n完成时间 8:04:09 ,用时 0 秒。"));
    EXPECT_EQ(engine.phase(), Engine::Phase::Idle);
    EXPECT_FALSE(sender.session.activity.sendWindowSending());
    EXPECT_FALSE(engine.speedTickRunning());
    // The outcome page is kept: no input page after the sending page.
    EXPECT_EQ(pages.last(), Engine::PageSending);
    EXPECT_TRUE(failures.isEmpty());
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
        int page;
        QString note;
    };
    const Case cases[] = {
        {BuildOfferRefused(QStringLiteral("不要了")), Engine::PageRefused,
         QStringLiteral("不要了")},
        {BuildOfferRefused(QString()), Engine::PageRefused, QStringLiteral("(无)")},
        {BuildOfferRefusedAuto(QStringLiteral("x")), Engine::PageAutoRefused,
         QStringLiteral("(对方用户可能不在计算机前)")},
        {BuildReceiverCancel(QStringLiteral("满了")), Engine::PageReceiverCancelled,
         QStringLiteral("满了")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note.toStdString());
        outcomes.clear();
        ASSERT_TRUE(StartToOffer(Request(path)));
        receiver.Answer(c.answer);
        ASSERT_TRUE(WaitUntil([&] { return !outcomes.isEmpty(); }));
        EXPECT_EQ(outcomes.front().page, c.page);
        EXPECT_EQ(outcomes.front().note, c.note);
        EXPECT_EQ(engine.phase(), Engine::Phase::Idle);
        receiver.link.Reset();
        ASSERT_TRUE(ReceiverListening());
    }
    EXPECT_TRUE(failures.isEmpty());

    for (const QString& offset :
         {QStringLiteral("-1"), QStringLiteral("abc"), QStringLiteral("1000"),
          QStringLiteral("1001"), QStringLiteral("1.5"), QStringLiteral(" 5")}) {
        SCOPED_TRACE(offset.toStdString());
        failures.clear();
        ASSERT_TRUE(StartToOffer(Request(path)));
        receiver.Answer(MessageBody(C::OfferAccepted, offset));
        ASSERT_TRUE(WaitUntil([&] { return !failures.isEmpty(); }));
        EXPECT_EQ(failures.front().text, QStringLiteral("无法继续发送:读取文件时发生错误。"));
        EXPECT_EQ(failures.front().kind, MessageKind::Error);
        EXPECT_TRUE(failures.front().systemModal);
        EXPECT_TRUE(chunks.isEmpty());
        EXPECT_FALSE(sender.session.activity.sendWindowSending());
        EXPECT_EQ(pages.last(), Engine::PageInput);
        ASSERT_TRUE(ReceiverListening());
    }
}

TEST_F(SendEngineNet, SenderCancelCarriesTheNoteAndThePeersCloseEndsQuietly) {
    ASSERT_TRUE(receiver.Listen());
    ASSERT_TRUE(StartToOffer(Request(MakeFile(QStringLiteral("c.bin"), Pattern(5000)))));
    EXPECT_FALSE(engine.CancelSending(QStringLiteral("太早")));  // nothing is sending yet
    ASSERT_TRUE(AcceptAndReceive(0));
    EXPECT_TRUE(engine.CancelSending(QStringLiteral("发错了")));
    EXPECT_EQ(pages.last(), Engine::PageInput);
    ASSERT_TRUE(WaitUntil([&] { return receiver.senderCancel.has_value(); }));
    EXPECT_EQ(*receiver.senderCancel, QStringLiteral("发错了"));
    receiver.link.Reset();
    ASSERT_TRUE(WaitUntil([&] { return engine.phase() == Engine::Phase::Idle; }));
    EXPECT_TRUE(outcomes.isEmpty());
    EXPECT_TRUE(failures.isEmpty());
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
    EXPECT_TRUE(pages.contains(Engine::PageSending));
    EXPECT_EQ(engine.progress().PercentText(), QStringLiteral("100%"));
    receiver.Answer(BuildCompletion());
    ASSERT_TRUE(WaitUntil([&] { return !outcomes.isEmpty(); }));
    EXPECT_EQ(outcomes.front().page, Engine::PageFinished);
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
    EXPECT_TRUE(failures.isEmpty());
    ASSERT_TRUE(ReceiverListening());

    outcomes.clear();
    ASSERT_TRUE(StartToOffer(Request(big)));
    receiver.Answer(BuildAcceptance(0));
    ASSERT_TRUE(WaitUntil([&] { return receiver.bytes.size() >= 1024 * 1024; }));
    receiver.data.Close();
    ASSERT_TRUE(WaitUntil([&] { return !outcomes.isEmpty(); }));
    EXPECT_EQ(outcomes.front().page, Engine::PageReceiverCancelled);
    EXPECT_FALSE(outcomes.front().line.contains(QStringLiteral("100%")));
    EXPECT_TRUE(failures.isEmpty());
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
    ASSERT_TRUE(WaitUntil([&] { return !failures.isEmpty(); }));
    EXPECT_EQ(failures.front().text, ConnectionBrokenMessage());
    EXPECT_EQ(failures.front().kind, MessageKind::Error);
    EXPECT_TRUE(outcomes.isEmpty());
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
    ASSERT_TRUE(WaitUntil([&] { return !failures.isEmpty(); }));
    EXPECT_EQ(failures.front().text,
              QStringLiteral("无法连接 127.0.0.3 ,原因可能是:\r\n\r\n-对方没有运行Tolvex"));
    EXPECT_TRUE(failures.front().systemModal);
    failures.clear();
    statusLines.clear();

    engine.SetRetryPolicy(true, 3);
    engine.Start(Request(path));
    ASSERT_TRUE(WaitUntil([&] { return !failures.isEmpty(); }));
    EXPECT_EQ(failures.front().text, QStringLiteral("Tolvex已尝试连接对方指定次数,但并未成功。"));
    EXPECT_FALSE(failures.front().systemModal);
    EXPECT_EQ(statusLines, (QStringList{QString(), QStringLiteral("(已尝试连接 1 次)"),
                                        QStringLiteral("(已尝试连接 2 次)")}));
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
        ASSERT_TRUE(WaitUntil([&] { return !failures.isEmpty(); }));
        EXPECT_EQ(failures.front().text, QStringLiteral("连接超时,请尝试重新连接。"));
        EXPECT_EQ(failures.front().kind, MessageKind::Warning);
        EXPECT_EQ(engine.phase(), Engine::Phase::Idle);
    }
    failures.clear();
    engine.SetVerificationTimeoutMs(20000);
    ASSERT_TRUE(receiver.Listen());
    ASSERT_TRUE(StartToOffer(Request(MakeFile(QStringLiteral("s.bin"), Pattern(3000)))));
    ASSERT_TRUE(AcceptAndReceive(0));
    engine.SpeedTick();  // the bytes sent count as progress
    for (int tick = 1; tick < TransferProgress::kStallLimit; ++tick)
        engine.SpeedTick();
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_EQ(engine.phase(), Engine::Phase::Sending);
    engine.SpeedTick();
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures.front().text.startsWith(QStringLiteral("超时:无法向 127.0.0.3 继续发送")));
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
