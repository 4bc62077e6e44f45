#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <memory>

#include "common/Controls.h"
#include "common/Handshake.h"
#include "common/Messages.h"
#include "protocol/Codes.h"
#include "support/Clicks.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/TestPeer.h"
#include "transfer/ReceiverPage.h"
#include "transfer/SendWindow.h"

// Two complete copies in one process: the send window on 127.0.0.2 and the main window with
// its file receiver on 127.0.0.3, the seams answering for both users.
namespace tvx::test {
namespace {

constexpr qint64 kChunk = 64 * 1024;

class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(files.isValid());
        from.session.settings.sendBufferBytes = kChunk;
    }

    // Starts both main windows and opens the send window; the receiver's settings go first.
    void Start() {
        ASSERT_TRUE(from.Start());
        ASSERT_TRUE(to.Start());
        from.session.settings.sendBufferBytes = kChunk;
        window = std::make_unique<SendWindow>(from.session);
        window->SetPauseMs(0);
        window->SetCloseGraceMs(200);
        QObject::connect(
            window.get(), &SendWindow::ChunkSent, window.get(), [this](qint64 offset, qint64 size) {
                if (chunks.isEmpty())
                    firstPercent = ControlText(window.get(), QStringLiteral("lblSendProc11"));
                chunks.append({offset, size});
                if (onChunk)
                    onChunk(offset);
            });
        window->ShowSendWindow();
    }

    QString MakeFile(const QString& name, const QByteArray& content) {
        const QString path = files.path() + QLatin1Char('/') + name;
        EXPECT_TRUE(WriteFile(path, content));
        return path;
    }

    void Send(const QString& address, const QString& path, const QString& note = QString()) {
        chunks.clear();
        firstPercent.clear();
        Find<QLineEdit>(window.get(), "txtFSInfo1")->setText(address);
        Find<QLineEdit>(window.get(), "txtFSInfo2")->setText(path);
        Find<QPlainTextEdit>(window.get(), "txtFSInfo3")->setPlainText(note);
        window->SendClicked();
    }

    bool OfferShown() {
        return WaitUntil([&] { return to.session.activity.offerWaiting(); });
    }

    // The receiving user accepts into the given path.
    void AcceptInto(const QString& target) {
        to.fake.dialogs->paths.enqueue(target);
        to.receiver().findChild<QPushButton*>(QStringLiteral("cmdAccept"))->click();
    }

    bool SenderOn(int page) {
        return WaitUntil([&] { return window->CurrentPage() == page; });
    }

    bool BothIdle() {
        return WaitUntil([&] {
            return window->phase() == SendWindow::Phase::Idle &&
                   to.receiver().ControlLink().state() == PeerLink::State::Listening &&
                   !to.session.activity.mainWindowReceiving();
        });
    }

    QList<ScriptedMessageBox::Shown>& SenderBoxes() { return from.fake.messageBox->shown; }
    QList<ScriptedMessageBox::Shown>& ReceiverBoxes() { return to.fake.messageBox->shown; }

    QTemporaryDir files;
    TestPeer from{kCallerAddress, QStringLiteral("小明")};
    TestPeer to{kAnswererAddress, QStringLiteral("小红")};
    std::unique_ptr<SendWindow> window;
    QList<QPair<qint64, qint64>> chunks;
    QString firstPercent;
    std::function<void(qint64)> onChunk;
};

TEST_F(Transfer, ByIpv4AcceptedByTheUserArrivesExactly) {
    Start();
    const QByteArray content = Pattern(5 * kChunk + 77);
    Send(QStringLiteral("127.0.0.3"), MakeFile(QStringLiteral("照片.jpg"), content),
         QStringLiteral("给你"));
    ASSERT_TRUE(OfferShown());
    const QString target = to.DownloadFolder() + QStringLiteral("照片.jpg");
    AcceptInto(target);
    ASSERT_TRUE(SenderOn(SendWindow::PageFinished));
    ASSERT_TRUE(
        WaitUntil([&] { return to.receiver().CurrentPage() == ReceiverPage::PageFinished; }));
    EXPECT_EQ(ReadAll(target), content);
    EXPECT_FALSE(QFile::exists(target + QStringLiteral(".tvx")));
    EXPECT_EQ(chunks.size(), 6);
    EXPECT_TRUE(ControlText(window.get(), QStringLiteral("lblSendFinish"))
                    .startsWith(QStringLiteral("文件已成功发送到 127.0.0.3 。")));
    EXPECT_TRUE(SenderBoxes().isEmpty());
    EXPECT_FALSE(from.session.activity.sendWindowSending());
}

TEST_F(Transfer, ByTvxAddressReceivedAutomaticallyInOneOrTwoChunks) {
    to.ReceiveAutomatically();
    Start();
    struct Case {
        qint64 size;
        QList<QPair<qint64, qint64>> chunks;
    };
    const Case cases[] = {{kChunk, {{0, kChunk}}}, {kChunk + 1, {{0, kChunk}, {kChunk, 1}}}};
    int run = 0;
    for (const Case& c : cases) {
        const QString name = QStringLiteral("auto%1.bin").arg(++run);
        const QByteArray content = Pattern(c.size, run);
        Send(to.session.localAddressCode, MakeFile(name, content));
        ASSERT_TRUE(SenderOn(SendWindow::PageFinished));
        const QString target = to.DownloadFolder() + name;
        ASSERT_TRUE(WaitUntil([&] { return QFile::exists(target); }));
        EXPECT_EQ(ReadAll(target), content);
        EXPECT_EQ(chunks, c.chunks);
        EXPECT_TRUE(ControlText(window.get(), QStringLiteral("lblSendFinish"))
                        .startsWith(QStringLiteral("文件已成功发送到 ") +
                                    to.session.localAddressCode.toUpper()));
        window->ResultConfirmed();
        ASSERT_TRUE(BothIdle());
    }
    EXPECT_TRUE(SenderBoxes().isEmpty());
}

TEST_F(Transfer, RefusalsAndCancelsGiveBothSidesTheirPages) {
    Start();
    const QString path = MakeFile(QStringLiteral("a.bin"), Pattern(40 * kChunk));
    const QString quoted = QStringLiteral("\"a.bin\"");

    // Refused by the user, with a note.
    Send(kAnswererAddress, path);
    ASSERT_TRUE(OfferShown());
    to.receiver()
        .findChild<QPlainTextEdit*>(QStringLiteral("txtRefuseNote"))
        ->setPlainText(QStringLiteral("  不需要  "));
    to.receiver().findChild<QPushButton*>(QStringLiteral("cmdRefuse"))->click();
    ASSERT_TRUE(SenderOn(SendWindow::PageRefused));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblRefuRecv1")),
              QStringLiteral("对方用户 127.0.0.3 拒绝接收文件") + quoted + QStringLiteral("。"));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("txtRefuRecv")), QStringLiteral("不需要"));
    window->ResultConfirmed();
    ASSERT_TRUE(BothIdle());

    // Refused automatically when the count-down runs out.
    to.receiver().findChild<QPlainTextEdit*>(QStringLiteral("txtRefuseNote"))->clear();
    Send(kAnswererAddress, path);
    ASSERT_TRUE(OfferShown());
    while (to.session.activity.offerWaiting())
        to.receiver().Engine().CountDownTick();
    ASSERT_TRUE(SenderOn(SendWindow::PageAutoRefused));
    EXPECT_EQ(
        ControlText(window.get(), QStringLiteral("lblAutoRefuRecv1")),
        QStringLiteral("对方用户 127.0.0.3 自动拒绝接收文件") + quoted + QStringLiteral("。"));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("txtAutoRefuRecv")),
              QStringLiteral("(对方用户可能不在计算机前)"));
    window->ResultConfirmed();
    ASSERT_TRUE(BothIdle());

    // Cancelled by the receiver while the bytes flow.
    onChunk = [this](qint64 offset) {
        if (offset != 2 * kChunk)
            return;
        QTimer::singleShot(0, &to.receiver(), [this] {
            to.receiver()
                .findChild<QPlainTextEdit*>(QStringLiteral("txtCancelNote"))
                ->setPlainText(QStringLiteral("换一个"));
            to.receiver().findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
        });
    };
    Send(kAnswererAddress, path);
    ASSERT_TRUE(OfferShown());
    AcceptInto(to.DownloadFolder() + QStringLiteral("a.bin"));
    ASSERT_TRUE(SenderOn(SendWindow::PageReceiverCancelled));
    EXPECT_TRUE(ControlText(window.get(), QStringLiteral("lblCanclRecv1"))
                    .startsWith(QStringLiteral("对方用户 127.0.0.3 取消接收文件") + quoted +
                                QStringLiteral(",目前已发送 ")));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("txtCanclRecv")), QStringLiteral("换一个"));
    // The cancel stopped the transfer short of the whole file (how many chunks the system
    // took before it arrived depends on its buffers).
    EXPECT_FALSE(QFile::exists(to.DownloadFolder() + QStringLiteral("a.bin")));
    window->ResultConfirmed();
    ASSERT_TRUE(BothIdle());

    // Cancelled by the sender while the bytes flow.
    Find<QLineEdit>(window.get(), "txtCancelSend")->setText(QStringLiteral("发错了"));
    onChunk = [this](qint64 offset) {
        if (offset == 2 * kChunk)
            QTimer::singleShot(0, window.get(), [this] { window->CancelSendingClicked(); });
    };
    Send(kAnswererAddress, path);
    ASSERT_TRUE(OfferShown());
    AcceptInto(to.DownloadFolder() + QStringLiteral("b.bin"));
    ASSERT_TRUE(WaitUntil(
        [&] { return to.receiver().CurrentPage() == ReceiverPage::PageSenderCancelled; }));
    EXPECT_TRUE(ControlText(&to.receiver(), QStringLiteral("lblCancelLine"))
                    .startsWith(QStringLiteral("对方用户 小明 取消发送文件") + quoted));
    EXPECT_EQ(ControlText(&to.receiver(), QStringLiteral("lblCancelNote")),
              QStringLiteral("发错了"));
    ASSERT_TRUE(BothIdle());
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
    EXPECT_FALSE(QFile::exists(to.DownloadFolder() + QStringLiteral("b.bin")));
    // Only the question about cancelling was put to the sending user.
    ASSERT_EQ(SenderBoxes().size(), 1);
    EXPECT_EQ(SenderBoxes().front().text, QStringLiteral("确实要取消正在发送的文件么？"));
}

TEST_F(Transfer, ABrokenTransferResumesAtTheReceivedLength) {
    Start();
    const qint64 size = 8 * kChunk;
    const QByteArray content = Pattern(size, 5);
    const QString path = MakeFile(QStringLiteral("resume.bin"), content);
    const QString target = to.DownloadFolder() + QStringLiteral("resume.bin");

    // Half-way the connection is cut: the chunk at the middle never leaves.
    onChunk = [this, size](qint64 offset) {
        if (offset != size / 2)
            return;
        onChunk = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return to.receiver().Position() == size / 2; }));
        window->ControlLink().Reset();
    };
    Send(kAnswererAddress, path);
    ASSERT_TRUE(OfferShown());
    AcceptInto(target);
    ASSERT_TRUE(WaitUntil(
        [&] { return to.receiver().CurrentPage() == ReceiverPage::PageSenderCancelled; }));
    ASSERT_TRUE(BothIdle());
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_EQ(QFile(target + QStringLiteral(".tvx")).size(), size / 2);
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);

    // The same file again: the receiver offers to resume, and the sender starts at 50%.
    Send(kAnswererAddress, path);
    ASSERT_TRUE(OfferShown());
    AcceptInto(target);
    ASSERT_TRUE(SenderOn(SendWindow::PageFinished));
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(target); }));
    EXPECT_EQ(firstPercent, QStringLiteral("50%"));
    EXPECT_EQ(chunks.front(), (QPair<qint64, qint64>{size / 2, kChunk}));
    EXPECT_EQ(ReadAll(target), content);
    EXPECT_TRUE(
        ReceiverBoxes().last().text.contains(QStringLiteral("当前位置文件已接收 50% 内容")));
}

TEST_F(Transfer, AdmissionAndVersionFailuresGiveTheSenderItsMessages) {
    Start();
    const QString path = MakeFile(QStringLiteral("x.bin"), Pattern(100));
    auto expectMessage = [&](const QString& text) {
        ASSERT_TRUE(WaitUntil([&] { return !SenderBoxes().isEmpty(); }));
        EXPECT_EQ(SenderBoxes().front().text, text);
        EXPECT_EQ(SenderBoxes().front().style, MessageStyleOf(MessageKind::Error, true));
        EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
        ASSERT_TRUE(BothIdle());
        EXPECT_FALSE(to.session.activity.offerWaiting());
        SenderBoxes().clear();
    };

    to.session.settings.passWord1 = Digest(QStringLiteral("芝麻开门"));
    Find<QCheckBox>(window.get(), "chkFSPW")->setChecked(true);
    Find<QLineEdit>(window.get(), "txtFSPW")->setText(QStringLiteral("芝麻关门"));
    Send(kAnswererAddress, path);
    expectMessage(
        QStringLiteral("发送连接请求失败:验证码无效。\r\n\r\n-没有使用验证码或验证码错误"));
    Find<QLineEdit>(window.get(), "txtFSPW")->setText(QStringLiteral("芝麻开门"));
    Send(kAnswererAddress, path);
    ASSERT_TRUE(OfferShown());
    to.receiver().findChild<QPushButton*>(QStringLiteral("cmdRefuse"))->click();
    ASSERT_TRUE(SenderOn(SendWindow::PageRefused));
    window->ResultConfirmed();
    ASSERT_TRUE(BothIdle());
    to.session.settings.passWord1.clear();

    to.session.blockList = QStringList{QStringLiteral("127.000.000.002")};
    to.session.settings.blockText = QStringLiteral("暂不接收");
    Send(kAnswererAddress, path);
    expectMessage(
        QStringLiteral("发送连接请求失败:当前IP不在对方允许连接的范围内。\r\n\r\n附言:暂不接收"));
    to.session.blockList.clear();

    to.receiver().ControlLink().SetProtocolVersion(QString(QChar(WireUnit(0x00, 0x06))));
    Send(kAnswererAddress, path);
    expectMessage(QStringLiteral("无法继续:本地使用的版本太低,请升级后重试。"));
    to.receiver().ControlLink().SetProtocolVersion(QString(QChar(WireUnit(0x00, 0x04))));
    Send(kAnswererAddress, path);
    expectMessage(QStringLiteral("无法继续:对方使用的版本太低,请通知对方升级后重试。"));
}

TEST_F(Transfer, ScheduledSendDeliversInItsMinute) {
    to.ReceiveAutomatically();
    Start();
    const QByteArray content = Pattern(3000, 9);
    Find<QLineEdit>(window.get(), "txtFSInfo1")->setText(kAnswererAddress);
    Find<QLineEdit>(window.get(), "txtFSInfo2")
        ->setText(MakeFile(QStringLiteral("定时.txt"), content));
    Find<QCheckBox>(window.get(), "chkUseTime")->setChecked(true);
    Find<QSpinBox>(window.get(), "txtTime1")->setValue(8);
    Find<QSpinBox>(window.get(), "txtTime2")->setValue(6);
    from.fake.system->now = QDateTime(QDate(2007, 3, 5), QTime(8, 6, 0));
    window->ScheduleTick();
    EXPECT_FALSE(Find<QCheckBox>(window.get(), "chkUseTime")->isChecked());
    ASSERT_TRUE(SenderOn(SendWindow::PageFinished));
    const QString target = to.DownloadFolder() + QStringLiteral("定时.txt");
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(target); }));
    EXPECT_EQ(ReadAll(target), content);
    EXPECT_FALSE(window->ScheduleClockRunning());
}

}  // namespace
}  // namespace tvx::test
