#include "transfer/SendWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "address/AddressCode.h"
#include "address/AddressInput.h"
#include "address/AddressPicker.h"
#include "common/FileIcons.h"
#include "common/Format.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/ShellRoutines.h"
#include "common/Text.h"
#include "common/Windows.h"
#include "protocol/PeerMessages.h"
#include "records/AddressFiles.h"
#include "records/AddressLists.h"
#include "records/PeerInfoWindow.h"
#include "records/Settings.h"
#include "session/Session.h"
#include "texts/SendTexts.h"
#include "transfer/FileInfoTip.h"
#include "transfer/TransferProgress.h"

namespace tvx {

namespace {

constexpr int kNoteLimit = 200;

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
    : QWidget(parent), m_session(session), m_engine(session), m_tip(new FileInfoTip(session)) {
    setObjectName(QStringLiteral("SendWindow"));
    setWindowTitle(QStringLiteral("发送文件"));

    BuildPages();

    m_timSend.setInterval(1000);
    m_timFileInfoTip.setInterval(50);
    connect(&m_timSend, &QTimer::timeout, this, &SendWindow::ScheduleTick);
    connect(&m_timFileInfoTip, &QTimer::timeout, this, &SendWindow::FileTipTick);

    connect(&m_engine, &FileSendEngine::StepChanged, this, &SendWindow::OnStep);
    connect(&m_engine, &FileSendEngine::Waiting, this,
            [this](qint64 seconds) { m_lblLinkInfo[4]->setText(SendWaitedLine(seconds)); });
    connect(&m_engine, &FileSendEngine::Retrying, this,
            [this](int attempt) { m_lblLinkInfo[4]->setText(SendTriedLine(attempt)); });
    connect(&m_engine, &FileSendEngine::SendingStarted, this, &SendWindow::FillSendingPage);
    connect(&m_engine, &FileSendEngine::StreamStarted, this, [this] { ShowPage(PageSending); });
    connect(&m_engine, &FileSendEngine::ProgressChanged, this, &SendWindow::UpdateProgress);
    connect(&m_engine, &FileSendEngine::SpeedTicked, this, &SendWindow::UpdateSpeed);
    connect(&m_engine, &FileSendEngine::Ended, this, &SendWindow::ShowEnd);
    connect(&m_engine, &FileSendEngine::LogWriteFailed, this, [this](const QString& warning) {
        ShowMessage(m_session.messageBox(), this, warning, MessageKind::Warning, false);
    });
    connect(&m_engine, &FileSendEngine::SendingChanged, this, &SendWindow::UpdateScheduleClock);
    // The retry boxes count at each failure, also when changed while connecting.
    connect(m_chkAutoTry, &QCheckBox::toggled, this, &SendWindow::PassRetryPolicy);
    connect(m_txtAutoTryNum, &QLineEdit::textChanged, this, &SendWindow::PassRetryPolicy);

    resize(m_session.display.PixelsX(6600), m_session.display.PixelsY(5400));
    CenterForm(m_session.display, this);
}

SendWindow::~SendWindow() {
    // The engine closes its connections as it goes; the pages are not to follow.
    m_engine.disconnect(this);
    m_timFileInfoTip.stop();
    delete m_tip;
    if (m_picker)
        m_picker->close();
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
    }
    connect(m_cmdDo[1], &QPushButton::clicked, this, &SendWindow::AddressBookClicked);
    connect(m_cmdDo[2], &QPushButton::clicked, this, &SendWindow::ChooseFileClicked);
    connect(m_cmdDo[3], &QPushButton::clicked, this, &SendWindow::SendClicked);
    connect(m_cmdDo[4], &QPushButton::clicked, this, &SendWindow::CancelClicked);

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
    connect(m_chkFSPW, &QCheckBox::clicked, this, &SendWindow::VerificationToggled);

    m_chkAutoTry = new QCheckBox(QStringLiteral("自动重试(次)"), page);
    m_chkAutoTry->setObjectName(QStringLiteral("chkAutoTry"));
    m_txtAutoTryNum = NumberBox(page, QStringLiteral("txtAutoTryNum"));
    m_vsbAutoTry = Spinner(page, QStringLiteral("vsbAutoTry"), 2, 999);
    m_vsbAutoTry->setValue(99);
    m_txtAutoTryNum->setText(QStringLiteral("99"));
    connect(m_chkAutoTry, &QCheckBox::clicked, this, &SendWindow::AutoRetryToggled);
    connect(m_vsbAutoTry, &QScrollBar::valueChanged, this,
            [this](int value) { m_txtAutoTryNum->setText(QString::number(value)); });
    connect(m_txtAutoTryNum, &QLineEdit::textChanged, this, &SendWindow::SyncCountBox);

    m_chkUseTime = new QCheckBox(QStringLiteral("定时发送在"), page);
    m_chkUseTime->setObjectName(QStringLiteral("chkUseTime"));
    connect(m_chkUseTime, &QCheckBox::clicked, this, &SendWindow::ScheduleToggled);
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
    connect(m_cmdSendProc, &QPushButton::clicked, this, &SendWindow::CancelSendingClicked);
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
    connect(button, &QPushButton::clicked, this, &SendWindow::ResultConfirmed);

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

void SendWindow::RestoreInputs() {
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
        RestoreInputs();
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

void SendWindow::connectNotify(const QMetaMethod& signal) {
    // Hearing of each chunk slows the engine down; it is asked for only by listeners here.
    if (signal == QMetaMethod::fromSignal(&SendWindow::ChunkSent) && !m_chunksPassedOn) {
        m_chunksPassedOn = true;
        connect(&m_engine, &FileSendEngine::ChunkSent, this, &SendWindow::ChunkSent);
    }
}

void SendWindow::closeEvent(QCloseEvent* event) {
    // The window is never destroyed by its close box.
    event->ignore();
    switch (CurrentPage()) {
        case PageConnecting:
            CancelClicked();
            return;
        case PageSending:
            CancelSendingClicked();
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
            FileDropped(drop->mimeData());
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
        FileIconDoubleClicked();
        return true;
    } else if (type == QEvent::MouseButtonRelease && watched == m_lblSendProc[2]) {
        ReceiverClicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QString SendWindow::NoteText() const {
    return ToWireText(m_txtNote->toPlainText());
}

// ---- Page 1 ----

void SendWindow::AddressBookClicked() {
    ShowAddressPicker(
        m_session, this, PickerPurpose::SendFile, [this](QWidget* owner, PickerPurpose purpose) {
            if (m_picker)
                m_picker->close();
            m_picker = OpenAddressPicker(
                m_session, owner, purpose,
                [this](PickerPurpose, const QString& address) { TakePickedAddress(address); });
        });
}

void SendWindow::ChooseFileClicked() {
    const QString path = ChooseOpenFile(m_session.dialogs(), this);
    if (path.isEmpty())
        return;
    m_txtFSInfo[2]->setText(path);
    m_txtFSInfo[2]->setCursorPosition(m_txtFSInfo[2]->text().size());
    m_txtFSInfo[2]->setFocus();
}

void SendWindow::CancelClicked() {
    m_engine.Cancel();
}

void SendWindow::VerificationToggled() {
    const bool on = m_chkFSPW->isChecked();
    m_txtFSPW->setVisible(on);
    if (on)
        m_txtFSPW->setFocus();
}

bool SendWindow::FileDropped(const QMimeData* data) {
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

void SendWindow::FileIconDoubleClicked() {
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
                        MessageKind::Warning, false);
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

void SendWindow::FileTipTick() {
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
    const UserMessage warning = FileProblemMessage(FileSendEngine::CheckFile(path), path);
    if (warning.isEmpty())
        return true;
    ShowMessage(m_session.messageBox(), this, warning.text, warning.kind, warning.systemModal);
    m_txtFSInfo[2]->setFocus();
    return false;
}

void SendWindow::SendClicked() {
    if (CurrentPage() != PageInput)
        return;
    if (m_engine.phase() != FileSendEngine::Phase::Idle) {
        // Only after the user cancelled and the peer has not closed yet.
        if (!m_engine.cancelledBySender())
            return;
        m_engine.Cancel();
    }
    const QString target =
        CheckTargetAddress(m_session.messageBox(), this, m_txtFSInfo[1], m_session.localAddress);
    if (target.isEmpty() || !CheckFile())
        return;

    FileSendEngine::Request request;
    request.peerAddress = target;
    request.shownAddress = m_txtFSInfo[1]->text().toUpper();
    request.typedAddress = m_txtFSInfo[1]->text();
    request.filePath = m_txtFSInfo[2]->text();
    request.note = NoteText();
    const QString code = m_txtFSPW->text();
    if (m_chkFSPW->isChecked() && !code.isEmpty())
        request.verificationCode = code;
    if (m_session.settings.saveSendInfo1) {
        SettingsStore& store = m_session.store();
        WriteSetting(store, QStringLiteral("Address1"), request.shownAddress);
        WriteSetting(store, QStringLiteral("SendFilePath"), request.filePath);
        WriteSetting(store, QStringLiteral("Message1"), request.note);
    }

    m_lblLinkInfo[1]->setText(SendConnectingLine(request.shownAddress));
    PassRetryPolicy();
    m_engine.Start(request);
}

// ---- Sending ----

void SendWindow::FillSendingPage() {
    const TransferProgress& progress = m_engine.progress();
    m_lblSendProc[2]->setText(m_engine.request().shownAddress);
    m_lblSendProc[4]->setText(m_engine.fileName());
    m_lblSendProc[4]->setToolTip(m_engine.request().filePath);
    m_lblSendProc[6]->setText(FormatSizeWithBytes(qint32(progress.Position())));
    m_lblSendProc[8]->setText(progress.SpeedText());
    m_lblSendProc[10]->setText(progress.RemainingText());
    m_picBar->setFixedWidth(progress.BarWidth());
    m_lblSendProc[11]->setText(progress.PercentText());
}

void SendWindow::UpdateProgress() {
    const TransferProgress& progress = m_engine.progress();
    if (progress.Total() <= 0)
        return;
    const int width = progress.BarWidth();
    if (width != m_picBar->width())
        m_picBar->setFixedWidth(width);
    m_lblSendProc[11]->setText(progress.PercentText());
    m_lblSendProc[6]->setText(progress.BytesText());
}

void SendWindow::UpdateSpeed() {
    m_lblSendProc[8]->setText(m_engine.progress().SpeedText());
    m_lblSendProc[10]->setText(m_engine.progress().RemainingText());
}

void SendWindow::CancelSendingClicked() {
    if (!m_engine.sending() || m_engine.cancelledBySender())
        return;
    const MessageAnswer answer =
        ShowMessage(m_session.messageBox(), this, QStringLiteral("确实要取消正在发送的文件么？"),
                    MessageKind::Ask, false);
    // The transfer may have ended while the question was open.
    if (answer == MessageAnswer::No || !m_engine.sending() || m_engine.cancelledBySender())
        return;
    // The peer's close that follows ends the transfer.
    ShowPage(PageInput);
    m_engine.CancelSending(m_txtCancelSend->text());
}

// ---- Outcomes ----

void SendWindow::OnStep(int step) {
    if (step == 1)
        m_lblLinkInfo[4]->clear();
    SetStep(step);
    if (step == 1)
        ShowPage(PageConnecting);
}

void SendWindow::ShowEnd(const SendOutcome& outcome) {
    using Kind = SendOutcome::Kind;
    int page = PageInput;
    switch (outcome.kind) {
        case Kind::Completed:
            page = PageFinished;
            break;
        case Kind::Refused:
            page = PageRefused;
            break;
        case Kind::AutoRefused:
            page = PageAutoRefused;
            break;
        case Kind::PeerCancelled:
            page = PageReceiverCancelled;
            break;
        default:
            break;
    }
    if (page != PageInput) {
        ShowOutcome(page, SendOutcomeLine(outcome), SendOutcomeNote(outcome));
        return;
    }
    ShowPage(PageInput);
    const UserMessage message = SendFailureMessage(outcome);
    if (!message.isEmpty())
        ShowMessage(m_session.messageBox(), this, message.text, message.kind, message.systemModal);
}

void SendWindow::ShowOutcome(int page, const QString& line, const QString& note) {
    if (page == PageFinished) {
        m_lblSendFinish->setText(ToBoxText(line));
    } else {
        QLabel* label = page == PageRefused       ? m_lblRefuRecv[1]
                        : page == PageAutoRefused ? m_lblAutoRefuRecv[1]
                                                  : m_lblCanclRecv[1];
        QPlainTextEdit* box = page == PageRefused       ? m_txtRefuRecv
                              : page == PageAutoRefused ? m_txtAutoRefuRecv
                                                        : m_txtCanclRecv;
        label->setText(line);
        box->setPlainText(ToBoxText(note));
    }
    ShowPage(page);
    ActivateWindow(this);
}

void SendWindow::ResultConfirmed() {
    ShowPage(PageInput);
}

void SendWindow::ReceiverClicked() {
    ShowPeerInfo(m_session, QStringList{m_engine.request().shownAddress} + m_engine.peerCard());
}

void SendWindow::PassRetryPolicy() {
    m_engine.SetRetryPolicy(m_chkAutoTry->isChecked(), m_txtAutoTryNum->text().toInt());
}

// ---- Retry count and scheduled send ----

void SendWindow::AutoRetryToggled() {
    const bool on = m_chkAutoTry->isChecked();
    PassRetryPolicy();
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

void SendWindow::ScheduleToggled() {
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
    const bool run = m_chkUseTime->isChecked() && !m_session.activity.sendWindowSending();
    if (run && !m_timSend.isActive()) {
        m_timSend.start();
    } else if (!run) {
        m_timSend.stop();
    }
}

void SendWindow::ScheduleTick() {
    const QTime now = m_session.system().Now().time();
    if (m_txtTime[1]->text().toInt() != now.hour() || m_txtTime[2]->text().toInt() != now.minute())
        return;
    m_chkUseTime->setChecked(false);
    ScheduleToggled();
    SendClicked();
}

}  // namespace tvx
