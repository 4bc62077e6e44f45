#include "transfer/ReceiverPage.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "common/Controls.h"
#include "common/FileIcons.h"
#include "common/Format.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/ShellRoutines.h"
#include "common/Text.h"
#include "common/Windows.h"
#include "platform/FileSystem.h"
#include "protocol/Codes.h"
#include "records/AddressFiles.h"
#include "records/HistoryLog.h"
#include "records/PeerInfoWindow.h"
#include "session/Session.h"
#include "texts/BatchTexts.h"
#include "texts/ReceiveTexts.h"
#include "texts/SecurityTexts.h"
#include "transfer/ReceiveRules.h"

namespace tvx {

namespace {

using C = ProtocolCodes;

constexpr int kNoteLimit = 200;

const QString kDeleteCaption = QStringLiteral("删除已接收字节(以后将不能续传)");

// An offer's note as the offer page shows it: its line breaks as the label's, "(无)" for none.
QString OfferNoteText(const QString& note) {
    return note.isEmpty() ? EmptyNoteText()
                          : QString(note).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// A label whose text the user reads; its object name lets tests find it. Names and notes
// come from peers, so the text is never taken for markup.
QLabel* NamedLabel(QWidget* parent, const char* name, const QString& text = QString()) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QPushButton* NamedButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

// A multi-line note box that keeps at most kNoteLimit characters.
QPlainTextEdit* NoteBox(QWidget* parent, const char* name) {
    auto* box = new QPlainTextEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setFixedHeight(48);
    QObject::connect(box, &QPlainTextEdit::textChanged, box, [box] {
        if (box->toPlainText().size() > kNoteLimit) {
            box->setPlainText(box->toPlainText().left(kNoteLimit));
            box->moveCursor(QTextCursor::End);
        }
    });
    return box;
}

// One "caption: value" row of a page's grid; the caption is named after the value.
void AddRow(QGridLayout* grid, int row, const QString& caption, QWidget* value,
            Qt::Alignment captionAlignment = {}) {
    auto* label = new QLabel(caption, grid->parentWidget());
    label->setObjectName(value->objectName() + QStringLiteral("Caption"));
    grid->addWidget(label, row, 0, captionAlignment);
    grid->addWidget(value, row, 1, 1, 2);
}

// Top names in the tool tip of a batch offer's name line.
constexpr int kTipNames = 30;

// Buttons at the right end of a row.
QHBoxLayout* ButtonRow(std::initializer_list<QWidget*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QWidget* button : buttons)
        row->addWidget(button);
    return row;
}

QString NoteText(const QPlainTextEdit* box) {
    return box->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

}  // namespace

ReceiverPage::ReceiverPage(Session& session, QWidget* window, QWidget* parent)
    : QWidget(parent), m_session(session), m_window(window), m_engine(session) {
    setObjectName(QStringLiteral("ReceiverPage"));
    BuildPages();

    FileReceiveEngine* engine = &m_engine;
    connect(engine, &FileReceiveEngine::OfferWaiting, this, &ReceiverPage::ShowOffer);
    connect(engine, &FileReceiveEngine::BatchOfferWaiting, this, &ReceiverPage::ShowBatchOffer);
    connect(engine, &FileReceiveEngine::BatchReceived, this, &ReceiverPage::ShowBatchReceived);
    connect(engine, &FileReceiveEngine::CountDownChanged, this, &ReceiverPage::ShowCountDown);
    connect(engine, &FileReceiveEngine::OfferExpired, this, &ReceiverPage::HideOnExpiry);
    connect(engine, &FileReceiveEngine::ReceivingStarted, this, &ReceiverPage::ShowReceiving);
    connect(engine, &FileReceiveEngine::ProgressChanged, this, &ReceiverPage::ShowProgress);
    connect(engine, &FileReceiveEngine::SpeedMeasured, this, &ReceiverPage::ShowSpeed);
    connect(engine, &FileReceiveEngine::Received, this, &ReceiverPage::ShowFinished);
    connect(engine, &FileReceiveEngine::AutoReceived, this, &ReceiverPage::EndAutomatic);
    connect(engine, &FileReceiveEngine::SenderCancelled, this, &ReceiverPage::FillSenderCancelled);
    connect(engine, &FileReceiveEngine::SenderCancelPageWanted, this,
            &ReceiverPage::ShowSenderCancelled);
    connect(engine, &FileReceiveEngine::Reported, this, &ReceiverPage::ShowOutcome);
    connect(engine, &FileReceiveEngine::ResetDone, this, &ReceiverPage::HideAfterReset);

    // The notes and the delete box are the engine's to use when it refuses or resets by itself.
    connect(m_txtRefuseNote, &QPlainTextEdit::textChanged, this,
            [this] { m_engine.SetRefuseNote(NoteText(m_txtRefuseNote)); });
    connect(m_chkDelete[2], &QCheckBox::toggled, engine, &FileReceiveEngine::SetDeleteHeldOnCancel);
}

ReceiverPage::~ReceiverPage() {
    m_engine.Shutdown();
}

// ---- Pages -------------------------------------------------------------------------------

void ReceiverPage::BuildPages() {
    m_pages = new QStackedWidget(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pages);

    auto nickLink = [this](QWidget* page, const char* name) {
        QLabel* link = NamedLabel(page, name);
        link->setTextFormat(Qt::RichText);  // the nickname goes in escaped
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        link->setCursor(Qt::PointingHandCursor);
        connect(link, &QLabel::linkActivated, this, &ReceiverPage::ShowPeerInfo);
        return link;
    };

    // Page 1: the offer.
    auto* offer = new QWidget;
    auto* grid1 = new QGridLayout(offer);
    grid1->addWidget(NamedLabel(offer, "lblOfferStatus1"), 0, 0, 1, 3);
    grid1->addWidget(NamedLabel(offer, "lblOfferStatus2",
                                QStringLiteral("是否接收下列文件？接收完成后请检查它是否安全的。")),
                     1, 0, 1, 3);
    AddRow(grid1, 2, QStringLiteral("发送用户:"), nickLink(offer, "lblOfferNickName"));
    // Whether the connection is encrypted, with the sender's code to compare.
    grid1->addWidget(NamedLabel(offer, "lblOfferSecurity"), 3, 1, 1, 2);
    auto* icon = NamedLabel(offer, "picFileIcon");
    icon->setFixedSize(32, 32);
    grid1->addWidget(icon, 4, 0, 2, 1, Qt::AlignTop);
    grid1->addWidget(NamedLabel(offer, "lblOfferFileName"), 4, 1, 1, 2);
    grid1->addWidget(NamedLabel(offer, "lblOfferFileType"), 5, 1, 1, 2);
    AddRow(grid1, 6, QStringLiteral("文件大小:"), NamedLabel(offer, "lblOfferFileSize"));
    AddRow(grid1, 7, QStringLiteral("修改时间:"), NamedLabel(offer, "lblOfferFileTime"));
    grid1->addWidget(new QLabel(QStringLiteral("附言:"), offer), 8, 0, Qt::AlignTop);
    auto* note = NamedLabel(offer, "lblOfferNote");
    note->setWordWrap(true);
    grid1->addWidget(note, 8, 1, 1, 2);
    grid1->addWidget(new QLabel(QStringLiteral("拒绝附言:"), offer), 9, 0, Qt::AlignTop);
    m_txtRefuseNote = NoteBox(offer, "txtRefuseNote");
    grid1->addWidget(m_txtRefuseNote, 9, 1, 1, 2);
    m_chkCountDown = new QCheckBox(offer);
    m_chkCountDown->setObjectName(QStringLiteral("chkCountDown"));
    connect(m_chkCountDown, &QCheckBox::clicked, this, &ReceiverPage::SetCountDownRunning);
    grid1->addWidget(m_chkCountDown, 10, 0, 1, 3);
    auto* accept = NamedButton(offer, "cmdAccept", QStringLiteral("接收(&A)"));
    auto* refuse = NamedButton(offer, "cmdRefuse", QStringLiteral("拒绝(&R)"));
    connect(accept, &QPushButton::clicked, this, &ReceiverPage::AcceptOffer);
    connect(refuse, &QPushButton::clicked, this, &ReceiverPage::RefuseOffer);
    grid1->addLayout(ButtonRow({accept, refuse}), 11, 0, 1, 3);
    grid1->setRowStretch(12, 1);
    grid1->setColumnStretch(2, 1);

    // Page 2: receiving.
    auto* receiving = new QWidget;
    auto* grid2 = new QGridLayout(receiving);
    grid2->addWidget(
        NamedLabel(receiving, "lblRecvStatus", QStringLiteral("正在接收文件，请等待...")), 0, 0, 1,
        3);
    AddRow(grid2, 1, QStringLiteral("发送用户:"), nickLink(receiving, "lblRecvNickName"));
    grid2->addWidget(NamedLabel(receiving, "lblRecvSecurity"), 2, 1, 1, 2);
    AddRow(grid2, 3, QStringLiteral("文件名称:"), NamedLabel(receiving, "lblRecvFileName"));
    AddRow(grid2, 4, QStringLiteral("保存到:"), NamedLabel(receiving, "lblRecvTarget"));
    AddRow(grid2, 5, QStringLiteral("已接收:"), NamedLabel(receiving, "lblRecvBytes"));
    AddRow(grid2, 6, QStringLiteral("接收速度:"), NamedLabel(receiving, "lblRecvSpeed"));
    AddRow(grid2, 7, QStringLiteral("剩余时间:"), NamedLabel(receiving, "lblRecvRemaining"));
    // The track is framed in the colour of the text, as a plain box frame is.
    m_lblProgress = NewProgressBar(
        receiving, QStringLiteral("picProgress"), TransferProgress::kBarWidth,
        receiving->palette().color(QPalette::WindowText).name(), QStringLiteral("#0080FF"));
    grid2->addWidget(m_lblProgress, 8, 0, 1, 2);
    grid2->addWidget(NamedLabel(receiving, "lblRecvPercent"), 8, 2);
    grid2->addWidget(new QLabel(QStringLiteral("取消附言:"), receiving), 9, 0, Qt::AlignTop);
    m_txtCancelNote = NoteBox(receiving, "txtCancelNote");
    grid2->addWidget(m_txtCancelNote, 9, 1, 1, 2);
    m_chkDelete[2] = new QCheckBox(kDeleteCaption, receiving);
    m_chkDelete[2]->setObjectName(QStringLiteral("chkDelete2"));
    grid2->addWidget(m_chkDelete[2], 10, 0, 1, 3);
    auto* cancel = NamedButton(receiving, "cmdCancel", QStringLiteral("取消接收"));
    connect(cancel, &QPushButton::clicked, this, &ReceiverPage::CancelReceiving);
    grid2->addLayout(ButtonRow({cancel}), 11, 0, 1, 3);
    grid2->setRowStretch(12, 1);
    grid2->setColumnStretch(2, 1);

    // Page 3: finished.
    auto* finished = new QWidget;
    auto* box3 = new QVBoxLayout(finished);
    box3->addWidget(NamedLabel(finished, "lblDoneStatus", QStringLiteral("文件已接收完成。")));
    auto* done = NamedLabel(finished, "lblDoneText");
    done->setWordWrap(true);
    box3->addWidget(done);
    box3->addStretch();
    auto* row3 = new QHBoxLayout;
    row3->addStretch();
    const char* names[] = {"cmdDone1", "cmdDone2", "cmdDone3"};
    const char16_t* captions[] = {u"打开文件", u"打开目录", u"确定"};
    void (ReceiverPage::*handlers[])() = {&ReceiverPage::OpenReceivedFile,
                                          &ReceiverPage::OpenReceivedFolder,
                                          &ReceiverPage::CloseFinishedPage};
    for (int index = 0; index < 3; ++index) {
        auto* button = NamedButton(finished, names[index], QString::fromUtf16(captions[index]));
        connect(button, &QPushButton::clicked, this, handlers[index]);
        row3->addWidget(button);
    }
    box3->addLayout(row3);

    // Page 4: the sender cancelled.
    auto* cancelled = new QWidget;
    auto* box4 = new QVBoxLayout(cancelled);
    box4->addWidget(
        NamedLabel(cancelled, "lblCancelStatus", QStringLiteral("对方用户取消发送文件。")));
    auto* line = NamedLabel(cancelled, "lblCancelLine");
    line->setWordWrap(true);
    box4->addWidget(line);
    box4->addWidget(new QLabel(QStringLiteral("取消附言:"), cancelled));
    auto* senderNote = NamedLabel(cancelled, "lblCancelNote");
    senderNote->setWordWrap(true);
    box4->addWidget(senderNote);
    m_chkDelete[4] = new QCheckBox(kDeleteCaption, cancelled);
    m_chkDelete[4]->setObjectName(QStringLiteral("chkDelete4"));
    box4->addWidget(m_chkDelete[4]);
    box4->addStretch();
    auto* ok4 = NamedButton(cancelled, "cmdCancelledOK", QStringLiteral("确定"));
    connect(ok4, &QPushButton::clicked, this, &ReceiverPage::CloseCancelledPage);
    box4->addLayout(ButtonRow({ok4}));

    for (QWidget* page : {offer, receiving, finished, cancelled}) {
        page->setEnabled(false);
        m_pages->addWidget(page);
    }
}

void ReceiverPage::ShowPage(int page) {
    for (int index = 0; index < m_pages->count(); ++index)
        m_pages->widget(index)->setEnabled(index == page - 1);
    m_pages->setCurrentIndex(page - 1);
}

int ReceiverPage::CurrentPage() const {
    return m_pages->currentIndex() + 1;
}

void ReceiverPage::SetLabel(const char* name, const QString& text) {
    findChild<QLabel*>(QLatin1String(name))->setText(text);
}

QString ReceiverPage::SecurityLine() const {
    return EncryptionLine(m_engine.Encrypted(), m_engine.PeerFingerprint());
}

void ReceiverPage::ShowOutcome(const ReceiveOutcome& outcome) {
    const UserMessage message = ReceiveMessage(outcome);
    if (!message.isEmpty())
        ShowMessage(m_session.messageBox(), m_window, message.text, message.kind,
                    message.systemModal);
    if (outcome.kind == ReceiveOutcome::Kind::ListenerFailed)
        emit ListenerFailed();
}

void ReceiverPage::HideAfterReset(bool keepPage) {
    if (!keepPage && m_window)
        m_window->hide();
}

// ---- The offer ---------------------------------------------------------------------------

void ReceiverPage::ShowOffer(const QString& nickName, const QString& fileName, qint64 length) {
    ShowFileRows(true);
    const FileOffer& offer = m_engine.Offer();
    const QIcon icon = GetFileIcon(m_session.shell(), m_engine.SaveName(), IconLarge);
    findChild<QLabel*>(QStringLiteral("picFileIcon"))->setPixmap(icon.pixmap(32, 32));
    SetLabel("lblOfferStatus1", OfferArrivedText(m_session.system().Now()));
    SetLabel("lblOfferNickName", QStringLiteral("<a href=\"peer\">") + nickName.toHtmlEscaped() +
                                     QStringLiteral("</a>"));
    SetLabel("lblOfferSecurity", SecurityLine());
    auto* name = findChild<QLabel*>(QStringLiteral("lblOfferFileName"));
    name->setText(fileName);
    name->setToolTip(fileName);
    SetLabel("lblOfferFileType", m_engine.TypeName());
    SetLabel("lblOfferFileSize", FormatSizeWithBytes(qint32(length)));
    SetLabel("lblOfferFileTime", m_engine.FriendlyTime());
    SetLabel("lblOfferNote", OfferNoteText(offer.note));
    m_txtRefuseNote->clear();
    m_chkCountDown->setChecked(true);
    ShowCountDown(m_engine.CountDown());
    ShowPage(PageOffer);
    emit OfferWaiting(nickName, fileName, length);
}

void ReceiverPage::ShowBatchOffer(const BatchSummary& summary) {
    ShowFileRows(false);
    findChild<QLabel*>(QStringLiteral("picFileIcon"))
        ->setPixmap(style()->standardIcon(QStyle::SP_DirIcon).pixmap(32, 32));
    SetLabel("lblOfferStatus1", OfferArrivedText(m_session.system().Now()));
    SetLabel("lblOfferNickName", QStringLiteral("<a href=\"peer\">") +
                                     summary.nickName.toHtmlEscaped() + QStringLiteral("</a>"));
    SetLabel("lblOfferSecurity", SecurityLine());
    auto* what = findChild<QLabel*>(QStringLiteral("lblOfferFileName"));
    what->setText(BatchSummaryLine(summary.folders, summary.files, summary.totalBytes));
    what->setToolTip(QString());
    auto* names = findChild<QLabel*>(QStringLiteral("lblOfferFileType"));
    names->setText(BatchTopNamesLine(summary.topNames));
    names->setToolTip(BatchTopNamesLine(summary.topNames, kTipNames));
    SetLabel("lblOfferFileSize", BatchSizeText(summary.totalBytes));
    SetLabel("lblOfferNote", OfferNoteText(summary.note));
    m_txtRefuseNote->clear();
    m_chkCountDown->setChecked(true);
    ShowCountDown(m_engine.CountDown());
    ShowPage(PageOffer);
    emit BatchOfferWaiting(summary);
}

void ReceiverPage::ShowFileRows(bool file) {
    for (const char* name : {"lblOfferFileTime", "lblOfferFileTimeCaption"})
        findChild<QLabel*>(QLatin1String(name))->setVisible(file);
    // A file's name may widen the window, as it always has; a batch's lines wrap, and what is
    // still too wide is cut at its edge (the names' tool tip holds more).
    for (const char* name : {"lblOfferFileName", "lblOfferFileType"}) {
        auto* label = findChild<QLabel*>(QLatin1String(name));
        label->setSizePolicy(file ? QSizePolicy::Preferred : QSizePolicy::Ignored,
                             QSizePolicy::Preferred);
        label->setWordWrap(!file);
    }
}

void ReceiverPage::ShowCountDown(int seconds) {
    m_chkCountDown->setText(QString::number(seconds) + QStringLiteral(" 秒后自动拒绝"));
}

void ReceiverPage::HideOnExpiry() {
    m_window->hide();
}

void ReceiverPage::SetCountDownRunning(bool running) {
    m_chkCountDown->setChecked(running);
    m_engine.SetCountDownRunning(running);
}

void ReceiverPage::RefuseOffer() {
    Refuse(m_engine.OfferKey());
}

void ReceiverPage::Refuse(quint64 offer) {
    if (!m_engine.OfferWaits(offer))
        return;
    m_window->hide();
    m_engine.Refuse(offer, NoteText(m_txtRefuseNote));
}

// Asks where to save, and about the bytes already held there, until the user has decided.
// Every answer names the offer the user is answering: when that offer has gone while a
// dialog was open, the engine ignores it, and nothing on disk has been touched.
void ReceiverPage::AcceptOffer() {
    const quint64 offer = m_engine.OfferKey();
    if (!m_engine.OfferWaits(offer))
        return;
    m_engine.StopWaiting();
    if (m_engine.BatchOffered()) {
        AcceptBatch(offer);
        return;
    }
    const QString offered = m_engine.Offer().fileName;
    const QString proposed = FitFileName(m_engine.SaveName(), FileNameLimit(QDir::homePath()));
    for (;;) {
        const QString chosen =
            CutAtNul(ChooseSaveFile(m_session.dialogs(), m_window, proposed, true));
        if (!m_engine.OfferWaits(offer)) {
            // The sender went away while the dialog was open; the user who agreed to replace
            // a file is told that it stays as it was.
            if (FileExists(chosen)) {
                ShowMessage(m_session.messageBox(), m_window,
                            QStringLiteral("对方已取消文件发送。"), MessageKind::Warning, false);
            }
            return;
        }
        if (chosen.isEmpty()) {
            const MessageAnswer answer =
                ShowMessage(m_session.messageBox(), m_window,
                            QStringLiteral("确实要拒收文件") + QLatin1Char('"') + offered +
                                QLatin1Char('"') + QStringLiteral("么？"),
                            MessageKind::Ask, false);
            if (answer != MessageAnswer::No) {
                Refuse(offer);
                return;
            }
            continue;
        }
        const QString target = m_engine.ChooseTarget(offer, chosen);
        // The save dialog asked about replacing the chosen name only: a shortened name that
        // exists is kept, and the received file is numbered at completion.
        const bool replace = target == chosen && FileExists(target);
        using Start = FileReceiveEngine::Start;
        switch (m_engine.HeldBytes()) {
            case FileReceiveEngine::Held::None:
                m_engine.Accept(offer, Start::FromFirstByte, replace);
                return;
            case FileReceiveEngine::Held::Resumable: {
                const qint64 held = m_engine.HeldLength();
                const qint64 length = m_engine.Offer().length;
                const QString question =
                    HeldShareText(double(held) / double(length)) +
                    QStringLiteral(",是否继续接收剩余字节？") + QStringLiteral("\r\n\r\n") +
                    QStringLiteral("点击 否 重新开始接收;点击 取消 重新选择保存位置。");
                const MessageAnswer answer = ShowMessage(m_session.messageBox(), m_window, question,
                                                         MessageKind::AskCancel, false);
                if (answer == MessageAnswer::Cancel)
                    continue;
                m_engine.Accept(
                    offer,
                    answer == MessageAnswer::Yes ? Start::AfterHeldBytes : Start::FromFirstByte,
                    replace);
                return;
            }
            case FileReceiveEngine::Held::TooLong: {
                const MessageAnswer answer = ShowMessage(
                    m_session.messageBox(), m_window,
                    QStringLiteral("当前待续传文件与对方的文件不匹配,是否重新开始接收？"),
                    MessageKind::Ask, false);
                if (answer == MessageAnswer::No)
                    continue;
                m_engine.Accept(offer, Start::FromFirstByte, replace);
                return;
            }
        }
    }
}

// A batch goes into a folder the user chooses; what stands there already is the engine's to
// number or resume. As for a file, an answer for an offer that has gone is dropped.
void ReceiverPage::AcceptBatch(quint64 offer) {
    const qint64 files = m_engine.batchSummary().files;
    for (;;) {
        const QString folder =
            CutAtNul(m_session.dialogs().BrowseFolder(m_window, QStringLiteral("选择保存位置")));
        if (!m_engine.OfferWaits(offer))
            return;
        if (folder.isEmpty()) {
            const MessageAnswer answer =
                ShowMessage(m_session.messageBox(), m_window, RefuseBatchQuestion(files),
                            MessageKind::Ask, false);
            if (answer != MessageAnswer::No) {
                Refuse(offer);
                return;
            }
            continue;
        }
        m_batchFolder = folder;
        m_engine.AcceptBatch(offer, folder);
        return;
    }
}

// ---- Receiving ---------------------------------------------------------------------------

void ReceiverPage::ShowReceiving() {
    const TransferProgress& progress = m_engine.Progress();
    const qint64 position = progress.Position();
    // A resumed transfer's bar starts at the whole pixels already held.
    m_progressWidth = position > 0 ? int(progress.Fraction() * TransferProgress::kBarWidth) : 1;
    m_lblProgress->setValue(std::max(1, m_progressWidth));
    SetLabel("lblRecvPercent", position > 0 ? progress.PercentText() : QStringLiteral("0%"));
    SetLabel("lblRecvNickName", QStringLiteral("<a href=\"peer\">") +
                                    m_engine.PeerNickName().toHtmlEscaped() +
                                    QStringLiteral("</a>"));
    SetLabel("lblRecvSecurity", SecurityLine());
    auto* target = findChild<QLabel*>(QStringLiteral("lblRecvTarget"));
    if (m_engine.BatchOffered()) {
        if (m_engine.Automatic())
            m_batchFolder = m_session.settings.autoSavePath;
        target->setText(m_batchFolder);
        target->setToolTip(m_batchFolder);
        ShowBatchProgress();
    } else {
        SetLabel("lblRecvFileName", m_engine.Offer().fileName);
        target->setText(m_engine.TargetPath());
        target->setToolTip(m_engine.TargetPath());
        SetLabel("lblRecvBytes", FormatSizeWithBytes(qint32(progress.Total())));
    }
    SetLabel("lblRecvSpeed", progress.SpeedText());
    SetLabel("lblRecvRemaining", progress.RemainingText());
    m_txtCancelNote->clear();
    m_chkDelete[2]->setChecked(false);
    ShowPage(PageReceiving);
}

void ReceiverPage::ShowProgress(const TransferProgress& progress) {
    if (progress.Total() <= 0)
        return;
    SetLabel("lblRecvPercent", progress.PercentText());
    if (m_engine.BatchOffered())
        ShowBatchProgress();
    else
        SetLabel("lblRecvBytes", progress.BytesText());
    const int width = progress.BarWidth();
    if (width != m_progressWidth) {
        m_progressWidth = width;
        m_lblProgress->setValue(width);
    }
}

// A batch's page names the file on its way and counts the whole batch's bytes.
void ReceiverPage::ShowBatchProgress() {
    const BatchProgress files = m_engine.batchProgress();
    const TransferProgress& bytes = m_engine.Progress();
    auto* name = findChild<QLabel*>(QStringLiteral("lblRecvFileName"));
    name->setText(BatchFileLine(files));
    name->setToolTip(files.currentPath);
    SetLabel("lblRecvBytes", BatchSizeText(bytes.Position()) + QStringLiteral(" / ") +
                                 BatchSizeText(bytes.Total()));
}

void ReceiverPage::ShowSpeed(const TransferProgress& progress) {
    SetLabel("lblRecvSpeed", progress.SpeedText());
    SetLabel("lblRecvRemaining", progress.RemainingText());
}

// ---- Completion --------------------------------------------------------------------------

void ReceiverPage::ShowFinished(const QString& targetPath, qint64 elapsedSeconds, bool openWanted) {
    SetLabel("lblDoneText",
             ReceivedText(m_engine.PeerNickName(), targetPath,
                          m_session.system().Now().time().toString(QStringLiteral("H:mm:ss")),
                          elapsedSeconds, QStringLiteral("\n\n")));
    findChild<QPushButton*>(QStringLiteral("cmdDone1"))->show();
    m_doneFolder.clear();
    ShowPage(PageFinished);
    ActivateWindow(m_window);
    if (openWanted) {
        OpenFileChecked(m_session.shell(), m_session.messageBox(), m_window, targetPath);
        ShowPage(PageFinished);
        ActivateWindow(m_window);
    }
}

void ReceiverPage::ShowBatchReceived(const QString& folder, const QStringList& targets,
                                     qint64 files, qint64 /*elapsedSeconds*/, bool automatic) {
    if (automatic) {
        // Counted in the tip as a file is, named by its first top item.
        if (m_window->isVisible())
            m_window->hide();
        emit AutoReceived(targets.isEmpty() ? folder : WithTrailingSlash(folder) + targets.front());
        return;
    }
    SetLabel("lblDoneText", BatchReceivedLine(m_engine.PeerNickName(), files,
                                              m_engine.batchSummary().totalBytes, folder));
    m_doneFolder = folder;
    // A batch has no one file to open; its folder opens.
    findChild<QPushButton*>(QStringLiteral("cmdDone1"))->hide();
    ShowPage(PageFinished);
    ActivateWindow(m_window);
}

void ReceiverPage::EndAutomatic(const QString& targetPath, bool openWanted) {
    if (m_window->isVisible())
        m_window->hide();
    emit AutoReceived(targetPath);
    if (openWanted)
        OpenFileChecked(m_session.shell(), m_session.messageBox(), m_window, targetPath);
}

void ReceiverPage::OpenReceivedFile() {
    m_window->hide();
    OpenFileChecked(m_session.shell(), m_session.messageBox(), m_window, m_engine.TargetPath());
}

void ReceiverPage::OpenReceivedFolder() {
    m_window->hide();
    OpenOrWarn(m_session.shell(), m_session.messageBox(), m_window,
               m_doneFolder.isEmpty() ? FolderOf(m_engine.TargetPath()) : m_doneFolder);
}

void ReceiverPage::CloseFinishedPage() {
    m_window->hide();
}

// ---- Cancelling --------------------------------------------------------------------------

void ReceiverPage::CancelReceiving() {
    if (ShowMessage(m_session.messageBox(), m_window,
                    QStringLiteral("确实要取消正在接收的文件么？"), MessageKind::Ask,
                    false) != MessageAnswer::Yes)
        return;
    if (!m_engine.ReceivingHere())
        return;  // it ended while the question was open
    m_window->hide();
    m_engine.Cancel(NoteText(m_txtCancelNote));
}

void ReceiverPage::FillSenderCancelled(const QString& note, double ratio) {
    // A batch is named by its top items.
    const QString what = m_engine.BatchOffered()
                             ? BatchTopNamesLine(m_engine.batchSummary().topNames)
                             : m_engine.Offer().fileName;
    SetLabel("lblCancelLine", SenderCancelledLine(m_engine.PeerNickName(), what, ratio));
    SetLabel("lblCancelNote",
             NoteOrNone(QString(note).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))));
    m_chkDelete[4]->setChecked(false);
    m_cancelledOffer = m_engine.OfferKey();
}

void ReceiverPage::ShowSenderCancelled(bool automatic) {
    ShowPage(PageSenderCancelled);
    if (!automatic)
        ActivateWindow(m_window);
}

void ReceiverPage::CloseCancelledPage() {
    m_window->hide();
    if (m_chkDelete[4]->isChecked())
        m_engine.DeleteHeldBytes(m_cancelledOffer);
}

void ReceiverPage::ShowPeerInfo() {
    tvx::ShowPeerInfo(m_session, m_engine.Identity(), m_engine.PeerFingerprint());
}

void ReceiverPage::HandleCloseBox() {
    if (CurrentPage() == PageOffer && m_engine.OfferWaits(m_engine.OfferKey())) {
        RefuseOffer();
    } else if (CurrentPage() == PageReceiving && m_engine.ReceivingHere()) {
        CancelReceiving();
    } else {
        m_window->hide();
    }
}

}  // namespace tvx
