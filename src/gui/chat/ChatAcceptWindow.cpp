#include "chat/ChatAcceptWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>

#include "chat/ChatPage.h"
#include "chat/ChatResponder.h"
#include "chat/Transcript.h"
#include "common/Format.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/Windows.h"
#include "records/PeerInfoWindow.h"
#include "records/PersonalInfo.h"
#include "session/Session.h"
#include "texts/ReceiveTexts.h"
#include "texts/SecurityTexts.h"

namespace tvx {

namespace {

constexpr int kNoteLimit = 200;
constexpr quint32 kInputColour = 0x000080FF;

QLineEdit* ReadOnlyBox(QWidget* parent, const QString& name) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    // Shown for reading; the keyboard starts at the refusal note and the buttons.
    box->setFocusPolicy(Qt::ClickFocus);
    return box;
}

}  // namespace

ChatAcceptWindow::ChatAcceptWindow(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_responder(new ChatResponder(session, this)) {
    setObjectName(QStringLiteral("ChatAcceptWindow"));
    setWindowTitle(QStringLiteral("交流接收"));
    BuildPages();

    ChatResponder* responder = m_responder;
    connect(responder, &ChatResponder::InvitationReceived, this,
            &ChatAcceptWindow::OnInvitationReceived);
    connect(responder, &ChatResponder::CountDown, this, [this](int secondsLeft) {
        m_chkAutoNo->setText(QString::number(secondsLeft) + QStringLiteral(" 秒后自动拒绝"));
    });
    connect(responder, &ChatResponder::CountDownExpired, this, [this] {
        m_timCRFlash.stop();
        hide();
    });
    connect(responder, &ChatResponder::BlinkWanted, this,
            [this] { emit InvitationWaiting(m_responder->peerNickName()); });
    connect(responder, &ChatResponder::ChatEntered, this, &ChatAcceptWindow::OnChatEntered);
    connect(responder, &ChatResponder::ChatSeconds, m_chat, &ChatPage::ShowElapsed);
    connect(responder, &ChatResponder::TextReceived, this, &ChatAcceptWindow::OnTextReceived);
    connect(responder, &ChatResponder::PeerLeftChat, this, &ChatAcceptWindow::OnPeerLeftChat);
    connect(responder, &ChatResponder::ConnectionLost, this, [this] {
        AppendSystemLine(m_chat->rtxChat(), SystemLineLost, m_responder->peerNickName(), QString(),
                         m_session.system().Now());
    });
    connect(responder, &ChatResponder::Reported, this, [this](const ChatAnswerOutcome& outcome) {
        const UserMessage message = ChatAnswerMessage(outcome);
        ShowMessage(m_session.messageBox(), this, message.text, message.kind, message.systemModal);
    });
    connect(responder, &ChatResponder::ResetDone, this, &ChatAcceptWindow::OnResetDone);
    connect(responder, &ChatResponder::ListenerFailed, this, &ChatAcceptWindow::OnListenerFailed);
    connect(m_txtRefusal, &QPlainTextEdit::textChanged, this,
            [this] { m_responder->SetRefusalNote(ToWireText(m_txtRefusal->toPlainText())); });

    m_timCRFlash.setInterval(1000);
    connect(&m_timCRFlash, &QTimer::timeout, this, &ChatAcceptWindow::FlashUntilSeen);

    resize(m_session.display.PixelsX(6600), m_session.display.PixelsY(6600));
}

ChatAcceptWindow::~ChatAcceptWindow() {
    Shutdown();
    delete m_peerInfo.data();
}

// ---- Layout ----

void ChatAcceptWindow::BuildPages() {
    for (int index : {1, 2}) {
        m_lblCRTip[index] = new QLabel(this);
        m_lblCRTip[index]->setObjectName(QStringLiteral("lblCRTip%1").arg(index));
    }
    QFont title = m_lblCRTip[1]->font();
    title.setBold(true);
    m_lblCRTip[1]->setFont(title);

    m_pages = new QStackedWidget(this);
    m_picCRbox[PageInvitation] = BuildInvitationPage();
    m_chat = new ChatPage(m_session, kInputColour, QStringLiteral("mnuCR"), m_pages);
    m_picCRbox[PageChat] = m_chat;
    for (int page : {1, 2}) {
        m_picCRbox[page]->setObjectName(QStringLiteral("picCRbox%1").arg(page));
        m_pages->addWidget(m_picCRbox[page]);
    }
    connect(m_chat, &ChatPage::SendClicked, this, &ChatAcceptWindow::SendText);
    connect(m_chat, &ChatPage::LeaveClicked, this, &ChatAcceptWindow::LeaveChat);
    connect(m_chat, &ChatPage::PeerInfoClicked, this, &ChatAcceptWindow::ShowPeerInfo);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_lblCRTip[1]);
    layout->addWidget(m_lblCRTip[2]);
    layout->addSpacing(4);
    layout->addWidget(m_pages, 1);
    ShowPage(PageInvitation);
}

QWidget* ChatAcceptWindow::BuildInvitationPage() {
    auto* page = new QWidget(m_pages);
    m_lblDesc0 = new QLabel(page);
    m_lblDesc0->setObjectName(QStringLiteral("lblDesc0"));
    m_lblDesc0->setCursor(Qt::PointingHandCursor);
    m_lblDesc0->setTextFormat(Qt::PlainText);
    m_lblDesc0->setStyleSheet(QStringLiteral("color: #0040C0; text-decoration: underline;"));
    m_lblDesc0->setToolTip(QStringLiteral("查看对方信息"));
    m_lblDesc0->installEventFilter(this);
    // Whether the connection is encrypted, with the inviter's code to compare.
    m_lblCRSecurity = new QLabel(page);
    m_lblCRSecurity->setObjectName(QStringLiteral("lblCRSecurity"));
    m_lblCRSecurity->setTextFormat(Qt::PlainText);
    m_lblCRSecurity->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lblCRSecurity->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("发送用户:"), page), 0, 0);
    grid->addWidget(m_lblDesc0, 0, 1, 1, 3);
    grid->addWidget(m_lblCRSecurity, 1, 1, 1, 3);
    const char16_t* captions[] = {u"", u"", u"性别:", u"年龄:", u"电话:", u"电邮:"};
    for (int index = 2; index <= 5; ++index)
        m_txtCRInfo[index] = ReadOnlyBox(page, QStringLiteral("txtCRInfo%1").arg(index));
    // Sex and age share a row, as do phone and e-mail.
    grid->addWidget(new QLabel(QString::fromUtf16(captions[2]), page), 2, 0);
    grid->addWidget(m_txtCRInfo[2], 2, 1);
    grid->addWidget(new QLabel(QString::fromUtf16(captions[3]), page), 2, 2);
    grid->addWidget(m_txtCRInfo[3], 2, 3);
    grid->addWidget(new QLabel(QString::fromUtf16(captions[4]), page), 3, 0);
    grid->addWidget(m_txtCRInfo[4], 3, 1);
    grid->addWidget(new QLabel(QString::fromUtf16(captions[5]), page), 3, 2);
    grid->addWidget(m_txtCRInfo[5], 3, 3);

    m_txtInvitation = new QPlainTextEdit(page);
    m_txtInvitation->setObjectName(QStringLiteral("txtCRInfo6"));
    m_txtInvitation->setReadOnly(true);
    m_txtInvitation->setFocusPolicy(Qt::ClickFocus);
    m_txtRefusal = new QPlainTextEdit(page);
    m_txtRefusal->setObjectName(QStringLiteral("txtCRInfo7"));
    m_txtRefusal->setTabChangesFocus(true);
    connect(m_txtRefusal, &QPlainTextEdit::textChanged, this, [this] {
        if (m_txtRefusal->toPlainText().size() > kNoteLimit) {
            m_txtRefusal->setPlainText(m_txtRefusal->toPlainText().left(kNoteLimit));
            m_txtRefusal->moveCursor(QTextCursor::End);
        }
    });
    grid->addWidget(new QLabel(QStringLiteral("附言:"), page), 4, 0, Qt::AlignTop);
    grid->addWidget(m_txtInvitation, 4, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("拒绝附言:"), page), 5, 0, Qt::AlignTop);
    grid->addWidget(m_txtRefusal, 5, 1, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(4, 3);
    grid->setRowStretch(5, 2);

    m_chkAutoNo = new QCheckBox(page);
    m_chkAutoNo->setObjectName(QStringLiteral("chkAutoNo"));
    connect(m_chkAutoNo, &QCheckBox::clicked, this, &ChatAcceptWindow::SwitchAutoRefusal);
    const char16_t* buttons[] = {u"", u"接受(&A)", u"拒绝(&R)"};
    auto* row = new QHBoxLayout;
    row->addWidget(m_chkAutoNo);
    row->addStretch();
    for (int index : {1, 2}) {
        m_cmdRecvQuery[index] = new QPushButton(QString::fromUtf16(buttons[index]), page);
        m_cmdRecvQuery[index]->setObjectName(QStringLiteral("cmdRecvQuery%1").arg(index));
        row->addWidget(m_cmdRecvQuery[index]);
    }
    connect(m_cmdRecvQuery[1], &QPushButton::clicked, this, &ChatAcceptWindow::AcceptInvitation);
    connect(m_cmdRecvQuery[2], &QPushButton::clicked, this, &ChatAcceptWindow::RefuseInvitation);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(grid, 1);
    layout->addLayout(row);
    return page;
}

void ChatAcceptWindow::ShowPage(int page) {
    for (int index : {1, 2})
        m_picCRbox[index]->setEnabled(index == page);
    m_pages->setCurrentIndex(page - 1);
}

int ChatAcceptWindow::CurrentPage() const {
    return m_pages->currentIndex() + 1;
}

// ---- Loading ----

bool ChatAcceptWindow::StartListening(QWidget* owner) {
    m_owner = owner;
    CenterForm(m_session.display, this);
    return m_responder->Load();
}

void ChatAcceptWindow::Shutdown() {
    m_timCRFlash.stop();
    m_responder->disconnect(this);
    m_responder->Shutdown();
}

void ChatAcceptWindow::OnListenerFailed(SocketError error) {
    // Nothing can answer invitations any more; the program ends after the message.
    const UserMessage message = ListenerFailureMessage(error);
    ShowMessage(m_session.messageBox(), m_owner ? m_owner : this, message.text, message.kind,
                message.systemModal);
    emit ListenerFailed();
}

// ---- Invitation ----

void ChatAcceptWindow::OnInvitationReceived(const QString& text, const QString& timestamp) {
    const QStringList fields = m_responder->peerFields();
    m_lblCRTip[1]->setText(QStringLiteral("收到邀请") + QStringLiteral(" (") + timestamp +
                           QStringLiteral(")"));
    m_lblCRTip[2]->setText(QStringLiteral("是否接受来自下列用户的交流邀请？"));
    m_lblDesc0->setText(fields.value(1));
    m_lblCRSecurity->setText(
        EncryptionLine(m_responder->encrypted(), m_responder->peerFingerprint()));
    m_txtCRInfo[2]->setText(SexWord(fields.value(2)));
    for (int index = 3; index <= 5; ++index) {
        m_txtCRInfo[index]->setText(fields.value(index));
        m_txtCRInfo[index]->setCursorPosition(0);
    }
    m_txtInvitation->setPlainText(text.isEmpty() ? EmptyNoteText() : FromWireText(text));
    // The refusal note keeps what the user last typed there.
    m_responder->SetRefusalNote(ToWireText(m_txtRefusal->toPlainText()));
    m_chkAutoNo->setChecked(true);
    m_chkAutoNo->setText(QString::number(ChatResponder::kCountDownSeconds) +
                         QStringLiteral(" 秒后自动拒绝"));
    ShowPage(PageInvitation);
    m_timCRFlash.start();
}

void ChatAcceptWindow::AcceptInvitation() {
    if (m_responder->phase() != ChatResponder::Phase::Invited)
        return;
    m_timCRFlash.stop();
    m_responder->Accept();
}

void ChatAcceptWindow::RefuseInvitation() {
    if (m_responder->phase() != ChatResponder::Phase::Invited)
        return;
    m_timCRFlash.stop();
    hide();
    m_responder->Refuse(ToWireText(m_txtRefusal->toPlainText()));
}

void ChatAcceptWindow::SwitchAutoRefusal() {
    m_responder->SetCountDownRunning(m_chkAutoNo->isChecked());
}

void ChatAcceptWindow::FlashUntilSeen() {
    FlashWindow(this);
    if (isActiveWindow())
        m_timCRFlash.stop();
}

void ChatAcceptWindow::ShowPeerInfo() {
    QStringList fields = m_responder->peerFields();
    while (fields.size() < 9)
        fields << QString();
    m_peerInfo = tvx::ShowPeerInfo(m_session, fields, m_responder->peerFingerprint());
}

// ---- Chat ----

void ChatAcceptWindow::OnChatEntered(bool automatically, const QString& timestamp) {
    m_timCRFlash.stop();
    m_lblCRTip[2]->setText(QStringLiteral("正在聊天中..."));
    m_chat->ShowElapsed(0);
    m_chat->ShowSecurity(m_responder->encrypted(), m_responder->peerFingerprint());
    if (automatically) {
        m_lblCRTip[1]->setText(QStringLiteral("收到邀请") + QStringLiteral(" (") + timestamp +
                               QStringLiteral(")"));
    } else {
        m_chat->rtxChat()->clear();
    }
    m_chat->ClearInput();
    AppendSystemLine(m_chat->rtxChat(), SystemLineEnter, m_responder->peerNickName(), QString(),
                     m_session.system().Now());
    ShowPage(PageChat);
    if (automatically)
        ActivateWindow(this);
    m_chat->FocusInput();
}

void ChatAcceptWindow::SendText() {
    m_chat->SendInput(m_responder->chatting(),
                      [this](const QString& styled) { return m_responder->SendChatText(styled); });
}

void ChatAcceptWindow::LeaveChat() {
    if (ShowMessage(m_session.messageBox(), this, QStringLiteral("确实要离开聊天室么？"),
                    MessageKind::Ask, false) == MessageAnswer::No)
        return;
    hide();
    m_responder->Leave();
}

void ChatAcceptWindow::OnTextReceived(const QString& styledText) {
    AppendChatLine(m_chat->rtxChat(), m_responder->peerNickName(), styledText,
                   m_session.system().Now());
    if (isMinimized())
        FlashWindow(this);
}

void ChatAcceptWindow::OnPeerLeftChat() {
    m_lblCRTip[2]->setText(QStringLiteral("对方用户离开聊天室。"));
    AppendSystemLine(m_chat->rtxChat(), SystemLineLeft, m_responder->peerNickName(), QString(),
                     m_session.system().Now());
    ActivateWindow(this);
}

void ChatAcceptWindow::OnResetDone(bool keepWindow) {
    m_timCRFlash.stop();
    if (!keepWindow)
        hide();
}

void ChatAcceptWindow::closeEvent(QCloseEvent* event) {
    // The window is never destroyed by its close box.
    event->ignore();
    if (CurrentPage() == PageChat) {
        LeaveChat();
    } else if (m_responder->phase() == ChatResponder::Phase::Invited) {
        RefuseInvitation();
    } else {
        hide();
    }
}

bool ChatAcceptWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_lblDesc0 && event->type() == QEvent::MouseButtonRelease) {
        ShowPeerInfo();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tvx
