#include "chat/ChatInviteWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>

#include "address/AddressCode.h"
#include "address/AddressInput.h"
#include "chat/ChatInviter.h"
#include "chat/ChatPage.h"
#include "chat/Transcript.h"
#include "common/Format.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/Windows.h"
#include "records/AddressFiles.h"
#include "records/AddressLists.h"
#include "records/PeerInfoWindow.h"
#include "records/Settings.h"
#include "session/Session.h"
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

// Multi-line boxes hold "\n"; notes travel and are stored with "\r\n".
QString ToWireText(const QString& boxText) {
    return QString(boxText).replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

QString ToBoxText(const QString& wireText) {
    return QString(wireText).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// The right-pointing marker beside the current step of the progress page.
QPixmap PointerPicture() {
    QPixmap picture(12, 12);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x20, 0x60, 0xC0));
    const QPointF points[] = {{2, 1}, {11, 6}, {2, 11}};
    painter.drawPolygon(points, 3);
    return picture;
}

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

// A digits-only box of at most three characters beside its spinner.
QLineEdit* NumberBox(QWidget* parent, const QString& name) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setMaxLength(3);
    box->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), box));
    box->setFixedWidth(36);
    return box;
}

QScrollBar* Spinner(QWidget* parent, const QString& name, int low, int high) {
    auto* spinner = new QScrollBar(Qt::Vertical, parent);
    spinner->setObjectName(name);
    spinner->setRange(low, high);
    spinner->setPageStep(1);
    // Up raises the value, as a spinner does.
    spinner->setInvertedAppearance(true);
    spinner->setInvertedControls(true);
    spinner->setFixedSize(16, 24);
    return spinner;
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
    connect(inviter, &ChatInviter::PageChanged, this, &ChatInviteWindow::OnPageChanged);
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
        m_lblRefuRecv->setText(QStringLiteral("对方用户 ") + m_inviter->shownAddress() +
                               QStringLiteral(" 拒绝接受邀请。"));
        m_txtRefuRecv->setPlainText(note.isEmpty() ? QStringLiteral("(无)") : ToBoxText(note));
    });
    connect(inviter, &ChatInviter::AutoRefused, this, [this] {
        m_lblAutoRefuRecv->setText(QStringLiteral("对方用户 ") + m_inviter->shownAddress() +
                                   QStringLiteral(" 自动拒绝接受邀请。"));
        m_txtAutoRefuRecv->setPlainText(QStringLiteral("(对方用户可能不在计算机前)"));
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

    m_timSend.setInterval(1000);
    connect(&m_timSend, &QTimer::timeout, this, &ChatInviteWindow::CheckSchedule);

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
    m_picCSbox[PageProgress] = BuildProgressPage();
    m_chat = new ChatPage(m_session, kInputColour, QStringLiteral("mnuCS"), m_pages);
    m_picCSbox[PageChat] = m_chat;
    m_picCSbox[PageRefused] = BuildRefusalPage(PageRefused, QStringLiteral("RefuRecv"));
    m_picCSbox[PageAutoRefused] = BuildRefusalPage(PageAutoRefused, QStringLiteral("AutoRefuRecv"));
    for (int page = 1; page <= 5; ++page) {
        m_picCSbox[page]->setObjectName(QStringLiteral("picCSbox%1").arg(page));
        m_pages->addWidget(m_picCSbox[page]);
    }
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
    connect(m_txtNote, &QPlainTextEdit::textChanged, this, [this] {
        if (m_txtNote->toPlainText().size() > kNoteLimit) {
            m_txtNote->setPlainText(m_txtNote->toPlainText().left(kNoteLimit));
            m_txtNote->moveCursor(QTextCursor::End);
        }
    });

    m_cmdCSDo[1] = new QPushButton(page);
    m_cmdCSDo[1]->setIcon(QIcon(AddressBookPicture()));
    m_cmdCSDo[1]->setToolTip(QStringLiteral("地址簿"));
    m_cmdCSDo[1]->setFixedSize(26, 24);
    m_cmdCSDo[2] = new QPushButton(QStringLiteral("发送邀请(&S)"), page);
    m_cmdCSDo[2]->setDefault(true);

    m_chkCSPW = new QCheckBox(QStringLiteral("使用验证码"), page);
    m_chkCSPW->setObjectName(QStringLiteral("chkCSPW"));
    m_txtCSPW = new QLineEdit(page);
    m_txtCSPW->setObjectName(QStringLiteral("txtCSPW"));
    m_txtCSPW->setMaxLength(15);
    m_txtCSPW->setEchoMode(QLineEdit::Password);
    m_txtCSPW->setStyleSheet(
        QStringLiteral("lineedit-password-character: 42; background-color: #FFFFE1;"));
    m_txtCSPW->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_txtCSPW->setVisible(false);
    m_chkCSPW->setToolTip(QStringLiteral("勾选并在这里输入对方设置的验证码"));
    connect(m_chkCSPW, &QCheckBox::clicked, this, &ChatInviteWindow::ToggleCodeBox);
    SetLeftMargin(m_txtCSPW, 2);

    m_chkAutoTry = new QCheckBox(QStringLiteral("自动重试(次)"), page);
    m_chkAutoTry->setObjectName(QStringLiteral("chkAutoTry"));
    m_txtAutoTryNum = NumberBox(page, QStringLiteral("txtAutoTryNum"));
    m_vsbAutoTry = Spinner(page, QStringLiteral("vsbAutoTry"), 2, 999);
    m_vsbAutoTry->setValue(99);
    m_txtAutoTryNum->setText(QStringLiteral("99"));
    connect(m_chkAutoTry, &QCheckBox::clicked, this, &ChatInviteWindow::ToggleRetryBoxes);
    connect(m_vsbAutoTry, &QScrollBar::valueChanged, this,
            [this](int value) { m_txtAutoTryNum->setText(QString::number(value)); });
    connect(m_txtAutoTryNum, &QLineEdit::textChanged, this, &ChatInviteWindow::SyncCountBox);

    m_chkUseTime = new QCheckBox(QStringLiteral("定时发送在"), page);
    m_chkUseTime->setObjectName(QStringLiteral("chkUseTime"));
    connect(m_chkUseTime, &QCheckBox::clicked, this, &ChatInviteWindow::ToggleScheduleBoxes);
    const char16_t* units[] = {u"", u"时", u"分"};
    for (int index : {1, 2}) {
        m_txtTime[index] = NumberBox(page, QStringLiteral("txtTime%1").arg(index));
        m_vsrTime[index] =
            Spinner(page, QStringLiteral("vsrTime%1").arg(index), 0, index == 1 ? 23 : 59);
        m_lblTimeUnit[index] = new QLabel(QString::fromUtf16(units[index]), page);
        m_txtTime[index]->setText(QStringLiteral("0"));
        connect(m_vsrTime[index], &QScrollBar::valueChanged, this,
                [this, index](int value) { m_txtTime[index]->setText(QString::number(value)); });
        connect(m_txtTime[index], &QLineEdit::textChanged, this,
                [this, index] { SyncTimeBox(index); });
    }

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("对方地址:"), page), 0, 0);
    grid->addWidget(m_txtAddress, 0, 1);
    grid->addWidget(m_cmdCSDo[1], 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("附言:"), page), 1, 0, Qt::AlignTop);
    grid->addWidget(m_txtNote, 1, 1, 1, 2);
    grid->setColumnStretch(1, 1);

    auto* code = new QHBoxLayout;
    code->addWidget(m_chkCSPW);
    code->addWidget(m_txtCSPW);
    code->addStretch();

    auto* retry = new QHBoxLayout;
    retry->setSpacing(2);
    retry->addWidget(m_chkAutoTry);
    retry->addWidget(m_txtAutoTryNum);
    retry->addWidget(m_vsbAutoTry);
    retry->addStretch();
    auto* schedule = new QHBoxLayout;
    schedule->setSpacing(2);
    schedule->addWidget(m_chkUseTime);
    for (int index : {1, 2}) {
        schedule->addWidget(m_txtTime[index]);
        schedule->addWidget(m_vsrTime[index]);
        schedule->addWidget(m_lblTimeUnit[index]);
    }
    schedule->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdCSDo[2]);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(grid, 1);
    layout->addLayout(code);
    layout->addLayout(retry);
    layout->addLayout(schedule);
    layout->addLayout(buttons);

    m_txtAutoTryNum->setVisible(false);
    m_vsbAutoTry->setVisible(false);
    for (int index : {1, 2}) {
        m_txtTime[index]->setVisible(false);
        m_vsrTime[index]->setVisible(false);
        m_lblTimeUnit[index]->setVisible(false);
    }
    return page;
}

QWidget* ChatInviteWindow::BuildProgressPage() {
    auto* page = new QWidget(m_pages);
    const char16_t* steps[] = {u"", u"", u"连接成功,正在向对方发出邀请...",
                               u"对方已收到邀请,正在等待其回应...", u""};
    m_stepGrid = new QGridLayout;
    m_stepGrid->setColumnMinimumWidth(0, 16);
    for (int index = 1; index <= 4; ++index) {
        m_lblLinkInfo[index] = NamedLabel(page, QStringLiteral("lblLinkInfo%1").arg(index),
                                          QString::fromUtf16(steps[index]));
        m_stepGrid->addWidget(m_lblLinkInfo[index], index - 1, 1);
    }
    m_imgPro = NamedLabel(page, QStringLiteral("imgPro"));
    m_imgPro->setPixmap(PointerPicture());
    m_stepGrid->addWidget(m_imgPro, 0, 0);
    m_stepGrid->setColumnStretch(1, 1);

    m_cmdCSDo[3] = new QPushButton(QStringLiteral("取消"), page);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdCSDo[3]);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 12, 0, 0);
    layout->addLayout(m_stepGrid);
    layout->addStretch();
    layout->addLayout(buttons);

    for (int index = 1; index <= 3; ++index)
        m_cmdCSDo[index]->setObjectName(QStringLiteral("cmdCSDo%1").arg(index));
    connect(m_cmdCSDo[1], &QPushButton::clicked, this, &ChatInviteWindow::PickAddress);
    connect(m_cmdCSDo[2], &QPushButton::clicked, this, &ChatInviteWindow::StartInvitation);
    connect(m_cmdCSDo[3], &QPushButton::clicked, this, &ChatInviteWindow::CancelInvitation);
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
    for (int index = 1; index <= 3; ++index) {
        QFont font = m_lblLinkInfo[index]->font();
        font.setBold(index == step);
        m_lblLinkInfo[index]->setFont(font);
        m_lblLinkInfo[index]->setVisible(index <= step);
    }
    m_stepGrid->removeWidget(m_imgPro);
    m_stepGrid->addWidget(m_imgPro, step - 1, 0);
}

QString ChatInviteWindow::TextOf(const QString& objectName) const {
    QObject* control = findChild<QObject*>(objectName);
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* line = qobject_cast<QLineEdit*>(control))
        return line->text();
    if (auto* text = qobject_cast<QPlainTextEdit*>(control))
        return ToWireText(text->toPlainText());
    if (auto* rich = qobject_cast<QTextEdit*>(control))
        return ToWireText(rich->toPlainText());
    if (auto* button = qobject_cast<QPushButton*>(control))
        return button->text();
    if (auto* check = qobject_cast<QCheckBox*>(control))
        return check->text();
    return QString();
}

// ---- Loading and showing ----

void ChatInviteWindow::RestoreInputs() {
    m_loaded = true;
    if (m_session.settings.saveSendInfo2) {
        SettingsStore& store = m_session.store();
        m_txtAddress->setText(ReadSetting(store, QStringLiteral("Address2")));
        m_txtNote->setPlainText(ToBoxText(ReadSetting(store, QStringLiteral("Message2"))));
    }
    ShowPage(PageInput);
}

void ChatInviteWindow::ShowChatWindow() {
    if (!m_loaded)
        RestoreInputs();
    show();
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
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
            const QString trimmed = TrimLines(m_txtAddress->text());
            if (trimmed != m_txtAddress->text())
                m_txtAddress->setText(trimmed);
        } else if (watched == m_txtNote) {
            const QString trimmed = ToBoxText(TrimLines(NoteText()));
            if (trimmed != m_txtNote->toPlainText())
                m_txtNote->setPlainText(trimmed);
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Input page ----

void ChatInviteWindow::ToggleCodeBox() {
    const bool on = m_chkCSPW->isChecked();
    m_txtCSPW->setVisible(on);
    if (on)
        m_txtCSPW->setFocus();
}

void ChatInviteWindow::ToggleRetryBoxes() {
    const bool on = m_chkAutoTry->isChecked();
    m_txtAutoTryNum->setVisible(on);
    m_vsbAutoTry->setVisible(on);
    if (on)
        m_txtAutoTryNum->setFocus();
}

void ChatInviteWindow::SyncCountBox() {
    bool ok = false;
    const int value = m_txtAutoTryNum->text().toInt(&ok);
    if (ok && value > 1 && value <= m_vsbAutoTry->maximum()) {
        m_vsbAutoTry->setValue(value);
    } else {
        m_txtAutoTryNum->setText(QString::number(m_vsbAutoTry->value()));
    }
}

void ChatInviteWindow::SyncTimeBox(int index) {
    bool ok = false;
    const int value = m_txtTime[index]->text().toInt(&ok);
    if (ok && value >= 0 && value <= m_vsrTime[index]->maximum()) {
        m_vsrTime[index]->setValue(value);
    } else {
        m_txtTime[index]->setText(QString::number(m_vsrTime[index]->value()));
    }
}

void ChatInviteWindow::ToggleScheduleBoxes() {
    const bool on = m_chkUseTime->isChecked();
    if (on) {
        const QTime now = m_session.system().Now().time();
        m_txtTime[1]->setText(QString::number(now.hour()));
        m_txtTime[2]->setText(QString::number(now.minute() - 1));
    }
    for (int index : {1, 2}) {
        m_txtTime[index]->setVisible(on);
        m_vsrTime[index]->setVisible(on);
        m_lblTimeUnit[index]->setVisible(on);
    }
    if (on)
        m_txtTime[1]->setFocus();
    UpdateScheduleClock();
}

void ChatInviteWindow::UpdateScheduleClock() {
    // Ticking the box during a chat neither arms nor disarms the clock.
    if (m_session.activity.inviteWindowChatting())
        return;
    if (m_chkUseTime->isChecked() && !m_timSend.isActive()) {
        m_timSend.start();
    } else if (!m_chkUseTime->isChecked()) {
        m_timSend.stop();
    }
}

void ChatInviteWindow::CheckSchedule() {
    const QTime now = m_session.system().Now().time();
    if (m_txtTime[1]->text().toInt() != now.hour() || m_txtTime[2]->text().toInt() != now.minute())
        return;
    // A chat or an invitation under way is never replaced; the clock keeps waiting.
    if (CurrentPage() != PageInput || m_inviter->phase() != ChatInviter::Phase::Idle)
        return;
    m_chkUseTime->setChecked(false);
    ToggleScheduleBoxes();
    StartInvitation();
}

// ---- Invitation ----

void ChatInviteWindow::PickAddress() {
    ShowAddressPicker(
        m_session, this, PickerPurpose::ChatInvitation,
        [this](QWidget* owner, PickerPurpose purpose) {
            if (m_picker)
                m_picker->close();
            m_picker = OpenAddressPicker(
                m_session, owner, purpose,
                [this](PickerPurpose, const QString& address) { TakePickedAddress(address); });
        });
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
    if (m_chkCSPW->isChecked())
        request.verificationCode = m_txtCSPW->text();
    request.autoRetry = m_chkAutoTry->isChecked();
    request.retryLimit = m_txtAutoTryNum->text().toInt();
    if (m_session.settings.saveSendInfo2) {
        SettingsStore& store = m_session.store();
        WriteSetting(store, QStringLiteral("Address2"), request.shownAddress);
        WriteSetting(store, QStringLiteral("Message2"), request.note);
    }
    m_lblLinkInfo[4]->clear();
    m_inviter->StartInvitation(request);
}

void ChatInviteWindow::OnPageChanged(int page) {
    if (page < PageInput || page > PageAutoRefused)
        return;
    if (page == PageChat) {
        EnterChatPage();
        return;
    }
    ShowPage(page);
    if (page == PageRefused || page == PageAutoRefused)
        ActivateWindow(this);
}

void ChatInviteWindow::EnterChatPage() {
    m_chat->ShowElapsed(0);
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
    if (!m_inviter->chatting()) {
        ShowMessage(m_session.messageBox(), this, QStringLiteral("无法发送,对方已离开聊天室。"),
                    MessageKind::Warning, false);
        return;
    }
    if (TrimLines(m_chat->InputText()).isEmpty()) {
        m_chat->ClearInput();
        m_chat->FocusInput();
        return;
    }
    const QString styled = m_chat->StyledInput();
    if (!m_inviter->SendChatText(styled))
        return;
    m_chat->ClearInput();
    AppendChatLine(m_chat->rtxChat(), m_session.personalInfo.nickName, styled,
                   m_session.system().Now());
    m_chat->FocusInput();
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
    ShowMessage(m_session.messageBox(), this, message.text, message.kind, message.systemModal);
}

void ChatInviteWindow::BackToInput() {
    ShowPage(PageInput);
}

void ChatInviteWindow::ShowPeerInfo() {
    QStringList fields = QStringList{m_inviter->shownAddress()} + m_inviter->peerFields();
    while (fields.size() < 9)
        fields << QString();
    m_peerInfo = tvx::ShowPeerInfo(m_session, fields);
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
