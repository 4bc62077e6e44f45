#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <memory>

#include "chat/ChatAcceptWindow.h"
#include "chat/ChatInviteWindow.h"
#include "chat/ChatInviter.h"
#include "chat/ChatPage.h"
#include "chat/ChatResponder.h"
#include "chat/Transcript.h"
#include "common/Controls.h"
#include "common/Messages.h"
#include "platform/Tray.h"
#include "protocol/Codes.h"
#include "records/PeerInfoWindow.h"
#include "support/Clicks.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/Render.h"
#include "support/TestPeer.h"

// Two complete copies in one process: the chat window of the copy on 127.0.0.2 invites the
// copy on 127.0.0.3, whose answering window its main window loaded at start. The users type
// and click into the windows; the seams answer their message boxes and dialogs.
namespace tvx::test {
namespace {

// The character format of the first character of text in the transcript.
QTextCharFormat FormatOf(QTextEdit* transcript, const QString& text) {
    const QTextCursor found = transcript->document()->find(text);
    if (found.isNull())
        return QTextCharFormat();
    QTextCursor at(transcript->document());
    at.setPosition(found.selectionStart() + 1);
    return at.charFormat();
}

// Types the text into the box key by key, as a person (or an input method) would.
void Type(QWidget* box, const QString& text) {
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            QTest::keyClick(box, Qt::Key_Return);
        } else if (c.unicode() < 128) {
            QTest::keyClick(box, char(c.unicode()));
        } else {
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
}

QString TranscriptText(QTextEdit* transcript) {
    return transcript->toPlainText();
}

class ChatWindows : public ::testing::Test {
protected:
    void Start() {
        ASSERT_TRUE(from.Start());
        ASSERT_TRUE(to.Start());
        // The chat window as the user opens it: from the tray menu.
        from.mainWindow->MenuEntry(2)->trigger();
        invite = from.mainWindow->ChatWindow();
        ASSERT_NE(invite, nullptr);
        invite->Inviter().SetPauseMs(0);
        accept = to.mainWindow->AcceptWindow();
        ASSERT_NE(accept, nullptr);
    }

    template <typename Control>
    Control* In(QWidget* window, const char* name) {
        auto* control = window->findChild<Control*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    void Click(QWidget* window, const char* name) {
        auto* button = In<QAbstractButton>(window, name);
        ASSERT_TRUE(button->isVisible() && button->isEnabled()) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // The inviting user types the address and the note and presses "发送邀请(&S)".
    void Invite(const QString& address, const QString& note = QString()) {
        auto* box = In<QLineEdit>(invite, "txtCSInfo1");
        box->clear();
        Type(box, address);
        auto* noteBox = In<QPlainTextEdit>(invite, "txtCSInfo2");
        noteBox->clear();
        Type(noteBox, note);
        Click(invite, "cmdCSDo2");
    }

    bool InvitationShown() {
        return WaitUntil([&] { return to.session.activity.invitationWaiting(); });
    }

    bool BothChatting() {
        return WaitUntil([&] {
            return invite->CurrentPage() == ChatInviteWindow::PageChat &&
                   accept->CurrentPage() == ChatAcceptWindow::PageChat &&
                   from.session.activity.inviteWindowChatting() &&
                   to.session.activity.acceptWindowChatting();
        });
    }

    bool BothIdle() {
        return WaitUntil([&] {
            return invite->Inviter().phase() == ChatInviter::Phase::Idle &&
                   accept->Responder().phase() == ChatResponder::Phase::Listening &&
                   accept->Responder().link().state() == PeerLink::State::Listening;
        });
    }

    // Types the text into a window's input box and presses "发送(&S)".
    void Say(QWidget* window, const QString& text) {
        Type(In<QTextEdit>(window, "txtChatText"), text);
        Click(window, "cmdChatDo1");
    }

    // Types the text and sends it with Ctrl+Enter (on the main keys or on the keypad).
    void SayWithKeys(QWidget* window, const QString& text, Qt::Key enter,
                     Qt::KeyboardModifiers modifiers) {
        auto* box = In<QTextEdit>(window, "txtChatText");
        Type(box, text);
        QTest::keyClick(box, enter, modifiers);
    }

    QTextEdit* TranscriptOf(QWidget* window) { return In<QTextEdit>(window, "rtxChat"); }

    TestPeer from{kCallerAddress, QStringLiteral("小明")};
    TestPeer to{kAnswererAddress, QStringLiteral("小红")};
    ChatInviteWindow* invite = nullptr;
    ChatAcceptWindow* accept = nullptr;
};

TEST_F(ChatWindows, InvitedByIpv4AcceptedByHandTextsBothWaysAndTheInviterLeaves) {
    from.fake.settings->values[QStringLiteral("SaveSendInfo2")] = QStringLiteral("1");
    Start();
    EXPECT_TRUE(invite->isVisible());
    EXPECT_EQ(invite->windowTitle(), QStringLiteral("交流发送"));
    EXPECT_EQ(ControlText(invite, QStringLiteral("lblCSTip1")), QStringLiteral("发送邀请"));
    EXPECT_EQ(ControlText(invite, QStringLiteral("lblCSTip2")),
              QStringLiteral("输入对方IP或TVX地址后即可发送交流邀请。"));
    EXPECT_EQ(ControlText(invite, QStringLiteral("txtAutoTryNum")), QStringLiteral("99"));
    EXPECT_FALSE(accept->isVisible());
    // The input page with every control showing, for the eye.
    In<QCheckBox>(invite, "chkCSPW")->click();
    In<QCheckBox>(invite, "chkAutoTry")->click();
    In<QCheckBox>(invite, "chkUseTime")->click();
    In<QLineEdit>(invite, "txtCSInfo1")->setText(QStringLiteral("127.0.0.3"));
    EXPECT_TRUE(RenderToPng(*invite, QStringLiteral("chat-invite-1-input")));
    for (const char* name : {"chkCSPW", "chkAutoTry", "chkUseTime"})
        In<QCheckBox>(invite, name)->click();

    Invite(QStringLiteral("127.0.0.3"), QStringLiteral("聊两句?"));
    ASSERT_TRUE(InvitationShown());
    // The remembered inputs went to the settings at the invitation.
    EXPECT_EQ(from.fake.settings->values.value(QStringLiteral("Address2")),
              QStringLiteral("127.0.0.3"));
    EXPECT_EQ(from.fake.settings->values.value(QStringLiteral("Message2")),
              QStringLiteral("聊两句?"));
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageProgress);
    ASSERT_TRUE(WaitUntil([&] {
        return ControlText(invite, QStringLiteral("lblLinkInfo4")) ==
               QStringLiteral("(已等待 0 秒)");
    }));
    EXPECT_EQ(ControlText(invite, QStringLiteral("lblLinkInfo1")),
              QStringLiteral("正在连接 127.0.0.3 ..."));
    EXPECT_TRUE(In<QLabel>(invite, "lblLinkInfo3")->font().bold());
    EXPECT_FALSE(In<QLabel>(invite, "lblLinkInfo1")->font().bold());

    // The answering side waits hidden with the invitation; the tray blinks until clicked.
    EXPECT_FALSE(accept->isVisible());
    EXPECT_TRUE(to.mainWindow->IsBlinking());
    EXPECT_EQ(accept->CurrentPage(), ChatAcceptWindow::PageInvitation);
    EXPECT_EQ(ControlText(accept, QStringLiteral("lblCRTip1")),
              QStringLiteral("收到邀请 (3月5日 8:04:09)"));
    EXPECT_EQ(ControlText(accept, QStringLiteral("lblCRTip2")),
              QStringLiteral("是否接受来自下列用户的交流邀请？"));
    EXPECT_EQ(ControlText(accept, QStringLiteral("lblDesc0")), QStringLiteral("小明"));
    EXPECT_EQ(ControlText(accept, QStringLiteral("txtCRInfo6")), QStringLiteral("聊两句?"));
    EXPECT_TRUE(In<QCheckBox>(accept, "chkAutoNo")->isChecked());
    EXPECT_EQ(ControlText(accept, QStringLiteral("chkAutoNo")), QStringLiteral("60 秒后自动拒绝"));
    // One desktop notification goes with it.
    const auto& raised = to.fake.notifications->raised;
    ASSERT_EQ(raised.size(), 1);
    EXPECT_EQ(raised[0].kind, NotifyKind::Invitation);
    EXPECT_EQ(raised[0].summary, QStringLiteral("收到文字交流邀请"));
    EXPECT_EQ(raised[0].body, QStringLiteral("小明 邀请你文字交流"));
    EXPECT_TRUE(RenderToPng(*invite, QStringLiteral("chat-invite-2-progress")));
    to.fake.tray->Send(TrayClick::Left);
    EXPECT_TRUE(accept->isVisible());
    EXPECT_FALSE(to.session.activity.invitationWaiting());
    EXPECT_TRUE(RenderToPng(*accept, QStringLiteral("chat-accept-1-invitation")));
    to.mainWindow->BlinkTrayIcon();
    EXPECT_FALSE(to.mainWindow->IsBlinking());

    Click(accept, "cmdRecvQuery1");
    ASSERT_TRUE(BothChatting());
    EXPECT_EQ(ControlText(invite, QStringLiteral("lblCSTip2")), QStringLiteral("正在聊天中..."));
    EXPECT_EQ(ControlText(accept, QStringLiteral("lblCRTip2")), QStringLiteral("正在聊天中..."));
    EXPECT_EQ(TranscriptText(TranscriptOf(invite)),
              QStringLiteral("小红 进入聊天室...[3月5日 8:04:09]\n"));
    EXPECT_EQ(TranscriptText(TranscriptOf(accept)),
              QStringLiteral("小明 进入聊天室...[3月5日 8:04:09]\n"));
    EXPECT_EQ(ControlText(invite, QStringLiteral("lblChat")), QStringLiteral("00:00:00"));

    // The peer's card from the chat page's third button and from the caller's name.
    Click(invite, "imgChatBtn3");
    ASSERT_NE(invite->PeerInfo(), nullptr);
    EXPECT_EQ(ControlText(invite->PeerInfo(), QStringLiteral("txtGuestInfo1")),
              QStringLiteral("127.0.0.3"));
    EXPECT_EQ(ControlText(invite->PeerInfo(), QStringLiteral("txtGuestInfo2")),
              QStringLiteral("小红"));
    invite->PeerInfo()->close();
    QTest::mouseClick(In<QLabel>(accept, "lblDesc0"), Qt::LeftButton);
    ASSERT_NE(accept->PeerInfo(), nullptr);
    EXPECT_EQ(ControlText(accept->PeerInfo(), QStringLiteral("txtGuestInfo1")),
              from.session.localAddressCode);
    EXPECT_EQ(ControlText(accept->PeerInfo(), QStringLiteral("txtGuestInfo2")),
              QStringLiteral("小明"));
    accept->PeerInfo()->close();

    // The inviter writes in bold, 16 points and a chosen colour; the line goes both ways.
    from.fake.dialogs->colors.enqueue(0x000000FF);  // red
    Click(invite, "imgChatBtn1");
    QMenu* font = In<QMenu>(invite, "mnuCSFont");
    MenuEntry(font, FontBold)->trigger();
    MenuEntry(font, FontSize16)->trigger();
    Say(invite, QStringLiteral(" 你好 world "));
    EXPECT_TRUE(ControlText(invite, QStringLiteral("txtChatText")).isEmpty());
    EXPECT_TRUE(TranscriptText(TranscriptOf(invite))
                    .endsWith(QStringLiteral("\n小明 8:04:09\n 你好 world ")));
    ASSERT_TRUE(WaitUntil([&] {
        return TranscriptText(TranscriptOf(accept)).contains(QStringLiteral(" 你好 world "));
    }));
    EXPECT_TRUE(TranscriptText(TranscriptOf(accept))
                    .endsWith(QStringLiteral("\n小明 8:04:09\n 你好 world ")));
    for (QTextEdit* transcript : {TranscriptOf(invite), TranscriptOf(accept)}) {
        const QTextCharFormat format = FormatOf(transcript, QStringLiteral("你好 world"));
        EXPECT_EQ(format.foreground().color(), QColor(255, 0, 0));
        EXPECT_EQ(format.fontWeight(), QFont::Bold);
        EXPECT_FALSE(format.fontItalic());
        EXPECT_EQ(format.fontPointSize(), 16);
        const QTextCharFormat header = FormatOf(transcript, QStringLiteral("小明 8:04:09"));
        EXPECT_EQ(header.foreground().color(), QColor(0xA0, 0xA0, 0xA0));
    }

    // The answer in the answering window's own colour (orange), italic and underlined.
    QMenu* acceptFont = In<QMenu>(accept, "mnuCRFont");
    MenuEntry(acceptFont, FontItalic)->trigger();
    MenuEntry(acceptFont, FontUnderline)->trigger();
    // Enter makes a new line; Ctrl+Enter sends as the button does.
    SayWithKeys(accept, QStringLiteral("收到\n第二行"), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(ControlText(accept, QStringLiteral("txtChatText")).isEmpty());
    ASSERT_TRUE(WaitUntil(
        [&] { return TranscriptText(TranscriptOf(invite)).contains(QStringLiteral("第二行")); }));
    EXPECT_TRUE(TranscriptText(TranscriptOf(invite))
                    .endsWith(QStringLiteral("\n小红 8:04:09\n收到\n第二行")));
    const QTextCharFormat answer = FormatOf(TranscriptOf(invite), QStringLiteral("收到"));
    EXPECT_EQ(answer.foreground().color(), QColor(255, 128, 0));
    EXPECT_TRUE(answer.fontItalic());
    EXPECT_TRUE(answer.fontUnderline());
    EXPECT_NE(answer.fontWeight(), QFont::Bold);
    EXPECT_EQ(answer.fontPointSize(), 9);
    EXPECT_TRUE(RenderToPng(*invite, QStringLiteral("chat-invite-3-chat")));
    EXPECT_TRUE(RenderToPng(*accept, QStringLiteral("chat-accept-2-chat")));

    // Only spaces and line breaks are not sent; the box is emptied.
    SayWithKeys(invite, QStringLiteral("   \n  "), Qt::Key_Enter,
                Qt::ControlModifier | Qt::KeypadModifier);
    EXPECT_TRUE(ControlText(invite, QStringLiteral("txtChatText")).isEmpty());
    EXPECT_FALSE(TranscriptText(TranscriptOf(invite)).endsWith(QStringLiteral("小明 8:04:09\n")));

    // Ticking the timed invitation during a chat does not arm it.
    In<QCheckBox>(invite, "chkUseTime")->setChecked(true);
    EXPECT_FALSE(invite->ScheduleClockRunning());
    In<QCheckBox>(invite, "chkUseTime")->setChecked(false);

    // The elapsed time runs on both sides.
    from.fake.system->uptimeMs += 65000;
    to.fake.system->uptimeMs += 3723000;
    EXPECT_TRUE(WaitUntil([&] {
        return ControlText(invite, QStringLiteral("lblChat")) == QStringLiteral("00:01:05") &&
               ControlText(accept, QStringLiteral("lblChat")) == QStringLiteral("01:02:03");
    }));

    // Ending the program now asks, naming the chat, on either side.
    for (TestPeer* peer : {&from, &to}) {
        peer->fake.messageBox->answers.enqueue(MessageAnswer::No);
        peer->fake.messageBox->shown.clear();
        peer->mainWindow->MenuEntry(12)->trigger();
        ASSERT_EQ(peer->fake.messageBox->shown.size(), 1);
        EXPECT_EQ(peer->fake.messageBox->shown.front().text,
                  QStringLiteral("确实要退出Tolvex么？当前正在进行的事件:\r\n\r\n"
                                 "    >> 正在文字交流...\r\n"));
    }

    // The inviting user leaves (answering the question with No first): the answering side
    // says that its peer left, keeps its transcript and refuses to send any more.
    from.fake.messageBox->answers.enqueue(MessageAnswer::No);
    Click(invite, "cmdChatDo2");
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageChat);
    Click(invite, "cmdChatDo2");
    EXPECT_EQ(from.fake.messageBox->shown.last().text, QStringLiteral("确实要离开聊天室么？"));
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageInput);
    ASSERT_TRUE(WaitUntil([&] { return !to.session.activity.acceptWindowChatting(); }));
    ASSERT_TRUE(BothIdle());
    EXPECT_TRUE(accept->isVisible());
    EXPECT_EQ(accept->CurrentPage(), ChatAcceptWindow::PageChat);
    EXPECT_EQ(ControlText(accept, QStringLiteral("lblCRTip2")),
              QStringLiteral("对方用户离开聊天室。"));
    EXPECT_TRUE(TranscriptText(TranscriptOf(accept))
                    .endsWith(QStringLiteral("收到\n第二行\n\n小明 已经离开聊天室...[3月5日 "
                                             "8:04:09]\n")));
    to.fake.messageBox->shown.clear();
    Say(accept, QStringLiteral("还在吗"));
    ASSERT_EQ(to.fake.messageBox->shown.size(), 1);
    EXPECT_EQ(to.fake.messageBox->shown.front().text,
              QStringLiteral("无法发送,对方已离开聊天室。"));
    EXPECT_TRUE(RenderToPng(*accept, QStringLiteral("chat-accept-3-peer-left")));
    EXPECT_FALSE(from.session.activity.inviteWindowChatting());
    // The inviter's own leave is not reported to it as the peer leaving.
    EXPECT_FALSE(TranscriptText(TranscriptOf(invite)).contains(QStringLiteral("已经离开")));

    // The answering window, still open from that chat, turns to the next invitation at once;
    // accepting it by hand starts the transcript afresh.
    Click(invite, "cmdCSDo2");
    ASSERT_TRUE(InvitationShown());
    EXPECT_TRUE(accept->isVisible());
    EXPECT_EQ(accept->CurrentPage(), ChatAcceptWindow::PageInvitation);
    EXPECT_EQ(ControlText(accept, QStringLiteral("txtCRInfo6")), QStringLiteral("聊两句?"));
    Click(accept, "cmdRecvQuery1");
    ASSERT_TRUE(BothChatting());
    EXPECT_EQ(TranscriptText(TranscriptOf(accept)),
              QStringLiteral("小明 进入聊天室...[3月5日 8:04:09]\n"));
}

TEST_F(ChatWindows, InvitedByTvxAcceptedAutomaticallyTheAnswererLeavesThenCloseBoxes) {
    to.fake.settings->values[QStringLiteral("AutoChat")] = QStringLiteral("1");
    to.fake.settings->values[QStringLiteral("AutoChatTip")] = QStringLiteral("稍后回复你");
    Start();
    Invite(to.session.localAddressCode);
    ASSERT_TRUE(BothChatting());
    // The answering window came forward by itself; nothing blinks, nothing waits.
    EXPECT_TRUE(accept->isVisible());
    EXPECT_FALSE(to.mainWindow->IsBlinking());
    EXPECT_FALSE(to.session.activity.invitationWaiting());
    EXPECT_EQ(ControlText(accept, QStringLiteral("lblCRTip1")),
              QStringLiteral("收到邀请 (3月5日 8:04:09)"));
    EXPECT_EQ(TranscriptText(TranscriptOf(invite)),
              QStringLiteral("小红 自动进入聊天室...[3月5日 8:04:09]\n稍后回复你\n"));
    EXPECT_EQ(FormatOf(TranscriptOf(invite), QStringLiteral("稍后回复你")).foreground().color(),
              QColor(0xA0, 0xA0, 0xA0));

    Say(accept, QStringLiteral("我回来了"));
    ASSERT_TRUE(WaitUntil(
        [&] { return TranscriptText(TranscriptOf(invite)).contains(QStringLiteral("我回来了")); }));

    // The answering user closes its window during the chat: the leave question, then hidden.
    accept->close();
    EXPECT_EQ(to.fake.messageBox->shown.last().text, QStringLiteral("确实要离开聊天室么？"));
    EXPECT_FALSE(accept->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return !from.session.activity.inviteWindowChatting(); }));
    ASSERT_TRUE(BothIdle());
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageChat);
    EXPECT_EQ(ControlText(invite, QStringLiteral("lblCSTip2")),
              QStringLiteral("对方用户离开聊天室。"));
    EXPECT_TRUE(TranscriptText(TranscriptOf(invite))
                    .endsWith(QStringLiteral("我回来了\n\n小红 已经离开聊天室...[3月5日 "
                                             "8:04:09]\n")));
    from.fake.messageBox->shown.clear();
    Say(invite, QStringLiteral("喂"));
    ASSERT_EQ(from.fake.messageBox->shown.size(), 1);
    EXPECT_EQ(from.fake.messageBox->shown.front().text,
              QStringLiteral("无法发送,对方已离开聊天室。"));
    EXPECT_TRUE(RenderToPng(*invite, QStringLiteral("chat-invite-3-peer-left")));

    // The close box on the ended chat asks and returns to the input page; the window stays.
    invite->close();
    EXPECT_EQ(from.fake.messageBox->shown.last().text, QStringLiteral("确实要离开聊天室么？"));
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageInput);
    EXPECT_TRUE(invite->isVisible());
    // On the input page it hides the window, which keeps what was typed.
    invite->close();
    EXPECT_FALSE(invite->isVisible());
    from.mainWindow->MenuEntry(2)->trigger();
    EXPECT_TRUE(invite->isVisible());
    EXPECT_EQ(ControlText(invite, QStringLiteral("txtCSInfo1")), to.session.localAddressCode);
}

TEST_F(ChatWindows, RefusalCancelAndThePickedAddress) {
    ASSERT_TRUE(WriteFile(from.session.appFolder + QStringLiteral("Address.dat"),
                          QByteArray("Hong|127.0.0.3\r\n")));
    Start();

    // A peer that does not run the program: the message, and the input page again.
    Invite(QStringLiteral("127.0.0.4"));
    ASSERT_TRUE(WaitUntil([&] { return !from.fake.messageBox->shown.isEmpty(); }));
    EXPECT_EQ(from.fake.messageBox->shown.front().text,
              QStringLiteral("无法连接 127.0.0.4 ,原因可能是:\r\n\r\n-对方没有运行Tolvex"));
    EXPECT_EQ(from.fake.messageBox->shown.front().style.actionButton, QStringLiteral("诊断..."));
    EXPECT_EQ(from.fake.messageBox->shown.front().owner, invite);
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageInput);
    from.fake.messageBox->shown.clear();

    // The address book button opens the picker; a double click fills the address box.
    Click(invite, "cmdCSDo1");
    AddressPicker* picker = invite->Picker();
    ASSERT_NE(picker, nullptr);
    ASSERT_EQ(Find<QListWidget>(picker, "lstUser")->count(), 1);
    Find<QListWidget>(picker, "lstUser")->setCurrentRow(0);
    picker->PickSelectedEntry();
    EXPECT_EQ(ControlText(invite, QStringLiteral("txtCSInfo1")), QStringLiteral("127.0.0.3"));

    // Refused by the close box of the answering window, without a note.
    Click(invite, "cmdCSDo2");
    ASSERT_TRUE(InvitationShown());
    to.fake.tray->Send(TrayClick::Left);
    ASSERT_TRUE(accept->isVisible());
    accept->close();
    EXPECT_FALSE(accept->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return invite->CurrentPage() == ChatInviteWindow::PageRefused; }));
    EXPECT_EQ(ControlText(invite, QStringLiteral("lblCSTip2")),
              QStringLiteral("对方用户拒绝接受邀请。"));
    EXPECT_EQ(ControlText(invite, QStringLiteral("lblRefuRecv")),
              QStringLiteral("对方用户 127.0.0.3 拒绝接受邀请。"));
    EXPECT_EQ(ControlText(invite, QStringLiteral("txtRefuRecv")), QStringLiteral("(无)"));
    EXPECT_TRUE(RenderToPng(*invite, QStringLiteral("chat-invite-4-refused")));
    ASSERT_TRUE(BothIdle());
    Click(invite, "cmdRufuRecv");
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageInput);

    // Refused by hand with a note typed in the answering window: trimmed on the way. The
    // count-down runs meanwhile and stops when its box is cleared.
    Click(invite, "cmdCSDo2");
    ASSERT_TRUE(InvitationShown());
    ASSERT_TRUE(WaitUntil([&] {
        return ControlText(accept, QStringLiteral("chkAutoNo")) ==
               QStringLiteral("59 秒后自动拒绝");
    }));
    to.fake.tray->Send(TrayClick::Left);
    Click(accept, "chkAutoNo");
    EXPECT_FALSE(accept->Responder().countDownRunning());
    Type(In<QPlainTextEdit>(accept, "txtCRInfo7"), QStringLiteral("  在开会  "));
    Click(accept, "cmdRecvQuery2");
    EXPECT_FALSE(accept->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return invite->CurrentPage() == ChatInviteWindow::PageRefused; }));
    EXPECT_EQ(ControlText(invite, QStringLiteral("txtRefuRecv")), QStringLiteral("在开会"));
    ASSERT_TRUE(BothIdle());
    // The close box on an outcome page hides the window and shows the input page.
    invite->close();
    EXPECT_FALSE(invite->isVisible());
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageInput);

    // The invitation set for 8:04 goes out when the clock reaches it; the close box while it
    // waits acts as "取消" and the answering side gives up.
    from.mainWindow->MenuEntry(2)->trigger();
    Click(invite, "chkUseTime");
    EXPECT_EQ(ControlText(invite, QStringLiteral("txtTime2")), QStringLiteral("3"));
    EXPECT_TRUE(invite->ScheduleClockRunning());
    invite->CheckSchedule();
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageInput);
    In<QSpinBox>(invite, "txtTime2")->setValue(4);
    invite->CheckSchedule();
    EXPECT_FALSE(In<QCheckBox>(invite, "chkUseTime")->isChecked());
    EXPECT_FALSE(invite->ScheduleClockRunning());
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageProgress);
    ASSERT_TRUE(InvitationShown());
    ASSERT_TRUE(WaitUntil([&] {
        return ControlText(invite, QStringLiteral("lblLinkInfo4"))
            .startsWith(QStringLiteral("(已等待"));
    }));
    invite->close();
    EXPECT_TRUE(invite->isVisible());
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageInput);
    ASSERT_TRUE(BothIdle());
    EXPECT_FALSE(to.session.activity.invitationWaiting());
    EXPECT_FALSE(accept->isVisible());
    EXPECT_TRUE(from.fake.messageBox->shown.isEmpty());

    // The page of an automatic refusal never shows the note that came with it.
    emit invite->Inviter().AutoRefused(QStringLiteral("不在"));
    emit invite->Inviter().StageChanged(ChatInviter::Stage::AutoRefused);
    EXPECT_EQ(ControlText(invite, QStringLiteral("lblCSTip2")),
              QStringLiteral("对方用户自动拒受邀请。"));
    EXPECT_EQ(ControlText(invite, QStringLiteral("lblAutoRefuRecv")),
              QStringLiteral("对方用户 127.0.0.3 自动拒绝接受邀请。"));
    EXPECT_EQ(ControlText(invite, QStringLiteral("txtAutoRefuRecv")),
              QStringLiteral("(对方用户可能不在计算机前)"));
    EXPECT_TRUE(RenderToPng(*invite, QStringLiteral("chat-invite-5-auto-refused")));
    Click(invite, "cmdAutoRefuRecv");
    EXPECT_EQ(invite->CurrentPage(), ChatInviteWindow::PageInput);
}

// What the responder reports shows in the accept window's boxes with today's texts.
TEST(ChatListener, ReportedOutcomesShowTheirMessages) {
    TestPeer peer(kAnswererAddress, QStringLiteral("小红"));
    ASSERT_TRUE(peer.Start());
    ChatAcceptWindow* accept = peer.mainWindow->AcceptWindow();
    ASSERT_NE(accept, nullptr);
    using K = ChatAnswerOutcome::Kind;
    const struct {
        K kind;
        QString text;
        MessageStyle style;
    } cases[] = {
        {K::ConnectionLost,
         QStringLiteral("无法与 小明 继续交流,原因可能是:\r\n\r\n-网络突然断开\r\n-"
                        "对方中途退出Tolvex\r\n-其它意外原因导致连接中断"),
         MessageStyleOf(MessageKind::Error, true)},
        {K::NetworkError, QStringLiteral("网络连接发生未知错误而断开。"),
         MessageStyleOf(MessageKind::Error, true)},
        {K::HistoryNotWritten, QStringLiteral("history: disk full"),
         MessageStyleOf(MessageKind::Warning, false)},
    };
    for (const auto& c : cases) {
        ChatAnswerOutcome outcome;
        outcome.kind = c.kind;
        outcome.peerName = QStringLiteral("小明");
        outcome.systemError = QStringLiteral("history: disk full");
        emit accept->Responder().Reported(outcome);
        ASSERT_FALSE(peer.fake.messageBox->shown.isEmpty());
        EXPECT_EQ(peer.fake.messageBox->shown.last().text, c.text);
        EXPECT_EQ(peer.fake.messageBox->shown.last().style, c.style);
        EXPECT_EQ(peer.fake.messageBox->shown.last().owner, accept);
    }
}

TEST(ChatListener, PortInUseEndsTheProgramWithTheMainWindowsMessage) {
    Socket squatter;
    ASSERT_EQ(squatter.Bind(kAnswererAddress, kChatPort), SocketError::None);
    ASSERT_EQ(squatter.Listen(), SocketError::None);
    TestPeer peer(kAnswererAddress, QStringLiteral("小红"));
    peer.mainWindow = std::make_unique<MainWindow>(peer.session);
    QSignalSpy ended(peer.mainWindow.get(), &MainWindow::ProgramEnded);
    EXPECT_FALSE(peer.mainWindow->Start());
    ASSERT_EQ(peer.fake.messageBox->shown.size(), 1);
    const ScriptedMessageBox::Shown& shown = peer.fake.messageBox->shown.front();
    EXPECT_EQ(shown.text, QStringLiteral("Tolvex不能运行:端口已被其它程序使用。"));
    EXPECT_EQ(shown.owner, peer.mainWindow.get());
    EXPECT_EQ(shown.style, MessageStyleOf(MessageKind::Error, true));
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(peer.fake.tray->shown);
}

}  // namespace
}  // namespace tvx::test
