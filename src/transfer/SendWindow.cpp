#include "transfer/SendWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

#include "address/AddressCode.h"
#include "chat/AddressPicker.h"
#include "common/Format.h"
#include "common/Handshake.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/Session.h"
#include "common/ShellRoutines.h"
#include "common/Text.h"
#include "platform/SocketErrors.h"
#include "protocol/Codes.h"
#include "protocol/PeerMessages.h"
#include "records/AddressFiles.h"
#include "records/HistoryLog.h"
#include "records/PeerInfoWindow.h"
#include "records/Settings.h"
#include "transfer/FileInfoTip.h"
#include "transfer/TransferProgress.h"

namespace tvx {

using C = ProtocolCodes;

namespace {

constexpr int kNoteLimit = 200;
constexpr int kProgressRefreshMs = 100;

const char16_t* const kPageTips[] = {
    u"",
    u"输入对方IP或TVX地址后即可发送文件,支持断点续传。",
    u"正在尝试连接对方计算机,并发送文件请求。",
    u"正在发送文件，请等待...",
    u"文件已发送完成。",
    u"对方用户拒绝接收文件。",
    u"对方用户自动拒收文件。",
    u"对方用户取消接收文件。",
};

// Multi-line boxes hold "\n"; notes travel and are stored with "\r\n".
QString ToWireText(const QString& boxText) {
    return QString(boxText).replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

QString ToBoxText(const QString& wireText) {
    return QString(wireText).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString NoteOrNone(const QString& note) {
    return note.isEmpty() ? QStringLiteral("(无)") : note;
}

// The right-pointing marker beside the current step of page 2.
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

}  // namespace

SendWindow::SendWindow(Session& session, QWidget* parent)
    : QWidget(parent),
      m_session(session),
      m_link(PeerRole::FileSender, session),
      m_tip(new FileInfoTip(session)) {
    setObjectName(QStringLiteral("SendWindow"));
    setWindowTitle(QStringLiteral("发送文件"));
    m_link.SetOwnerWindow(this);

    BuildPages();

    m_timWait.setInterval(1000);
    m_timSendSpeed.setInterval(1000);
    m_timSend.setInterval(1000);
    m_timFileInfoTip.setInterval(50);
    connect(&m_timWait, &QTimer::timeout, this, &SendWindow::timWait_Timer);
    connect(&m_timSendSpeed, &QTimer::timeout, this, &SendWindow::timSendSpeed_Timer);
    connect(&m_timSend, &QTimer::timeout, this, &SendWindow::timSend_Timer);
    connect(&m_timFileInfoTip, &QTimer::timeout, this, &SendWindow::timFileInfoTip_Timer);

    connect(&m_link, &PeerLink::ResetDone, this, &SendWindow::OnLinkReset);
    connect(&m_link, &PeerLink::Refused, this, [this] { Reset(); });
    connect(&m_link, &PeerLink::ConnectionBroken, this, [this] { Reset(); });
    connect(&m_link, &PeerLink::HandshakeTimedOut, this, &SendWindow::timFSClitYZ_Timer);
    connect(&m_link, &PeerLink::Introduced, this,
            [this](const QString&, const QStringList& card) { OnIntroduced(card); });
    connect(&m_link, &PeerLink::MessageReceived, this, &SendWindow::OnControlMessage);
    connect(&m_link, &PeerLink::PeerClosed, this, [this] { OnControlClosed(); });
    connect(&m_link, &PeerLink::SocketError, this, &SendWindow::HandleConnectionError);

    connect(&m_data, &Socket::Connected, this, &SendWindow::OnDataConnected);
    connect(&m_data, &Socket::SendProgress, this,
            [this](qint64 bytes, qint64) { OnSendProgress(bytes); });
    connect(&m_data, &Socket::SendComplete, this, &SendWindow::OnSendComplete);
    connect(&m_data, &Socket::Closed, this, [this] { OnDataEnded(0); });
    connect(&m_data, &Socket::Error, this, [this](int number) { OnDataEnded(number); });

    resize(m_session.display.PixelsX(6600), m_session.display.PixelsY(5400));
    CenterForm(m_session.display, this);
}

SendWindow::~SendWindow() {
    m_resetting = true;
    m_timFileInfoTip.stop();
    delete m_tip;
    if (m_picker)
        m_picker->close();
    m_data.Close();
    m_link.Reset();
    if (m_phase != Phase::Idle)
        m_session.activity.sending = false;
}

// ---- Layout ----

void SendWindow::BuildPages() {
    m_pages = new QStackedWidget(this);
    m_pages->addWidget(new QWidget(m_pages));  // no page 0
    m_picFSbox[1] = BuildInputPage();
    m_picFSbox[2] = BuildConnectingPage();
    m_picFSbox[3] = BuildSendingPage();
    m_picFSbox[4] = BuildResultPage(PageFinished, m_lblSendFinish, QString(), m_txtRefuRecv,
                                    m_cmdSendFinish, QStringLiteral("SendFinish"));
    m_picFSbox[5] = BuildResultPage(PageRefused, m_lblRefuRecv[1], QStringLiteral("拒绝附言:"),
                                    m_txtRefuRecv, m_cmdRefuRecv, QStringLiteral("RefuRecv"));
    m_picFSbox[6] =
        BuildResultPage(PageAutoRefused, m_lblAutoRefuRecv[1], QStringLiteral("附言:"),
                        m_txtAutoRefuRecv, m_cmdAutoRefuRecv, QStringLiteral("AutoRefuRecv"));
    m_picFSbox[7] =
        BuildResultPage(PageReceiverCancelled, m_lblCanclRecv[1], QStringLiteral("取消附言:"),
                        m_txtCanclRecv, m_cmdCanclRecv, QStringLiteral("CanclRecv"));
    for (int page = 1; page <= 7; ++page) {
        m_picFSbox[page]->setObjectName(QStringLiteral("picFSbox%1").arg(page));
        m_pages->addWidget(m_picFSbox[page]);
    }

    m_lblFSTip[2] = new QLabel(this);
    m_lblFSTip[2]->setObjectName(QStringLiteral("lblFSTip2"));
    m_lblFSTip[2]->setFrameShape(QFrame::StyledPanel);
    m_lblFSTip[2]->setFrameShadow(QFrame::Sunken);
    m_lblFSTip[2]->setContentsMargins(4, 2, 4, 2);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 6);
    layout->addWidget(m_pages, 1);
    layout->addWidget(m_lblFSTip[2]);
}

QWidget* SendWindow::BuildInputPage() {
    auto* page = new QWidget(m_pages);
    for (int index : {1, 2}) {
        m_txtFSInfo[index] = new QLineEdit(page);
        m_txtFSInfo[index]->setObjectName(QStringLiteral("txtFSInfo%1").arg(index));
        m_txtFSInfo[index]->installEventFilter(this);
    }
    m_txtFSInfo[1]->setMaxLength(15);
    m_txtFSInfo[1]->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_txtFSInfo[2]->setAcceptDrops(true);
    connect(m_txtFSInfo[2], &QLineEdit::textChanged, this, &SendWindow::FileBoxChanged);

    m_txtNote = new QPlainTextEdit(page);
    m_txtNote->setObjectName(QStringLiteral("txtFSInfo3"));
    m_txtNote->setTabChangesFocus(true);
    m_txtNote->installEventFilter(this);
    connect(m_txtNote, &QPlainTextEdit::textChanged, this, [this] {
        if (m_txtNote->toPlainText().size() > kNoteLimit) {
            m_txtNote->setPlainText(m_txtNote->toPlainText().left(kNoteLimit));
            m_txtNote->moveCursor(QTextCursor::End);
        }
    });

    m_picFileIcoSmall[1] = new QLabel(page);
    m_picFileIcoSmall[1]->setObjectName(QStringLiteral("picFileIcoSmall1"));
    m_picFileIcoSmall[1]->setFixedSize(20, 20);
    m_picFileIcoSmall[1]->setAlignment(Qt::AlignCenter);
    m_picFileIcoSmall[1]->setPixmap(GenericFilePicture(16));
    m_picFileIcoSmall[1]->installEventFilter(this);

    const char16_t* captions[] = {u"", u"地址簿...", u"选择文件...", u"发送文件(&S)", u"取消"};
    for (int index = 1; index <= 4; ++index) {
        m_cmdDo[index] = new QPushButton(QString::fromUtf16(captions[index]), page);
        m_cmdDo[index]->setObjectName(QStringLiteral("cmdDo%1").arg(index));
        connect(m_cmdDo[index], &QPushButton::clicked, this, [this, index] { cmdDo_Click(index); });
    }

    m_chkFSPW = new QCheckBox(QStringLiteral("使用验证码"), page);
    m_chkFSPW->setObjectName(QStringLiteral("chkFSPW"));
    m_txtFSPW = new QLineEdit(page);
    m_txtFSPW->setObjectName(QStringLiteral("txtFSPW"));
    m_txtFSPW->setMaxLength(15);
    m_txtFSPW->setEchoMode(QLineEdit::Password);
    m_txtFSPW->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    m_txtFSPW->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_txtFSPW->setVisible(false);
    const QString codeTip = QStringLiteral("勾选并在这里输入对方设置的验证码");
    m_chkFSPW->setToolTip(codeTip);
    m_txtFSPW->setToolTip(codeTip);
    connect(m_chkFSPW, &QCheckBox::clicked, this, &SendWindow::chkFSPW_Click);

    m_chkAutoTry = new QCheckBox(QStringLiteral("自动重试(次)"), page);
    m_chkAutoTry->setObjectName(QStringLiteral("chkAutoTry"));
    m_txtAutoTryNum = NumberBox(page, QStringLiteral("txtAutoTryNum"));
    m_vsbAutoTry = Spinner(page, QStringLiteral("vsbAutoTry"), 2, 999);
    m_vsbAutoTry->setValue(99);
    m_txtAutoTryNum->setText(QStringLiteral("99"));
    connect(m_chkAutoTry, &QCheckBox::clicked, this, &SendWindow::chkAutoTry_Click);
    connect(m_vsbAutoTry, &QScrollBar::valueChanged, this,
            [this](int value) { m_txtAutoTryNum->setText(QString::number(value)); });
    connect(m_txtAutoTryNum, &QLineEdit::textChanged, this, &SendWindow::SyncCountBox);

    m_chkUseTime = new QCheckBox(QStringLiteral("定时发送在"), page);
    m_chkUseTime->setObjectName(QStringLiteral("chkUseTime"));
    connect(m_chkUseTime, &QCheckBox::clicked, this, &SendWindow::chkUseTime_Click);
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
    grid->addWidget(m_txtFSInfo[1], 0, 2);
    grid->addWidget(m_cmdDo[1], 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("发送文件:"), page), 1, 0);
    grid->addWidget(m_picFileIcoSmall[1], 1, 1);
    grid->addWidget(m_txtFSInfo[2], 1, 2);
    grid->addWidget(m_cmdDo[2], 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("附言:"), page), 2, 0, Qt::AlignTop);
    grid->addWidget(m_txtNote, 2, 2, 1, 2);
    grid->setColumnStretch(2, 1);

    auto* code = new QHBoxLayout;
    code->addWidget(m_chkFSPW);
    code->addWidget(m_txtFSPW);
    code->addStretch();

    auto* retry = new QHBoxLayout;
    retry->setSpacing(2);
    retry->addWidget(m_chkAutoTry);
    retry->addWidget(m_txtAutoTryNum);
    retry->addWidget(m_vsbAutoTry);
    retry->addSpacing(16);
    retry->addWidget(m_chkUseTime);
    for (int index : {1, 2}) {
        retry->addWidget(m_txtTime[index]);
        retry->addWidget(m_vsrTime[index]);
        retry->addWidget(m_lblTimeUnit[index]);
    }
    retry->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdDo[3]);
    m_cmdDo[3]->setDefault(true);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(grid, 1);
    layout->addLayout(code);
    layout->addLayout(retry);
    layout->addLayout(buttons);

    // The count box keeps its room while hidden, so ticking the box moves nothing beside it.
    for (QWidget* box :
         {static_cast<QWidget*>(m_txtAutoTryNum), static_cast<QWidget*>(m_vsbAutoTry)}) {
        QSizePolicy policy = box->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        box->setSizePolicy(policy);
        box->setVisible(false);
    }
    for (int index : {1, 2}) {
        m_txtTime[index]->setVisible(false);
        m_vsrTime[index]->setVisible(false);
        m_lblTimeUnit[index]->setVisible(false);
    }
    return page;
}

QWidget* SendWindow::BuildConnectingPage() {
    auto* page = new QWidget(m_pages);
    const char16_t* steps[] = {u"", u"", u"连接成功,正在向对方发出请求...",
                               u"对方已收到请求,正在等待其回应...", u""};
    m_stepGrid = new QGridLayout;
    m_stepGrid->setColumnMinimumWidth(0, 16);
    for (int index = 1; index <= 4; ++index) {
        m_lblLinkInfo[index] = new QLabel(QString::fromUtf16(steps[index]), page);
        m_lblLinkInfo[index]->setObjectName(QStringLiteral("lblLinkInfo%1").arg(index));
        m_stepGrid->addWidget(m_lblLinkInfo[index], index - 1, 1);
    }
    m_imgPro = new QLabel(page);
    m_imgPro->setObjectName(QStringLiteral("imgPro"));
    m_imgPro->setPixmap(PointerPicture());
    m_stepGrid->addWidget(m_imgPro, 0, 0);
    m_stepGrid->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdDo[4]);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 12, 0, 0);
    layout->addLayout(m_stepGrid);
    layout->addStretch();
    layout->addLayout(buttons);
    return page;
}

QWidget* SendWindow::BuildSendingPage() {
    auto* page = new QWidget(m_pages);
    auto* grid = new QGridLayout;
    for (int index = 1; index <= 11; ++index) {
        m_lblSendProc[index] = new QLabel(page);
        m_lblSendProc[index]->setObjectName(QStringLiteral("lblSendProc%1").arg(index));
    }
    m_lblSendProc[1]->setText(QStringLiteral("接收用户:"));
    m_lblSendProc[3]->setText(QStringLiteral("文件名:"));
    m_lblSendProc[5]->setText(QStringLiteral("已发送:"));
    m_lblSendProc[7]->setText(QStringLiteral("发送速度:"));
    m_lblSendProc[9]->setText(QStringLiteral("剩余时间:"));
    // The receiver's address opens the peer's card.
    QLabel* receiver = m_lblSendProc[2];
    receiver->setCursor(Qt::PointingHandCursor);
    receiver->setStyleSheet(QStringLiteral("color: #0040C0; text-decoration: underline;"));
    receiver->setToolTip(QStringLiteral("查看对方信息"));
    receiver->installEventFilter(this);
    for (int row = 0; row < 5; ++row) {
        grid->addWidget(m_lblSendProc[2 * row + 1], row, 0);
        grid->addWidget(m_lblSendProc[2 * row + 2], row, 1);
    }
    grid->setColumnStretch(1, 1);

    m_picBox = new QWidget(page);
    m_picBox->setObjectName(QStringLiteral("picBox"));
    m_picBox->setFixedSize(TransferProgress::kBarWidth + 2, 14);
    m_picBox->setStyleSheet(QStringLiteral("#picBox { border: 1px solid #808080; }"));
    m_picBar = new QWidget(m_picBox);
    m_picBar->setStyleSheet(QStringLiteral("background: #1060D0;"));
    m_picBar->setGeometry(1, 1, 1, 12);
    auto* bar = new QHBoxLayout;
    bar->addWidget(m_picBox);
    bar->addWidget(m_lblSendProc[11]);
    bar->addStretch();

    m_txtCancelSend = new QLineEdit(page);
    m_txtCancelSend->setObjectName(QStringLiteral("txtCancelSend"));
    m_txtCancelSend->setMaxLength(kNoteLimit);
    m_cmdSendProc = new QPushButton(QStringLiteral("取消发送"), page);
    m_cmdSendProc->setObjectName(QStringLiteral("cmdSendProc"));
    connect(m_cmdSendProc, &QPushButton::clicked, this, &SendWindow::cmdSendProc_Click);
    auto* cancel = new QHBoxLayout;
    cancel->addWidget(new QLabel(QStringLiteral("取消附言:"), page));
    cancel->addWidget(m_txtCancelSend, 1);
    cancel->addWidget(m_cmdSendProc);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(grid);
    layout->addLayout(bar);
    layout->addStretch();
    layout->addLayout(cancel);
    return page;
}

QWidget* SendWindow::BuildResultPage(int page, QLabel*& line, const QString& noteLabel,
                                     QPlainTextEdit*& note, QPushButton*& button,
                                     const QString& name) {
    auto* widget = new QWidget(m_pages);
    line = new QLabel(widget);
    line->setObjectName(page == PageFinished ? QStringLiteral("lblSendFinish")
                                             : QStringLiteral("lbl") + name + QStringLiteral("1"));
    line->setWordWrap(true);
    line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    line->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    button = new QPushButton(QStringLiteral("确定"), widget);
    button->setObjectName(QStringLiteral("cmd%1").arg(name));
    connect(button, &QPushButton::clicked, this, &SendWindow::cmdResult_Click);

    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(line, page == PageFinished ? 1 : 0);
    if (page != PageFinished) {
        note = new QPlainTextEdit(widget);
        note->setObjectName(QStringLiteral("txt%1").arg(name));
        note->setReadOnly(true);
        layout->addWidget(new QLabel(noteLabel, widget));
        layout->addWidget(note, 1);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(button);
    layout->addLayout(buttons);
    return widget;
}

void SendWindow::ShowPage(int page) {
    for (int index = 1; index <= 7; ++index)
        m_picFSbox[index]->setEnabled(index == page);
    m_pages->setCurrentIndex(page);
    m_lblFSTip[2]->setText(QString::fromUtf16(kPageTips[page]));
}

int SendWindow::CurrentPage() const {
    return m_pages->currentIndex();
}

void SendWindow::SetStep(int step) {
    for (int index = 1; index <= 3; ++index) {
        QFont font = m_lblLinkInfo[index]->font();
        font.setBold(index == step);
        m_lblLinkInfo[index]->setFont(font);
        m_lblLinkInfo[index]->setVisible(index <= step);
    }
    m_stepGrid->removeWidget(m_imgPro);
    m_stepGrid->addWidget(m_imgPro, step - 1, 0);
}

QString SendWindow::TextOf(const QString& objectName) const {
    QObject* control = findChild<QObject*>(objectName);
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* line = qobject_cast<QLineEdit*>(control))
        return line->text();
    if (auto* text = qobject_cast<QPlainTextEdit*>(control))
        return ToWireText(text->toPlainText());
    if (auto* button = qobject_cast<QPushButton*>(control))
        return button->text();
    return QString();
}

int SendWindow::ProgressWidth() const {
    return m_picBar->width();
}

// ---- Loading and showing ----

void SendWindow::Form_Load() {
    m_loaded = true;
    if (m_session.settings.saveSendInfo1) {
        SettingsStore& store = m_session.store();
        m_txtFSInfo[1]->setText(ReadSetting(store, QStringLiteral("Address1")));
        m_txtFSInfo[2]->setText(ReadSetting(store, QStringLiteral("SendFilePath")));
        m_txtNote->setPlainText(ToBoxText(ReadSetting(store, QStringLiteral("Message1"))));
        FileBoxChanged();
    } else {
        m_picFileIcoSmall[1]->setPixmap(GenericFilePicture(16));
    }
    ShowPage(PageInput);
}

void SendWindow::ShowSendWindow() {
    if (!m_loaded)
        Form_Load();
    show();
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void SendWindow::TakePickedAddress(const QString& address) {
    m_txtFSInfo[1]->setText(address);
    ShowSendWindow();
}

void SendWindow::closeEvent(QCloseEvent* event) {
    // The window is never destroyed by its close box.
    event->ignore();
    switch (CurrentPage()) {
        case PageConnecting:
            cmdDo_Click(4);
            return;
        case PageSending:
            cmdSendProc_Click();
            return;
        default:
            hide();
            ShowPage(PageInput);
            return;
    }
}

bool SendWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == m_txtFSInfo[2]) {
        if (type == QEvent::DragEnter || type == QEvent::DragMove) {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (drag->mimeData()->hasUrls()) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        if (type == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            txtFSInfo_OLEDragDrop(drop->mimeData());
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            return true;
        }
    } else if (type == QEvent::FocusOut && watched == m_txtFSInfo[1]) {
        const QString trimmed = TrimLines(m_txtFSInfo[1]->text());
        if (trimmed != m_txtFSInfo[1]->text())
            m_txtFSInfo[1]->setText(trimmed);
    } else if (type == QEvent::FocusOut && watched == m_txtNote) {
        const QString trimmed = ToBoxText(TrimLines(NoteText()));
        if (trimmed != m_txtNote->toPlainText())
            m_txtNote->setPlainText(trimmed);
    } else if (type == QEvent::MouseButtonDblClick && watched == m_picFileIcoSmall[1]) {
        picFileIcoSmall_DblClick(1);
        return true;
    } else if (type == QEvent::MouseButtonRelease && watched == m_lblSendProc[2]) {
        lblSendProc_Click(2);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QString SendWindow::NoteText() const {
    return ToWireText(m_txtNote->toPlainText());
}

qint64 SendWindow::Uptime() const {
    return UptimeSeconds(m_session.system().UptimeMs());
}

void SendWindow::After(int milliseconds, const std::function<void()>& step) {
    const quint64 generation = m_generation;
    QTimer::singleShot(milliseconds, this, [this, generation, step] {
        if (generation == m_generation)
            step();
    });
}

// ---- Page 1 ----

void SendWindow::cmdDo_Click(int index) {
    switch (index) {
        case 1:
            ShowAddressPicker(m_session, this, PickerPurpose::SendFile,
                              [this](QWidget* owner, PickerPurpose purpose) {
                                  if (m_picker)
                                      m_picker->close();
                                  m_picker = OpenAddressPicker(
                                      m_session, owner, purpose,
                                      [this](PickerPurpose, const QString& address) {
                                          TakePickedAddress(address);
                                      });
                              });
            break;
        case 2: {
            const QString path = ChooseOpenFile(m_session.dialogs(), this);
            if (path.isEmpty())
                break;
            m_txtFSInfo[2]->setText(path);
            m_txtFSInfo[2]->setCursorPosition(m_txtFSInfo[2]->text().size());
            m_txtFSInfo[2]->setFocus();
            break;
        }
        case 3:
            StartSend();
            break;
        case 4:
            Reset();
            break;
        default:
            break;
    }
}

void SendWindow::chkFSPW_Click() {
    const bool on = m_chkFSPW->isChecked();
    m_txtFSPW->setVisible(on);
    if (on)
        m_txtFSPW->setFocus();
}

bool SendWindow::txtFSInfo_OLEDragDrop(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return false;
    const QUrl first = data->urls().front();
    if (!first.isLocalFile())
        return false;
    const QString path = first.toLocalFile();
    if (QFileInfo(path).isDir())
        return false;
    m_txtFSInfo[2]->setText(path);
    return true;
}

void SendWindow::picFileIcoSmall_DblClick(int index) {
    if (index != 1)
        return;
    const QString path = m_txtFSInfo[2]->text();
    if (FileExists(path))
        OpenFileChecked(m_session.shell(), m_session.messageBox(), this, path);
}

void SendWindow::FileBoxChanged() {
    const QString path = m_txtFSInfo[2]->text();
    if (FileExists(path)) {
        const qint64 size = QFileInfo(path).size();
        if (size < 0 || size > kMaxFileLength) {
            m_txtFSInfo[2]->clear();
            ShowMessage(m_session.messageBox(), this, QStringLiteral("发送的文件大小不能超过2G。"),
                        KindWarning, false);
            return;
        }
        const QIcon icon = GetFileIcon(m_session.shell(), path, IconSmall);
        m_picFileIcoSmall[1]->setPixmap(icon.isNull() ? GenericFilePicture(16)
                                                      : icon.pixmap(16, 16));
        m_tip->Prepare(path);
        m_timFileInfoTip.start();
    } else {
        m_picFileIcoSmall[1]->setPixmap(GenericFilePicture(16));
        m_timFileInfoTip.stop();
        m_tip->hide();
    }
}

void SendWindow::timFileInfoTip_Timer() {
    const QPoint pointer = QCursor::pos();
    const auto over = [&pointer](const QWidget* widget) {
        return widget->isVisible() && widget->rect().contains(widget->mapFromGlobal(pointer));
    };
    if (over(m_txtFSInfo[2]) || over(m_picFileIcoSmall[1])) {
        const QPoint corner = m_txtFSInfo[2]->mapToGlobal(QPoint(0, m_txtFSInfo[2]->height()));
        m_tip->move(qMax(0, corner.x()), corner.y());
        if (!m_tip->isVisible())
            m_tip->show();
    } else if (m_tip->isVisible()) {
        m_tip->hide();
    }
}

// ---- Starting and connecting ----

bool SendWindow::CheckFile() {
    const QString path = m_txtFSInfo[2]->text();
    QString warning;
    int kind = KindWarning;
    if (TrimSpaces(path).isEmpty()) {
        warning = QStringLiteral("必须选择一个文件。");
        kind = KindInfo;
    } else if (!FileExists(path)) {
        warning = QStringLiteral("发送的文件不存在。") + QStringLiteral("\r\n\r\n") + path;
    } else {
        const qint64 size = QFileInfo(path).size();
        if (size == 0) {
            warning = QStringLiteral("发送的文件必须大于0字节。");
        } else if (size < 0 || size > kMaxFileLength) {
            // The file may have grown since it was put into the box.
            warning = QStringLiteral("发送的文件大小不能超过2G。");
        }
    }
    if (warning.isEmpty())
        return true;
    ShowMessage(m_session.messageBox(), this, warning, kind, false);
    m_txtFSInfo[2]->setFocus();
    return false;
}

void SendWindow::StartSend() {
    if (CurrentPage() != PageInput)
        return;
    if (m_phase != Phase::Idle) {
        // Only after the user cancelled and the peer has not closed yet.
        if (!m_cancelledBySender)
            return;
        Reset();
    }
    const QString target =
        CheckTargetAddress(m_session.messageBox(), this, m_txtFSInfo[1], m_session.localAddress);
    if (target.isEmpty() || !CheckFile())
        return;

    m_targetAddress = target;
    m_typedAddress = m_txtFSInfo[1]->text().toUpper();
    m_filePath = m_txtFSInfo[2]->text();
    m_fileName = FileNameOf(m_filePath);
    m_fileSize = QFileInfo(m_filePath).size();
    if (m_session.settings.saveSendInfo1) {
        SettingsStore& store = m_session.store();
        WriteSetting(store, QStringLiteral("Address1"), m_typedAddress);
        WriteSetting(store, QStringLiteral("SendFilePath"), m_filePath);
        WriteSetting(store, QStringLiteral("Message1"), NoteText());
    }

    m_lblLinkInfo[1]->setText(QStringLiteral("正在连接用户 ") + m_typedAddress +
                              QStringLiteral(" ..."));
    m_lblLinkInfo[4]->clear();
    m_retryCount = 0;
    SetStep(1);
    ShowPage(PageConnecting);
    Connect();
}

void SendWindow::Connect() {
    ++m_generation;
    if (!CheckFile()) {
        Reset();
        return;
    }
    m_resetting = true;
    m_data.Close();
    m_link.Reset();
    m_resetting = false;
    m_peerCard.clear();
    const QString code = m_txtFSPW->text();
    m_link.SetVerificationDigest(m_chkFSPW->isChecked() && !code.isEmpty() ? Digest(code)
                                                                           : QString());
    m_phase = Phase::Connecting;
    const int number = m_link.Connect(m_targetAddress);
    if (number != 0)
        HandleConnectionError(number);
}

void SendWindow::OnLinkReset() {
    // The link gives up silently on a failed handshake; the window follows it. Resets that
    // the window makes itself, and a retry about to start, are not followed.
    if (m_resetting || m_retryPending || m_phase == Phase::Idle)
        return;
    Reset();
}

void SendWindow::OnIntroduced(const QStringList& peerCard) {
    m_peerCard = peerCard;
    m_phase = Phase::DataConnecting;
    const int number = m_data.Connect(m_targetAddress, kFileDataPort, m_session.localAddress);
    if (number != 0)
        HandleConnectionError(number);
}

void SendWindow::OnDataConnected() {
    if (m_phase != Phase::DataConnecting)
        return;
    m_phase = Phase::Offering;
    After(m_pauseMs, [this] { SendOffer(); });
}

void SendWindow::SendOffer() {
    if (m_phase != Phase::Offering)
        return;
    SetStep(2);
    m_dataKey = DrawScrambleKey();
    FileOffer offer;
    offer.fileName = m_fileName;
    offer.length = m_fileSize;
    offer.modified = FileTimeText(m_filePath);
    offer.note = NoteText();
    offer.key = m_dataKey;
    const int number = m_link.Send(BuildOffer(offer));
    if (number != 0) {
        HandleConnectionError(number);
        return;
    }
    m_phase = Phase::WaitingForAnswer;
    m_waitStart = Uptime();
    After(m_pauseMs, [this] { BeginWaiting(); });
    // The log records the offer whatever becomes of it; a failed write is reported there.
    AppendLogEntry(
        m_session, this, LogEvent::FileSent,
        FileSentLogValues(m_session.shell(), m_txtFSInfo[1]->text(), m_filePath, NoteText()));
}

void SendWindow::BeginWaiting() {
    if (m_phase != Phase::WaitingForAnswer)
        return;
    SetStep(3);
    m_lblLinkInfo[4]->setText(QStringLiteral("(已等待 0 秒)"));
    m_timWait.start();
}

void SendWindow::timWait_Timer() {
    const qint64 waited = Uptime() - m_waitStart;
    m_lblLinkInfo[4]->setText(QStringLiteral("(已等待 ") + FormatDuration(qint32(waited)) +
                              QStringLiteral(")"));
}

void SendWindow::timFSClitYZ_Timer() {
    if (m_link.verified() || m_phase != Phase::Connecting)
        return;
    ResetAndShow(QStringLiteral("连接超时,请尝试重新连接。"), KindWarning, true);
}

// ---- Control messages ----

void SendWindow::OnControlMessage(char16_t code, const QString& payload) {
    switch (code) {
        case C::OfferAccepted:
            if (m_phase != Phase::WaitingForAnswer) {
                // A second acceptance would restart the stream from a wrong place.
                ResetAndShow(ConnectionBrokenMessage(), KindError, true);
                return;
            }
            OnAcceptance(payload);
            return;
        case C::FileComplete:
            Finished();
            return;
        case C::OfferRefused:
            ShowOutcome(PageRefused,
                        QStringLiteral("对方用户 ") + m_typedAddress +
                            QStringLiteral(" 拒绝接收文件\"") + m_fileName + QStringLiteral("\"。"),
                        NoteOrNone(payload));
            return;
        case C::OfferRefusedAuto:
            ShowOutcome(PageAutoRefused,
                        QStringLiteral("对方用户 ") + m_typedAddress +
                            QStringLiteral(" 自动拒绝接收文件\"") + m_fileName +
                            QStringLiteral("\"。"),
                        QStringLiteral("(对方用户可能不在计算机前)"));
            return;
        case C::ReceiverCancel:
            PeerCancelled(payload);
            return;
        default:
            return;
    }
}

void SendWindow::PeerCancelled(const QString& note) {
    const double fraction = m_fileSize > 0 ? double(m_position) / double(m_fileSize) : 0.0;
    ShowOutcome(PageReceiverCancelled,
                QStringLiteral("对方用户 ") + m_typedAddress + QStringLiteral(" 取消接收文件\"") +
                    m_fileName + QStringLiteral("\",目前已发送 ") +
                    TransferProgress::PercentText(fraction) + QStringLiteral(" 。"),
                NoteOrNone(note));
}

void SendWindow::OnControlClosed() {
    if (m_phase == Phase::Idle)
        return;
    if (m_session.activity.sending && !m_cancelledBySender) {
        PeerCancelled(QString());
        return;
    }
    Reset();
}

void SendWindow::OnDataEnded(int errorNumber) {
    if (m_phase == Phase::Idle)
        return;
    if (m_phase == Phase::DataConnecting || m_phase == Phase::Offering) {
        if (errorNumber != 0) {
            HandleConnectionError(errorNumber);
        } else {
            Reset();
        }
        return;
    }
    if (m_phase == Phase::DataLost)
        return;
    // After the offer the control connection tells what happened: the receiver's answer,
    // completion or cancel may still be on its way there. Only when it stays silent does
    // the data connection's end count.
    m_data.Close();
    const bool wasSending = m_session.activity.sending;
    m_phase = Phase::DataLost;
    m_dataEndError = errorNumber;
    After(m_closeGraceMs, [this, wasSending] {
        if (m_phase != Phase::DataLost)
            return;
        if (m_dataEndError != 0) {
            HandleConnectionError(m_dataEndError);
        } else if (wasSending && !m_cancelledBySender) {
            PeerCancelled(QString());
        } else {
            Reset();
        }
    });
}

// ---- Sending ----

void SendWindow::OnAcceptance(const QString& payload) {
    m_timWait.stop();
    m_session.activity.sending = true;
    UpdateScheduleClock();
    const std::optional<qint64> offset = ParseAcceptanceOffset(payload, m_fileSize);
    if (!offset) {
        // Not a whole number below the file's length: nothing sensible to send from.
        ReadFailed();
        return;
    }
    m_position = *offset;
    // Speed counts bytes sent in this transfer, not the part the receiver already held.
    m_progress.Start(m_fileSize, m_position);
    m_phase = Phase::Sending;

    m_lblSendProc[2]->setText(m_typedAddress);
    m_lblSendProc[4]->setText(m_fileName);
    m_lblSendProc[4]->setToolTip(m_filePath);
    m_lblSendProc[6]->setText(FormatSizeWithBytes(qint32(m_position)));
    m_lblSendProc[8]->setText(m_progress.SpeedText());
    m_lblSendProc[10]->setText(m_progress.RemainingText());
    m_picBar->setFixedWidth(m_progress.BarWidth());
    m_lblSendProc[11]->setText(m_progress.PercentText());

    m_timSendSpeed.start();
    m_progressShown.invalidate();
    m_sendingStart = Uptime();
    if (SendChunk())
        ShowPage(PageSending);
}

bool SendWindow::SendChunk() {
    const qint64 rest = m_fileSize - m_position;
    const qint64 size = qMin(qMax<qint64>(m_session.settings.sendBufferBytes, 1), rest);
    if (size <= 0)
        return true;
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(m_position)) {
        ReadFailed();
        return false;
    }
    m_sendBuffer.resize(size);
    // Read and scramble a slice at a time, so each slice is xored while it is still in the
    // processor's cache.
    constexpr qint64 kSlice = 256 * 1024;
    char* bytes = m_sendBuffer.data();
    qint64 done = 0;
    while (done < size) {
        const qint64 got = file.read(bytes + done, qMin(kSlice, size - done));
        if (got <= 0)
            break;
        ScrambleBytes(bytes + done, got, m_dataKey);
        done += got;
    }
    file.close();
    if (done != size) {
        ReadFailed();
        return false;
    }
    emit ChunkSent(m_position, size);
    if (m_phase != Phase::Sending)
        return false;  // whoever heard of the chunk ended the transfer
    const int number = m_data.Send(m_sendBuffer);
    if (number != 0) {
        HandleConnectionError(number);
        return false;
    }
    return true;
}

void SendWindow::ReadFailed() {
    ResetAndShow(QStringLiteral("无法继续发送:读取文件时发生错误。"), KindError, true);
}

void SendWindow::OnSendProgress(qint64 bytes) {
    if (m_phase != Phase::Sending)
        return;
    m_position = qMin(m_position + bytes, m_fileSize);
    m_progress.SetPosition(m_position);
    // The connection reports many times a second; redrawing the page each time would cost
    // more than moving the bytes. The last report always shows.
    if (m_position == m_fileSize || !m_progressShown.isValid() ||
        m_progressShown.elapsed() >= kProgressRefreshMs) {
        UpdateProgress();
        m_progressShown.start();
    }
}

void SendWindow::UpdateProgress() {
    if (m_fileSize <= 0)
        return;
    const int width = m_progress.BarWidth();
    if (width != m_picBar->width())
        m_picBar->setFixedWidth(width);
    m_lblSendProc[11]->setText(m_progress.PercentText());
    m_lblSendProc[6]->setText(m_progress.BytesText());
}

void SendWindow::OnSendComplete() {
    if (m_phase != Phase::Sending || m_cancelledBySender)
        return;
    if (m_position < m_fileSize)
        SendChunk();
}

void SendWindow::timSendSpeed_Timer() {
    const bool stalled = m_progress.Tick();
    m_lblSendProc[8]->setText(m_progress.SpeedText());
    m_lblSendProc[10]->setText(m_progress.RemainingText());
    if (stalled) {
        ResetAndShow(QStringLiteral("超时:无法向 ") + m_typedAddress + QStringLiteral(" 继续发送") +
                         QStringLiteral(",原因可能是:\r\n\r\n-网络突然断开\r\n-对方中途退出"
                                        "Tolvex\r\n-其它意外原因导致连接中断"),
                     KindError, true);
    }
}

void SendWindow::cmdSendProc_Click() {
    if (m_phase != Phase::Sending && m_phase != Phase::DataLost)
        return;
    if (m_cancelledBySender)
        return;
    const int answer = ShowMessage(m_session.messageBox(), this,
                                   QStringLiteral("确实要取消正在发送的文件么？"), KindAsk, false);
    // The transfer may have ended while the question was open.
    if (answer == AnswerNo || (m_phase != Phase::Sending && m_phase != Phase::DataLost))
        return;
    m_cancelledBySender = true;
    m_timSendSpeed.stop();
    const int number = m_link.Send(BuildSenderCancel(m_txtCancelSend->text()));
    ShowPage(PageInput);
    // The peer closes both connections on the cancel, and that close resets the window.
    if (number != 0)
        HandleConnectionError(number);
}

// ---- Outcomes ----

void SendWindow::Finished() {
    m_timSendSpeed.stop();
    const QString text = QStringLiteral("文件已成功发送到 ") + m_typedAddress +
                         QStringLiteral(" 。") + QStringLiteral("\r\n\r\n") +
                         QStringLiteral("源文件 ") + m_filePath + QStringLiteral("\r\n\r\n") +
                         QStringLiteral("完成时间 ") +
                         m_session.system().Now().time().toString(QStringLiteral("H:mm:ss")) +
                         QStringLiteral(" ,用时 ") +
                         FormatDuration(qint32(Uptime() - m_sendingStart)) + QStringLiteral("。");
    m_finalPageShown = true;
    Reset();
    After(m_pauseMs, [this, text] {
        m_lblSendFinish->setText(ToBoxText(text));
        ShowPage(PageFinished);
        ActivateWindow(this);
    });
}

void SendWindow::ShowOutcome(int page, const QString& line, const QString& note) {
    m_finalPageShown = true;
    Reset();
    QLabel* label = page == PageRefused       ? m_lblRefuRecv[1]
                    : page == PageAutoRefused ? m_lblAutoRefuRecv[1]
                                              : m_lblCanclRecv[1];
    QPlainTextEdit* box = page == PageRefused       ? m_txtRefuRecv
                          : page == PageAutoRefused ? m_txtAutoRefuRecv
                                                    : m_txtCanclRecv;
    label->setText(line);
    box->setPlainText(ToBoxText(note));
    ShowPage(page);
    ActivateWindow(this);
}

void SendWindow::cmdResult_Click() {
    ShowPage(PageInput);
}

void SendWindow::lblSendProc_Click(int index) {
    if (index != 2)
        return;
    ShowPeerInfo(m_session, QStringList{m_typedAddress} + m_peerCard);
}

// ---- Errors, retries and the reset ----

void SendWindow::HandleConnectionError(int number) {
    if (m_phase == Phase::Idle || m_retryPending)
        return;
    const QString& a = m_typedAddress;
    const bool retry = m_chkAutoTry->isChecked();
    QString text;
    bool systemModal = true;
    bool retryable = false;
    switch (number) {
        case kErrAddressInUse:
            retryable = true;
            text = QStringLiteral("无法向 ") + a +
                   QStringLiteral(
                       " 发出请求,原因可能是:\r\n\r\n-对方正在使用Tolvex\r\n-"
                       "其它程序正在使用端口");
            break;
        case kErrAddressNotAvailable:
        case kErrHostNotFound:
            text = QStringLiteral("无效的IP或TVX地址,请重新输入。");
            systemModal = false;
            break;
        case kErrConnectionAborted:
        case kErrConnectionReset:
            if (m_cancelledBySender) {
                Reset();
                return;
            }
            text = QStringLiteral("无法向 ") + a + QStringLiteral(" 继续发送") +
                   QStringLiteral(
                       ",原因可能是:\r\n\r\n-网络突然断开\r\n-对方中途退出Tolvex\r\n-"
                       "其它意外原因导致连接中断");
            break;
        case kErrShutDown:
        case kErrTimedOut:
            retryable = true;
            text = QStringLiteral("无法连接 ") + a +
                   QStringLiteral(
                       " ,原因可能是:\r\n\r\n-对方没有登陆网络\r\n-防火墙阻止了连接\r\n-"
                       "双方处于不同的网络中");
            break;
        case kErrConnectionRefused:
            retryable = true;
            text = QStringLiteral("无法连接 ") + a +
                   QStringLiteral(" ,原因可能是:\r\n\r\n-对方没有运行Tolvex");
            break;
        case kErrWrongState:
            text = QStringLiteral("无法继续:网络连接发生错误。");
            break;
        default:
            text = QStringLiteral("网络连接发生未知错误而断开。");
            break;
    }
    if (retryable && retry) {
        QueueRetry();
        return;
    }
    ResetAndShow(text, KindError, systemModal);
}

void SendWindow::QueueRetry() {
    // The failed connection finishes its own clean-up first; the next attempt follows at once.
    m_retryPending = true;
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation != m_generation || !m_retryPending)
            return;
        m_retryPending = false;
        RetryConnection();
    });
}

void SendWindow::RetryConnection() {
    ++m_retryCount;
    if (m_txtAutoTryNum->text().toInt() <= m_retryCount) {
        Reset();
        ShowMessage(m_session.messageBox(), this,
                    QStringLiteral("Tolvex已尝试连接对方指定次数,但并未成功。"), KindError, false);
        return;
    }
    m_lblLinkInfo[4]->setText(QStringLiteral("(已尝试连接 ") + QString::number(m_retryCount) +
                              QStringLiteral(" 次)"));
    Connect();
}

void SendWindow::ResetAndShow(const QString& text, int kind, bool systemModal) {
    Reset();
    ShowMessage(m_session.messageBox(), this, text, kind, systemModal);
}

void SendWindow::Reset() {
    ++m_generation;
    m_resetting = true;
    m_retryPending = false;
    m_data.Close();
    m_link.Reset();
    m_resetting = false;
    m_timWait.stop();
    m_timSendSpeed.stop();
    if (m_finalPageShown) {
        m_finalPageShown = false;
    } else {
        ShowPage(PageInput);
    }
    m_phase = Phase::Idle;
    m_position = 0;
    m_progress.Reset();
    m_fileSize = 0;
    m_cancelledBySender = false;
    m_dataEndError = 0;
    m_sendBuffer = QByteArray();
    m_session.activity.sending = false;
    UpdateScheduleClock();
}

// ---- Retry count and scheduled send ----

void SendWindow::chkAutoTry_Click() {
    const bool on = m_chkAutoTry->isChecked();
    m_txtAutoTryNum->setVisible(on);
    m_vsbAutoTry->setVisible(on);
    if (on)
        m_txtAutoTryNum->setFocus();
}

void SendWindow::SyncCountBox() {
    bool ok = false;
    const int value = m_txtAutoTryNum->text().toInt(&ok);
    if (ok && value > 1 && value <= m_vsbAutoTry->maximum()) {
        m_vsbAutoTry->setValue(value);
    } else {
        m_txtAutoTryNum->setText(QString::number(m_vsbAutoTry->value()));
    }
}

void SendWindow::SyncTimeBox(int index) {
    bool ok = false;
    const int value = m_txtTime[index]->text().toInt(&ok);
    if (ok && value >= 0 && value <= m_vsrTime[index]->maximum()) {
        m_vsrTime[index]->setValue(value);
    } else {
        m_txtTime[index]->setText(QString::number(m_vsrTime[index]->value()));
    }
}

void SendWindow::chkUseTime_Click() {
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

void SendWindow::UpdateScheduleClock() {
    const bool run = m_chkUseTime->isChecked() && !m_session.activity.sending;
    if (run && !m_timSend.isActive()) {
        m_timSend.start();
    } else if (!run) {
        m_timSend.stop();
    }
}

void SendWindow::timSend_Timer() {
    const QTime now = m_session.system().Now().time();
    if (m_txtTime[1]->text().toInt() != now.hour() || m_txtTime[2]->text().toInt() != now.minute())
        return;
    m_chkUseTime->setChecked(false);
    chkUseTime_Click();
    cmdDo_Click(3);
}

}  // namespace tvx
