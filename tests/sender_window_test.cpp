#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QUrl>

#include "address/AddressPicker.h"
#include "common/Controls.h"
#include "common/Messages.h"
#include "support/Clicks.h"
#include "support/Fakes.h"
#include "support/Render.h"
#include "transfer/FileInfoTip.h"
#include "transfer/SendWindow.h"

// The send window's page 1 without any connection: file checks, the 2 GB limit, drops, the
// schedule clock, remembered inputs and the close box.
namespace tvx::test {
namespace {

class SendWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        session.localAddress = QStringLiteral("127.0.0.2");
        session.appFolder = folder.path() + QLatin1Char('/');
    }

    QString MakeFile(const QString& name, qint64 size) {
        const QString path = folder.path() + QLatin1Char('/') + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        // Large sizes stay sparse: nothing is written, the length is set.
        EXPECT_TRUE(file.resize(size));
        return path;
    }

    QList<ScriptedMessageBox::Shown>& Boxes() { return fake.messageBox->shown; }

    QTemporaryDir folder;
    FakePlatform fake;
    Session session{fake.platform};
};

TEST_F(SendWindowTest, FileCheckRefusesEmptyMissingAndEmptyFilesWithoutConnecting) {
    SendWindow window(session);
    window.ShowSendWindow();
    Find<QLineEdit>(&window, "txtFSInfo1")->setText(QStringLiteral("127.0.0.3"));
    struct Case {
        QString path;
        QString text;
        MessageKind kind;
    };
    const QString missing = folder.path() + QStringLiteral("/没有.bin");
    const Case cases[] = {
        {QStringLiteral("   "), QStringLiteral("必须选择一个文件。"), MessageKind::Info},
        {missing, QStringLiteral("发送的文件不存在。\r\n\r\n") + missing, MessageKind::Warning},
        {MakeFile(QStringLiteral("empty.bin"), 0), QStringLiteral("发送的文件必须大于0字节。"),
         MessageKind::Warning},
    };
    for (const Case& c : cases) {
        Find<QLineEdit>(&window, "txtFSInfo2")->setText(c.path);
        Boxes().clear();
        window.SendClicked();
        ASSERT_EQ(Boxes().size(), 1);
        EXPECT_EQ(Boxes().front().text, c.text);
        EXPECT_EQ(Boxes().front().style, MessageStyleOf(c.kind));
        EXPECT_EQ(window.CurrentPage(), SendWindow::PageInput);
        EXPECT_EQ(window.phase(), SendWindow::Phase::Idle);
    }
    // The address is checked first.
    Find<QLineEdit>(&window, "txtFSInfo1")->setText(QStringLiteral("127.0.0.2"));
    Boxes().clear();
    window.SendClicked();
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_EQ(Boxes().front().text, QStringLiteral("目标地址不能为本地地址,请重新输入。"));
}

TEST_F(SendWindowTest, FilesAboveTwoGigabytesAreRefusedInTheFileBox) {
    SendWindow window(session);
    window.ShowSendWindow();
    const QString tooLarge = MakeFile(QStringLiteral("big.bin"), 2147483648LL);
    Find<QLineEdit>(&window, "txtFSInfo2")->setText(tooLarge);
    EXPECT_TRUE(Find<QLineEdit>(&window, "txtFSInfo2")->text().isEmpty());
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_EQ(Boxes().front().text, QStringLiteral("发送的文件大小不能超过2G。"));
    EXPECT_EQ(Boxes().front().style, MessageStyleOf(MessageKind::Warning));
    EXPECT_FALSE(window.FileInfoTipPolling());

    const QString largest = MakeFile(QStringLiteral("largest.bin"), 2147483647LL);
    fake.shell->typeNames[largest] = QStringLiteral("BIN 文件");
    Find<QLineEdit>(&window, "txtFSInfo2")->setText(largest);
    EXPECT_EQ(Find<QLineEdit>(&window, "txtFSInfo2")->text(), largest);
    EXPECT_EQ(Boxes().size(), 1);
    EXPECT_TRUE(window.FileInfoTipPolling());
    EXPECT_EQ(ControlText(window.Tip(), QStringLiteral("lblTipLine1")),
              QStringLiteral("类型: BIN 文件"));
    EXPECT_EQ(ControlText(window.Tip(), QStringLiteral("lblTipLine2")),
              QStringLiteral("大小: 2.0 GB (2,147,483,647 字节)"));
    EXPECT_TRUE(ControlText(window.Tip(), QStringLiteral("lblTipLine3"))
                    .startsWith(QStringLiteral("修改时间: ")));
    EXPECT_TRUE(RenderToPng(*window.Tip(), QStringLiteral("send-file-info-tip")));
    window.Tip()->hide();

    // A file that is no longer there stops the tip.
    Find<QLineEdit>(&window, "txtFSInfo2")->setText(largest + QStringLiteral("x"));
    EXPECT_FALSE(window.FileInfoTipPolling());
}

TEST_F(SendWindowTest, SeveralFilesAndFoldersShowWhatWillGo) {
    SendWindow window(session);
    window.ShowSendWindow();
    Find<QLineEdit>(&window, "txtFSInfo1")->setText(QStringLiteral("127.0.0.3"));
    const QString first = MakeFile(QStringLiteral("a.txt"), 1000);
    const QString second = MakeFile(QStringLiteral("b.txt"), 2000);
    const QString album = folder.path() + QStringLiteral("/相册");
    ASSERT_TRUE(QDir().mkpath(album + QStringLiteral("/旧")));
    MakeFile(QStringLiteral("相册/1.jpg"), 3000);
    MakeFile(QStringLiteral("相册/旧/2.jpg"), 4000);
    ASSERT_TRUE(QFile::link(first, album + QStringLiteral("/链接")));
    QLineEdit* box = Find<QLineEdit>(&window, "txtFSInfo2");
    QWidget* panel = Find<QWidget>(&window, "picBatch");
    const auto shown = [&window](const char* name) {
        return ControlText(&window, QString::fromLatin1(name));
    };

    // One file chosen keeps the window as it was.
    fake.dialogs->paths.enqueue(first);
    window.ChooseFileClicked();
    EXPECT_EQ(box->text(), first);
    EXPECT_TRUE(panel->isHidden());
    EXPECT_TRUE(window.FileInfoTipPolling());

    // Two files from the open dialog.
    fake.dialogs->paths.enqueue(first + QLatin1Char('\n') + second);
    window.ChooseFileClicked();
    EXPECT_EQ(fake.dialogs->requests.back().kind, QStringLiteral("open files"));
    EXPECT_EQ(box->text(),
              QLatin1Char('"') + first + QStringLiteral("\" \"") + second + QLatin1Char('"'));
    EXPECT_FALSE(panel->isHidden());
    EXPECT_FALSE(window.FileInfoTipPolling());
    EXPECT_EQ(shown("lblBatchSummary"), QStringLiteral("2 个文件, 共 2 KB"));
    EXPECT_EQ(shown("lblBatchNames"), QStringLiteral("a.txt、b.txt"));
    EXPECT_TRUE(Find<QWidget>(&window, "txtBatchSkipped")->isHidden());

    // Two files and a folder dropped: the folder's tree counts, its link does not go.
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second),
                  QUrl::fromLocalFile(album + QLatin1Char('/'))});
    EXPECT_TRUE(window.FileDropped(&drop));
    EXPECT_EQ(shown("lblBatchSummary"), QStringLiteral("2 个文件夹, 4 个文件, 共 9 KB"));
    EXPECT_EQ(shown("lblBatchNames"), QStringLiteral("a.txt、b.txt、相册"));
    EXPECT_FALSE(Find<QWidget>(&window, "txtBatchSkipped")->isHidden());
    EXPECT_EQ(shown("txtBatchSkipped"), album + QStringLiteral("/链接 (符号链接, 未发送)"));
    EXPECT_TRUE(RenderToPng(window, QStringLiteral("send-window-batch")));

    // The folder button: that folder alone.
    fake.dialogs->paths.enqueue(album);
    window.ChooseFolderClicked();
    EXPECT_EQ(fake.dialogs->requests.back().kind, QStringLiteral("folder"));
    EXPECT_EQ(box->text(), album);
    EXPECT_EQ(shown("lblBatchSummary"), QStringLiteral("2 个文件夹, 2 个文件, 共 6 KB"));

    // Typing replaces the choice; a text drop is not taken.
    box->setText(second);
    EXPECT_TRUE(panel->isHidden());
    QMimeData textDrop;
    textDrop.setText(first);
    EXPECT_FALSE(window.FileDropped(&textDrop));
    EXPECT_EQ(box->text(), second);

    // Items of which nothing can go start no send.
    QList<QUrl> pipes;
    for (const QString& name : {QStringLiteral("/管道1"), QStringLiteral("/管道2")}) {
        const QString pipe = folder.path() + name;
        ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        pipes.append(QUrl::fromLocalFile(pipe));
    }
    QMimeData nothing;
    nothing.setUrls(pipes);
    ASSERT_TRUE(window.FileDropped(&nothing));
    window.SendClicked();
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_EQ(Boxes().front().text, QStringLiteral("选择的文件和文件夹都不能发送。"));
    EXPECT_EQ(window.phase(), SendWindow::Phase::Idle);
    EXPECT_EQ(window.CurrentPage(), SendWindow::PageInput);
}

TEST_F(SendWindowTest, BatchTellsOfOneByOneOnceAndOfSkippedFilesAtItsEnd) {
    SendWindow window(session);
    window.ShowSendWindow();
    QLabel* oneByOne = Find<QLabel>(&window, "lblOneByOne");
    EXPECT_TRUE(oneByOne->isHidden());
    emit window.Engine().OneByOne(1204);
    EXPECT_FALSE(oneByOne->isHidden());
    EXPECT_EQ(oneByOne->text(), QStringLiteral("对方不支持一次接收多个文件, 1,204 个文件将逐个发送"
                                               "(不含文件夹结构), 对方会逐个确认。"));

    SendOutcome outcome;
    outcome.kind = SendOutcome::Kind::Refused;
    outcome.batch = true;
    outcome.peer = QStringLiteral("127.0.0.3");
    outcome.files = 3;
    outcome.skipped = {QStringLiteral("/相册/链接"), QStringLiteral("/相册/管道")};
    emit window.Engine().Ended(outcome);
    EXPECT_EQ(window.CurrentPage(), SendWindow::PageRefused);
    EXPECT_TRUE(Boxes().isEmpty());  // nothing went: what did not go does not matter
    window.ResultConfirmed();
    EXPECT_TRUE(oneByOne->isHidden());

    outcome.kind = SendOutcome::Kind::Completed;
    outcome.filesDone = 3;
    outcome.finishedAt = QTime(9, 5, 7);
    emit window.Engine().Ended(outcome);
    EXPECT_EQ(window.CurrentPage(), SendWindow::PageFinished);
    EXPECT_TRUE(ControlText(&window, QStringLiteral("lblSendFinish"))
                    .startsWith(QStringLiteral("3 个文件已成功发送到 127.0.0.3 。")));
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_EQ(Boxes().front().text, QStringLiteral("下列 2 项未发送:\r\n/相册/链接\r\n/相册/管道"));
    EXPECT_EQ(Boxes().front().style, MessageStyleOf(MessageKind::Warning));
}

TEST_F(SendWindowTest, ChosenFileGoesIntoTheBox) {
    SendWindow window(session);
    const QString chosen = MakeFile(QStringLiteral("chosen.txt"), 3);
    fake.dialogs->paths.enqueue(chosen);
    window.ChooseFileClicked();
    EXPECT_EQ(Find<QLineEdit>(&window, "txtFSInfo2")->text(), chosen);
    EXPECT_EQ(Find<QLineEdit>(&window, "txtFSInfo2")->cursorPosition(), chosen.size());
    ASSERT_EQ(fake.dialogs->requests.size(), 1);
    EXPECT_EQ(fake.dialogs->requests.front().title, QStringLiteral("选择文件"));
    window.ChooseFileClicked();  // cancelled: the box keeps its path
    EXPECT_EQ(Find<QLineEdit>(&window, "txtFSInfo2")->text(), chosen);

    // A double click on the icon opens the file.
    window.FileIconDoubleClicked();
    EXPECT_EQ(fake.shell->opened, QStringList{chosen});
}

TEST_F(SendWindowTest, InputPageWithRetryAndScheduleShowing) {
    SendWindow window(session);
    window.ShowSendWindow();
    Find<QSpinBox>(&window, "txtTime2")->setValue(30);
    fake.system->now = QDateTime(QDate(2007, 3, 5), QTime(9, 0, 10));
    Find<QCheckBox>(&window, "chkAutoTry")->setChecked(true);
    Find<QCheckBox>(&window, "chkUseTime")->setChecked(true);
    EXPECT_TRUE(window.ScheduleClockRunning());
    EXPECT_TRUE(RenderToPng(window, QStringLiteral("send-window-input")));
    Find<QCheckBox>(&window, "chkUseTime")->setChecked(false);
    EXPECT_FALSE(window.ScheduleClockRunning());
}

TEST_F(SendWindowTest, RememberedInputsAreRestoredAndKept) {
    const QString path = MakeFile(QStringLiteral("kept.bin"), 10);
    fake.settings->values[QStringLiteral("Address1")] = QStringLiteral("127.0.0.3");
    fake.settings->values[QStringLiteral("SendFilePath")] = path;
    fake.settings->values[QStringLiteral("Message1")] = QStringLiteral("你好\r\n再见");
    {
        SendWindow off(session);
        off.ShowSendWindow();
        EXPECT_TRUE(Find<QLineEdit>(&off, "txtFSInfo1")->text().isEmpty());
        EXPECT_TRUE(Find<QLineEdit>(&off, "txtFSInfo2")->text().isEmpty());
    }
    session.settings.saveSendInfo1 = true;
    SendWindow window(session);
    window.ShowSendWindow();
    EXPECT_EQ(Find<QLineEdit>(&window, "txtFSInfo1")->text(), QStringLiteral("127.0.0.3"));
    EXPECT_EQ(Find<QLineEdit>(&window, "txtFSInfo2")->text(), path);
    EXPECT_EQ(ControlText(&window, QStringLiteral("txtFSInfo3")), QStringLiteral("你好\r\n再见"));
    EXPECT_TRUE(window.FileInfoTipPolling());
    EXPECT_EQ(window.CurrentPage(), SendWindow::PageInput);
    EXPECT_EQ(ControlText(&window, QStringLiteral("lblFSTip2")),
              QStringLiteral("输入对方IP或TVX地址后即可发送文件,支持断点续传。"));
    EXPECT_EQ(Find<QLineEdit>(&window, "txtFSInfo1")->maxLength(), 15);
    EXPECT_EQ(Find<QLineEdit>(&window, "txtFSPW")->maxLength(), 15);
    EXPECT_EQ(Find<QLineEdit>(&window, "txtFSPW")->echoMode(), QLineEdit::Password);

    // The close box on page 1 hides the window and keeps the inputs.
    window.close();
    EXPECT_FALSE(window.isVisible());
    window.ShowSendWindow();
    EXPECT_EQ(Find<QLineEdit>(&window, "txtFSInfo1")->text(), QStringLiteral("127.0.0.3"));
}

TEST_F(SendWindowTest, AddressPickerFillsTheAddressBoxAndShowsTheWindow) {
    SendWindow window(session);
    window.AddressBookClicked();
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_EQ(Boxes().front().text, QStringLiteral("当前地址簿为空。"));
    EXPECT_EQ(window.Picker(), nullptr);

    QFile book(session.appFolder + QStringLiteral("Address.dat"));
    ASSERT_TRUE(book.open(QIODevice::WriteOnly));
    book.write("Alice|127.0.0.3\r\nBob|\r\nCarol|10.0.0.5|x\r\nDave|BCDEFGHJKL\r\n");
    book.close();
    window.AddressBookClicked();
    ASSERT_NE(window.Picker(), nullptr);
    AddressPicker* picker = window.Picker();
    EXPECT_EQ(picker->purpose(), PickerPurpose::SendFile);
    ASSERT_EQ(Find<QListWidget>(picker, "lstUser")->count(), 1);
    EXPECT_EQ(Find<QListWidget>(picker, "lstUser")->item(0)->text(),
              QStringLiteral("Alice|127.0.0.3"));
    EXPECT_TRUE(RenderToPng(*picker, QStringLiteral("address-picker")));

    picker->PickSelectedEntry();  // nothing selected
    EXPECT_TRUE(picker->isVisible());
    Find<QListWidget>(picker, "lstUser")->setCurrentRow(0);
    picker->PickSelectedEntry();
    EXPECT_EQ(Find<QLineEdit>(&window, "txtFSInfo1")->text(), QStringLiteral("127.0.0.3"));
    EXPECT_TRUE(window.isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window.Picker(), nullptr);
}

}  // namespace
}  // namespace tvx::test
