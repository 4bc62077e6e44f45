#include "chat/ChatInviteWindow.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>

#include "address/AddressCode.h"
#include "address/AddressInput.h"
#include "chat/ChatInviter.h"
#include "chat/ChatPage.h"
#include "chat/Transcript.h"
#include "common/Controls.h"
#include "common/Format.h"
#include "common/Messages.h"
#include "common/RetryScheduleBox.h"
#include "common/Text.h"
#include "common/TrustQuestion.h"
#include "common/Windows.h"
#include "doctor/DoctorWindow.h"
#include "records/AddressFiles.h"
#include "records/AddressLists.h"
#include "records/PeerInfoWindow.h"
#include "records/Settings.h"
#include "session/Session.h"
#include "texts/SecurityTexts.h"
#include "texts/SendTexts.h"

namespace tvx {

namespace {

constexpr int kNoteLimit = 200;
constexpr quint32 kInputColour = 0x00FF8000;

const char16_t* const kPageTips[] = {
    u"",
    u"输入对方IP或TVX地址后即可发送交流邀请。",
    u"正在尝试连接对方计算机,并发送交流邀请。",
    u"正在聊天中...",
    u"对方用户拒绝接受邀请。",
    u"对方用户自动拒受邀请。",
};

// The address-book picture, as on the send window's button: a small bound book.
QPixmap AddressBookPicture() {
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0x40, 0x40, 0x80));
    painter.setBrush(QColor(0x50, 0x80, 0xD0));
    painter.drawRoundedRect(QRectF(3.5, 1.5, 10, 13), 1.5, 1.5);
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(6.5, 4.5, 5, 3));
    painter.setPen(QColor(0x30, 0x30, 0x30));
    for (int y : {4, 8, 12})
        painter.drawLine(QPointF(2, y), QPointF(4.5, y));
    return picture;
}

QLabel* NamedLabel(QWidget* parent, const QString& name, const QString& text = QString()) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

}  // namespace

ChatInviteWindow::ChatInviteWindow(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_inviter(new ChatInviter(session, this)) {
    setObjectName(QStringLiteral("ChatInviteWindow"));
    setWindowTitle(QStringLiteral("交流发送"));

    BuildPages();

    ChatInviter* inviter = m_inviter;
    connect(inviter, &ChatInviter::StageChanged, this, &ChatInviteWindow::OnStageChanged);
    connect(inviter, &ChatInviter::StepChanged, this, [this](int step) {
        if (step == 1)
            m_lblLinkInfo[4]->clear();
        ShowProgressStep(step);
    });
    connect(inviter, &ChatInviter::WaitSeconds, this,
            [this](qint64 seconds) { m_lblLinkInfo[4]->setText(SendWaitedLine(seconds)); });
    connect(inviter, &ChatInviter::Retrying, this,
            [this](int attempt) { m_lblLinkInfo[4]->setText(SendTriedLine(attempt)); });
    connect(inviter, &ChatInviter::ChatSeconds, m_chat, &ChatPage::ShowElapsed);
    connect(inviter, &ChatInviter::Refused, this, [this](const QString& note) {
        m_lblRefuRecv->setText(InviteRefusedLine(m_inviter->shownAddress()));
        m_txtRefuRecv->setPlainText(note.isEmpty() ? EmptyNoteText() : FromWireText(note));
    });
    connect(inviter, &ChatInviter::AutoRefused, this, [this] {
        m_lblAutoRefuRecv->setText(InviteAutoRefusedLine(m_inviter->shownAddress()));
        m_txtAutoRefuRecv->setPlainText(InviteAutoRefusedNote());
    });
    connect(inviter, &ChatInviter::TextReceived, this, &ChatInviteWindow::OnTextReceived);
    connect(inviter, &ChatInviter::PeerLeftChat, this, &ChatInviteWindow::OnPeerLeftChat);
    connect(inviter, &ChatInviter::ConnectionLost, this, [this] {
        AppendSystemLine(m_chat->rtxChat(), SystemLineLost, m_inviter->peerNickName(), QString(),
                         m_session.system().Now());
    });
    connect(inviter, &ChatInviter::Failed, this, &ChatInviteWindow::OnFailure);
    connect(inviter, &ChatInviter::LogWriteFailed, this, [this](const QString& warning) {
        ShowMessage(m_session.messageBox(), this, warning, MessageKind::Warning, false);
    });

    resize(m_session.display.PixelsX(6600), m_session.display.PixelsY(6600));
    CenterForm(m_session.display, this);
}

ChatInviteWindow::~ChatInviteWindow() {
    // The conversation ends with the window, without a word to the peer.
    m_inviter->disconnect(this);
    m_inviter->CloseChat();
    if (m_picker)
        m_picker->close();
    delete m_peerInfo.data();
}

// ---- Layout ----

void ChatInviteWindow::BuildPages() {
    m_lblCSTip[1] = NamedLabel(this, QStringLiteral("lblCSTip1"), QStringLiteral("发送邀请"));
    QFont title = m_lblCSTip[1]->font();
    title.setBold(true);
    m_lblCSTip[1]->setFont(title);
    m_lblCSTip[2] = NamedLabel(this, QStringLiteral("lblCSTip2"));

    m_pages = new QStackedWidget(this);
    m_pages->addWidget(new QWidget(m_pages));  // no page 0
    m_picCSbox[PageInput] = BuildInputPage();
    m_cmdCSDo[3] = new QPushButton(QStringLiteral("取消"), m_pages);
    m_steps = new ConnectingPage(QStringLiteral("连接成功,正在向对方发出邀请..."),
                                 InviteWaitingForAnswerLine(), m_cmdCSDo[3], m_pages);
    for (int index = 1; index <= 4; ++index)
        m_lblLinkInfo[index] = m_steps->Line(index);
    m_picCSbox[PageProgress] = m_steps;
    m_chat = new ChatPage(m_session, kInputColour, QStringLiteral("mnuCS"), m_pages);
    m_picCSbox[PageChat] = m_chat;
    m_picCSbox[PageRefused] = BuildRefusalPage(PageRefused, QStringLiteral("RefuRecv"));
    m_picCSbox[PageAutoRefused] = BuildRefusalPage(PageAutoRefused, QStringLiteral("AutoRefuRecv"));
    for (int page = 1; page <= 5; ++page) {
        m_picCSbox[page]->setObjectName(QStringLiteral("picCSbox%1").arg(page));
        m_pages->addWidget(m_picCSbox[page]);
    }
    for (int index = 1; index <= 3; ++index)
        m_cmdCSDo[index]->setObjectName(QStringLiteral("cmdCSDo%1").arg(index));
    connect(m_cmdCSDo[1], &QPushButton::clicked, this, &ChatInviteWindow::PickAddress);
    connect(m_cmdCSDo[2], &QPushButton::clicked, this, &ChatInviteWindow::StartInvitation);
    connect(m_cmdCSDo[3], &QPushButton::clicked, this, &ChatInviteWindow::CancelInvitation);
    connect(m_chat, &ChatPage::SendClicked, this, &ChatInviteWindow::SendText);
    connect(m_chat, &ChatPage::LeaveClicked, this, &ChatInviteWindow::LeaveChat);
    connect(m_chat, &ChatPage::PeerInfoClicked, this, &ChatInviteWindow::ShowPeerInfo);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_lblCSTip[1]);
    layout->addWidget(m_lblCSTip[2]);
    layout->addSpacing(4);
    layout->addWidget(m_pages, 1);
}

QWidget* ChatInviteWindow::BuildInputPage() {
    auto* page = new QWidget(m_pages);
    m_txtAddress = new QLineEdit(page);
    m_txtAddress->setObjectName(QStringLiteral("txtCSInfo1"));
    m_txtAddress->setMaxLength(15);
    m_txtAddress->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_txtAddress->installEventFilter(this);

    m_txtNote = new QPlainTextEdit(page);
    m_txtNote->setObjectName(QStringLiteral("txtCSInfo2"));
    m_txtNote->setTabChangesFocus(true);
    m_txtNote->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtNote->installEventFilter(this);
    LimitLength(m_txtNote, kNoteLimit);

    m_cmdCSDo[1] = new QPushButton(page);
    m_cmdCSDo[1]->setIcon(QIcon(AddressBookPicture()));
    m_cmdCSDo[1]->setToolTip(QStringLiteral("地址簿"));
    m_cmdCSDo[1]->setFixedSize(26, 24);
    m_cmdCSDo[2] = new QPushButton(QStringLiteral("发送邀请(&S)"), page);
    m_cmdCSDo[2]->setDefault(true);

    m_code = new CodeRow(QStringLiteral("chkCSPW"), QStringLiteral("txtCSPW"),
                         CodeRow::Look::Yellow, page);

    m_retry = new RetryScheduleBox(
        RetryScheduleBox::Arrangement::TwoRows, [this] { return m_session.system().Now().time(); },
        page);
    connect(m_retry, &RetryScheduleBox::ScheduleToggled, this,
            &ChatInviteWindow::UpdateScheduleClock);
    connect(m_retry, &RetryScheduleBox::ClockTicked, this, &ChatInviteWindow::CheckSchedule);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("对方地址:"), page), 0, 0);
    grid->addWidget(m_txtAddress, 0, 1);
    grid->addWidget(m_cmdCSDo[1], 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("附言:"), page), 1, 0, Qt::AlignTop);
    grid->addWidget(m_txtNote, 1, 1, 1, 2);
    grid->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdCSDo[2]);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(grid, 1);
    layout->addWidget(m_code);
    layout->addWidget(m_retry);
    layout->addLayout(buttons);

    return page;
}

QWidget* ChatInviteWindow::BuildRefusalPage(int page, const QString& name) {
    auto* widget = new QWidget(m_pages);
    QLabel* line = NamedLabel(widget, QStringLiteral("lbl%1").arg(name));
    line->setWordWrap(true);
    auto* note = new QPlainTextEdit(widget);
    note->setObjectName(QStringLiteral("txt%1").arg(name));
    note->setReadOnly(true);
    auto* button = new QPushButton(QStringLiteral("确定"), widget);
    // The refusal page's button keeps its historical spelling.
    button->setObjectName(page == PageRefused ? QStringLiteral("cmdRufuRecv")
                                              : QStringLiteral("cmdAutoRefuRecv"));
    connect(button, &QPushButton::clicked, this, &ChatInviteWindow::BackToInput);
    if (page == PageRefused) {
        m_lblRefuRecv = line;
        m_txtRefuRecv = note;
        m_cmdRufuRecv = button;
    } else {
        m_lblAutoRefuRecv = line;
        m_txtAutoRefuRecv = note;
        m_cmdAutoRefuRecv = button;
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(button);
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(line);
    layout->addWidget(new QLabel(QStringLiteral("拒绝附言:"), widget));
    layout->addWidget(note, 1);
    layout->addLayout(buttons);
    return widget;
}

int ChatInviteWindow::CurrentPage() const {
    return m_pages->currentIndex();
}

void ChatInviteWindow::ShowPage(int page) {
    for (int index = 1; index <= 5; ++index)
        m_picCSbox[index]->setEnabled(index == page);
    m_pages->setCurrentIndex(page);
    m_lblCSTip[2]->setText(QString::fromUtf16(kPageTips[page]));
}

void ChatInviteWindow::ShowProgressStep(int step) {
    if (step == 1)
        m_lblLinkInfo[1]->setText(QStringLiteral("正在连接 ") + m_inviter->shownAddress() +
                                  QStringLiteral(" ..."));
    m_steps->SetStep(step);
}

// ---- Loading and showing ----

void ChatInviteWindow::RestoreInputs() {
    m_loaded = true;
    if (m_session.settings.saveSendInfo2) {
        SettingsStore& store = m_session.store();
        m_txtAddress->setText(ReadSetting(store, QStringLiteral("Address2")));
        m_txtNote->setPlainText(FromWireText(ReadSetting(store, QStringLiteral("Message2"))));
    }
    ShowPage(PageInput);
}

void ChatInviteWindow::ShowChatWindow() {
    if (!m_loaded)
        RestoreInputs();
    BringForward(this);
}

void ChatInviteWindow::TakePickedAddress(const QString& address) {
    m_txtAddress->setText(address);
    ShowChatWindow();
}

QString ChatInviteWindow::NoteText() const {
    return ToWireText(m_txtNote->toPlainText());
}

qint64 ChatInviteWindow::Uptime() const {
    return UptimeSeconds(m_session.system().UptimeMs());
}

bool ChatInviteWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        if (watched == m_txtAddress) {
            TrimLineBox(m_txtAddress);
        } else if (watched == m_txtNote) {
            TrimNoteBox(m_txtNote);
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Input page ----

void ChatInviteWindow::UpdateScheduleClock() {
    // Ticking the box during a chat neither arms nor disarms the clock.
    if (m_session.activity.inviteWindowChatting())
        return;
    m_retry->RunClock(m_retry->scheduled());
}

void ChatInviteWindow::CheckSchedule() {
    if (!m_retry->IsDue())
        return;
    // A chat or an invitation under way is never replaced; the clock keeps waiting.
    if (CurrentPage() != PageInput || m_inviter->phase() != ChatInviter::Phase::Idle)
        return;
    m_retry->ClearSchedule();
    StartInvitation();
}

// ---- Invitation ----

void ChatInviteWindow::PickAddress() {
    PickAddressFor(m_session, this, PickerPurpose::ChatInvitation, m_picker,
                   [this](const QString& address) { TakePickedAddress(address); });
}

void ChatInviteWindow::CancelInvitation() {
    m_inviter->Cancel();
}

void ChatInviteWindow::StartInvitation() {
    // Only from the input page: a chat or an attempt in progress is never replaced.
    if (CurrentPage() != PageInput || m_inviter->phase() != ChatInviter::Phase::Idle)
        return;
    const QString target =
        CheckTargetAddress(m_session.messageBox(), this, m_txtAddress, m_session.localAddress);
    if (target.isEmpty())
        return;
    ChatInviter::Request request;
    request.peerAddress = target;
    request.shownAddress = m_txtAddress->text().toUpper();
    request.note = NoteText();
    if (m_code->ticked())
        request.verificationCode = m_code->code();
    request.autoRetry = m_retry->autoRetry();
    request.retryLimit = m_retry->retryLimit();
    if (m_session.settings.saveSendInfo2) {
        SettingsStore& store = m_session.store();
        WriteSetting(store, QStringLiteral("Address2"), request.shownAddress);
        WriteSetting(store, QStringLiteral("Message2"), request.note);
    }
    m_lblLinkInfo[4]->clear();
    m_inviter->StartInvitation(request);
}

void ChatInviteWindow::OnStageChanged(ChatInviter::Stage stage) {
    using Stage = ChatInviter::Stage;
    switch (stage) {
        case Stage::Input:
            ShowPage(PageInput);
            break;
        case Stage::Progress:
            ShowPage(PageProgress);
            break;
        case Stage::Chat:
            EnterChatPage();
            break;
        case Stage::Refused:
            ShowPage(PageRefused);
            ActivateWindow(this);
            break;
        case Stage::AutoRefused:
            ShowPage(PageAutoRefused);
            ActivateWindow(this);
            break;
    }
}

void ChatInviteWindow::EnterChatPage() {
    m_chat->ShowElapsed(0);
    m_chat->ShowSecurity(m_inviter->encrypted(), m_inviter->peerFingerprint());
    m_chat->ClearInput();
    m_chat->rtxChat()->clear();
    const bool automatically = m_inviter->acceptedAutomatically();
    AppendSystemLine(m_chat->rtxChat(), automatically ? SystemLineAutoEnter : SystemLineEnter,
                     m_inviter->peerNickName(), m_inviter->autoReplyText(),
                     m_session.system().Now());
    ShowPage(PageChat);
    ActivateWindow(this);
    m_chat->FocusInput();
}

void ChatInviteWindow::SendText() {
    m_chat->SendInput(m_inviter->chatting(),
                      [this](const QString& styled) { return m_inviter->SendChatText(styled); });
}

void ChatInviteWindow::LeaveChat() {
    if (ShowMessage(m_session.messageBox(), this, QStringLiteral("确实要离开聊天室么？"),
                    MessageKind::Ask, false) == MessageAnswer::No)
        return;
    // The chat may have ended while the question was open; leaving then only returns to input.
    m_inviter->Leave();
    ShowPage(PageInput);
}

void ChatInviteWindow::OnTextReceived(const QString& styledText) {
    AppendChatLine(m_chat->rtxChat(), m_inviter->peerNickName(), styledText,
                   m_session.system().Now());
    if (isMinimized())
        FlashWindow(this);
}

void ChatInviteWindow::OnPeerLeftChat() {
    m_lblCSTip[2]->setText(QStringLiteral("对方用户离开聊天室。"));
    AppendSystemLine(m_chat->rtxChat(), SystemLineLeft, m_inviter->peerNickName(), QString(),
                     m_session.system().Now());
    ActivateWindow(this);
}

void ChatInviteWindow::OnFailure(const InviteFailure& failure) {
    const UserMessage message = InviteFailureMessage(failure);
    if (OffersDoctor(failure))
        ShowReachFailure(m_session, this, message, m_inviter->request().peerAddress);
    else
        ShowMessage(m_session.messageBox(), this, message.text, message.kind, message.systemModal);
    if (failure.kind == InviteFailure::Kind::LinkRefused)
        AskToTrust(failure.refusal);
}

void ChatInviteWindow::AskToTrust(LinkRefusal refusal) {
    ChatInviter::Request again = m_inviter->request();
    if (!tvx::AskToTrust(m_session.messageBox(), this, refusal, again))
        return;
    // Started from the event loop: the inviter is still reporting the end of the last attempt.
    QMetaObject::invokeMethod(
        this,
        [this, again] {
            if (m_inviter->phase() != ChatInviter::Phase::Idle)
                return;
            m_lblLinkInfo[4]->clear();
            m_inviter->StartInvitation(again);
        },
        Qt::QueuedConnection);
}

void ChatInviteWindow::BackToInput() {
    ShowPage(PageInput);
}

void ChatInviteWindow::ShowPeerInfo() {
    QStringList fields = QStringList{m_inviter->shownAddress()} + m_inviter->peerFields();
    while (fields.size() < 9)
        fields << QString();
    m_peerInfo = tvx::ShowPeerInfo(m_session, fields, m_inviter->peerFingerprint());
}

void ChatInviteWindow::closeEvent(QCloseEvent* event) {
    // The window is never destroyed by its close box.
    event->ignore();
    switch (CurrentPage()) {
        case PageProgress:
            CancelInvitation();
            return;
        case PageChat:
            LeaveChat();
            return;
        default:
            hide();
            ShowPage(PageInput);
            return;
    }
}

}  // namespace tvx
