#include "transfer/FileReceiver.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <cmath>
#include <cstdint>

#include "common/Format.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/Session.h"
#include "common/ShellRoutines.h"
#include "common/Text.h"
#include "common/Windows.h"
#include "platform/FileSystem.h"
#include "protocol/Codes.h"
#include "records/AddressFiles.h"
#include "records/HistoryLog.h"
#include "records/PeerInfoWindow.h"
#include "transfer/ReceiveRules.h"

namespace tvx {

namespace {

using C = ProtocolCodes;

constexpr int kProgressFullWidth = 278;
constexpr int kNoteLimit = 200;
constexpr int kStallTicks = 20;
constexpr int kSliceBytes = 256 * 1024;
constexpr qint64 kReadAheadBytes = 1024 * 1024;

const QString kWriteError = QStringLiteral("无法继续接收:写入文件时发生错误。");
const QString kDeleteCaption = QStringLiteral("删除已接收字节(以后将不能续传)");

QString BrokenConnectionText(const QString& nickName) {
    return QStringLiteral("无法与 ") + nickName + QStringLiteral(" 继续接收") +
           QStringLiteral(
               ",原因可能是:\r\n\r\n-网络突然断开\r\n-对方中途退出Tolvex\r\n-"
               "其它意外原因导致连接中断");
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

// One "caption: value" row of a page's grid.
void AddRow(QGridLayout* grid, int row, const QString& caption, QWidget* value,
            Qt::Alignment captionAlignment = {}) {
    grid->addWidget(new QLabel(caption, grid->parentWidget()), row, 0, captionAlignment);
    grid->addWidget(value, row, 1, 1, 2);
}

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

FileReceiver::FileReceiver(Session& session, QWidget* window, QWidget* parent)
    : QWidget(parent),
      m_session(session),
      m_window(window),
      m_link(PeerRole::FileReceiver, session) {
    setObjectName(QStringLiteral("FileReceiver"));
    m_link.SetOwnerWindow(window);
    m_link.SetBlockTest(
        [this](const QString& address) { return IsBlocked(m_session.blockList, address); });
    connect(&m_link, &PeerLink::DataListenerDue, this, &FileReceiver::OnDataListenerDue);
    connect(&m_link, &PeerLink::MessageReceived, this, &FileReceiver::OnControlMessage);
    connect(&m_link, &PeerLink::PeerClosed, this, &FileReceiver::OnPeerClosed);
    connect(&m_link, &PeerLink::SocketError, this, &FileReceiver::OnLinkSocketError);
    connect(&m_link, &PeerLink::ResetDone, this, &FileReceiver::OnResetDone);

    connect(&m_data, &Socket::ConnectionRequest, this, &FileReceiver::OnDataConnectionRequest);
    connect(&m_data, &Socket::DataArrival, this, &FileReceiver::OnDataArrival);
    connect(&m_data, &Socket::Closed, this, &FileReceiver::OnDataClosed);
    connect(&m_data, &Socket::Error, this, &FileReceiver::OnDataError);

    m_timCountDown.setInterval(1000);
    connect(&m_timCountDown, &QTimer::timeout, this, &FileReceiver::timCountDown_Timer);
    m_timSpeed.setInterval(1000);
    connect(&m_timSpeed, &QTimer::timeout, this, &FileReceiver::timSpeed_Timer);

    BuildPages();
}

FileReceiver::~FileReceiver() {
    Shutdown();
}

// ---- Pages -------------------------------------------------------------------------------

void FileReceiver::BuildPages() {
    m_pages = new QStackedWidget(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pages);

    auto nickLink = [this](QWidget* page, const char* name) {
        QLabel* link = NamedLabel(page, name);
        link->setTextFormat(Qt::RichText);  // the nickname goes in escaped
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        link->setCursor(Qt::PointingHandCursor);
        connect(link, &QLabel::linkActivated, this, &FileReceiver::lblNickName_Click);
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
    auto* icon = NamedLabel(offer, "picFileIcon");
    icon->setFixedSize(32, 32);
    grid1->addWidget(icon, 3, 0, 2, 1, Qt::AlignTop);
    grid1->addWidget(NamedLabel(offer, "lblOfferFileName"), 3, 1, 1, 2);
    grid1->addWidget(NamedLabel(offer, "lblOfferFileType"), 4, 1, 1, 2);
    AddRow(grid1, 5, QStringLiteral("文件大小:"), NamedLabel(offer, "lblOfferFileSize"));
    AddRow(grid1, 6, QStringLiteral("修改时间:"), NamedLabel(offer, "lblOfferFileTime"));
    grid1->addWidget(new QLabel(QStringLiteral("附言:"), offer), 7, 0, Qt::AlignTop);
    auto* note = NamedLabel(offer, "lblOfferNote");
    note->setWordWrap(true);
    grid1->addWidget(note, 7, 1, 1, 2);
    grid1->addWidget(new QLabel(QStringLiteral("拒绝附言:"), offer), 8, 0, Qt::AlignTop);
    m_txtRefuseNote = NoteBox(offer, "txtRefuseNote");
    grid1->addWidget(m_txtRefuseNote, 8, 1, 1, 2);
    m_chkCountDown = new QCheckBox(offer);
    m_chkCountDown->setObjectName(QStringLiteral("chkCountDown"));
    connect(m_chkCountDown, &QCheckBox::clicked, this, &FileReceiver::chkCountDown_Click);
    grid1->addWidget(m_chkCountDown, 9, 0, 1, 3);
    auto* accept = NamedButton(offer, "cmdAccept", QStringLiteral("接收(&A)"));
    auto* refuse = NamedButton(offer, "cmdRefuse", QStringLiteral("拒绝(&R)"));
    connect(accept, &QPushButton::clicked, this, &FileReceiver::cmdAccept_Click);
    connect(refuse, &QPushButton::clicked, this, &FileReceiver::cmdRefuse_Click);
    grid1->addLayout(ButtonRow({accept, refuse}), 10, 0, 1, 3);
    grid1->setRowStretch(11, 1);
    grid1->setColumnStretch(2, 1);

    // Page 2: receiving.
    auto* receiving = new QWidget;
    auto* grid2 = new QGridLayout(receiving);
    grid2->addWidget(
        NamedLabel(receiving, "lblRecvStatus", QStringLiteral("正在接收文件，请等待...")), 0, 0, 1,
        3);
    AddRow(grid2, 1, QStringLiteral("发送用户:"), nickLink(receiving, "lblRecvNickName"));
    AddRow(grid2, 2, QStringLiteral("文件名称:"), NamedLabel(receiving, "lblRecvFileName"));
    AddRow(grid2, 3, QStringLiteral("保存到:"), NamedLabel(receiving, "lblRecvTarget"));
    AddRow(grid2, 4, QStringLiteral("已接收:"), NamedLabel(receiving, "lblRecvBytes"));
    AddRow(grid2, 5, QStringLiteral("接收速度:"), NamedLabel(receiving, "lblRecvSpeed"));
    AddRow(grid2, 6, QStringLiteral("剩余时间:"), NamedLabel(receiving, "lblRecvRemaining"));
    auto* track = new QFrame(receiving);
    track->setFrameShape(QFrame::Box);
    track->setFixedSize(kProgressFullWidth + 2, 14);
    m_lblProgress = new QLabel(track);
    m_lblProgress->setObjectName(QStringLiteral("picProgress"));
    m_lblProgress->setGeometry(1, 1, 1, 12);
    m_lblProgress->setStyleSheet(QStringLiteral("background-color: #0080FF;"));
    grid2->addWidget(track, 7, 0, 1, 2);
    grid2->addWidget(NamedLabel(receiving, "lblRecvPercent"), 7, 2);
    grid2->addWidget(new QLabel(QStringLiteral("取消附言:"), receiving), 8, 0, Qt::AlignTop);
    m_txtCancelNote = NoteBox(receiving, "txtCancelNote");
    grid2->addWidget(m_txtCancelNote, 8, 1, 1, 2);
    m_chkDelete[2] = new QCheckBox(kDeleteCaption, receiving);
    m_chkDelete[2]->setObjectName(QStringLiteral("chkDelete2"));
    grid2->addWidget(m_chkDelete[2], 9, 0, 1, 3);
    auto* cancel = NamedButton(receiving, "cmdCancel", QStringLiteral("取消接收"));
    connect(cancel, &QPushButton::clicked, this, &FileReceiver::cmdCancel_Click);
    grid2->addLayout(ButtonRow({cancel}), 10, 0, 1, 3);
    grid2->setRowStretch(11, 1);
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
    for (int index = 1; index <= 3; ++index) {
        auto* button =
            NamedButton(finished, names[index - 1], QString::fromUtf16(captions[index - 1]));
        connect(button, &QPushButton::clicked, this, [this, index] { cmdFinished_Click(index); });
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
    connect(ok4, &QPushButton::clicked, this, &FileReceiver::cmdCancelledOK_Click);
    box4->addLayout(ButtonRow({ok4}));

    for (QWidget* page : {offer, receiving, finished, cancelled}) {
        page->setEnabled(false);
        m_pages->addWidget(page);
    }
}

void FileReceiver::ShowPage(int page) {
    for (int index = 0; index < m_pages->count(); ++index)
        m_pages->widget(index)->setEnabled(index == page - 1);
    m_pages->setCurrentIndex(page - 1);
}

int FileReceiver::CurrentPage() const {
    return m_pages->currentIndex() + 1;
}

QWidget* FileReceiver::Control(const QString& objectName) const {
    return findChild<QWidget*>(objectName);
}

QString FileReceiver::TextOf(const QString& objectName) const {
    if (auto* label = findChild<QLabel*>(objectName))
        return label->text();
    if (auto* check = findChild<QCheckBox*>(objectName))
        return check->text();
    if (auto* box = findChild<QPlainTextEdit*>(objectName))
        return box->toPlainText();
    return QString();
}

void FileReceiver::ShowOwnedMessage(const QString& text, int kind, bool systemModal) {
    ShowMessage(m_session.messageBox(), m_window, text, kind, systemModal);
}

// ---- Listening and reset -----------------------------------------------------------------

bool FileReceiver::StartFileListener() {
    m_starting = true;
    m_link.Stop();
    int number = m_link.Listen();
    if (number == 0) {
        m_data.Close();
        number = m_data.Bind(m_session.localAddress, kFileDataPort);
    }
    if (number == 0) {
        m_starting = false;
        return true;
    }
    m_link.Stop();
    m_data.Close();
    m_starting = false;
    ShowOwnedMessage(number == 10048 ? QStringLiteral("Tolvex不能运行:端口已被其它程序使用。")
                                     : QStringLiteral("错误:Tolvex无法初始化网络。"),
                     KindError, true);
    emit ListenerFailed();
    return false;
}

void FileReceiver::Shutdown() {
    m_shuttingDown = true;
    m_timCountDown.stop();
    m_timSpeed.stop();
    m_link.Stop();
    m_data.Close();
    m_tempFile.close();
}

void FileReceiver::Reset() {
    m_link.Reset();
}

void FileReceiver::ResetAndShow(const QString& text, int kind, bool systemModal) {
    m_pending = Pending{text, kind, systemModal, false};
    Reset();
}

// Runs after every reset of the control link, whoever started it.
void FileReceiver::OnResetDone() {
    m_data.Close();
    m_tempFile.close();
    m_timCountDown.stop();
    m_timSpeed.stop();
    // As the program ends the windows are going away: touch nothing else.
    if (m_shuttingDown)
        return;
    if (m_keepWindow)
        m_keepWindow = false;
    else if (m_window)
        m_window->hide();

    m_position = 0;
    m_receivedCount = 0;
    m_lastSample = 0;
    m_speedTicks = 0;
    m_stallTicks = 0;
    m_offerReceived = false;
    m_accepted = false;
    m_cancelledHere = false;
    m_session.activity.receiving = false;
    m_session.activity.offerPending = false;
    if (m_chkDelete[2]->isChecked() && m_deleteOnReset)
        DeleteFileIfExists(m_tempPath);
    if (m_shuttingDown || m_starting)
        return;

    // Listen again: the link has re-opened 8510; the data port is bound afresh.
    if (m_link.state() != PeerLink::State::Listening ||
        m_data.Bind(m_session.localAddress, kFileDataPort) != 0) {
        StartFileListener();
        if (m_link.state() != PeerLink::State::Listening)
            return;
    }

    if (!m_pending)
        return;
    const Pending pending = *m_pending;
    m_pending.reset();
    if (pending.senderCancelledPage) {
        ShowPage(PageSenderCancelled);
        if (!m_automatic)
            ActivateWindow(m_window);
    } else {
        ShowOwnedMessage(pending.text, pending.kind, pending.systemModal);
    }
}

// ---- Control connection ------------------------------------------------------------------

void FileReceiver::OnDataListenerDue() {
    m_data.Close();
    if (m_data.Bind(m_session.localAddress, kFileDataPort) != 0 || m_data.Listen() != 0)
        Reset();
}

void FileReceiver::OnDataConnectionRequest() {
    if (!m_link.verified()) {
        Reset();
        return;
    }
    // The file comes from the caller that passed the handshake and nobody else: a request
    // from any other address is closed and the listener waits on for the genuine one.
    if (!m_data.AcceptFrom(m_link.remoteAddress()))
        return;
    // Keep what waits in the connection small enough to stay in the cache, unless the receive
    // buffer is to gather its buffer-full there.
    m_data.SetReadBufferSize(m_session.settings.useRecvBuffer ? 0 : kReadAheadBytes);
}

void FileReceiver::OnControlMessage(char16_t code, const QString& payload) {
    if (code == C::FileOffer) {
        TakeOffer(payload);
    } else if (code == C::SenderCancel) {
        SenderCancelled(payload, true);
    }
}

bool FileReceiver::SendOrFail(const QString& body) {
    const int number = m_link.Send(body);
    if (number == 0)
        return true;
    ConnectionFailed(number);
    return false;
}

void FileReceiver::OnPeerClosed() {
    // The link resets itself after this; a close in the middle of a transfer is a cancel.
    if (m_session.activity.receiving && !m_cancelledHere)
        SenderCancelled(QString(), false);
}

void FileReceiver::OnDataClosed() {
    if (m_session.activity.receiving && !m_cancelledHere) {
        SenderCancelled(QString(), true);
    } else {
        Reset();
    }
}

void FileReceiver::OnLinkSocketError(int number) {
    // The link resets right after this signal.
    const bool offered = m_offerReceived;
    if (!offered)
        return;
    const QString text = (number == 10053 || number == 10054 || number == 40006)
                             ? (m_cancelledHere ? QString() : BrokenConnectionText(PeerNickName()))
                             : QStringLiteral("网络连接发生未知错误而断开。");
    if (!text.isEmpty())
        m_pending = Pending{text, KindError, true, false};
}

void FileReceiver::OnDataError(int number) {
    ConnectionFailed(number);
}

void FileReceiver::ConnectionFailed(int number) {
    const bool offered = m_offerReceived;
    const bool cancelled = m_cancelledHere;
    QString text;
    if (offered) {
        if (number == 10053 || number == 10054 || number == 40006) {
            if (!cancelled)
                text = BrokenConnectionText(PeerNickName());
        } else {
            text = QStringLiteral("网络连接发生未知错误而断开。");
        }
    }
    if (text.isEmpty())
        Reset();
    else
        ResetAndShow(text, KindError, true);
}

// ---- The offer ---------------------------------------------------------------------------

void FileReceiver::TakeOffer(const QString& payload) {
    std::optional<FileOffer> offer = ParseOffer(payload);
    const QString name = offer ? SafeOfferName(offer->fileName) : QString();
    // An offer that cannot be taken safely ends the connection; nothing touches the disk.
    if (!offer || name.isEmpty() || m_offerReceived) {
        Reset();
        return;
    }
    m_offer = *offer;
    m_offer.fileName = name;
    m_saveName = ReceivedFileName(name);
    m_offerReceived = true;
    m_identity = QStringList{m_link.peerAddressCode()} + m_link.peerCard();
    m_deleteOnReset = false;

    // The type is told by the offered name alone: nothing is written to ask about it.
    m_typeName = GetFileTypeName(m_session.shell(), m_saveName);
    const QIcon icon = GetFileIcon(m_session.shell(), m_saveName, IconLarge);
    if (auto* picture = findChild<QLabel*>(QStringLiteral("picFileIcon")))
        picture->setPixmap(icon.pixmap(32, 32));
    m_friendlyTime = FriendlyFileTime(m_offer.modified, m_session.system().Now().date());

    if (m_session.settings.autoRecvFile)
        ReceiveAutomatically();
    else
        PutOfferToUser();
}

void FileReceiver::WriteHistoryEntry() {
    AppendLogEntry(m_session, m_window, LogEvent::FileReceived,
                   {PeerNickName(), m_identity.value(0), m_offer.fileName, m_typeName,
                    FormatSizeWithBytes(qint32(m_offer.length)), m_friendlyTime, m_offer.note});
}

qint64 FileReceiver::TempFileLength() const {
    QFileInfo info(m_tempPath);
    return info.exists() && info.isFile() ? info.size() : -1;
}

void FileReceiver::ReceiveAutomatically() {
    m_automatic = true;
    const QString folder = m_session.settings.autoSavePath;
    if (!FolderExists(folder)) {
        Reset();
        if (!m_autoSaveErrorShown) {
            m_autoSaveErrorShown = true;
            ShowOwnedMessage(QStringLiteral("无法自动接收文件:保存文件的位置不存在。"), KindError,
                             true);
            m_autoSaveErrorShown = false;
        }
        return;
    }
    m_targetPath = WithTrailingSlash(folder) + FitFileName(m_saveName, FileNameLimit(folder));
    m_tempPath = m_targetPath + QStringLiteral(".tvx");
    if (m_session.settings.existFile)
        DeleteFileIfExists(m_targetPath);

    const qint64 held = TempFileLength();
    if (held >= 0 && held < m_offer.length) {
        m_position = held;
        m_startPosition = held;
        m_accepted = true;
        if (!SendOrFail(BuildAcceptance(held)))
            return;
        WriteHistoryEntry();
        return;
    }
    if (held >= m_offer.length && !DeleteTempBeforeRestart())
        return;
    m_position = 0;
    m_startPosition = 0;
    m_accepted = true;
    if (!SendOrFail(BuildAcceptance(0)))
        return;
    WriteHistoryEntry();
}

void FileReceiver::PutOfferToUser() {
    m_automatic = false;
    findChild<QLabel*>(QStringLiteral("lblOfferStatus1"))
        ->setText(QStringLiteral("收到文件") + QStringLiteral(" (") +
                  ChatTimestamp(m_session.system().Now()) + QLatin1Char(')'));
    const QString nick = PeerNickName();
    findChild<QLabel*>(QStringLiteral("lblOfferNickName"))
        ->setText(QStringLiteral("<a href=\"peer\">") + nick.toHtmlEscaped() +
                  QStringLiteral("</a>"));
    auto* fileName = findChild<QLabel*>(QStringLiteral("lblOfferFileName"));
    fileName->setText(m_offer.fileName);
    fileName->setToolTip(m_offer.fileName);
    findChild<QLabel*>(QStringLiteral("lblOfferFileType"))->setText(m_typeName);
    findChild<QLabel*>(QStringLiteral("lblOfferFileSize"))
        ->setText(FormatSizeWithBytes(qint32(m_offer.length)));
    findChild<QLabel*>(QStringLiteral("lblOfferFileTime"))->setText(m_friendlyTime);
    findChild<QLabel*>(QStringLiteral("lblOfferNote"))
        ->setText(
            m_offer.note.isEmpty()
                ? QStringLiteral("(无)")
                : QString(m_offer.note).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    m_txtRefuseNote->clear();

    m_countDown = 60;
    m_chkCountDown->setChecked(true);
    m_chkCountDown->setText(QString::number(m_countDown) + QStringLiteral(" 秒后自动拒绝"));
    m_timCountDown.start();

    ShowPage(PageOffer);
    m_session.activity.offerPending = true;
    emit BlinkWanted();
    emit OfferWaiting(nick, m_offer.fileName, m_offer.length);
    WriteHistoryEntry();
}

void FileReceiver::timCountDown_Timer() {
    --m_countDown;
    m_chkCountDown->setText(QString::number(m_countDown) + QStringLiteral(" 秒后自动拒绝"));
    if (m_countDown > 0)
        return;
    m_timCountDown.stop();
    m_session.activity.offerPending = false;
    m_window->hide();
    SendOrFail(BuildOfferRefusedAuto(NoteText(m_txtRefuseNote)));
}

void FileReceiver::chkCountDown_Click(bool checked) {
    m_chkCountDown->setChecked(checked);
    if (checked)
        m_timCountDown.start();
    else
        m_timCountDown.stop();
}

void FileReceiver::cmdRefuse_Click() {
    m_window->hide();
    m_timCountDown.stop();
    m_session.activity.offerPending = false;
    SendOrFail(BuildOfferRefused(NoteText(m_txtRefuseNote)));
}

void FileReceiver::cmdAccept_Click() {
    m_session.activity.offerPending = false;
    m_timCountDown.stop();
    AcceptWithTarget();
}

void FileReceiver::AcceptWithTarget() {
    for (;;) {
        const QString offered = m_offer.fileName;
        const QString proposed = FitFileName(m_saveName, FileNameLimit(QDir::homePath()));
        const QString target =
            CutAtNul(ChooseSaveFile(m_session.dialogs(), m_window, proposed, true));
        if (target.isEmpty()) {
            const int answer = ShowMessage(m_session.messageBox(), m_window,
                                           QStringLiteral("确实要拒收文件") + QLatin1Char('"') +
                                               offered + QLatin1Char('"') + QStringLiteral("么？"),
                                           KindAsk, false);
            if (answer != AnswerNo) {
                cmdRefuse_Click();
                return;
            }
            continue;
        }
        // A name too long for the chosen folder, or for its temporary file, is shortened.
        // The save dialog asked about replacing the chosen name only: a shortened name that
        // exists is kept, and the received file is numbered at completion.
        m_targetPath =
            FolderOf(target) + FitFileName(FileNameOf(target), FileNameLimit(FolderOf(target)));
        m_tempPath = m_targetPath + QStringLiteral(".tvx");

        if (!FileExists(m_targetPath) || m_targetPath != target) {
            const qint64 held = TempFileLength();
            if (held < 0) {
                RestartFromZero();
                return;
            }
            if (held < m_offer.length) {
                const QString question =
                    QStringLiteral("当前位置文件已接收 ") +
                    PercentText(double(held) / double(m_offer.length)) +
                    QStringLiteral(" 内容,是否继续接收剩余字节？") + QStringLiteral("\r\n\r\n") +
                    QStringLiteral("点击 否 重新开始接收;点击 取消 重新选择保存位置。");
                const int answer =
                    ShowMessage(m_session.messageBox(), m_window, question, KindAskCancel, false);
                if (answer == AnswerCancel)
                    continue;
                if (!m_offerReceived)
                    return;  // the sender went away while the box was open
                if (answer == AnswerYes) {
                    m_position = held;
                    if (!SendOrFail(BuildAcceptance(held)))
                        return;
                    ShowReceivingPage();
                } else {
                    RestartFromZero();
                }
                return;
            }
            const int answer =
                ShowMessage(m_session.messageBox(), m_window,
                            QStringLiteral("当前待续传文件与对方的文件不匹配,是否重新开始接收？"),
                            KindAsk, false);
            if (answer == AnswerNo)
                continue;
            if (!m_offerReceived)
                return;
            RestartFromZero();
            return;
        }

        // The save dialog has already asked whether to replace the file.
        if (!DeleteFileIfExists(m_targetPath) || FileExists(m_targetPath)) {
            ShowOwnedMessage(
                QStringLiteral("覆盖下列文件时发生错误,接收的文件将自动更名...\r\n\r\n") +
                    m_targetPath,
                KindWarning, true);
        }
        if (!m_offerReceived) {
            ResetAndShow(QStringLiteral("对方已取消文件发送。"), KindWarning, false);
            return;
        }
        RestartFromZero();
        return;
    }
}

// Drops the held bytes and accepts the offer from its first byte.
void FileReceiver::RestartFromZero() {
    m_position = 0;
    if (!DeleteTempBeforeRestart())
        return;
    if (!SendOrFail(BuildAcceptance(0)))
        return;
    ShowReceivingPage();
}

bool FileReceiver::DeleteTempBeforeRestart() {
    if (DeleteFileIfExists(m_tempPath))
        return true;
    const bool alreadyShown = m_tempErrorShown;
    Reset();
    if (!alreadyShown) {
        m_tempErrorShown = true;
        ShowOwnedMessage(QStringLiteral("覆盖下列临时tvx文件时发生错误。") +
                             QStringLiteral("\r\n\r\n") + m_tempPath,
                         KindError, true);
        m_tempErrorShown = false;
    }
    return false;
}

// ---- Receiving ---------------------------------------------------------------------------

void FileReceiver::ShowReceivingPage() {
    m_accepted = true;
    m_session.activity.receiving = true;
    m_startPosition = m_position;
    m_receivedCount = m_position;
    m_lastSample = m_position;
    const double fraction = m_offer.length > 0 ? double(m_position) / double(m_offer.length) : 0;
    m_progressWidth = m_position > 0 ? int(fraction * kProgressFullWidth) : 1;
    m_lblProgress->resize(std::max(1, m_progressWidth), m_lblProgress->height());
    findChild<QLabel*>(QStringLiteral("lblRecvPercent"))
        ->setText(m_position > 0 ? PercentText(fraction) : QStringLiteral("0%"));
    const QString nick = PeerNickName();
    findChild<QLabel*>(QStringLiteral("lblRecvNickName"))
        ->setText(QStringLiteral("<a href=\"peer\">") + nick.toHtmlEscaped() +
                  QStringLiteral("</a>"));
    findChild<QLabel*>(QStringLiteral("lblRecvFileName"))->setText(m_offer.fileName);
    auto* target = findChild<QLabel*>(QStringLiteral("lblRecvTarget"));
    target->setText(m_targetPath);
    target->setToolTip(m_targetPath);
    findChild<QLabel*>(QStringLiteral("lblRecvBytes"))
        ->setText(FormatSizeWithBytes(qint32(m_offer.length)));
    findChild<QLabel*>(QStringLiteral("lblRecvSpeed"))->setText(QStringLiteral("-"));
    findChild<QLabel*>(QStringLiteral("lblRecvRemaining"))->setText(QStringLiteral("-"));
    m_txtCancelNote->clear();
    m_chkDelete[2]->setChecked(false);
    m_deleteOnReset = false;
    m_speedTicks = 0;
    m_stallTicks = 0;
    m_timSpeed.start();
    m_startTime = UptimeSeconds(m_session.system().UptimeMs());
    ShowPage(PageReceiving);
}

void FileReceiver::OnDataArrival(qint64 bytesAvailable) {
    if (!m_accepted) {
        // Bytes before the acceptance break the protocol.
        Reset();
        return;
    }
    if (m_cancelledHere) {
        // The user has cancelled: bytes still in flight are dropped, so the file is not
        // completed behind the user's back while the sender closes.
        m_data.Read();
        return;
    }
    const qint64 missing = m_offer.length - m_position;
    const SettingsRecord& settings = m_session.settings;
    if (settings.useRecvBuffer && bytesAvailable != missing &&
        bytesAvailable < settings.recvBufferBytes) {
        // Let a buffer-full gather in the connection before touching the disk.
        m_receivedCount = m_position + bytesAvailable;
        UpdateProgress();
        return;
    }

    const qint64 available = m_data.BytesAvailable();
    if (m_position + available > m_offer.length) {
        // More than was offered: keep what is whole for a resume and stop.
        FailWrite(QString());
        return;
    }
    // The temporary file stays open while the bytes flow; it is closed by every end.
    if (!m_tempFile.isOpen()) {
        m_tempFile.setFileName(m_tempPath);
        if (!m_tempFile.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
            FailWrite(m_tempFile.errorString());
            return;
        }
    }
    if (!m_tempFile.seek(m_position)) {
        FailWrite(m_tempFile.errorString());
        return;
    }
    // Slices small enough to stay in the processor's cache: read, unscramble, write.
    if (m_slice.isEmpty())
        m_slice.resize(kSliceBytes);
    for (;;) {
        const qint64 count = m_data.ReadInto(m_slice.data(), m_slice.size());
        if (count <= 0)
            break;
        if (m_position + count > m_offer.length) {
            FailWrite(QString());
            return;
        }
        ScrambleBytes(m_slice.data(), count, m_offer.key);
        if (m_tempFile.write(m_slice.constData(), count) != count) {
            FailWrite(m_tempFile.errorString());
            return;
        }
        m_position += count;
    }
    m_receivedCount = m_position;
    UpdateProgress();

    if (m_position == m_offer.length) {
        m_session.activity.receiving = false;
        m_timSpeed.stop();
        if (!m_tempFile.flush()) {
            FailWrite(m_tempFile.errorString());
            return;
        }
        m_tempFile.close();
        if (!SendOrFail(BuildCompletion()))
            return;
        Complete();
    }
}

void FileReceiver::FailWrite(const QString& reason) {
    m_tempFile.close();
    ResetAndShow(reason.isEmpty() ? kWriteError : kWriteError + QStringLiteral("\r\n\r\n") + reason,
                 KindError, true);
}

void FileReceiver::UpdateProgress() {
    if (m_automatic || m_offer.length <= 0)
        return;
    const double fraction = double(m_receivedCount) / double(m_offer.length);
    findChild<QLabel*>(QStringLiteral("lblRecvPercent"))->setText(PercentText(fraction));
    findChild<QLabel*>(QStringLiteral("lblRecvBytes"))
        ->setText(FormatSize(qint32(m_receivedCount)));
    const int width = int(std::lround(fraction * kProgressFullWidth));
    if (width != m_progressWidth) {
        m_progressWidth = width;
        m_lblProgress->resize(std::max(1, width), m_lblProgress->height());
    }
}

void FileReceiver::timSpeed_Timer() {
    const qint64 delta = m_receivedCount - m_lastSample;
    findChild<QLabel*>(QStringLiteral("lblRecvSpeed"))
        ->setText(FormatSize(qint32(std::min<qint64>(delta, INT32_MAX))) + QStringLiteral("/S"));
    m_lastSample = m_receivedCount;
    ++m_speedTicks;
    const qint64 average = (m_receivedCount - m_startPosition) / m_speedTicks;
    if (average > 0) {
        findChild<QLabel*>(QStringLiteral("lblRecvRemaining"))
            ->setText(FormatDuration(qint32((m_offer.length - m_receivedCount) / average)));
    }
    m_stallTicks = delta == 0 ? m_stallTicks + 1 : 0;
    if (m_stallTicks >= kStallTicks) {
        ResetAndShow(QStringLiteral("超时:无法与'") + PeerNickName() + QStringLiteral("'继续接收") +
                         QStringLiteral(",原因可能是:\r\n\r\n-网络突然断开\r\n-"
                                        "对方中途退出Tolvex\r\n-其它意外原因导致连接中断"),
                     KindError, true);
    }
}

// ---- Completion --------------------------------------------------------------------------

void FileReceiver::Complete() {
    m_keepWindow = true;
    if (!FileExists(m_tempPath))
        return;
    m_targetPath = NumberedTargetPath(m_targetPath);
    if (!QFile::rename(m_tempPath, m_targetPath)) {
        m_keepWindow = false;
        ResetAndShow(kWriteError, KindError, true);
        return;
    }
    if (m_automatic) {
        if (m_window->isVisible())
            m_window->hide();
        m_keepWindow = false;
        emit AutoReceived(m_targetPath);
        if (m_session.settings.autoOpenFile &&
            IsAutoOpenType(m_targetPath, m_session.settings.autoOpenFileType))
            OpenFileChecked(m_session.shell(), m_session.messageBox(), m_window, m_targetPath);
        return;
    }
    QTimer::singleShot(m_completionPauseMs, this, &FileReceiver::FinishCompletion);
}

void FileReceiver::FinishCompletion() {
    const qint64 elapsed = UptimeSeconds(m_session.system().UptimeMs()) - m_startTime;
    findChild<QLabel*>(QStringLiteral("lblDoneText"))
        ->setText(QStringLiteral("文件已成功从 ") + PeerNickName() + QStringLiteral(" 接收。") +
                  QStringLiteral("\n\n") + QStringLiteral("保存到 ") + m_targetPath +
                  QStringLiteral("\n\n") + QStringLiteral("完成时间 ") +
                  m_session.system().Now().time().toString(QStringLiteral("H:mm:ss")) +
                  QStringLiteral(" ,用时 ") + FormatDuration(qint32(elapsed)) +
                  QStringLiteral("。"));
    ShowPage(PageFinished);
    ActivateWindow(m_window);
    if (m_session.settings.autoOpenFile &&
        IsAutoOpenType(m_targetPath, m_session.settings.autoOpenFileType)) {
        OpenFileChecked(m_session.shell(), m_session.messageBox(), m_window, m_targetPath);
        ShowPage(PageFinished);
        ActivateWindow(m_window);
    }
}

void FileReceiver::cmdFinished_Click(int index) {
    m_window->hide();
    if (index == 1)
        OpenFileChecked(m_session.shell(), m_session.messageBox(), m_window, m_targetPath);
    if (index == 2)
        OpenWithShell(m_session.shell(), FolderOf(m_targetPath));
}

// ---- Cancelling --------------------------------------------------------------------------

void FileReceiver::cmdCancel_Click() {
    if (ShowMessage(m_session.messageBox(), m_window,
                    QStringLiteral("确实要取消正在接收的文件么？"), KindAsk, false) != AnswerYes)
        return;
    if (!m_session.activity.receiving)
        return;  // it ended while the question was open
    m_window->hide();
    m_cancelledHere = true;
    m_deleteOnReset = true;
    SendOrFail(BuildReceiverCancel(NoteText(m_txtCancelNote)));
}

void FileReceiver::SenderCancelled(const QString& note, bool resetHere) {
    const qint64 held = TempFileLength();
    m_tempFile.close();
    const double ratio =
        m_offer.length > 0 && held >= 0 ? double(held) / double(m_offer.length) : 0;
    findChild<QLabel*>(QStringLiteral("lblCancelLine"))
        ->setText(QStringLiteral("对方用户 ") + PeerNickName() + QStringLiteral(" 取消发送文件") +
                  QLatin1Char('"') + m_offer.fileName + QLatin1Char('"') +
                  QStringLiteral(",目前已接收 ") + PercentText(ratio) + QStringLiteral(" 。"));
    findChild<QLabel*>(QStringLiteral("lblCancelNote"))
        ->setText(TrimSpaces(note).isEmpty()
                      ? QStringLiteral("(无)")
                      : QString(note).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    m_chkDelete[4]->setChecked(false);
    m_keepWindow = true;
    m_pending = Pending{QString(), 0, false, true};
    // After a close of the control connection the link resets by itself.
    if (resetHere)
        Reset();
}

void FileReceiver::cmdCancelledOK_Click() {
    m_window->hide();
    if (m_chkDelete[4]->isChecked())
        DeleteFileIfExists(m_tempPath);
}

void FileReceiver::lblNickName_Click() {
    ShowPeerInfo(m_session, m_identity);
}

void FileReceiver::HandleCloseBox() {
    if (CurrentPage() == PageOffer && m_offerReceived && !m_accepted) {
        cmdRefuse_Click();
    } else if (CurrentPage() == PageReceiving && m_session.activity.receiving) {
        cmdCancel_Click();
    } else {
        m_window->hide();
    }
}

}  // namespace tvx
