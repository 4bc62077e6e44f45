#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "address/AddressPicker.h"
#include "common/Controls.h"
#include "common/Handshake.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "records/HistoryLog.h"
#include "records/PeerInfoWindow.h"
#include "support/Clicks.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/Render.h"
#include "support/ScriptedReceiver.h"
#include "transfer/SendWindow.h"

// The send window against a receiver that runs the protocol by script, on 127.0.0.2 and
// 127.0.0.3.
namespace tvx::test {
namespace {

using C = ProtocolCodes;

constexpr qint64 kChunk = 64 * 1024;

// A failure to reach the peer offers the doctor beside the box's own buttons.
MessageStyle WithDoctor(MessageStyle style) {
    style.actionButton = QStringLiteral("诊断...");
    return style;
}

class SenderNet : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        sender.session.appFolder = folder.path() + QLatin1Char('/');
        sender.session.settings.sendBufferBytes = kChunk;
        window = std::make_unique<SendWindow>(sender.session);
        window->SetPauseMs(0);
        window->SetCloseGraceMs(100);
        QObject::connect(
            window.get(), &SendWindow::ChunkSent, window.get(), [this](qint64 offset, qint64 size) {
                if (chunks.isEmpty()) {
                    firstPercent = ControlText(window.get(), QStringLiteral("lblSendProc11"));
                    firstWidth = Find<QProgressBar>(window.get(), "picBox")->value();
                }
                chunks.append({offset, size});
            });
        window->ShowSendWindow();
    }

    QString MakeFile(const QString& name, const QByteArray& content) {
        const QString path = folder.path() + QLatin1Char('/') + name;
        EXPECT_TRUE(WriteFile(path, content));
        return path;
    }

    void Fill(const QString& address, const QString& path, const QString& note = QString()) {
        Find<QLineEdit>(window.get(), "txtFSInfo1")->setText(address);
        Find<QLineEdit>(window.get(), "txtFSInfo2")->setText(path);
        Find<QPlainTextEdit>(window.get(), "txtFSInfo3")->setPlainText(note);
    }

    // Presses send and waits until the offer has reached the receiver.
    bool SendToOffer() {
        chunks.clear();
        receiver.offer.reset();
        receiver.bytes.clear();
        window->SendClicked();
        return WaitUntil([&] { return receiver.offer.has_value(); }) &&
               WaitUntil([&] { return window->WaitCounterRunning(); });
    }

    // Accepts from the offset and waits until every byte after it has arrived.
    bool AcceptAndReceive(qint64 offset) {
        receiver.Answer(BuildAcceptance(offset));
        const qint64 expected = receiver.offer->length - offset;
        return WaitUntil([&] { return receiver.bytes.size() >= expected; }) &&
               WaitUntil([&] { return window->Position() == receiver.offer->length; });
    }

    bool ReceiverListening() {
        return WaitUntil([&] { return receiver.link.state() == PeerLink::State::Listening; });
    }

    QList<ScriptedMessageBox::Shown>& Boxes() { return sender.fake.messageBox->shown; }

    QTemporaryDir folder;
    LoopbackPeer sender{kCallerAddress, QStringLiteral("小明")};
    LoopbackPeer peer{kAnswererAddress, QStringLiteral("小红")};
    ScriptedReceiver receiver{peer.session};
    std::unique_ptr<SendWindow> window;
    QList<QPair<qint64, qint64>> chunks;
    QString firstPercent;
    int firstWidth = -1;
};

// The offer's fields, the log entry and the bytes on the wire are the engine's
// (send_engine_net_test); here is what the window makes of them.
TEST_F(SenderNet, FileArrivesWithTheWaitingSendingAndFinishedPages) {
    const QByteArray content = Pattern(3 * kChunk + 123);
    const QString path = MakeFile(QStringLiteral("报告 1.bin"), content);
    Fill(QStringLiteral("127.0.0.3"), path, QStringLiteral("第一行\r\n第二行"));
    ASSERT_TRUE(receiver.Listen());

    ASSERT_TRUE(SendToOffer());
    // The note box's line breaks go out as the protocol's.
    EXPECT_EQ(receiver.offer->note, QStringLiteral("第一行\r\n第二行"));
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageConnecting);
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblLinkInfo1")),
              QStringLiteral("正在连接用户 127.0.0.3 ..."));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblLinkInfo4")),
              QStringLiteral("(已等待 0 秒)"));
    sender.fake.system->uptimeMs += 65000;
    window->Engine().WaitTick();
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblLinkInfo4")),
              QStringLiteral("(已等待 1 分 5 秒)"));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblFSTip2")),
              QStringLiteral("正在尝试连接对方计算机,并发送文件请求。"));
    EXPECT_TRUE(RenderToPng(*window, QStringLiteral("send-window-waiting")));

    ASSERT_TRUE(AcceptAndReceive(0));
    EXPECT_TRUE(sender.session.activity.sendWindowSending());
    EXPECT_FALSE(window->WaitCounterRunning());
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageSending);
    EXPECT_EQ(firstPercent, QStringLiteral("0%"));
    EXPECT_EQ(firstWidth, 1);
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblSendProc2")),
              QStringLiteral("127.0.0.3"));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblSendProc4")),
              QStringLiteral("报告 1.bin"));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblSendProc11")), QStringLiteral("100%"));
    EXPECT_EQ(Find<QProgressBar>(window.get(), "picBox")->value(), 278);
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblSendProc6")), QStringLiteral("192 KB"));
    window->Engine().SpeedTick();
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblSendProc8")),
              QStringLiteral("192 KB/S"));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblSendProc10")), QStringLiteral("0 秒"));
    EXPECT_TRUE(RenderToPng(*window, QStringLiteral("send-window-sending")));

    receiver.Answer(BuildCompletion());
    ASSERT_TRUE(WaitUntil([&] { return window->CurrentPage() == SendWindow::PageFinished; }));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblSendFinish")),
              QStringLiteral("文件已成功发送到 127.0.0.3 。\n\n源文件 ") + path +
                  QStringLiteral("\n\n完成时间 8:04:09 ,用时 0 秒。"));
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblFSTip2")),
              QStringLiteral("文件已发送完成。"));
    EXPECT_FALSE(sender.session.activity.sendWindowSending());
    EXPECT_FALSE(window->SpeedTickRunning());
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_TRUE(RenderToPng(*window, QStringLiteral("send-window-finished")));
    window->ResultConfirmed();
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
    EXPECT_TRUE(ReceiverListening());
}

TEST_F(SenderNet, TheTypedTvxAddressNamesThePeerUpperCased) {
    ASSERT_TRUE(receiver.Listen());
    const QString code = EncodeAddressCode(kAnswererAddress);
    Fill(code.toLower(), MakeFile(QStringLiteral("same.bin"), QByteArray(10, 'A')));
    ASSERT_TRUE(SendToOffer());
    ASSERT_TRUE(AcceptAndReceive(0));
    receiver.Answer(BuildCompletion());
    ASSERT_TRUE(WaitUntil([&] { return window->CurrentPage() == SendWindow::PageFinished; }));
    EXPECT_TRUE(ControlText(window.get(), QStringLiteral("lblSendFinish"))
                    .startsWith(QStringLiteral("文件已成功发送到 ") + code.toUpper()));
}

TEST_F(SenderNet, ResumeStartsAtTheOffsetAndBadOffsetsEndWithTheReadError) {
    ASSERT_TRUE(receiver.Listen());
    const QByteArray content = Pattern(4 * kChunk);
    Fill(kAnswererAddress, MakeFile(QStringLiteral("half.bin"), content));
    ASSERT_TRUE(SendToOffer());
    ASSERT_TRUE(AcceptAndReceive(2 * kChunk));
    EXPECT_EQ(receiver.Plain(), content.mid(2 * kChunk));
    EXPECT_EQ(chunks.front(), (QPair<qint64, qint64>{2 * kChunk, kChunk}));
    EXPECT_EQ(firstPercent, QStringLiteral("50%"));
    EXPECT_EQ(firstWidth, 139);
    // Speed and remaining time count only the bytes sent after the offset.
    window->Engine().SpeedTick();
    EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblSendProc8")),
              QStringLiteral("128 KB/S"));
    receiver.link.Reset();
    ASSERT_TRUE(WaitUntil([&] { return window->phase() == SendWindow::Phase::Idle; }));
    ASSERT_TRUE(ReceiverListening());
    window->ResultConfirmed();
    Boxes().clear();

    // An offset the engine refuses (its test has them all): the box and the input page.
    ASSERT_TRUE(SendToOffer());
    receiver.Answer(MessageBody(C::OfferAccepted, QStringLiteral("-1")));
    ASSERT_TRUE(WaitUntil([&] { return !Boxes().isEmpty(); }));
    EXPECT_EQ(Boxes().front().text, QStringLiteral("无法继续发送:读取文件时发生错误。"));
    EXPECT_EQ(Boxes().front().style, MessageStyleOf(MessageKind::Error, true));
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
    ASSERT_TRUE(ReceiverListening());
}

TEST_F(SenderNet, RefusalsAndCancelsGiveTheirPages) {
    ASSERT_TRUE(receiver.Listen());
    const QString path = MakeFile(QStringLiteral("a.bin"), Pattern(1000));
    Fill(kAnswererAddress, path);

    struct Case {
        QString answer;     // empty: accept, receive, then close without a word
        bool afterSending;  // the answer comes after the bytes
        int page;
        QString line;
        QString note;
    };
    const QString quoted = QStringLiteral("\"a.bin\"");
    const Case cases[] = {
        {BuildOfferRefused(QString()), false, SendWindow::PageRefused,
         QStringLiteral("对方用户 127.0.0.3 拒绝接收文件") + quoted + QStringLiteral("。"),
         QStringLiteral("(无)")},
        {BuildOfferRefused(QStringLiteral("不要了")), false, SendWindow::PageRefused,
         QStringLiteral("对方用户 127.0.0.3 拒绝接收文件") + quoted + QStringLiteral("。"),
         QStringLiteral("不要了")},
        {BuildOfferRefusedAuto(QStringLiteral(" 有附言 ")), false, SendWindow::PageAutoRefused,
         QStringLiteral("对方用户 127.0.0.3 自动拒绝接收文件") + quoted + QStringLiteral("。"),
         QStringLiteral("(对方用户可能不在计算机前)")},
        {BuildReceiverCancel(QStringLiteral("磁盘满了")), true, SendWindow::PageReceiverCancelled,
         QStringLiteral("对方用户 127.0.0.3 取消接收文件") + quoted +
             QStringLiteral(",目前已发送 100% 。"),
         QStringLiteral("磁盘满了")},
        {QString(), true, SendWindow::PageReceiverCancelled,
         QStringLiteral("对方用户 127.0.0.3 取消接收文件") + quoted +
             QStringLiteral(",目前已发送 100% 。"),
         QStringLiteral("(无)")},
    };
    const char16_t* tips[] = {u"",
                              u"",
                              u"",
                              u"",
                              u"",
                              u"对方用户拒绝接收文件。",
                              u"对方用户自动拒收文件。",
                              u"对方用户取消接收文件。"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        window->hide();
        ASSERT_TRUE(SendToOffer());
        if (c.afterSending) {
            ASSERT_TRUE(AcceptAndReceive(0));
        }
        if (c.answer.isEmpty()) {
            receiver.link.Reset();
        } else {
            receiver.Answer(c.answer);
        }
        ASSERT_TRUE(WaitUntil([&] { return window->CurrentPage() == c.page; }));
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(ControlText(window.get(), QStringLiteral("lblFSTip2")),
                  QString::fromUtf16(tips[c.page]));
        const QString name = c.page == SendWindow::PageRefused ? QStringLiteral("RefuRecv")
                             : c.page == SendWindow::PageAutoRefused
                                 ? QStringLiteral("AutoRefuRecv")
                                 : QStringLiteral("CanclRecv");
        EXPECT_EQ(ControlText(window.get(), QStringLiteral("lbl") + name + QStringLiteral("1")),
                  c.line);
        EXPECT_EQ(ControlText(window.get(), QStringLiteral("txt") + name), c.note);
        EXPECT_EQ(window->phase(), SendWindow::Phase::Idle);
        EXPECT_FALSE(sender.session.activity.sendWindowSending());
        EXPECT_TRUE(Boxes().isEmpty());
        if (c.page == SendWindow::PageRefused) {
            EXPECT_TRUE(RenderToPng(*window, QStringLiteral("send-window-refused")));
        }
        // The page stays until "确定"; the close box hides the window and goes back to page 1.
        window->close();
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
        receiver.link.Reset();
        ASSERT_TRUE(ReceiverListening());
    }
}

TEST_F(SenderNet, SenderCancelAsksSendsTheNoteAndEndsWhenThePeerCloses) {
    ASSERT_TRUE(receiver.Listen());
    Fill(kAnswererAddress, MakeFile(QStringLiteral("c.bin"), Pattern(5000)));
    ASSERT_TRUE(SendToOffer());
    ASSERT_TRUE(AcceptAndReceive(0));
    // All bytes are out; the window waits on page 3 for the receiver's completion.
    ASSERT_EQ(window->CurrentPage(), SendWindow::PageSending);

    // The close box on page 3 asks; No keeps everything.
    sender.fake.messageBox->answers.enqueue(MessageAnswer::No);
    window->close();
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_EQ(Boxes().front().text, QStringLiteral("确实要取消正在发送的文件么？"));
    EXPECT_EQ(Boxes().front().style, MessageStyleOf(MessageKind::Ask));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageSending);

    // The receiver's address opens the peer's card.
    window->ReceiverClicked();
    PeerInfoWindow* card = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* info = qobject_cast<PeerInfoWindow*>(top))
            card = info;
    }
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(ControlText(card, QStringLiteral("txtGuestInfo1")), QStringLiteral("127.0.0.3"));
    EXPECT_EQ(ControlText(card, QStringLiteral("txtGuestInfo2")), QStringLiteral("小红"));
    EXPECT_EQ(ControlText(card, QStringLiteral("txtGuestInfo3")), QStringLiteral("女士"));
    card->close();

    Find<QLineEdit>(window.get(), "txtCancelSend")->setText(QStringLiteral("  不发了  "));
    sender.fake.messageBox->answers.enqueue(MessageAnswer::Yes);
    window->CancelSendingClicked();
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
    ASSERT_TRUE(WaitUntil([&] { return receiver.senderCancel.has_value(); }));
    EXPECT_EQ(*receiver.senderCancel, QStringLiteral("不发了"));
    EXPECT_TRUE(sender.session.activity.sendWindowSending());

    // The receiver resets on the cancel; its close ends the transfer without a message.
    receiver.link.Reset();
    ASSERT_TRUE(WaitUntil([&] { return window->phase() == SendWindow::Phase::Idle; }));
    EXPECT_FALSE(sender.session.activity.sendWindowSending());
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
    EXPECT_EQ(Boxes().size(), 2);
}

// The controls are wired to the engine: typing and clicking as a user does.
TEST_F(SenderNet, TypingAndClickingDriveTheTransfer) {
    ASSERT_TRUE(receiver.Listen());
    const QString path = MakeFile(QStringLiteral("u.bin"), Pattern(2000));
    const auto button = [&](const char* name) {
        auto* found = window->findChild<QPushButton*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    };
    auto* address = window->findChild<QLineEdit*>(QStringLiteral("txtFSInfo1"));
    auto* file = window->findChild<QLineEdit*>(QStringLiteral("txtFSInfo2"));
    ASSERT_TRUE(address && file);
    address->clear();
    QTest::keyClicks(address, QStringLiteral("127.0.0.3"));
    file->clear();
    QTest::keyClicks(file, path);

    // Send, then cancel while waiting for the answer.
    button("cmdDo3")->click();
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageConnecting);
    ASSERT_TRUE(WaitUntil([&] { return receiver.offer.has_value(); }));
    button("cmdDo4")->click();
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
    EXPECT_EQ(window->phase(), SendWindow::Phase::Idle);
    receiver.link.Reset();
    ASSERT_TRUE(ReceiverListening());

    // Send again, refused: "确定" goes back to the input page.
    receiver.offer.reset();
    button("cmdDo3")->click();
    ASSERT_TRUE(WaitUntil([&] { return window->WaitCounterRunning(); }));
    receiver.Answer(BuildOfferRefused(QStringLiteral("不用")));
    ASSERT_TRUE(WaitUntil([&] { return window->CurrentPage() == SendWindow::PageRefused; }));
    button("cmdRefuRecv")->click();
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
    receiver.link.Reset();
    ASSERT_TRUE(ReceiverListening());

    // Accepted: the typed cancel note goes out with "取消发送" after Yes.
    receiver.offer.reset();
    button("cmdDo3")->click();
    ASSERT_TRUE(WaitUntil([&] { return window->WaitCounterRunning(); }));
    ASSERT_TRUE(AcceptAndReceive(0));
    ASSERT_EQ(window->CurrentPage(), SendWindow::PageSending);
    QTest::keyClicks(window->findChild<QLineEdit*>(QStringLiteral("txtCancelSend")),
                     QStringLiteral("stop now"));
    sender.fake.messageBox->answers.enqueue(MessageAnswer::Yes);
    button("cmdSendProc")->click();
    ASSERT_TRUE(WaitUntil([&] { return receiver.senderCancel.has_value(); }));
    EXPECT_EQ(*receiver.senderCancel, QStringLiteral("stop now"));
    receiver.link.Reset();
    ASSERT_TRUE(WaitUntil([&] { return window->phase() == SendWindow::Phase::Idle; }));
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);

    // Nobody listens now: the ticked retry box and its count reach the engine.
    receiver.link.Stop();
    window->findChild<QCheckBox*>(QStringLiteral("chkAutoTry"))->click();
    auto* count = window->findChild<QSpinBox*>(QStringLiteral("txtAutoTryNum"));
    count->selectAll();
    QTest::keyClicks(count, QStringLiteral("3"));
    EXPECT_EQ(count->text(), QStringLiteral("3"));
    Boxes().clear();
    button("cmdDo3")->click();
    ASSERT_TRUE(WaitUntil([&] { return !Boxes().isEmpty(); }));
    EXPECT_EQ(Boxes().front().text, QStringLiteral("Tolvex已尝试连接对方指定次数,但并未成功。"));
    EXPECT_EQ(window->RetryCount(), 3);
}

TEST_F(SenderNet, AdmissionRefusalsAndVersionsGiveTheSenderItsMessages) {
    const QString path = MakeFile(QStringLiteral("v.bin"), Pattern(10));
    Fill(kAnswererAddress, path);
    ASSERT_TRUE(receiver.Listen());

    auto expectMessage = [&](const QString& text) {
        ASSERT_TRUE(WaitUntil([&] { return !Boxes().isEmpty(); }));
        EXPECT_EQ(Boxes().front().text, text);
        EXPECT_EQ(Boxes().front().style, MessageStyleOf(MessageKind::Error, true));
        EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
        EXPECT_EQ(window->phase(), SendWindow::Phase::Idle);
        EXPECT_FALSE(receiver.offer.has_value());
        Boxes().clear();
        ASSERT_TRUE(ReceiverListening());
    };

    // A wrong or missing verification code.
    peer.session.settings.passWord1 = Digest(QStringLiteral("暗号"));
    window->SendClicked();
    expectMessage(
        QStringLiteral("发送连接请求失败:验证码无效。\r\n\r\n-没有使用验证码或验证码错误"));
    Find<QCheckBox>(window.get(), "chkFSPW")->setChecked(true);
    EXPECT_TRUE(Find<QLineEdit>(window.get(), "txtFSPW")->isVisible());
    Find<QLineEdit>(window.get(), "txtFSPW")->setText(QStringLiteral("错的"));
    window->SendClicked();
    expectMessage(
        QStringLiteral("发送连接请求失败:验证码无效。\r\n\r\n-没有使用验证码或验证码错误"));
    Find<QLineEdit>(window.get(), "txtFSPW")->setText(QStringLiteral("暗号"));
    ASSERT_TRUE(SendToOffer());
    receiver.link.Reset();
    ASSERT_TRUE(WaitUntil([&] { return window->phase() == SendWindow::Phase::Idle; }));
    ASSERT_TRUE(ReceiverListening());
    receiver.offer.reset();
    Boxes().clear();
    Find<QCheckBox>(window.get(), "chkFSPW")->setChecked(false);
    peer.session.settings.passWord1.clear();

    // A sender on the block list.
    peer.session.settings.blockText = QStringLiteral(" 请勿打扰 ");
    peer.session.blockList = QStringList{kCallerAddress};
    window->SendClicked();
    expectMessage(
        QStringLiteral("发送连接请求失败:当前IP不在对方允许连接的范围内。\r\n\r\n附言:请勿打扰"));
    peer.session.blockList.clear();

    // Versions that differ either way.
    receiver.link.SetProtocolVersion(QString(QChar(WireUnit(0x00, 0x06))));
    window->SendClicked();
    expectMessage(QStringLiteral("无法继续:本地使用的版本太低,请升级后重试。"));
    receiver.link.SetProtocolVersion(QString(QChar(WireUnit(0x00, 0x04))));
    window->SendClicked();
    expectMessage(QStringLiteral("无法继续:对方使用的版本太低,请通知对方升级后重试。"));
}

TEST_F(SenderNet, RefusedConnectionsAreRetriedUpToTheCount) {
    // Nobody listens on 127.0.0.3:8510.
    Fill(kAnswererAddress, MakeFile(QStringLiteral("r.bin"), Pattern(10)));
    window->SendClicked();
    ASSERT_TRUE(WaitUntil([&] { return !Boxes().isEmpty(); }));
    EXPECT_EQ(Boxes().front().text,
              QStringLiteral("无法连接 127.0.0.3 ,原因可能是:\r\n\r\n-对方没有运行Tolvex"));
    EXPECT_EQ(Boxes().front().style, WithDoctor(MessageStyleOf(MessageKind::Error, true)));
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
    Boxes().clear();

    Find<QCheckBox>(window.get(), "chkAutoTry")->setChecked(true);
    Find<QSpinBox>(window.get(), "txtAutoTryNum")->setValue(2);
    QStringList counterLines;
    QObject::connect(&window->ControlLink().socket(), &Socket::Error, window.get(), [&] {
        counterLines << ControlText(window.get(), QStringLiteral("lblLinkInfo4"));
    });
    window->SendClicked();
    ASSERT_TRUE(WaitUntil([&] { return !Boxes().isEmpty(); }));
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_EQ(Boxes().front().text, QStringLiteral("Tolvex已尝试连接对方指定次数,但并未成功。"));
    EXPECT_EQ(Boxes().front().style, WithDoctor(MessageStyleOf(MessageKind::Error)));
    EXPECT_EQ(counterLines, (QStringList{QString(), QStringLiteral("(已尝试连接 1 次)")}));
    EXPECT_EQ(window->RetryCount(), 2);
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
    EXPECT_EQ(window->phase(), SendWindow::Phase::Idle);
}

TEST_F(SenderNet, SilentListenerTimesOutTheVerification) {
    RawEnd silent;
    ASSERT_EQ(silent.socket.Bind(kAnswererAddress, kFileControlPort), SocketError::None);
    ASSERT_EQ(silent.socket.Listen(), SocketError::None);
    window->SetVerificationTimeoutMs(300);
    Fill(kAnswererAddress, MakeFile(QStringLiteral("t.bin"), Pattern(10)));
    window->SendClicked();
    ASSERT_TRUE(WaitUntil([&] { return !Boxes().isEmpty(); }));
    EXPECT_EQ(Boxes().front().text, QStringLiteral("连接超时,请尝试重新连接。"));
    EXPECT_EQ(Boxes().front().style, WithDoctor(MessageStyleOf(MessageKind::Warning, true)));
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
}

TEST_F(SenderNet, TwentyTicksWithoutProgressEndTheTransfer) {
    ASSERT_TRUE(receiver.Listen());
    Fill(kAnswererAddress, MakeFile(QStringLiteral("s.bin"), Pattern(3000)));
    ASSERT_TRUE(SendToOffer());
    ASSERT_TRUE(AcceptAndReceive(0));
    window->Engine().SpeedTick();  // the bytes sent count as progress
    EXPECT_EQ(window->StallTicks(), 0);
    for (int tick = 1; tick <= 19; ++tick)
        window->Engine().SpeedTick();
    EXPECT_EQ(window->StallTicks(), 19);
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageSending);
    EXPECT_TRUE(Boxes().isEmpty());
    window->Engine().SpeedTick();
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_EQ(Boxes().front().text,
              QStringLiteral("超时:无法向 127.0.0.3 继续发送,原因可能是:\r\n\r\n-网络突然断开\r\n-"
                             "对方中途退出Tolvex\r\n-其它意外原因导致连接中断"));
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
    EXPECT_FALSE(sender.session.activity.sendWindowSending());
}

TEST_F(SenderNet, ScheduledSendStartsInItsMinuteAndClearsItsTickBox) {
    ASSERT_TRUE(receiver.Listen());
    Fill(kAnswererAddress, MakeFile(QStringLiteral("clock.bin"), Pattern(100)));
    Find<QCheckBox>(window.get(), "chkUseTime")->setChecked(true);
    EXPECT_EQ(Find<QSpinBox>(window.get(), "txtTime1")->text(), QStringLiteral("8"));
    EXPECT_EQ(Find<QSpinBox>(window.get(), "txtTime2")->text(), QStringLiteral("3"));
    EXPECT_TRUE(window->ScheduleClockRunning());
    Find<QSpinBox>(window.get(), "txtTime2")->setValue(5);

    window->ScheduleTick();  // 8:04: not yet
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageInput);
    sender.fake.system->now = QDateTime(QDate(2007, 3, 5), QTime(8, 5, 0));
    window->ScheduleTick();
    EXPECT_FALSE(Find<QCheckBox>(window.get(), "chkUseTime")->isChecked());
    EXPECT_FALSE(window->ScheduleClockRunning());
    EXPECT_FALSE(Find<QSpinBox>(window.get(), "txtTime1")->isVisible());
    EXPECT_EQ(window->CurrentPage(), SendWindow::PageConnecting);
    ASSERT_TRUE(WaitUntil([&] { return receiver.offer.has_value(); }));
    EXPECT_EQ(receiver.offer->fileName, QStringLiteral("clock.bin"));
}

}  // namespace
}  // namespace tvx::test
