#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

#include "common/Handshake.h"
#include "common/Messages.h"
#include "protocol/Codes.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/ScriptedSender.h"
#include "transfer/FileReceiveEngine.h"

// The receiving engine against a sender written out by hand, with no window and no widget
// application: what goes over the wire and onto the disk, and what the engine reports.

namespace tvx::test {

namespace {

using C = ProtocolCodes;

struct ReceiverRig {
    ReceiverRig() : receiver(kAnswererAddress, QStringLiteral("小红")) {
        receiver.session.localAddressList = QStringList{kAnswererAddress};
        receiver.session.appFolder = data.path() + QLatin1Char('/');
    }
    bool Start() {
        engine = std::make_unique<FileReceiveEngine>(receiver.session);
        engine->SetCompletionPauseMs(0);
        QObject::connect(engine.get(), &FileReceiveEngine::Reported, engine.get(),
                         [this](const ReceiveOutcome& outcome) { outcomes.append(outcome); });
        return engine->StartFileListener();
    }
    void ReceiveAutomatically() {
        receiver.session.settings.autoRecvFile = true;
        receiver.session.settings.autoSavePath = downloads.path();
    }
    QString DownloadFolder() const { return downloads.path() + QLatin1Char('/'); }
    QList<ReceiveOutcome::Kind> Kinds() const {
        QList<ReceiveOutcome::Kind> kinds;
        for (const ReceiveOutcome& outcome : outcomes)
            kinds << outcome.kind;
        return kinds;
    }
    bool WaitListening() {
        return WaitUntil(
            [&] { return engine->ControlLink().state() == PeerLink::State::Listening; });
    }

    QTemporaryDir data;
    QTemporaryDir downloads;
    LoopbackPeer receiver;
    std::unique_ptr<FileReceiveEngine> engine;
    QList<ReceiveOutcome> outcomes;
};

}  // namespace

TEST(FileReceiveEngine, DecisionsAreCallsAndOutcomesAreSignals) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    // Nothing here needs a display: the engine runs under the plain core application.
    EXPECT_FALSE(QCoreApplication::instance()->inherits("QGuiApplication"));
    FileReceiveEngine& engine = *rig.engine;
    QStringList waiting;
    QObject::connect(&engine, &FileReceiveEngine::OfferWaiting, &engine,
                     [&](const QString& nickName, const QString& fileName, qint64 length) {
                         waiting << nickName << fileName << QString::number(length);
                     });
    {
        // The count-down runs out: the refusal carries the note as the user typed it so far.
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("x.txt"), 10);
        ASSERT_TRUE(WaitUntil([&] { return !waiting.isEmpty(); }));
        EXPECT_EQ(waiting, (QStringList{QStringLiteral("小明"), QStringLiteral("x.txt"),
                                        QStringLiteral("10")}));
        EXPECT_TRUE(rig.receiver.session.activity.offerWaiting());
        EXPECT_TRUE(engine.CountDownRunning());
        engine.SetRefuseNote(QStringLiteral("  忙  "));
        int expired = 0;
        QObject::connect(&engine, &FileReceiveEngine::OfferExpired, &engine, [&] { ++expired; });
        for (int tick = 0; tick < 60; ++tick)
            engine.CountDownTick();
        ASSERT_TRUE(sender.WaitForAnswer());
        EXPECT_EQ(expired, 1);
        EXPECT_EQ(sender.answers[0].first, C::OfferRefusedAuto);
        EXPECT_EQ(sender.answers[0].second, QStringLiteral("  忙  "));
        EXPECT_FALSE(rig.receiver.session.activity.offerWaiting());
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    {
        // A refused sender that never closes is dropped after the grace, and the listener
        // takes the next caller.
        engine.SetCloseGraceMs(300);
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("y.txt"), 10);
        ASSERT_TRUE(WaitUntil([&] { return waiting.size() == 6; }));
        engine.Refuse(engine.OfferKey(), QStringLiteral("不要"));
        ASSERT_TRUE(sender.WaitForAnswer());
        EXPECT_EQ(sender.answers[0].first, C::OfferRefused);
        ASSERT_TRUE(rig.WaitListening());
        ScriptedSender next;
        EXPECT_TRUE(next.Introduce());
        next.Close();
        ASSERT_TRUE(rig.WaitListening());
        engine.SetCloseGraceMs(FileReceiveEngine::kCloseGraceMs);
    }
    {
        // Accepted with a target whose held bytes are resumed; the sender then cancels once,
        // and the next offer resumes and completes.
        QTemporaryDir saveDir;
        const QString target = saveDir.filePath(QStringLiteral("f.dat"));
        const QByteArray content = RandomBytes(1000);
        ASSERT_TRUE(WriteFile(target + QStringLiteral(".tvx"), content.left(400)));
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("f.dat"), content.size());
        ASSERT_TRUE(WaitUntil([&] { return engine.OfferReceived(); }));
        engine.StopWaiting();
        EXPECT_FALSE(engine.CountDownRunning());
        EXPECT_EQ(engine.ChooseTarget(engine.OfferKey(), target), target);
        EXPECT_EQ(engine.HeldLength(), 400);
        ASSERT_TRUE(
            engine.Accept(engine.OfferKey(), FileReceiveEngine::Start::AfterHeldBytes, false));
        EXPECT_EQ(engine.phase(), FileReceiveEngine::Phase::Receiving);
        EXPECT_TRUE(rig.receiver.session.activity.mainWindowReceiving());
        ASSERT_TRUE(sender.WaitForAnswer());
        EXPECT_EQ(sender.answers[0].second, QStringLiteral("400"));
        EXPECT_EQ(engine.Progress().PercentText(), QStringLiteral("40%"));

        QStringList received;
        QObject::connect(&engine, &FileReceiveEngine::Received, &engine,
                         [&](const QString& path, qint64, bool openWanted) {
                             received << path;
                             EXPECT_FALSE(openWanted);
                         });
        sender.SendBytes(content, 400);
        ASSERT_TRUE(WaitUntil([&] { return !received.isEmpty(); }));
        EXPECT_EQ(received, QStringList{target});
        EXPECT_EQ(ReadAll(target), content);
        EXPECT_FALSE(QFile::exists(target + QStringLiteral(".tvx")));
        EXPECT_FALSE(rig.receiver.session.activity.mainWindowReceiving());
        EXPECT_EQ(engine.phase(), FileReceiveEngine::Phase::Finishing);
    }
    {
        // The sender's cancel reaches the user as the share held and its note.
        QTemporaryDir saveDir;
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("c.dat"), 100);
        ASSERT_TRUE(WaitUntil([&] { return engine.OfferReceived(); }));
        engine.StopWaiting();
        engine.ChooseTarget(engine.OfferKey(), saveDir.filePath(QStringLiteral("c.dat")));
        ASSERT_TRUE(
            engine.Accept(engine.OfferKey(), FileReceiveEngine::Start::FromFirstByte, false));
        ASSERT_TRUE(sender.WaitForAnswer());
        sender.SendBytes(RandomBytes(100), 0, 25);
        ASSERT_TRUE(WaitUntil([&] { return engine.Position() == 25; }));
        QString note;
        double ratio = -1;
        bool pageWanted = false;
        QObject::connect(&engine, &FileReceiveEngine::SenderCancelled, &engine,
                         [&](const QString& text, double share) {
                             note = text;
                             ratio = share;
                         });
        QObject::connect(&engine, &FileReceiveEngine::SenderCancelPageWanted, &engine,
                         [&](bool automatic) { pageWanted = !automatic; });
        sender.link.Send(MessageBody(C::SenderCancel, QStringLiteral("改天")));
        ASSERT_TRUE(WaitUntil([&] { return pageWanted; }));
        EXPECT_EQ(note, QStringLiteral("改天"));
        EXPECT_DOUBLE_EQ(ratio, 0.25);
        EXPECT_TRUE(rig.outcomes.isEmpty());
    }
}

// Accepted to replace an existing file: the old file stays as it was while the bytes come and
// when the transfer ends early, whether the sender cancels or the connection breaks, and
// the complete file takes its place at the end.
TEST(FileReceiveEngine, AReplacedFileStaysUntilTheNewOneIsComplete) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    FileReceiveEngine& engine = *rig.engine;
    QTemporaryDir saveDir;
    const QString target = saveDir.filePath(QStringLiteral("old.doc"));
    const QString temp = target + QStringLiteral(".tvx");
    const QByteArray old("the old content");
    ASSERT_TRUE(WriteFile(target, old));
    const QByteArray content = RandomBytes(1000);
    using Start = FileReceiveEngine::Start;
    // Offers the file and accepts it to replace the target; the offset the sender is told.
    const auto acceptReplacing = [&](ScriptedSender& sender, Start start) {
        if (!sender.Introduce())
            return QStringLiteral("no introduction");
        sender.Offer(QStringLiteral("old.doc"), content.size());
        if (!WaitUntil([&] { return engine.OfferReceived(); }))
            return QStringLiteral("no offer");
        const quint64 offer = engine.OfferKey();
        engine.StopWaiting();
        if (engine.ChooseTarget(offer, target) != target || !engine.Accept(offer, start, true) ||
            !sender.WaitForAnswer())
            return QStringLiteral("not accepted");
        return sender.answers[0].second;
    };
    {
        ScriptedSender sender;
        EXPECT_EQ(acceptReplacing(sender, Start::FromFirstByte), QString());
        sender.SendBytes(content, 0, 300);
        ASSERT_TRUE(WaitUntil([&] { return engine.Position() == 300; }));
        EXPECT_EQ(ReadAll(target), old);
        sender.link.Send(BuildSenderCancel(QStringLiteral("不发了")));
        ASSERT_TRUE(rig.WaitListening());
        sender.Close();
    }
    EXPECT_EQ(ReadAll(target), old);
    EXPECT_EQ(ReadAll(temp), content.left(300));
    {
        // The held bytes resume as they would beside no file; then the connection breaks.
        ScriptedSender sender;
        EXPECT_EQ(acceptReplacing(sender, Start::AfterHeldBytes), QStringLiteral("300"));
        sender.SendBytes(content, 300, 700);
        ASSERT_TRUE(WaitUntil([&] { return engine.Position() == 700; }));
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    EXPECT_EQ(ReadAll(target), old);
    EXPECT_EQ(ReadAll(temp), content.left(700));
    {
        ScriptedSender sender;
        EXPECT_EQ(acceptReplacing(sender, Start::AfterHeldBytes), QStringLiteral("700"));
        QStringList received;
        QObject::connect(&engine, &FileReceiveEngine::Received, &sender.link,
                         [&](const QString& path) { received << path; });
        sender.SendBytes(content, 700);
        ASSERT_TRUE(WaitUntil([&] { return !received.isEmpty(); }));
        EXPECT_EQ(received, QStringList{target});
    }
    EXPECT_EQ(ReadAll(target), content);
    EXPECT_EQ(QDir(saveDir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.doc")});
    EXPECT_TRUE(rig.outcomes.isEmpty());
}

// Every decision names the offer it answers. One taken for an offer that has gone since (the
// user's dialog was open when its sender left) does nothing to the offer that waits now.
TEST(FileReceiveEngine, ADecisionForAnOfferThatHasGoneIsIgnored) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    FileReceiveEngine& engine = *rig.engine;
    QTemporaryDir saveDir;
    const QString kept = saveDir.filePath(QStringLiteral("k.bin"));
    const QString other = saveDir.filePath(QStringLiteral("n.bin"));
    ASSERT_TRUE(WriteFile(kept, "keep"));
    ASSERT_TRUE(WriteFile(other + QStringLiteral(".tvx"), QByteArray(40, 'h')));
    quint64 gone = 0;
    {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("k.bin"), 100);
        ASSERT_TRUE(WaitUntil([&] { return engine.OfferReceived(); }));
        gone = engine.OfferKey();
        EXPECT_TRUE(engine.OfferWaits(gone));
        engine.StopWaiting();
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    EXPECT_FALSE(engine.OfferWaits(gone));
    ScriptedSender next;
    ASSERT_TRUE(next.Introduce());
    next.Offer(QStringLiteral("n.bin"), 100);
    ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
    const quint64 waiting = engine.OfferKey();
    EXPECT_NE(waiting, gone);

    EXPECT_EQ(engine.ChooseTarget(gone, kept), QString());
    EXPECT_FALSE(engine.Accept(gone, FileReceiveEngine::Start::FromFirstByte, true));
    engine.Refuse(gone, QStringLiteral("不要"));
    EXPECT_EQ(engine.ChooseTarget(waiting, other), other);
    engine.DeleteHeldBytes(gone);
    EXPECT_FALSE(WaitUntil([&] { return !next.answers.isEmpty(); }, 300));
    EXPECT_TRUE(engine.OfferWaits(waiting));
    EXPECT_TRUE(engine.CountDownRunning());
    EXPECT_EQ(ReadAll(kept), QByteArray("keep"));

    // The waiting offer's own answer goes through, once.
    ASSERT_TRUE(engine.Accept(waiting, FileReceiveEngine::Start::AfterHeldBytes, false));
    EXPECT_FALSE(engine.Accept(waiting, FileReceiveEngine::Start::FromFirstByte, false));
    ASSERT_TRUE(next.WaitForAnswer());
    EXPECT_EQ(next.answers,
              (QList<QPair<char16_t, QString>>{{C::OfferAccepted, QStringLiteral("40")}}));
}

TEST(FileReceiveEngine, AutomaticReceivingResumesWithoutAsking) {
    ReceiverRig rig;
    rig.ReceiveAutomatically();
    ASSERT_TRUE(rig.Start());
    const QByteArray content = RandomBytes(1000);
    const QString target = rig.DownloadFolder() + QStringLiteral("r.bin");
    ASSERT_TRUE(WriteFile(target + QStringLiteral(".tvx"), content.left(400)));
    ScriptedSender sender;
    ASSERT_TRUE(sender.Introduce());
    sender.Offer(QStringLiteral("r.bin"), content.size());
    ASSERT_TRUE(sender.WaitForAnswer());
    EXPECT_EQ(sender.answers[0].second, QStringLiteral("400"));
    sender.SendBytes(content, 400);
    ASSERT_TRUE(sender.WaitForAnswer(2));
    EXPECT_EQ(ReadAll(target), content);
    EXPECT_FALSE(QFile::exists(target + QStringLiteral(".tvx")));
    EXPECT_TRUE(rig.outcomes.isEmpty());
}

TEST(FileReceiveEngine, SenderCloseLeavesAResumableFile) {
    ReceiverRig rig;
    rig.ReceiveAutomatically();
    ASSERT_TRUE(rig.Start());
    const QByteArray content = RandomBytes(200000);
    const QString target = rig.DownloadFolder() + QStringLiteral("big.bin");
    {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("big.bin"), content.size());
        ASSERT_TRUE(sender.WaitForAnswer());
        sender.SendBytes(content, 0, 123457);
        ASSERT_TRUE(WaitUntil([&] { return rig.engine->Position() == 123457; }));
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    EXPECT_EQ(ReadAll(target + QStringLiteral(".tvx")), content.left(123457));
    ScriptedSender again;
    ASSERT_TRUE(again.Introduce());
    again.Offer(QStringLiteral("big.bin"), content.size());
    ASSERT_TRUE(again.WaitForAnswer());
    EXPECT_EQ(again.answers[0].second, QStringLiteral("123457"));
    again.SendBytes(content, 123457);
    ASSERT_TRUE(again.WaitForAnswer(2));
    EXPECT_EQ(ReadAll(target), content);
}

TEST(FileReceiveEngine, AdmissionRefusalsReachTheSender) {
    ReceiverRig rig;
    rig.receiver.session.settings.passWord1 = Digest(QStringLiteral("secret"));
    ASSERT_TRUE(rig.Start());
    {
        ScriptedSender sender;
        sender.link.SetVerificationDigest(Digest(QStringLiteral("wrong")));
        ASSERT_EQ(sender.link.Connect(kAnswererAddress), SocketError::None);
        ASSERT_TRUE(WaitUntil([&] { return !sender.refusals.isEmpty(); }));
        EXPECT_EQ(
            sender.refusals[0],
            QStringLiteral("发送连接请求失败:验证码无效。\r\n\r\n-没有使用验证码或验证码错误"));
        ASSERT_TRUE(rig.WaitListening());
    }
    rig.receiver.session.settings.passWord1.clear();
    rig.receiver.session.settings.blockText = QStringLiteral(" 请勿打扰 ");
    rig.receiver.session.blockList = QStringList{EncodeAddressCode(kCallerAddress)};
    {
        ScriptedSender sender;
        ASSERT_EQ(sender.link.Connect(kAnswererAddress), SocketError::None);
        ASSERT_TRUE(WaitUntil([&] { return !sender.refusals.isEmpty(); }));
        EXPECT_EQ(sender.refusals[0],
                  QStringLiteral(
                      "发送连接请求失败:当前IP不在对方允许连接的范围内。\r\n\r\n附言:请勿打扰"));
        ASSERT_TRUE(rig.WaitListening());
    }
}

TEST(FileReceiveEngine, UnsafeNamesStayInTheFolderAndBadOffersReset) {
    ReceiverRig rig;
    rig.ReceiveAutomatically();
    ASSERT_TRUE(rig.Start());
    const QString folder = rig.DownloadFolder();
    const QStringList names = {QStringLiteral("../../evil"), QStringLiteral("/etc/x"),
                               QStringLiteral("a\\..\\b")};
    const QStringList landed = {QStringLiteral("evil"), QStringLiteral("x"), QStringLiteral("b")};
    for (int i = 0; i < names.size(); ++i) {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(names[i], 3);
        ASSERT_TRUE(sender.WaitForAnswer());
        sender.SendBytes("abc", 0);
        ASSERT_TRUE(sender.WaitForAnswer(2));
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
        EXPECT_EQ(ReadAll(folder + landed[i]), QByteArray("abc"));
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 3);
    EXPECT_FALSE(QFile::exists(QFileInfo(rig.downloads.path()).dir().filePath("evil")));

    const QStringList bad = {
        JoinFields({"a.txt", "12x", "2007-03-05 08:04:09", "", "5"}),
        JoinFields({"a.txt", "-1", "2007-03-05 08:04:09", "", "5"}),
        JoinFields({"a.txt", "2147483648", "2007-03-05 08:04:09", "", "5"}),
        JoinFields({"a.txt", "10", "2007-03-05 08:04:09", "", "0"}),
        JoinFields({"a.txt", "10", "2007-03-05 08:04:09", "", "255"}),
        JoinFields({"..", "10", "2007-03-05 08:04:09", "", "5"}),
    };
    for (const QString& payload : bad) {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.OfferRaw(payload);
        ASSERT_TRUE(WaitUntil([&] { return sender.closed; })) << payload.toStdString();
        EXPECT_TRUE(sender.answers.isEmpty());
        ASSERT_TRUE(rig.WaitListening());
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 3);
}

TEST(FileReceiveEngine, BytesBeyondTheOfferStopWithTheWriteErrorAndBytesAfterTheEndAreDropped) {
    ReceiverRig rig;
    rig.ReceiveAutomatically();
    ASSERT_TRUE(rig.Start());
    ScriptedSender sender;
    ASSERT_TRUE(sender.Introduce());
    sender.Offer(QStringLiteral("over.bin"), 10);
    ASSERT_TRUE(sender.WaitForAnswer());
    sender.SendBytes("0123456789AB", 0);
    ASSERT_TRUE(WaitUntil([&] { return sender.closed; }));
    EXPECT_EQ(rig.Kinds(), QList{ReceiveOutcome::Kind::TooManyBytes});
    EXPECT_FALSE(QFile::exists(rig.DownloadFolder() + QStringLiteral("over.bin")));

    // Bytes that come after the completion are dropped: the file is whole and no error shows.
    ASSERT_TRUE(rig.WaitListening());
    ScriptedSender late;
    ASSERT_TRUE(late.Introduce());
    late.Offer(QStringLiteral("whole.bin"), 10);
    ASSERT_TRUE(late.WaitForAnswer());
    late.SendBytes("0123456789", 0);
    ASSERT_TRUE(late.WaitForAnswer(2));
    late.SendBytes("AB", 0);
    WaitUntil([&] { return rig.outcomes.size() > 1; }, 500);  // time to misbehave
    late.Close();
    ASSERT_TRUE(rig.WaitListening());
    EXPECT_EQ(rig.outcomes.size(), 1);
    EXPECT_EQ(ReadAll(rig.DownloadFolder() + QStringLiteral("whole.bin")),
              QByteArray("0123456789"));
}

TEST(FileReceiveEngine, ReceiveBufferWaitsForABufferFull) {
    ReceiverRig rig;
    rig.ReceiveAutomatically();
    rig.receiver.session.settings.useRecvBuffer = true;
    rig.receiver.session.settings.recvBufferBytes = 1048576;
    ASSERT_TRUE(rig.Start());
    const QByteArray content = RandomBytes(3 * 1048576 + 17);
    const QString temp = rig.DownloadFolder() + QStringLiteral("buf.bin.tvx");
    ScriptedSender sender;
    ASSERT_TRUE(sender.Introduce());
    sender.Offer(QStringLiteral("buf.bin"), content.size());
    ASSERT_TRUE(sender.WaitForAnswer());
    // A small arrival stays in the connection: nothing is written yet.
    sender.SendBytes(content, 0, 1000);
    ASSERT_TRUE(WaitUntil([&] { return rig.engine->ReceivedCount() == 1000; }));
    EXPECT_EQ(rig.engine->Position(), 0);
    EXPECT_FALSE(QFile::exists(temp));
    sender.SendBytes(content, 1000);
    ASSERT_TRUE(sender.WaitForAnswer(2));
    EXPECT_EQ(ReadAll(rig.DownloadFolder() + QStringLiteral("buf.bin")), content);
}

// The disk is written on its own thread while the connection is read, a few slices behind:
// a sender that closes the data connection right after its last byte still gets a whole file
// and the completion, with the file going through the gathering receive buffer or not.
TEST(FileReceiveEngine, DataClosedRightAfterTheLastByteStillCompletes) {
    for (const bool gather : {false, true}) {
        SCOPED_TRACE(gather);
        ReceiverRig rig;
        rig.ReceiveAutomatically();
        rig.receiver.session.settings.useRecvBuffer = gather;
        rig.receiver.session.settings.recvBufferBytes = 4 * 1048576;
        ASSERT_TRUE(rig.Start());
        const QByteArray content = RandomBytes(12 * 1048576 + 5);
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("fast.bin"), content.size());
        ASSERT_TRUE(sender.WaitForAnswer());
        sender.SendBytes(content, 0);
        sender.data.Close();
        ASSERT_TRUE(sender.WaitForAnswer(2));
        EXPECT_EQ(sender.answers[1].first, C::FileComplete);
        EXPECT_EQ(ReadAll(rig.DownloadFolder() + QStringLiteral("fast.bin")), content);
        EXPECT_FALSE(QFile::exists(rig.DownloadFolder() + QStringLiteral("fast.bin.tvx")));
        EXPECT_TRUE(rig.outcomes.isEmpty());
    }
}

TEST(FileReceiveEngine, TwentySilentTicksEndTheTransfer) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    FileReceiveEngine& receiver = *rig.engine;
    QTemporaryDir saveDir;
    ScriptedSender sender;
    ASSERT_TRUE(sender.Introduce());
    sender.Offer(QStringLiteral("s.bin"), 100);
    ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
    receiver.StopWaiting();
    receiver.ChooseTarget(receiver.OfferKey(), saveDir.filePath(QStringLiteral("s.bin")));
    ASSERT_TRUE(
        receiver.Accept(receiver.OfferKey(), FileReceiveEngine::Start::FromFirstByte, false));
    ASSERT_TRUE(sender.WaitForAnswer());
    sender.SendBytes(RandomBytes(100), 0, 10);
    ASSERT_TRUE(WaitUntil([&] { return receiver.Position() == 10; }));
    receiver.SpeedTick();  // progress since the start: not silent
    EXPECT_EQ(receiver.Progress().SpeedText(), QStringLiteral("10 字节/S"));
    for (int tick = 0; tick < 19; ++tick)
        receiver.SpeedTick();
    EXPECT_TRUE(rig.outcomes.isEmpty());
    receiver.SpeedTick();
    ASSERT_EQ(rig.Kinds(), QList{ReceiveOutcome::Kind::Stalled});
    EXPECT_EQ(rig.outcomes[0].peerName, QStringLiteral("小明"));
    ASSERT_TRUE(WaitUntil([&] { return sender.closed; }));
    EXPECT_FALSE(rig.receiver.session.activity.mainWindowReceiving());
}

TEST(FileReceiveEngine, AnAutomaticTransferThatGoesSilentFreesTheReceiver) {
    ReceiverRig rig;
    rig.ReceiveAutomatically();
    ASSERT_TRUE(rig.Start());
    FileReceiveEngine& receiver = *rig.engine;
    const QString target = rig.DownloadFolder() + QStringLiteral("quiet.bin");
    {
        // Accepted at once, then not a byte more: the speed ticks find it silent.
        ScriptedSender silent;
        ASSERT_TRUE(silent.Introduce());
        silent.Offer(QStringLiteral("quiet.bin"), 1000);
        ASSERT_TRUE(silent.WaitForAnswer());
        silent.SendBytes(RandomBytes(1000), 0, 300);
        ASSERT_TRUE(WaitUntil([&] { return receiver.Position() == 300; }));
        for (int tick = 0; tick < 21; ++tick)
            receiver.SpeedTick();
        ASSERT_TRUE(WaitUntil([&] { return silent.closed; }));
        ASSERT_TRUE(rig.WaitListening());
    }
    EXPECT_TRUE(rig.outcomes.isEmpty());
    EXPECT_EQ(QFileInfo(target + QStringLiteral(".tvx")).size(), 300);

    const QByteArray content = RandomBytes(1000);
    ScriptedSender next;
    ASSERT_TRUE(next.Introduce());
    next.Offer(QStringLiteral("other.bin"), content.size());
    ASSERT_TRUE(next.WaitForAnswer());
    next.SendBytes(content, 0);
    ASSERT_TRUE(next.WaitForAnswer(2));
    EXPECT_EQ(ReadAll(rig.DownloadFolder() + QStringLiteral("other.bin")), content);
}

}  // namespace tvx::test

// The engine needs an event loop and nothing more: no widget application is created.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
