#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <memory>

#include "common/Controls.h"
#include "shell/AutoReceiveTip.h"
#include "support/Clicks.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/Render.h"
#include "support/TestPeer.h"
#include "transfer/ReceiverPage.h"
#include "transfer/SendWindow.h"

// Several files and folders between two complete copies in one process: the send window on
// 127.0.0.2 drops them, the main window on 127.0.0.3 is asked once and takes the tree.
namespace tvx::test {
namespace {

constexpr qint64 kChunk = 64 * 1024;

class BatchWindows : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(files.isValid());
        // Two files and a folder with a nested folder, an empty one and Chinese names.
        ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("相册/旧"))));
        ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("相册/空"))));
        contents = {
            {QStringLiteral("报告.txt"), Pattern(70000, 1)},
            {QStringLiteral("b.bin"), Pattern(3 * kChunk + 5, 2)},
            {QStringLiteral("相册/1.jpg"), Pattern(2 * kChunk, 3)},
            {QStringLiteral("相册/旧/2.jpg"), Pattern(17, 4)},
        };
        for (auto it = contents.cbegin(); it != contents.cend(); ++it)
            ASSERT_TRUE(WriteFile(Path(it.key()), it.value()));
    }

    void Start() {
        ASSERT_TRUE(from.Start());
        ASSERT_TRUE(to.Start());
        from.session.settings.sendBufferBytes = kChunk;
        window = std::make_unique<SendWindow>(from.session);
        window->SetPauseMs(0);
        window->SetCloseGraceMs(200);
        window->ShowSendWindow();
    }

    QString Path(const QString& relative) const {
        return files.path() + QLatin1Char('/') + relative;
    }

    // Drops the two files and the folder on the send window and sends them.
    void SendBatch(const QString& note) {
        QMimeData drop;
        drop.setUrls({QUrl::fromLocalFile(Path(QStringLiteral("报告.txt"))),
                      QUrl::fromLocalFile(Path(QStringLiteral("b.bin"))),
                      QUrl::fromLocalFile(Path(QStringLiteral("相册")))});
        ASSERT_TRUE(window->FileDropped(&drop));
        Find<QLineEdit>(window.get(), "txtFSInfo1")->setText(to.session.localAddress);
        Find<QPlainTextEdit>(window.get(), "txtFSInfo3")->setPlainText(note);
        window->SendClicked();
    }

    // Every file under the folder as sent, and the empty folder.
    void ExpectTreeIn(const QString& folder) {
        for (auto it = contents.cbegin(); it != contents.cend(); ++it)
            EXPECT_EQ(ReadAll(folder + it.key()), it.value()) << it.key().toStdString();
        EXPECT_TRUE(QDir(folder + QStringLiteral("相册/空")).exists());
        EXPECT_TRUE(QDir(folder + QStringLiteral("相册/空")).isEmpty());
    }

    QString ReceiverText(const char* name) {
        return ControlText(&to.receiver(), QString::fromLatin1(name));
    }

    QTemporaryDir files;
    QMap<QString, QByteArray> contents;
    TestPeer from{kCallerAddress, QStringLiteral("小明")};
    TestPeer to{kAnswererAddress, QStringLiteral("小红")};
    std::unique_ptr<SendWindow> window;
};

TEST_F(BatchWindows, ReceiverIsAskedOnceAndGetsTheTree) {
    Start();
    // Both progress pages as the bytes go (the windows' own handlers have run first).
    QString fileLine;
    QString bytesLine;
    QString receivingLine;
    QObject::connect(&window->Engine(), &FileSendEngine::ProgressChanged, window.get(), [&] {
        if (!fileLine.isEmpty() || window->CurrentPage() != SendWindow::PageSending)
            return;
        fileLine = ControlText(window.get(), QStringLiteral("lblSendProc4"));
        bytesLine = ControlText(window.get(), QStringLiteral("lblSendProc6"));
        EXPECT_TRUE(RenderToPng(*window, QStringLiteral("send-window-batch-sending")));
    });
    QObject::connect(
        &to.receiver().Engine(), &FileReceiveEngine::ProgressChanged, window.get(), [&] {
            if (!receivingLine.isEmpty())
                return;
            receivingLine = ReceiverText("lblRecvFileName");
            EXPECT_TRUE(RenderToPng(*to.mainWindow, QStringLiteral("receive-batch-receiving")));
        });
    SendBatch(QStringLiteral("照片\r\n和报告"));
    ASSERT_TRUE(WaitUntil([&] { return to.session.activity.offerWaiting(); }));

    // One offer for the batch: what it holds, the note and the count-down.
    EXPECT_EQ(to.receiver().CurrentPage(), ReceiverPage::PageOffer);
    EXPECT_EQ(ReceiverText("lblOfferFileName"), QStringLiteral("3 个文件夹, 4 个文件, 共 388 KB"));
    EXPECT_EQ(ReceiverText("lblOfferFileType"), QStringLiteral("报告.txt、b.bin、相册"));
    EXPECT_EQ(ReceiverText("lblOfferNote"), QStringLiteral("照片\n和报告"));
    EXPECT_TRUE(ReceiverText("lblOfferNickName").contains(QStringLiteral("小明")));
    EXPECT_EQ(Find<QCheckBox>(&to.receiver(), "chkCountDown")->text(),
              QStringLiteral("60 秒后自动拒绝"));
    ASSERT_EQ(to.fake.notifications->raised.size(), 1);
    EXPECT_EQ(to.fake.notifications->raised.front().body,
              QStringLiteral("小明 发来 3 个文件夹, 4 个文件, 共 388 KB"));
    EXPECT_TRUE(RenderToPng(*to.mainWindow, QStringLiteral("receive-batch-offer")));

    const QString folder = to.DownloadFolder();
    to.fake.dialogs->paths.enqueue(folder);
    ClickButton(&to.receiver(), QStringLiteral("cmdAccept"));
    ASSERT_TRUE(WaitUntil([&] { return window->CurrentPage() == SendWindow::PageFinished; }));
    ASSERT_TRUE(
        WaitUntil([&] { return to.receiver().CurrentPage() == ReceiverPage::PageFinished; }));
    ExpectTreeIn(folder);

    // Asked once: one folder dialog, no other question, no second offer.
    ASSERT_EQ(to.fake.dialogs->requests.size(), 1);
    EXPECT_EQ(to.fake.dialogs->requests.front().kind, QStringLiteral("folder"));
    EXPECT_TRUE(to.fake.messageBox->shown.isEmpty());
    EXPECT_EQ(to.fake.notifications->raised.size(), 1);

    // Both sides speak of the whole batch.
    EXPECT_TRUE(fileLine.startsWith(QStringLiteral("文件 "))) << fileLine.toStdString();
    EXPECT_TRUE(receivingLine.startsWith(QStringLiteral("文件 "))) << receivingLine.toStdString();
    EXPECT_TRUE(bytesLine.endsWith(QStringLiteral(" / 388 KB"))) << bytesLine.toStdString();
    EXPECT_TRUE(ControlText(window.get(), QStringLiteral("lblSendFinish"))
                    .startsWith(QStringLiteral("4 个文件已成功发送到 127.0.0.3 。")));
    EXPECT_TRUE(from.fake.messageBox->shown.isEmpty());
    EXPECT_TRUE(ReceiverText("lblDoneText")
                    .startsWith(QStringLiteral("已从 小明 接收 4 个文件 (共 388 KB) 到 ")));
    EXPECT_TRUE(Find<QPushButton>(&to.receiver(), "cmdDone1")->isHidden());
    ClickButton(&to.receiver(), QStringLiteral("cmdDone2"));
    ASSERT_EQ(to.fake.shell->opened.size(), 1);
    EXPECT_EQ(QDir(to.fake.shell->opened.front()), QDir(folder));
}

TEST_F(BatchWindows, NoFolderChosenAsksOnceMoreThenRefuses) {
    Start();
    SendBatch(QString());
    ASSERT_TRUE(WaitUntil([&] { return to.session.activity.offerWaiting(); }));
    // The first folder dialog is closed and the user goes back to it; the second one too, and
    // then the batch is refused.
    to.fake.messageBox->answers << MessageAnswer::No << MessageAnswer::Yes;
    ClickButton(&to.receiver(), QStringLiteral("cmdAccept"));
    ASSERT_TRUE(WaitUntil([&] { return window->CurrentPage() == SendWindow::PageRefused; }));
    EXPECT_EQ(to.fake.dialogs->requests.size(), 2);
    ASSERT_EQ(to.fake.messageBox->Texts(),
              QStringList(2, QStringLiteral("确实要拒收这 4 个文件么？")));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblRefuRecv1")),
              QStringLiteral("对方用户 127.0.0.3 拒绝接收 4 个文件。"));
    EXPECT_TRUE(QDir(to.DownloadFolder()).isEmpty());
}

TEST_F(BatchWindows, AutomaticBatchCountsInTheTip) {
    to.ReceiveAutomatically();
    Start();
    SendBatch(QString());
    ASSERT_TRUE(WaitUntil([&] { return window->CurrentPage() == SendWindow::PageFinished; }));
    ASSERT_TRUE(
        WaitUntil([&] { return to.mainWindow->Tip() && to.mainWindow->Tip()->isVisible(); }));
    ExpectTreeIn(to.DownloadFolder());
    EXPECT_TRUE(to.mainWindow->Tip()->Text().startsWith(
        QStringLiteral("已自动接收 1 次文件\r\n\r\n最后文件:报告.txt")));
    EXPECT_TRUE(to.fake.dialogs->requests.isEmpty());
    EXPECT_FALSE(to.mainWindow->isVisible());
}

}  // namespace
}  // namespace tvx::test
