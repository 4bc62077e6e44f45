#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <memory>

#include "common/Handshake.h"
#include "records/AddressBookWindow.h"
#include "records/AddressFiles.h"
#include "records/OptionsDialog.h"
#include "support/Clicks.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/TestPeer.h"
#include "transfer/ReceiverPage.h"
#include "transfer/SendWindow.h"

// Two complete copies in one process: what the receiving user sets in the options dialog acts
// on the very next sender, without a restart.
namespace tvx::test {
namespace {

class OptionsAtWork : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(files.isValid());
        ASSERT_TRUE(from.Start());
        ASSERT_TRUE(to.Start());
        window = std::make_unique<SendWindow>(from.session);
        window->SetPauseMs(0);
        window->SetCloseGraceMs(200);
        QObject::connect(window.get(), &SendWindow::ChunkSent, window.get(),
                         [this](qint64, qint64 size) { chunkSizes.append(size); });
        window->ShowSendWindow();
    }

    // The user of that copy opens the options dialog from the tray menu.
    OptionsDialog& OpenOptions(TestPeer& peer) {
        peer.mainWindow->MenuEntry(8)->trigger();
        return *peer.mainWindow->Options();
    }

    QString MakeFile(const QString& name, qint64 size) {
        const QString path = files.path() + QLatin1Char('/') + name;
        EXPECT_TRUE(WriteFile(path, QByteArray(size, 'x')));
        return path;
    }

    void Send(const QString& path, const QString& code = QString()) {
        chunkSizes.clear();
        Find<QCheckBox>(window.get(), "chkFSPW")->setChecked(!code.isEmpty());
        Find<QLineEdit>(window.get(), "txtFSPW")->setText(code);
        Find<QLineEdit>(window.get(), "txtFSInfo1")->setText(kAnswererAddress);
        Find<QLineEdit>(window.get(), "txtFSInfo2")->setText(path);
        window->SendClicked();
    }

    // The sender's one message, after which both sides are ready again.
    QString SenderMessage() {
        if (!WaitUntil([&] { return !from.fake.messageBox->shown.isEmpty(); }))
            return QStringLiteral("<none>");
        const QString text = from.fake.messageBox->shown.takeFirst().text;
        EXPECT_TRUE(BothIdle());
        return text;
    }

    bool BothIdle() {
        return WaitUntil([&] {
            return window->phase() == SendWindow::Phase::Idle &&
                   to.receiver().ControlLink().state() == PeerLink::State::Listening &&
                   !to.session.activity.mainWindowReceiving();
        });
    }

    QTemporaryDir files;
    TestPeer from{kCallerAddress, QStringLiteral("小明")};
    TestPeer to{kAnswererAddress, QStringLiteral("小红")};
    std::unique_ptr<SendWindow> window;
    QList<qint64> chunkSizes;
};

TEST_F(OptionsAtWork, ANewCodeAndABlockedAddressActOnTheNextSender) {
    OptionsDialog& options = OpenOptions(to);
    Find<QLineEdit>(&options, "txtFRPW")->setText(QStringLiteral("芝麻开门"));
    ClickButton(&options, QStringLiteral("cmdDo1"));
    EXPECT_EQ(to.fake.settings->values[QStringLiteral("PassWord1")],
              Digest(QStringLiteral("芝麻开门")));
    const QString path = MakeFile(QStringLiteral("a.bin"), 1000);

    Send(path);
    EXPECT_EQ(SenderMessage(),
              QStringLiteral("发送连接请求失败:验证码无效。\r\n\r\n-没有使用验证码或验证码错误"));
    Send(path, QStringLiteral("芝麻开门"));
    ASSERT_TRUE(WaitUntil([&] { return to.session.activity.offerWaiting(); }));
    to.receiver().findChild<QPushButton*>(QStringLiteral("cmdRefuse"))->click();
    ASSERT_TRUE(WaitUntil([&] { return window->CurrentPage() == SendWindow::PageRefused; }));
    window->ResultConfirmed();
    ASSERT_TRUE(BothIdle());

    // Blocked from the security page, with a note the dialog trims.
    OptionsDialog& again = OpenOptions(to);
    again.SwitchToPage(PageSecurity);
    Find<QLineEdit>(&again, "txtInputAdress")->setText(kCallerAddress);
    ClickButton(&again, QStringLiteral("cmdSafe1"));
    Find<QLineEdit>(&again, "txtBlockTxt")->setText(QStringLiteral("  暂不接收  "));
    ClickButton(&again, QStringLiteral("cmdDo1"));
    EXPECT_EQ(ReadAll(to.session.appFolder + kBlockListFileName), QByteArray("127.0.0.2\r\n"));
    Send(path, QStringLiteral("芝麻开门"));
    EXPECT_EQ(
        SenderMessage(),
        QStringLiteral("发送连接请求失败:当前IP不在对方允许连接的范围内。\r\n\r\n附言:暂不接收"));
    EXPECT_FALSE(to.session.activity.offerWaiting());
}

TEST_F(OptionsAtWork, SendBufferOffAndAutomaticReceivingTakeEffectAtOnce) {
    EXPECT_EQ(from.session.settings.sendBufferBytes, 524288);
    OptionsDialog& sending = OpenOptions(from);
    sending.SwitchToPage(PageFileTransfer);
    EXPECT_FALSE(Find<QCheckBox>(&sending, "chkUseFSBuffer")->isChecked());
    ClickButton(&sending, QStringLiteral("cmdDo1"));

    OptionsDialog& receiving = OpenOptions(to);
    receiving.SwitchToPage(PageFileTransfer);
    Find<QCheckBox>(&receiving, "chkAutoRecvFile")->setChecked(true);
    Find<QLineEdit>(&receiving, "txtAutoSaveDir")->setText(to.downloads.path());
    ClickButton(&receiving, QStringLiteral("cmdDo1"));
    EXPECT_EQ(to.session.settings.autoSavePath, to.DownloadFolder());

    Send(MakeFile(QStringLiteral("大文件.bin"), 300000));
    const QString target = to.DownloadFolder() + QStringLiteral("大文件.bin");
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(target); }));
    EXPECT_EQ(QFileInfo(target).size(), 300000);
    EXPECT_EQ(chunkSizes, (QList<qint64>{131072, 131072, 37856}));
    EXPECT_TRUE(to.fake.messageBox->shown.isEmpty());
    EXPECT_TRUE(to.fake.dialogs->requests.isEmpty());
}

TEST_F(OptionsAtWork, TrayMenuOpensOptionsAboutAndTheAddressBook) {
    MainWindow& main = *to.mainWindow;
    for (int entry : {4, 5, 6, 8, 9, 10})
        EXPECT_TRUE(main.MenuEntry(entry)->isEnabled()) << entry;

    // One dialog at a time; the about entry turns it to its last page.
    main.MenuEntry(8)->trigger();
    OptionsDialog* options = main.Options();
    ASSERT_NE(options, nullptr);
    EXPECT_TRUE(options->isVisible());
    EXPECT_EQ(options->CurrentPage(), PageGeneral);
    main.MenuEntry(10)->trigger();
    EXPECT_EQ(main.Options(), options);
    EXPECT_EQ(options->CurrentPage(), PageAbout);

    // The daily alarm follows the dialog at once.
    EXPECT_FALSE(main.IsAlarmArmed());
    Find<QCheckBox>(options, "chkUseTimer")->setChecked(true);
    Find<QCheckBox>(options, "chkPopText")->setChecked(true);
    Find<QLineEdit>(options, "txtPopText")->setText(QStringLiteral("下班"));
    ClickButton(options, QStringLiteral("cmdDo1"));
    EXPECT_TRUE(main.IsAlarmArmed());
    main.MenuEntry(10)->trigger();
    ASSERT_NE(main.Options(), nullptr);
    EXPECT_EQ(main.Options()->CurrentPage(), PageAbout);
    Find<QCheckBox>(main.Options(), "chkUseTimer")->setChecked(false);
    ClickButton(main.Options(), QStringLiteral("cmdDo1"));
    EXPECT_FALSE(main.IsAlarmArmed());

    // The address book's menu fills the send window, and the invitation through its hook.
    ASSERT_TRUE(WriteFile(to.session.appFolder + kAddressBookFileName,
                          "Ann|10.0.0.1\r\nBen|NVSSWFDSEN\r\n"));
    QStringList invited;
    main.SetInvitationOpener([&](const QString& address) { invited << address; });
    main.MenuEntry(5)->trigger();
    AddressBookWindow* book = main.AddressBook();
    ASSERT_NE(book, nullptr);
    EXPECT_TRUE(book->isVisible());
    EXPECT_EQ(Find<QListWidget>(book, "lstAdrs")->count(), 2);
    main.MenuEntry(5)->trigger();
    EXPECT_EQ(main.AddressBook(), book);
    Find<QListWidget>(book, "lstAdrs")->item(1)->setSelected(true);
    book->mnuFile()->trigger();
    ASSERT_NE(main.FileSendWindow(), nullptr);
    EXPECT_TRUE(main.FileSendWindow()->isVisible());
    EXPECT_EQ(Find<QLineEdit>(main.FileSendWindow(), "txtFSInfo1")->text(),
              QStringLiteral("NVSSWFDSEN"));
    book->mnuChat()->trigger();
    EXPECT_EQ(invited, QStringList{QStringLiteral("NVSSWFDSEN")});
}

}  // namespace
}  // namespace tvx::test
