#include "transfer/SendWindow.h"

#include <QApplication>
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
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "address/AddressCode.h"
#include "address/AddressInput.h"
#include "address/AddressPicker.h"
#include "common/Controls.h"
#include "common/FileIcons.h"
#include "common/Format.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/RetryScheduleBox.h"
#include "common/ShellRoutines.h"
#include "common/Text.h"
#include "common/TrustQuestion.h"
#include "common/Windows.h"
#include "doctor/DoctorWindow.h"
#include "protocol/PeerMessages.h"
#include "records/AddressFiles.h"
#include "records/AddressLists.h"
#include "records/PeerInfoWindow.h"
#include "records/Settings.h"
#include "session/Session.h"
#include "texts/BatchTexts.h"
#include "texts/SecurityTexts.h"
#include "texts/SendTexts.h"
#include "transfer/FileInfoTip.h"
#include "transfer/TransferProgress.h"

namespace tvx {

namespace {

constexpr int kNoteLimit = 200;
// Top names in the tool tip of the batch's name line.
constexpr int kTipNames = 30;

// Several chosen items as the file box shows them: each path in double quotes.
QString ListText(const QStringList& paths) {
    QStringList quoted;
    for (const QString& path : paths)
        quoted.append(QLatin1Char('"') + path + QLatin1Char('"'));
    return quoted.join(QLatin1Char(' '));
}

// Several items, or a folder, go as a batch; one plain file goes alone.
bool MakesBatch(const QStringList& paths) {
    return paths.size() > 1 || (paths.size() == 1 && QFileInfo(paths.front()).isDir());
}

// A label whose text may be longer than the window: it is cut at the window's edge instead of
// widening it. Names come from the file system, so the text is never taken for markup.
QLabel* CutLabel(QWidget* parent, const QString& name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

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

}  // namespace

SendWindow::SendWindow(Session& session, QWidget* parent)
    : QWidget(parent), m_session(session), m_engine(session), m_tip(new FileInfoTip(session)) {
    setObjectName(QStringLiteral("SendWindow"));
    setWindowTitle(QStringLiteral("发送文件"));

    BuildPages();

    m_timFileInfoTip.setInterval(50);
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
    connect(&m_engine, &FileSendEngine::OneByOne, this, &SendWindow::ShowOneByOne);
    connect(&m_engine, &FileSendEngine::Ended, this, &SendWindow::ShowEnd);
    connect(&m_engine, &FileSendEngine::LogWriteFailed, this, [this](const QString& warning) {
        ShowMessage(m_session.messageBox(), this, warning, MessageKind::Warning, false);
    });
    connect(&m_engine, &FileSendEngine::SendingChanged, this, &SendWindow::UpdateScheduleClock);
    // The retry boxes count at each failure, also when changed while connecting.
    connect(m_retry, &RetryScheduleBox::RetryChanged, this, &SendWindow::PassRetryPolicy);

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
    m_steps = new ConnectingPage(QStringLiteral("连接成功,正在向对方发出请求..."),
                                 SendWaitingForAnswerLine(), m_cmdDo[4], m_pages);
    for (int index = 1; index <= 4; ++index)
        m_lblLinkInfo[index] = m_steps->Line(index);
    m_picFSbox[2] = m_steps;
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

    // Told once when the peer takes the batch file by file; it stays until the next send.
    m_lblOneByOne = new QLabel(this);
    m_lblOneByOne->setObjectName(QStringLiteral("lblOneByOne"));
    m_lblOneByOne->setWordWrap(true);
    m_lblOneByOne->setStyleSheet(QStringLiteral("color: #A05000;"));
    m_lblOneByOne->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 6);
    layout->addWidget(m_pages, 1);
    layout->addWidget(m_lblOneByOne);
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
    LimitLength(m_txtNote, kNoteLimit);

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
    m_cmdFolder = new QToolButton(page);
    m_cmdFolder->setObjectName(QStringLiteral("cmdFolder"));
    m_cmdFolder->setIcon(style()->standardIcon(QStyle::SP_DirIcon));
    m_cmdFolder->setToolTip(QStringLiteral("选择文件夹..."));
    connect(m_cmdFolder, &QToolButton::clicked, this, &SendWindow::ChooseFolderClicked);

    // What a batch holds, under the file box while the box names several items or a folder.
    m_picBatch = new QWidget(page);
    m_picBatch->setObjectName(QStringLiteral("picBatch"));
    m_lblBatchSummary = CutLabel(m_picBatch, QStringLiteral("lblBatchSummary"));
    m_lblBatchNames = CutLabel(m_picBatch, QStringLiteral("lblBatchNames"));
    m_lblBatchNames->setStyleSheet(QStringLiteral("color: #505050;"));
    m_txtBatchSkipped = new QPlainTextEdit(m_picBatch);
    m_txtBatchSkipped->setObjectName(QStringLiteral("txtBatchSkipped"));
    m_txtBatchSkipped->setReadOnly(true);
    m_txtBatchSkipped->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_txtBatchSkipped->setFixedHeight(m_txtBatchSkipped->fontMetrics().lineSpacing() * 3 + 10);
    auto* batch = new QVBoxLayout(m_picBatch);
    batch->setContentsMargins(0, 0, 0, 0);
    batch->setSpacing(2);
    batch->addWidget(m_lblBatchSummary);
    batch->addWidget(m_lblBatchNames);
    batch->addWidget(m_txtBatchSkipped);
    m_picBatch->hide();

    m_code = new CodeRow(QStringLiteral("chkFSPW"), QStringLiteral("txtFSPW"), CodeRow::Look::Plain,
                         page);

    m_retry = new RetryScheduleBox(
        RetryScheduleBox::Arrangement::OneRow, [this] { return m_session.system().Now().time(); },
        page);
    connect(m_retry, &RetryScheduleBox::ScheduleToggled, this, &SendWindow::UpdateScheduleClock);
    connect(m_retry, &RetryScheduleBox::ClockTicked, this, &SendWindow::ScheduleTick);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("对方地址:"), page), 0, 0);
    grid->addWidget(m_txtFSInfo[1], 0, 2);
    grid->addWidget(m_cmdDo[1], 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("发送文件:"), page), 1, 0);
    grid->addWidget(m_picFileIcoSmall[1], 1, 1);
    grid->addWidget(m_txtFSInfo[2], 1, 2);
    auto* choose = new QHBoxLayout;
    choose->setSpacing(2);
    choose->addWidget(m_cmdDo[2], 1);
    choose->addWidget(m_cmdFolder);
    grid->addLayout(choose, 1, 3);
    grid->addWidget(m_picBatch, 2, 2, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("附言:"), page), 3, 0, Qt::AlignTop);
    grid->addWidget(m_txtNote, 3, 2, 1, 2);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(3, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdDo[3]);
    m_cmdDo[3]->setDefault(true);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(grid, 1);
    layout->addWidget(m_code);
    layout->addWidget(m_retry);
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
    // Whether the connection is encrypted, with the receiver's code to compare.
    m_lblSecurity = CutLabel(page, QStringLiteral("lblSecurity"));
    m_lblSecurity->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(m_lblSecurity, 5, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    m_picBox = NewProgressBar(page, QStringLiteral("picBox"), TransferProgress::kBarWidth,
                              QStringLiteral("#808080"), QStringLiteral("#1060D0"));
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
    if (page == PageInput)
        m_lblOneByOne->hide();
    for (int index = 1; index <= 7; ++index)
        m_picFSbox[index]->setEnabled(index == page);
    m_pages->setCurrentIndex(page);
    m_lblFSTip[2]->setText(QString::fromUtf16(kPageTips[page]));
}

int SendWindow::CurrentPage() const {
    return m_pages->currentIndex();
}

void SendWindow::SetStep(int step) {
    m_steps->SetStep(step);
}

// ---- Loading and showing ----

void SendWindow::RestoreInputs() {
    m_loaded = true;
    if (m_session.settings.saveSendInfo1) {
        SettingsStore& store = m_session.store();
        m_txtFSInfo[1]->setText(ReadSetting(store, QStringLiteral("Address1")));
        const QString path = ReadSetting(store, QStringLiteral("SendFilePath"));
        m_txtFSInfo[2]->setText(path);
        m_txtNote->setPlainText(FromWireText(ReadSetting(store, QStringLiteral("Message1"))));
        FileBoxChanged();
        // A folder sent last time shows what it holds now.
        if (!path.isEmpty() && MakesBatch({path}))
            WalkSelection({path});
    } else {
        m_picFileIcoSmall[1]->setPixmap(GenericFilePicture(16));
    }
    ShowPage(PageInput);
}

void SendWindow::ShowSendWindow() {
    if (!m_loaded)
        RestoreInputs();
    BringForward(this);
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
        TrimLineBox(m_txtFSInfo[1]);
    } else if (type == QEvent::FocusOut && watched == m_txtNote) {
        TrimNoteBox(m_txtNote);
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
    PickAddressFor(m_session, this, PickerPurpose::SendFile, m_picker,
                   [this](const QString& address) { TakePickedAddress(address); });
}

void SendWindow::ChooseFileClicked() {
    QStringList paths = m_session.dialogs().OpenFiles(this, QStringLiteral("选择文件"),
                                                      kAllFilesFilter, kOpenFileOptions);
    for (QString& path : paths)
        path = CutAtNul(path);
    paths.removeAll(QString());
    if (paths.isEmpty())
        return;
    TakeChosen(paths);
    if (paths.size() == 1)
        m_txtFSInfo[2]->setCursorPosition(m_txtFSInfo[2]->text().size());
    m_txtFSInfo[2]->setFocus();
}

void SendWindow::ChooseFolderClicked() {
    const QString folder =
        CutAtNul(m_session.dialogs().BrowseFolder(this, QStringLiteral("选择文件夹")));
    if (folder.isEmpty())
        return;
    TakeChosen({folder});
    m_txtFSInfo[2]->setCursorPosition(m_txtFSInfo[2]->text().size());
    m_txtFSInfo[2]->setFocus();
}

void SendWindow::TakeChosen(const QStringList& paths) {
    if (paths.size() > 1) {
        m_chosen = paths;
        m_chosenText = ListText(paths);
    } else {
        m_chosen.clear();
        m_chosenText.clear();
    }
    m_txtFSInfo[2]->setText(paths.size() > 1 ? m_chosenText : paths.front());
    // A list reads from its first item.
    if (paths.size() > 1)
        m_txtFSInfo[2]->setCursorPosition(0);
    if (MakesBatch(paths))
        WalkSelection(paths);
}

QStringList SendWindow::ChosenPaths() const {
    const QString text = m_txtFSInfo[2]->text();
    if (!m_chosen.isEmpty() && text == m_chosenText)
        return m_chosen;
    return {text};
}

std::shared_ptr<const BatchSelection> SendWindow::WalkSelection(const QStringList& paths) {
    // A large folder takes a moment to walk; nothing else can happen meanwhile.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_batch = std::make_shared<const BatchSelection>(BatchSelection::Scan(paths));
    QApplication::restoreOverrideCursor();
    m_batchText = m_txtFSInfo[2]->text();
    ShowBatch();
    return m_batch;
}

void SendWindow::ShowBatch() {
    const BatchSelection& batch = *m_batch;
    m_lblBatchSummary->setText(
        BatchSummaryLine(batch.folders(), batch.files(), batch.totalBytes()));
    m_lblBatchNames->setText(BatchTopNamesLine(batch.topNames()));
    m_lblBatchNames->setToolTip(BatchTopNamesLine(batch.topNames(), kTipNames));
    m_txtBatchSkipped->setPlainText(FromWireText(SkippedPathsText(batch.skipped())));
    m_txtBatchSkipped->setVisible(!batch.skipped().isEmpty());
    m_picBatch->show();
    m_picFileIcoSmall[1]->setPixmap(style()->standardIcon(QStyle::SP_DirIcon).pixmap(16, 16));
}

void SendWindow::HideBatch() {
    m_picBatch->hide();
    m_batchText.clear();
}

void SendWindow::CancelClicked() {
    m_engine.Cancel();
}

bool SendWindow::FileDropped(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return false;
    QStringList paths;
    for (const QUrl& url : data->urls()) {
        QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        if (!path.isEmpty() && !paths.contains(path))
            paths.append(path);
    }
    if (paths.isEmpty())
        return false;
    TakeChosen(paths);
    return true;
}

void SendWindow::FileIconDoubleClicked() {
    const QString path = m_txtFSInfo[2]->text();
    if (FileExists(path))
        OpenFileChecked(m_session.shell(), m_session.messageBox(), this, path);
}

void SendWindow::FileBoxChanged() {
    const QString path = m_txtFSInfo[2]->text();
    if (path != m_batchText)
        HideBatch();
    if (path != m_chosenText) {
        m_chosen.clear();
        m_chosenText.clear();
    }
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
    if (target.isEmpty())
        return;
    // Several items or a folder are walked again as they stand now: a timed send may come
    // long after the choice.
    const QStringList paths = ChosenPaths();
    std::shared_ptr<const BatchSelection> batch;
    if (MakesBatch(paths)) {
        batch = WalkSelection(paths);
        if (batch->isEmpty()) {
            const UserMessage warning = NothingToSendMessage();
            ShowMessage(m_session.messageBox(), this, warning.text, warning.kind,
                        warning.systemModal);
            return;
        }
    } else if (!CheckFile()) {
        return;
    }

    FileSendEngine::Request request;
    request.peerAddress = target;
    request.shownAddress = m_txtFSInfo[1]->text().toUpper();
    request.typedAddress = m_txtFSInfo[1]->text();
    if (!batch)
        request.filePath = m_txtFSInfo[2]->text();
    request.batch = batch;
    request.note = NoteText();
    const QString code = m_code->code();
    if (m_code->ticked() && !code.isEmpty())
        request.verificationCode = code;
    if (m_session.settings.saveSendInfo1) {
        SettingsStore& store = m_session.store();
        WriteSetting(store, QStringLiteral("Address1"), request.shownAddress);
        // A list of several items is not kept; a file or a folder is.
        if (paths.size() == 1)
            WriteSetting(store, QStringLiteral("SendFilePath"), paths.front());
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
    m_lblSecurity->setText(EncryptionLine(m_engine.encrypted(), m_engine.peerFingerprint()));
    if (m_engine.batch()) {
        m_lblSendProc[3]->setText(QStringLiteral("当前文件:"));
        ShowBatchProgress();
    } else {
        m_lblSendProc[3]->setText(QStringLiteral("文件名:"));
        m_lblSendProc[4]->setText(m_engine.fileName());
        m_lblSendProc[4]->setToolTip(m_engine.request().filePath);
        m_lblSendProc[6]->setText(FormatSizeWithBytes(qint32(progress.Position())));
    }
    m_lblSendProc[8]->setText(progress.SpeedText());
    m_lblSendProc[10]->setText(progress.RemainingText());
    m_picBox->setValue(progress.BarWidth());
    m_lblSendProc[11]->setText(progress.PercentText());
}

void SendWindow::UpdateProgress() {
    const TransferProgress& progress = m_engine.progress();
    if (progress.Total() <= 0)
        return;
    const int width = progress.BarWidth();
    if (width != m_picBox->value())
        m_picBox->setValue(width);
    m_lblSendProc[11]->setText(progress.PercentText());
    if (m_engine.batch())
        ShowBatchProgress();
    else
        m_lblSendProc[6]->setText(progress.BytesText());
}

void SendWindow::ShowBatchProgress() {
    const BatchProgress files = m_engine.batchProgress();
    const TransferProgress& bytes = m_engine.progress();
    m_lblSendProc[4]->setText(BatchFileLine(files));
    m_lblSendProc[4]->setToolTip(files.currentPath);
    m_lblSendProc[6]->setText(BatchSizeText(bytes.Position()) + QStringLiteral(" / ") +
                              BatchSizeText(bytes.Total()));
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
        if (outcome.kind == Kind::Completed && !outcome.skipped.isEmpty())
            ShowMessage(m_session.messageBox(), this, SkippedFilesText(outcome.skipped),
                        MessageKind::Warning, false);
        return;
    }
    ShowPage(PageInput);
    const UserMessage message = SendFailureMessage(outcome);
    if (!message.isEmpty() && OffersDoctor(outcome))
        ShowReachFailure(m_session, this, message, m_engine.request().peerAddress);
    else if (!message.isEmpty())
        ShowMessage(m_session.messageBox(), this, message.text, message.kind, message.systemModal);
    if (outcome.kind == Kind::LinkRefused)
        AskToTrust(outcome);
}

void SendWindow::AskToTrust(const SendOutcome& outcome) {
    FileSendEngine::Request again = m_engine.request();
    if (!tvx::AskToTrust(m_session.messageBox(), this, outcome.refusal, again))
        return;
    // Started from the event loop: the engine is still reporting the end of the last attempt.
    QMetaObject::invokeMethod(
        this,
        [this, again] {
            if (m_engine.phase() != Phase::Idle || CurrentPage() != PageInput)
                return;
            m_lblLinkInfo[1]->setText(SendConnectingLine(again.shownAddress));
            PassRetryPolicy();
            m_engine.Start(again);
        },
        Qt::QueuedConnection);
}

void SendWindow::ShowOutcome(int page, const QString& line, const QString& note) {
    if (page == PageFinished) {
        m_lblSendFinish->setText(FromWireText(line));
    } else {
        QLabel* label = page == PageRefused       ? m_lblRefuRecv[1]
                        : page == PageAutoRefused ? m_lblAutoRefuRecv[1]
                                                  : m_lblCanclRecv[1];
        QPlainTextEdit* box = page == PageRefused       ? m_txtRefuRecv
                              : page == PageAutoRefused ? m_txtAutoRefuRecv
                                                        : m_txtCanclRecv;
        label->setText(line);
        box->setPlainText(FromWireText(note));
    }
    ShowPage(page);
    ActivateWindow(this);
}

void SendWindow::ResultConfirmed() {
    ShowPage(PageInput);
}

void SendWindow::ReceiverClicked() {
    ShowPeerInfo(m_session, QStringList{m_engine.request().shownAddress} + m_engine.peerCard(),
                 m_engine.peerFingerprint());
}

void SendWindow::ShowOneByOne(qint64 files) {
    m_lblOneByOne->setText(OneByOneNotice(files));
    m_lblOneByOne->show();
}

void SendWindow::PassRetryPolicy() {
    m_engine.SetRetryPolicy(m_retry->autoRetry(), m_retry->retryLimit());
}

// ---- Scheduled send ----

void SendWindow::UpdateScheduleClock() {
    m_retry->RunClock(m_retry->scheduled() && !m_session.activity.sendWindowSending());
}

void SendWindow::ScheduleTick() {
    if (!m_retry->IsDue())
        return;
    m_retry->ClearSchedule();
    SendClicked();
}

}  // namespace tvx
