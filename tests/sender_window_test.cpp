#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QUrl>

#include "address/AddressPicker.h"
#include "common/Messages.h"
#include "support/Fakes.h"
#include "support/Render.h"
#include "transfer/FileInfoTip.h"
#include "transfer/SendWindow.h"

// The send window's page 1 without any connection: file checks, the 2 GB limit, drops, the
// retry and schedule boxes, remembered inputs and the close box.
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
    window.txtFSInfo(1)->setText(QStringLiteral("127.0.0.3"));
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
        {folder.path(), QStringLiteral("发送的文件不存在。\r\n\r\n") + folder.path(),
         MessageKind::Warning},
    };
    for (const Case& c : cases) {
        window.txtFSInfo(2)->setText(c.path);
        Boxes().clear();
        window.SendClicked();
        ASSERT_EQ(Boxes().size(), 1);
        EXPECT_EQ(Boxes().front().text, c.text);
        EXPECT_EQ(Boxes().front().style, MessageStyleOf(c.kind));
        EXPECT_EQ(window.CurrentPage(), SendWindow::PageInput);
        EXPECT_EQ(window.phase(), SendWindow::Phase::Idle);
    }
    // The address is checked first.
    window.txtFSInfo(1)->setText(QStringLiteral("127.0.0.2"));
    Boxes().clear();
    window.SendClicked();
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_EQ(Boxes().front().text, QStringLiteral("目标地址不能为本地地址,请重新输入。"));
}

TEST_F(SendWindowTest, FilesAboveTwoGigabytesAreRefusedInTheFileBox) {
    SendWindow window(session);
    window.ShowSendWindow();
    const QString tooLarge = MakeFile(QStringLiteral("big.bin"), 2147483648LL);
    window.txtFSInfo(2)->setText(tooLarge);
    EXPECT_TRUE(window.txtFSInfo(2)->text().isEmpty());
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_EQ(Boxes().front().text, QStringLiteral("发送的文件大小不能超过2G。"));
    EXPECT_EQ(Boxes().front().style, MessageStyleOf(MessageKind::Warning));
    EXPECT_FALSE(window.FileInfoTipPolling());

    const QString largest = MakeFile(QStringLiteral("largest.bin"), 2147483647LL);
    fake.shell->typeNames[largest] = QStringLiteral("BIN 文件");
    window.txtFSInfo(2)->setText(largest);
    EXPECT_EQ(window.txtFSInfo(2)->text(), largest);
    EXPECT_EQ(Boxes().size(), 1);
    EXPECT_TRUE(window.FileInfoTipPolling());
    EXPECT_EQ(window.Tip()->Line(1), QStringLiteral("类型: BIN 文件"));
    EXPECT_EQ(window.Tip()->Line(2), QStringLiteral("大小: 2.0 GB (2,147,483,647 字节)"));
    EXPECT_TRUE(window.Tip()->Line(3).startsWith(QStringLiteral("修改时间: ")));
    EXPECT_TRUE(RenderToPng(*window.Tip(), QStringLiteral("send-file-info-tip")));
    window.Tip()->hide();

    // A file that is no longer there stops the tip.
    window.txtFSInfo(2)->setText(largest + QStringLiteral("x"));
    EXPECT_FALSE(window.FileInfoTipPolling());
}

TEST_F(SendWindowTest, DropTakesTheFirstFileAndIgnoresFolders) {
    SendWindow window(session);
    const QString first = MakeFile(QStringLiteral("1.txt"), 3);
    const QString second = MakeFile(QStringLiteral("2.txt"), 3);
    window.txtFSInfo(2)->setText(QStringLiteral("before"));

    QMimeData folderDrop;
    folderDrop.setUrls({QUrl::fromLocalFile(folder.path())});
    EXPECT_FALSE(window.FileDropped(&folderDrop));
    QMimeData textDrop;
    textDrop.setText(first);
    EXPECT_FALSE(window.FileDropped(&textDrop));
    EXPECT_EQ(window.txtFSInfo(2)->text(), QStringLiteral("before"));

    QMimeData twoFiles;
    twoFiles.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
    EXPECT_TRUE(window.FileDropped(&twoFiles));
    EXPECT_EQ(window.txtFSInfo(2)->text(), first);
}

TEST_F(SendWindowTest, ChosenFileGoesIntoTheBox) {
    SendWindow window(session);
    const QString chosen = MakeFile(QStringLiteral("chosen.txt"), 3);
    fake.dialogs->paths.enqueue(chosen);
    window.ChooseFileClicked();
    EXPECT_EQ(window.txtFSInfo(2)->text(), chosen);
    EXPECT_EQ(window.txtFSInfo(2)->cursorPosition(), chosen.size());
    ASSERT_EQ(fake.dialogs->requests.size(), 1);
    EXPECT_EQ(fake.dialogs->requests.front().title, QStringLiteral("选择文件"));
    window.ChooseFileClicked();  // cancelled: the box keeps its path
    EXPECT_EQ(window.txtFSInfo(2)->text(), chosen);

    // A double click on the icon opens the file.
    window.FileIconDoubleClicked();
    EXPECT_EQ(fake.shell->opened, QStringList{chosen});
}

TEST_F(SendWindowTest, CountAndTimeBoxesFollowTheirSpinners) {
    SendWindow window(session);
    window.ShowSendWindow();
    EXPECT_EQ(window.txtAutoTryNum()->text(), QStringLiteral("99"));
    EXPECT_FALSE(window.txtAutoTryNum()->isVisible());
    QApplication::processEvents();
    const QPoint scheduleAt = window.chkUseTime()->pos();
    window.chkAutoTry()->setChecked(true);
    window.AutoRetryToggled();
    EXPECT_TRUE(window.txtAutoTryNum()->isVisible());
    EXPECT_TRUE(window.vsbAutoTry()->isVisible());
    // The count box had its room: "定时发送在" stays where the pointer may be.
    QApplication::processEvents();
    EXPECT_EQ(window.chkUseTime()->pos(), scheduleAt);

    window.txtAutoTryNum()->setText(QStringLiteral("5"));
    EXPECT_EQ(window.vsbAutoTry()->value(), 5);
    for (const QString& invalid : {QStringLiteral("1"), QStringLiteral("0"), QString()}) {
        window.txtAutoTryNum()->setText(invalid);
        EXPECT_EQ(window.txtAutoTryNum()->text(), QStringLiteral("5"));
    }
    window.vsbAutoTry()->setValue(12);
    EXPECT_EQ(window.txtAutoTryNum()->text(), QStringLiteral("12"));
    EXPECT_EQ(window.txtAutoTryNum()->maxLength(), 3);
    EXPECT_EQ(window.vsbAutoTry()->minimum(), 2);
    EXPECT_EQ(window.vsbAutoTry()->maximum(), 999);

    window.vsrTime(1)->setValue(23);
    EXPECT_EQ(window.txtTime(1)->text(), QStringLiteral("23"));
    window.txtTime(1)->setText(QStringLiteral("24"));
    EXPECT_EQ(window.txtTime(1)->text(), QStringLiteral("23"));
    window.txtTime(2)->setText(QStringLiteral("59"));
    EXPECT_EQ(window.vsrTime(2)->value(), 59);

    // At minute 0 the minute box cannot show -1; it takes the spinner's value.
    window.vsrTime(2)->setValue(30);
    fake.system->now = QDateTime(QDate(2007, 3, 5), QTime(9, 0, 10));
    window.chkUseTime()->setChecked(true);
    window.ScheduleToggled();
    EXPECT_EQ(window.txtTime(1)->text(), QStringLiteral("9"));
    EXPECT_EQ(window.txtTime(2)->text(), QStringLiteral("30"));
    EXPECT_TRUE(window.txtTime(1)->isVisible());
    EXPECT_TRUE(window.ScheduleClockRunning());
    EXPECT_TRUE(RenderToPng(window, QStringLiteral("send-window-input")));
    window.chkUseTime()->setChecked(false);
    window.ScheduleToggled();
    EXPECT_FALSE(window.txtTime(1)->isVisible());
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
        EXPECT_TRUE(off.txtFSInfo(1)->text().isEmpty());
        EXPECT_TRUE(off.txtFSInfo(2)->text().isEmpty());
    }
    session.settings.saveSendInfo1 = true;
    SendWindow window(session);
    window.ShowSendWindow();
    EXPECT_EQ(window.txtFSInfo(1)->text(), QStringLiteral("127.0.0.3"));
    EXPECT_EQ(window.txtFSInfo(2)->text(), path);
    EXPECT_EQ(window.TextOf(QStringLiteral("txtFSInfo3")), QStringLiteral("你好\r\n再见"));
    EXPECT_TRUE(window.FileInfoTipPolling());
    EXPECT_EQ(window.CurrentPage(), SendWindow::PageInput);
    EXPECT_EQ(window.TextOf(QStringLiteral("lblFSTip2")),
              QStringLiteral("输入对方IP或TVX地址后即可发送文件,支持断点续传。"));
    EXPECT_EQ(window.txtFSInfo(1)->maxLength(), 15);
    EXPECT_EQ(window.txtFSPW()->maxLength(), 15);
    EXPECT_EQ(window.txtFSPW()->echoMode(), QLineEdit::Password);

    // The close box on page 1 hides the window and keeps the inputs.
    window.close();
    EXPECT_FALSE(window.isVisible());
    window.ShowSendWindow();
    EXPECT_EQ(window.txtFSInfo(1)->text(), QStringLiteral("127.0.0.3"));
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
    ASSERT_EQ(picker->lstUser()->count(), 1);
    EXPECT_EQ(picker->lstUser()->item(0)->text(), QStringLiteral("Alice|127.0.0.3"));
    EXPECT_TRUE(RenderToPng(*picker, QStringLiteral("address-picker")));

    picker->PickSelectedEntry();  // nothing selected
    EXPECT_TRUE(picker->isVisible());
    picker->lstUser()->setCurrentRow(0);
    picker->PickSelectedEntry();
    EXPECT_EQ(window.txtFSInfo(1)->text(), QStringLiteral("127.0.0.3"));
    EXPECT_TRUE(window.isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window.Picker(), nullptr);
}

}  // namespace
}  // namespace tvx::test
