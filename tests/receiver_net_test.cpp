#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <memory>

#include "common/Controls.h"
#include "common/Handshake.h"
#include "platform/DesktopPlatform.h"
#include "platform/System.h"
#include "protocol/Codes.h"
#include "protocol/PeerLink.h"
#include "protocol/PeerMessages.h"
#include "protocol/Wire.h"
#include "shell/AutoReceiveTip.h"
#include "support/Files.h"
#include "support/Render.h"
#include "support/ScriptedSender.h"
#include "support/TestPeer.h"
#include "transfer/ReceiveRules.h"

namespace tvx::test {

namespace {

using C = ProtocolCodes;

// Clicks a control of the page by its name, as the user would.
void Click(ReceiverPage& page, const char* name) {
    auto* control = qobject_cast<QAbstractButton*>(page.findChild<QWidget*>(QLatin1String(name)));
    ASSERT_NE(control, nullptr) << name;
    ASSERT_TRUE(control->isEnabled()) << name;
    control->click();
}

struct ReceiverRig {
    ReceiverRig() : receiver(kAnswererAddress, QStringLiteral("小红")) {}
    bool Start() { return receiver.Start(); }
    QStringList Messages() const { return receiver.fake.messageBox->Texts(); }
    bool WaitListening() {
        return WaitUntil([&] {
            return receiver.receiver().ControlLink().state() == PeerLink::State::Listening;
        });
    }

    TestPeer receiver;
};

}  // namespace

TEST(ReceiveRules, NamesTimesAndNumbering) {
    EXPECT_EQ(SafeOfferName(QStringLiteral("../../evil")), QStringLiteral("evil"));
    EXPECT_EQ(SafeOfferName(QStringLiteral("/etc/x")), QStringLiteral("x"));
    EXPECT_EQ(SafeOfferName(QStringLiteral("a\\..\\b")), QStringLiteral("b"));
    EXPECT_EQ(SafeOfferName(QStringLiteral("a/..")), QString());
    EXPECT_EQ(SafeOfferName(QStringLiteral("dir/")), QString());
    EXPECT_EQ(SafeOfferName(QStringLiteral("报告.doc")), QStringLiteral("报告.doc"));

    const QDate today(2026, 12, 7);
    EXPECT_EQ(FriendlyFileTime(QStringLiteral("2026-12-07 08:04:09"), today),
              QStringLiteral("今天 08:04:09"));
    EXPECT_EQ(FriendlyFileTime(QStringLiteral("2026-12-06 23:59:59"), today),
              QStringLiteral("昨天 23:59:59"));
    EXPECT_EQ(FriendlyFileTime(QStringLiteral("2026-12-05 00:00:00"), today),
              QStringLiteral("前天 00:00:00"));
    EXPECT_EQ(FriendlyFileTime(QStringLiteral("2026-12-04 00:00:00"), today),
              QStringLiteral("2026-12-04 00:00:00"));
    EXPECT_EQ(FriendlyFileTime(QStringLiteral("2027-01-01 00:00:00"), today),
              QStringLiteral("2027-01-01 00:00:00"));

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("a.txt"));
    EXPECT_EQ(NumberedTargetPath(target), target);
    ASSERT_TRUE(WriteFile(target, "x"));
    EXPECT_EQ(NumberedTargetPath(target), dir.filePath(QStringLiteral("a(1).txt")));
    ASSERT_TRUE(WriteFile(dir.filePath(QStringLiteral("a(1).txt")), "x"));
    EXPECT_EQ(NumberedTargetPath(target), dir.filePath(QStringLiteral("a(2).txt")));

    EXPECT_EQ(PercentText(0.4), QStringLiteral("40%"));
    EXPECT_EQ(PercentText(0.999), QStringLiteral("100%"));
    EXPECT_TRUE(IsAutoOpenType(QStringLiteral("/r/a.Txt"), QStringLiteral("TXT;DOC")));
    EXPECT_FALSE(IsAutoOpenType(QStringLiteral("/r/a.txt.gz"), QStringLiteral("TXT;DOC")));
    EXPECT_FALSE(IsAutoOpenType(QStringLiteral("/r/txt"), QStringLiteral("TXT;;")));
}

TEST(ReceiverPage, PortInUseEndsTheProgramWithItsMessage) {
    Socket squatter;
    ASSERT_EQ(squatter.Bind(kAnswererAddress, kFileControlPort), SocketError::None);
    ASSERT_EQ(squatter.Listen(), SocketError::None);
    ReceiverRig rig;
    rig.receiver.mainWindow = std::make_unique<MainWindow>(rig.receiver.session);
    QSignalSpy ended(rig.receiver.mainWindow.get(), &MainWindow::ProgramEnded);
    EXPECT_FALSE(rig.receiver.mainWindow->Start());
    EXPECT_EQ(rig.Messages(), QStringList{QStringLiteral("Tolvex不能运行:端口已被其它程序使用。")});
    EXPECT_EQ(rig.receiver.fake.messageBox->shown[0].style,
              MessageStyleOf(MessageKind::Error, true));
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(rig.receiver.fake.tray->shown);
}

// Every reported outcome shows its text in its box; the engine tests assert the outcomes.
TEST(ReceiverPage, OutcomesShowTheirMessages) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    using K = ReceiveOutcome::Kind;
    const QString reasons = QStringLiteral(
        ",原因可能是:\r\n\r\n-网络突然断开\r\n-对方中途退出Tolvex\r\n-其它意外原因导致连接中断");
    const QString writeError = QStringLiteral("无法继续接收:写入文件时发生错误。");
    const struct {
        K kind;
        QString path, systemError;
        SocketError socketError;
        QString text;
        MessageStyle style;
    } cases[] = {
        {K::WriteFailed, "/d/a.tvx", "No space left on device", SocketError::None,
         writeError + "\r\n\r\nNo space left on device", MessageStyleOf(MessageKind::Error, true)},
        {K::TooManyBytes, "/d/a.tvx", "", SocketError::None, writeError,
         MessageStyleOf(MessageKind::Error, true)},
        {K::RenameFailed, "/d/a.tvx", "", SocketError::None, writeError,
         MessageStyleOf(MessageKind::Error, true)},
        {K::ReplaceFailedRenamed, "/d/a", "", SocketError::None,
         QStringLiteral("覆盖下列文件时发生错误,接收的文件将自动更名...\r\n\r\n/d/a"),
         MessageStyleOf(MessageKind::Warning, true)},
        {K::TempFileNotReplaced, "/d/a.tvx", "", SocketError::None,
         QStringLiteral("覆盖下列临时tvx文件时发生错误。\r\n\r\n/d/a.tvx"),
         MessageStyleOf(MessageKind::Error, true)},
        {K::AutoSaveFolderMissing, "/d", "", SocketError::None,
         QStringLiteral("无法自动接收文件:保存文件的位置不存在。"),
         MessageStyleOf(MessageKind::Error, true)},
        {K::ConnectionLost, "", "", SocketError::ConnectionReset,
         QStringLiteral("无法与 小明 继续接收") + reasons,
         MessageStyleOf(MessageKind::Error, true)},
        {K::NetworkError, "", "", SocketError::TimedOut,
         QStringLiteral("网络连接发生未知错误而断开。"), MessageStyleOf(MessageKind::Error, true)},
        {K::Stalled, "", "", SocketError::None,
         QStringLiteral("超时:无法与'小明'继续接收") + reasons,
         MessageStyleOf(MessageKind::Error, true)},
        {K::ListenerFailed, "", "", SocketError::AddressNotAvailable,
         QStringLiteral("错误:Tolvex无法初始化网络。"), MessageStyleOf(MessageKind::Error, true)},
        {K::HistoryNotWritten, "", "history: disk full", SocketError::None,
         QStringLiteral("history: disk full"), MessageStyleOf(MessageKind::Warning, false)},
    };
    QSignalSpy listenerFailed(&rig.receiver.receiver(), &ReceiverPage::ListenerFailed);
    for (const auto& c : cases) {
        ReceiveOutcome outcome;
        outcome.kind = c.kind;
        outcome.path = c.path;
        outcome.systemError = c.systemError;
        outcome.socketError = c.socketError;
        outcome.peerName = QStringLiteral("小明");
        emit rig.receiver.receiver().Engine().Reported(outcome);
        ASSERT_FALSE(rig.receiver.fake.messageBox->shown.isEmpty());
        EXPECT_EQ(rig.Messages().last(), c.text);
        EXPECT_EQ(rig.receiver.fake.messageBox->shown.last().style, c.style)
            << c.text.toStdString();
    }
    EXPECT_EQ(rig.Messages().size(), int(std::size(cases)));
    EXPECT_EQ(listenerFailed.count(), 1);
}

TEST(ReceiverPage, AutomaticReceivingNumbersOrOverwrites) {
    ReceiverRig rig;
    rig.receiver.ReceiveAutomatically(false);
    ASSERT_TRUE(rig.Start());
    const QByteArray content = RandomBytes(300000);
    const QString target = rig.receiver.DownloadFolder() + QStringLiteral("a.txt");
    ASSERT_TRUE(WriteFile(target, "old"));

    for (int round = 1; round <= 2; ++round) {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("a.txt"), content.size());
        ASSERT_TRUE(sender.WaitForAnswer());
        EXPECT_EQ(sender.answers[0].first, C::OfferAccepted);
        EXPECT_EQ(sender.answers[0].second, QString());
        sender.SendBytes(content, 0);
        ASSERT_TRUE(sender.WaitForAnswer(2));
        EXPECT_EQ(sender.answers[1].first, C::FileComplete);
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
        const QString numbered =
            rig.receiver.DownloadFolder() + QStringLiteral("a(%1).txt").arg(round);
        EXPECT_EQ(ReadAll(numbered), content) << round;
        EXPECT_EQ(rig.receiver.session.autoReceivedCount, round);
    }
    EXPECT_EQ(ReadAll(target), QByteArray("old"));
    EXPECT_FALSE(rig.receiver.mainWindow->isVisible());
    ASSERT_NE(rig.receiver.mainWindow->Tip(), nullptr);
    EXPECT_TRUE(
        rig.receiver.mainWindow->Tip()->Text().startsWith(QStringLiteral("已自动接收 2 次文件")));
    EXPECT_TRUE(rig.Messages().isEmpty());
    EXPECT_FALSE(rig.receiver.session.activity.mainWindowReceiving());
    // One notification per file received automatically, none for an offer to answer.
    const auto& raised = rig.receiver.fake.notifications->raised;
    ASSERT_EQ(raised.size(), 2);
    EXPECT_EQ(raised[1].kind, NotifyKind::AutoReceived);
    EXPECT_EQ(raised[1].summary, QStringLiteral("已自动接收文件"));
    EXPECT_EQ(raised[1].body, QStringLiteral("a(2).txt 已保存到 ") + rig.receiver.DownloadFolder());
}

TEST(ReceiverPage, AutomaticReceivingOverwritesWhenAsked) {
    ReceiverRig rig;
    rig.receiver.ReceiveAutomatically(true);
    ASSERT_TRUE(rig.Start());
    const QString target = rig.receiver.DownloadFolder() + QStringLiteral("b.bin");
    ASSERT_TRUE(WriteFile(target, "old"));
    const QByteArray content = RandomBytes(5000);
    ScriptedSender sender;
    ASSERT_TRUE(sender.Introduce());
    sender.Offer(QStringLiteral("b.bin"), content.size());
    ASSERT_TRUE(sender.WaitForAnswer());
    sender.SendBytes(content, 0);
    ASSERT_TRUE(sender.WaitForAnswer(2));
    EXPECT_EQ(ReadAll(target), content);
    EXPECT_FALSE(QFile::exists(rig.receiver.DownloadFolder() + QStringLiteral("b(1).bin")));
}

TEST(ReceiverPage, MissingAutomaticFolderRefusesWithItsMessage) {
    ReceiverRig rig;
    rig.receiver.ReceiveAutomatically();
    ASSERT_TRUE(rig.Start());
    // The folder vanishes while the program runs.
    ASSERT_TRUE(QDir(rig.receiver.downloads.path()).removeRecursively());
    ScriptedSender sender;
    ASSERT_TRUE(sender.Introduce());
    sender.Offer(QStringLiteral("a.txt"), 10);
    ASSERT_TRUE(WaitUntil([&] { return sender.closed; }));
    EXPECT_EQ(rig.Messages(),
              QStringList{QStringLiteral("无法自动接收文件:保存文件的位置不存在。")});
    EXPECT_EQ(rig.receiver.receiver().CurrentPage(), 1);
    EXPECT_FALSE(rig.receiver.mainWindow->isVisible());
}

TEST(ReceiverPage, OfferedToTheUserAndAcceptedWithResume) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    const QByteArray content = RandomBytes(1000);
    QTemporaryDir saveDir;
    const QString target = saveDir.filePath(QStringLiteral("f.dat"));
    ASSERT_TRUE(WriteFile(target + QStringLiteral(".tvx"), content.left(400)));
    // The user agrees to replace the file there: the held bytes are resumed all the same, and
    // the old file stays until the new one is complete.
    ASSERT_TRUE(WriteFile(target, "old"));

    ScriptedSender sender;
    ASSERT_TRUE(sender.Introduce());
    sender.Offer(QStringLiteral("f.dat"), content.size(), QStringLiteral("请查收"));
    ReceiverPage& receiver = rig.receiver.receiver();
    ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
    EXPECT_EQ(receiver.CurrentPage(), ReceiverPage::PageOffer);
    EXPECT_TRUE(rig.receiver.mainWindow->IsBlinking());
    EXPECT_FALSE(rig.receiver.mainWindow->isVisible());
    EXPECT_EQ(ControlText(&receiver, QStringLiteral("lblOfferNote")), QStringLiteral("请查收"));
    EXPECT_EQ(ControlText(&receiver, QStringLiteral("lblOfferFileSize")),
              QStringLiteral("1000 字节"));
    // The stand-in clock says 2007-03-05, the day the file was changed.
    EXPECT_EQ(ControlText(&receiver, QStringLiteral("lblOfferFileTime")),
              QStringLiteral("今天 08:04:09"));
    EXPECT_EQ(ControlText(&receiver, QStringLiteral("chkCountDown")),
              QStringLiteral("60 秒后自动拒绝"));

    rig.receiver.fake.dialogs->paths << target;
    rig.receiver.fake.messageBox->answers << MessageAnswer::Yes;
    Click(receiver, "cmdAccept");
    EXPECT_EQ(rig.Messages().last(),
              QStringLiteral("当前位置文件已接收 40% 内容,是否继续接收剩余字节？\r\n\r\n"
                             "点击 否 重新开始接收;点击 取消 重新选择保存位置。"));
    EXPECT_EQ(rig.receiver.fake.messageBox->shown.last().style,
              MessageStyleOf(MessageKind::AskCancel));
    EXPECT_EQ(rig.receiver.fake.dialogs->requests[0].proposedName, QStringLiteral("f.dat"));
    ASSERT_TRUE(sender.WaitForAnswer());
    EXPECT_EQ(sender.answers[0].first, C::OfferAccepted);
    EXPECT_EQ(sender.answers[0].second, QStringLiteral("400"));
    EXPECT_EQ(receiver.CurrentPage(), ReceiverPage::PageReceiving);
    EXPECT_TRUE(rig.receiver.session.activity.mainWindowReceiving());
    EXPECT_EQ(ControlText(&receiver, QStringLiteral("lblRecvPercent")), QStringLiteral("40%"));
    EXPECT_EQ(ReadAll(target), QByteArray("old"));

    sender.SendBytes(content, 400);
    ASSERT_TRUE(sender.WaitForAnswer(2));
    EXPECT_EQ(sender.answers[1].first, C::FileComplete);
    EXPECT_EQ(ReadAll(target), content);
    EXPECT_EQ(QDir(saveDir.path()).entryList(QDir::Files), QStringList{QStringLiteral("f.dat")});
    ASSERT_TRUE(WaitUntil([&] { return receiver.CurrentPage() == ReceiverPage::PageFinished; }));
    EXPECT_TRUE(ControlText(&receiver, QStringLiteral("lblDoneText"))
                    .startsWith(QStringLiteral("文件已成功从 小明 接收。\n\n保存到 ") + target));
    EXPECT_TRUE(rig.receiver.mainWindow->isVisible());
    sender.Close();
    ASSERT_TRUE(rig.WaitListening());
    // The close after completion keeps the finished page in view once.
    EXPECT_TRUE(rig.receiver.mainWindow->isVisible());

    // "打开目录" where no file manager is registered says so.
    rig.receiver.fake.shell->opens = false;
    Click(receiver, "cmdDone2");
    EXPECT_EQ(rig.receiver.fake.shell->opened, QStringList{saveDir.path() + QLatin1Char('/')});
    EXPECT_EQ(rig.Messages().last(), QStringLiteral("无法打开文件:没有与该文件关联的程序。"));
    EXPECT_EQ(rig.receiver.fake.messageBox->shown.last().style,
              MessageStyleOf(MessageKind::Warning));
}

TEST(ReceiverPage, NoRestartsAndMismatchAsks) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    const QByteArray content = RandomBytes(1000);
    QTemporaryDir saveDir;
    const QString target = saveDir.filePath(QStringLiteral("g.dat"));
    ReceiverPage& receiver = rig.receiver.receiver();

    // A shorter temporary file, answered No: it is deleted and the transfer starts at 0.
    ASSERT_TRUE(WriteFile(target + QStringLiteral(".tvx"), QByteArray(400, 'z')));
    {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("g.dat"), content.size());
        ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
        rig.receiver.fake.dialogs->paths << target;
        rig.receiver.fake.messageBox->answers << MessageAnswer::No;
        Click(receiver, "cmdAccept");
        ASSERT_TRUE(sender.WaitForAnswer());
        EXPECT_EQ(sender.answers[0].second, QString());
        EXPECT_FALSE(QFile::exists(target + QStringLiteral(".tvx")));
        sender.SendBytes(content, 0, 600);
        ASSERT_TRUE(WaitUntil([&] { return receiver.Position() == 600; }));
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    // The sender's close left page 4 and the temporary file for a later resume.
    EXPECT_EQ(receiver.CurrentPage(), ReceiverPage::PageSenderCancelled);
    EXPECT_EQ(ControlText(&receiver, QStringLiteral("lblCancelNote")), QStringLiteral("(无)"));
    EXPECT_EQ(ControlText(&receiver, QStringLiteral("lblCancelLine")),
              QStringLiteral("对方用户 小明 取消发送文件\"g.dat\",目前已接收 60% 。"));
    EXPECT_EQ(ReadAll(target + QStringLiteral(".tvx")), content.left(600));

    // A temporary file as long as the offer: the mismatch question; No chooses again.
    ASSERT_TRUE(WriteFile(target + QStringLiteral(".tvx"), QByteArray(1000, 'z')));
    {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("g.dat"), content.size());
        ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
        rig.receiver.fake.dialogs->paths << target << target;
        rig.receiver.fake.messageBox->answers << MessageAnswer::No << MessageAnswer::Yes;
        const int before = rig.receiver.fake.messageBox->shown.size();
        Click(receiver, "cmdAccept");
        EXPECT_EQ(rig.receiver.fake.messageBox->shown.size(), before + 2);
        EXPECT_EQ(rig.Messages().last(),
                  QStringLiteral("当前待续传文件与对方的文件不匹配,是否重新开始接收？"));
        EXPECT_EQ(rig.receiver.fake.dialogs->requests.size(), 3);
        ASSERT_TRUE(sender.WaitForAnswer());
        EXPECT_EQ(sender.answers[0].second, QString());
        sender.SendBytes(content, 0);
        ASSERT_TRUE(sender.WaitForAnswer(2));
        EXPECT_EQ(ReadAll(target), content);
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
}

// The save dialog is open, the user about to replace a file, when the sender cancels and
// another sender's offer comes in: the file stays as it was, and the new offer still waits.
TEST(ReceiverPage, SenderCancelWhileTheSaveDialogIsOpenKeepsTheExistingFile) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    ReceiverPage& receiver = rig.receiver.receiver();
    QTemporaryDir saveDir;
    const QString target = saveDir.filePath(QStringLiteral("r.doc"));
    ASSERT_TRUE(WriteFile(target, "old"));
    ScriptedSender sender;
    ASSERT_TRUE(sender.Introduce());
    sender.Offer(QStringLiteral("r.doc"), 1000);
    ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));

    std::unique_ptr<ScriptedSender> next;
    rig.receiver.fake.dialogs->whileOpen = [&](const ScriptedDialogs::Request&) {
        sender.link.Send(BuildSenderCancel(QStringLiteral("发错了")));
        ASSERT_TRUE(
            WaitUntil([&] { return receiver.CurrentPage() == ReceiverPage::PageSenderCancelled; }));
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
        next = std::make_unique<ScriptedSender>();
        ASSERT_TRUE(next->Introduce());
        next->Offer(QStringLiteral("r.doc"), 1000);
        ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
    };
    rig.receiver.fake.dialogs->paths << target;
    Click(receiver, "cmdAccept");
    rig.receiver.fake.dialogs->whileOpen = nullptr;
    ASSERT_NE(next, nullptr);

    EXPECT_EQ(rig.Messages(), QStringList{QStringLiteral("对方已取消文件发送。")});
    EXPECT_EQ(ReadAll(target), QByteArray("old"));
    EXPECT_FALSE(QFile::exists(target + QStringLiteral(".tvx")));
    EXPECT_TRUE(sender.answers.isEmpty());
    EXPECT_FALSE(WaitUntil([&] { return !next->answers.isEmpty(); }, 300));
    EXPECT_TRUE(rig.receiver.session.activity.offerWaiting());
    EXPECT_EQ(receiver.CurrentPage(), ReceiverPage::PageOffer);
    Click(receiver, "cmdRefuse");
    ASSERT_TRUE(next->WaitForAnswer());
    EXPECT_EQ(next->answers[0].first, C::OfferRefused);
}

TEST(ReceiverPage, RefusalsAndTheCountDown) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    ReceiverPage& receiver = rig.receiver.receiver();
    auto* refuseNote = qobject_cast<QPlainTextEdit*>(
        receiver.findChild<QWidget*>(QStringLiteral("txtRefuseNote")));
    ASSERT_NE(refuseNote, nullptr);
    {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("x.txt"), 10);
        ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
        refuseNote->setPlainText(QStringLiteral("  不要  "));
        Click(receiver, "cmdRefuse");
        ASSERT_TRUE(sender.WaitForAnswer());
        EXPECT_EQ(sender.answers[0].first, C::OfferRefused);
        EXPECT_EQ(sender.answers[0].second, QStringLiteral("不要"));
        EXPECT_FALSE(rig.receiver.session.activity.offerWaiting());
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("x.txt"), 10);
        ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
        refuseNote->setPlainText(QStringLiteral("  忙  "));
        for (int tick = 0; tick < 18; ++tick)
            receiver.Engine().CountDownTick();
        EXPECT_EQ(receiver.CountDown(), 42);
        Click(receiver, "chkCountDown");
        EXPECT_FALSE(receiver.CountDownRunning());
        EXPECT_EQ(ControlText(&receiver, QStringLiteral("chkCountDown")),
                  QStringLiteral("42 秒后自动拒绝"));
        Click(receiver, "chkCountDown");
        EXPECT_TRUE(receiver.CountDownRunning());
        for (int tick = 0; tick < 42; ++tick)
            receiver.Engine().CountDownTick();
        EXPECT_FALSE(receiver.CountDownRunning());
        ASSERT_TRUE(sender.WaitForAnswer());
        EXPECT_EQ(sender.answers[0].first, C::OfferRefusedAuto);
        EXPECT_EQ(sender.answers[0].second, QStringLiteral("  忙  "));
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
}

TEST(ReceiverPage, ReceiverCancelCanDeleteTheBytes) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    ReceiverPage& receiver = rig.receiver.receiver();
    QTemporaryDir saveDir;
    const QString target = saveDir.filePath(QStringLiteral("c.bin"));
    const QByteArray content = RandomBytes(1000);
    ScriptedSender sender;
    ASSERT_TRUE(sender.Introduce());
    sender.Offer(QStringLiteral("c.bin"), content.size());
    ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
    rig.receiver.fake.dialogs->paths << target;
    Click(receiver, "cmdAccept");
    ASSERT_TRUE(sender.WaitForAnswer());
    sender.SendBytes(content, 0, 300);
    ASSERT_TRUE(WaitUntil([&] { return receiver.Position() == 300; }));
    qobject_cast<QCheckBox*>(receiver.findChild<QWidget*>(QStringLiteral("chkDelete2")))
        ->setChecked(true);
    qobject_cast<QPlainTextEdit*>(receiver.findChild<QWidget*>(QStringLiteral("txtCancelNote")))
        ->setPlainText(QStringLiteral(" 太大了 "));
    rig.receiver.fake.messageBox->answers << MessageAnswer::Yes;
    Click(receiver, "cmdCancel");
    EXPECT_EQ(rig.Messages().last(), QStringLiteral("确实要取消正在接收的文件么？"));
    ASSERT_TRUE(sender.WaitForAnswer(2));
    EXPECT_EQ(sender.answers[1].first, C::ReceiverCancel);
    EXPECT_EQ(sender.answers[1].second, QStringLiteral("太大了"));
    // Bytes still in flight after the cancel do not complete the file.
    sender.SendBytes(content, 300);
    ASSERT_TRUE(WaitUntil([&] { return sender.data.BytesToWrite() == 0; }));
    EXPECT_FALSE(WaitUntil([&] { return sender.answers.size() > 2; }, 500));
    EXPECT_EQ(receiver.Position(), 300);
    EXPECT_FALSE(QFile::exists(target));
    sender.Close();
    ASSERT_TRUE(rig.WaitListening());
    EXPECT_FALSE(QFile::exists(target + QStringLiteral(".tvx")));
    EXPECT_EQ(rig.Messages().size(), 1);
}

TEST(ReceiverPage, SenderCancelMessageShowsItsNote) {
    ReceiverRig rig;
    rig.receiver.ReceiveAutomatically();
    ASSERT_TRUE(rig.Start());
    ScriptedSender sender;
    ASSERT_TRUE(sender.Introduce());
    sender.Offer(QStringLiteral("n.bin"), 100);
    ASSERT_TRUE(sender.WaitForAnswer());
    sender.SendBytes(RandomBytes(100), 0, 50);
    ASSERT_TRUE(WaitUntil([&] { return rig.receiver.receiver().Position() == 50; }));
    sender.link.Send(BuildSenderCancel(QStringLiteral("  算了 ")));
    ASSERT_TRUE(WaitUntil([&] { return sender.closed; }));
    EXPECT_EQ(ControlText(&rig.receiver.receiver(), QStringLiteral("lblCancelNote")),
              QStringLiteral("算了"));
    EXPECT_EQ(rig.receiver.receiver().CurrentPage(), ReceiverPage::PageSenderCancelled);
}

TEST(ReceiverPage, HistoryEntryAndAutomaticOpening) {
    ReceiverRig rig;
    rig.receiver.ReceiveAutomatically();
    auto& values = rig.receiver.fake.settings->values;
    values[QStringLiteral("UseLogFile")] = QStringLiteral("1");
    values[QStringLiteral("AutoOpenFile")] = QStringLiteral("1");
    ASSERT_TRUE(rig.Start());
    for (const QString& name : {QStringLiteral("readme.txt"), QStringLiteral("tool.bin")}) {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(name, 4, QStringLiteral("  "));
        ASSERT_TRUE(sender.WaitForAnswer());
        sender.SendBytes("data", 0);
        ASSERT_TRUE(sender.WaitForAnswer(2));
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    // Only listed types are opened.
    EXPECT_EQ(rig.receiver.fake.shell->opened,
              QStringList{rig.receiver.DownloadFolder() + QStringLiteral("readme.txt")});
    const QString log =
        FromAnsi(ReadAll(rig.receiver.session.appFolder + QStringLiteral("LogFile.htm")));
    EXPECT_EQ(log.count(QStringLiteral("收到文件")), 2);
    EXPECT_TRUE(log.contains(QStringLiteral("<strong>readme.txt</strong>")));
    EXPECT_TRUE(log.contains(QStringLiteral("小明")));
    EXPECT_TRUE(log.contains(QStringLiteral("(无)")));
}

TEST(ReceiverPage, CloseBoxRefusesTheOfferOrAsksToCancel) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    ScriptedSender sender;
    ASSERT_TRUE(sender.Introduce());
    sender.Offer(QStringLiteral("w.bin"), 100);
    ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
    rig.receiver.fake.tray->Send(TrayClick::Left);
    EXPECT_TRUE(rig.receiver.mainWindow->isVisible());
    rig.receiver.mainWindow->close();
    ASSERT_TRUE(sender.WaitForAnswer());
    EXPECT_EQ(sender.answers[0].first, C::OfferRefused);
    EXPECT_FALSE(rig.receiver.mainWindow->isVisible());
}

// The offer page names the type from the offered name alone, in Chinese (this test process
// speaks the program's language), and a notification goes with each offer left to the user.
TEST(ReceiverPage, OfferPageNamesTheTypeAndANotificationAnnouncesIt) {
    ReceiverRig rig;
    rig.receiver.fake.platform.shell = std::make_unique<DesktopShellService>();
    ASSERT_TRUE(rig.Start());
    ReceiverPage& receiver = rig.receiver.receiver();
    const QList<QPair<QString, QString>> offers = {
        {QStringLiteral("报告.docx"), QStringLiteral("Word 2007 文档")},
        {QStringLiteral("a.txt"), QStringLiteral("纯文本文档")},
        {QStringLiteral("x.zip"), QStringLiteral("Zip 归档文件")},
        {QStringLiteral("没有扩展名"), QStringLiteral("未知类型")}};
    const auto& raised = rig.receiver.fake.notifications->raised;
    for (const auto& [name, type] : offers) {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(name, 5 * 1048576);
        ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
        EXPECT_EQ(ControlText(&receiver, QStringLiteral("lblOfferFileType")), type)
            << name.toStdString();
        // Nothing is written to find the type out.
        EXPECT_FALSE(QFile::exists(QDir::temp().filePath(name)));
        if (name == offers[0].first) {
            EXPECT_TRUE(
                RenderToPng(*rig.receiver.mainWindow, QStringLiteral("receive-1-offer-type")));
        }
        ASSERT_FALSE(raised.isEmpty());
        EXPECT_EQ(raised.last().kind, NotifyKind::Offer);
        EXPECT_EQ(raised.last().summary, QStringLiteral("收到文件"));
        EXPECT_EQ(raised.last().body,
                  QStringLiteral("小明 发来文件 ") + name + QStringLiteral(" (5.0 MB)"));
        Click(receiver, "cmdRefuse");
        ASSERT_TRUE(sender.WaitForAnswer());
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    EXPECT_EQ(raised.size(), offers.size());
}

TEST(ReceiverPage, RenderThePages) {
    ReceiverRig rig;
    ASSERT_TRUE(rig.Start());
    ReceiverPage& receiver = rig.receiver.receiver();
    MainWindow& window = *rig.receiver.mainWindow;
    QTemporaryDir saveDir;
    const QByteArray content = RandomBytes(3000);
    {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("季度报告.doc"), content.size(),
                     QStringLiteral("请查收，谢谢"));
        ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
        EXPECT_TRUE(RenderToPng(window, QStringLiteral("receive-1-offer")));
        rig.receiver.fake.dialogs->paths << saveDir.filePath(QStringLiteral("季度报告.doc"));
        Click(receiver, "cmdAccept");
        ASSERT_TRUE(sender.WaitForAnswer());
        sender.SendBytes(content, 0, 1200);
        ASSERT_TRUE(WaitUntil([&] { return receiver.Position() == 1200; }));
        receiver.Engine().SpeedTick();
        EXPECT_TRUE(RenderToPng(window, QStringLiteral("receive-2-receiving")));
        sender.SendBytes(content, 1200);
        ASSERT_TRUE(
            WaitUntil([&] { return receiver.CurrentPage() == ReceiverPage::PageFinished; }));
        EXPECT_TRUE(RenderToPng(window, QStringLiteral("receive-3-finished")));
        sender.Close();
        ASSERT_TRUE(rig.WaitListening());
    }
    {
        ScriptedSender sender;
        ASSERT_TRUE(sender.Introduce());
        sender.Offer(QStringLiteral("b.bin"), content.size());
        ASSERT_TRUE(WaitUntil([&] { return rig.receiver.session.activity.offerWaiting(); }));
        rig.receiver.fake.dialogs->paths << saveDir.filePath(QStringLiteral("b.bin"));
        Click(receiver, "cmdAccept");
        ASSERT_TRUE(sender.WaitForAnswer());
        sender.SendBytes(content, 0, 900);
        ASSERT_TRUE(WaitUntil([&] { return receiver.Position() == 900; }));
        sender.link.Send(BuildSenderCancel(QStringLiteral("发错了")));
        ASSERT_TRUE(
            WaitUntil([&] { return receiver.CurrentPage() == ReceiverPage::PageSenderCancelled; }));
        EXPECT_TRUE(RenderToPng(window, QStringLiteral("receive-4-cancelled")));
    }
}

}  // namespace tvx::test
