#include "transfer/FileReceiveEngine.h"

#include <QDir>
#include <QFileInfo>
#include <cstdint>

#include "common/Format.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/Session.h"
#include "common/ShellRoutines.h"
#include "common/Text.h"
#include "platform/FileSystem.h"
#include "protocol/Codes.h"
#include "records/AddressFiles.h"
#include "records/HistoryLog.h"
#include "transfer/ReceiveRules.h"

namespace tvx {

namespace {

using C = ProtocolCodes;

constexpr int kSliceBytes = 256 * 1024;
constexpr qint64 kReadAheadBytes = 1024 * 1024;

const QString kWriteError = QStringLiteral("无法继续接收:写入文件时发生错误。");

QString BrokenConnectionText(const QString& nickName) {
    return QStringLiteral("无法与 ") + nickName + QStringLiteral(" 继续接收") +
           QStringLiteral(
               ",原因可能是:\r\n\r\n-网络突然断开\r\n-对方中途退出Tolvex\r\n-"
               "其它意外原因导致连接中断");
}

}  // namespace

FileReceiveEngine::FileReceiveEngine(Session& session, QObject* parent)
    : QObject(parent), m_session(session), m_link(PeerRole::FileReceiver, session.linkContext) {
    connect(&m_link, &PeerLink::DataListenerDue, this, &FileReceiveEngine::OnDataListenerDue);
    connect(&m_link, &PeerLink::MessageReceived, this, &FileReceiveEngine::OnControlMessage);
    connect(&m_link, &PeerLink::PeerClosed, this, &FileReceiveEngine::OnPeerClosed);
    connect(&m_link, &PeerLink::SocketError, this, &FileReceiveEngine::OnLinkSocketError);
    connect(&m_link, &PeerLink::ResetDone, this, &FileReceiveEngine::OnResetDone);

    connect(&m_data, &Socket::ConnectionRequest, this, &FileReceiveEngine::OnDataConnectionRequest);
    connect(&m_data, &Socket::DataArrival, this, &FileReceiveEngine::OnDataArrival);
    connect(&m_data, &Socket::Closed, this, &FileReceiveEngine::OnDataClosed);
    connect(&m_data, &Socket::Error, this, &FileReceiveEngine::OnDataError);

    m_timCountDown.setInterval(1000);
    connect(&m_timCountDown, &QTimer::timeout, this, &FileReceiveEngine::CountDownTick);
    m_timSpeed.setInterval(1000);
    connect(&m_timSpeed, &QTimer::timeout, this, &FileReceiveEngine::SpeedTick);
    m_timCloseGrace.setInterval(kCloseGraceMs);
    m_timCloseGrace.setSingleShot(true);
    connect(&m_timCloseGrace, &QTimer::timeout, this, [this] {
        if (m_link.state() != PeerLink::State::Listening)
            Reset();
    });
}

FileReceiveEngine::~FileReceiveEngine() {
    Shutdown();
}

// ---- Listening and reset -----------------------------------------------------------------

bool FileReceiveEngine::StartFileListener() {
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
    emit Failure(number == 10048 ? QStringLiteral("Tolvex不能运行:端口已被其它程序使用。")
                                 : QStringLiteral("错误:Tolvex无法初始化网络。"),
                 KindError, true);
    emit ListenerFailed();
    return false;
}

void FileReceiveEngine::Shutdown() {
    m_shuttingDown = true;
    m_timCountDown.stop();
    m_timSpeed.stop();
    m_timCloseGrace.stop();
    m_link.Stop();
    m_data.Close();
    m_tempFile.close();
}

void FileReceiveEngine::Reset() {
    m_link.Reset();
}

void FileReceiveEngine::ResetAndReport(const QString& text, int kind, bool systemModal) {
    m_pending = Pending{text, kind, systemModal, false};
    Reset();
}

// Runs after every reset of the control link, whoever started it.
void FileReceiveEngine::OnResetDone() {
    m_data.Close();
    m_tempFile.close();
    m_timCountDown.stop();
    m_timSpeed.stop();
    // As the program ends the windows are going away: report nothing more.
    if (m_shuttingDown)
        return;
    const bool keepPage = m_keepPage;
    m_keepPage = false;
    emit ResetDone(keepPage);

    m_position = 0;
    m_progress.Reset();
    m_offerReceived = false;
    m_accepted = false;
    m_cancelledHere = false;
    m_session.activity.SetReceiving(false);
    m_session.activity.SetOfferPending(false);
    if (m_deleteHeldOnCancel && m_deleteOnReset)
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
    if (pending.senderCancelledPage)
        emit SenderCancelPageWanted(m_automatic);
    else
        emit Failure(pending.text, pending.kind, pending.systemModal);
}

// ---- Control connection ------------------------------------------------------------------

void FileReceiveEngine::OnDataListenerDue() {
    m_data.Close();
    if (m_data.Bind(m_session.localAddress, kFileDataPort) != 0 || m_data.Listen() != 0)
        Reset();
}

void FileReceiveEngine::OnDataConnectionRequest() {
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

void FileReceiveEngine::OnControlMessage(char16_t code, const QString& payload) {
    if (code == C::FileOffer) {
        TakeOffer(payload);
    } else if (code == C::SenderCancel) {
        TakeSenderCancel(payload, true);
    }
}

bool FileReceiveEngine::SendOrFail(const QString& body) {
    const int number = m_link.Send(body);
    if (number == 0)
        return true;
    ConnectionFailed(number);
    return false;
}

void FileReceiveEngine::OnPeerClosed() {
    // The link resets itself after this; a close in the middle of a transfer is a cancel.
    if (m_session.activity.receiving() && !m_cancelledHere)
        TakeSenderCancel(QString(), false);
}

void FileReceiveEngine::OnDataClosed() {
    if (m_session.activity.receiving() && !m_cancelledHere) {
        TakeSenderCancel(QString(), true);
    } else {
        Reset();
    }
}

void FileReceiveEngine::OnLinkSocketError(int number) {
    // The link resets right after this signal.
    if (!m_offerReceived)
        return;
    const QString text = (number == 10053 || number == 10054 || number == 40006)
                             ? (m_cancelledHere ? QString() : BrokenConnectionText(PeerNickName()))
                             : QStringLiteral("网络连接发生未知错误而断开。");
    if (!text.isEmpty())
        m_pending = Pending{text, KindError, true, false};
}

void FileReceiveEngine::OnDataError(int number) {
    ConnectionFailed(number);
}

void FileReceiveEngine::ConnectionFailed(int number) {
    QString text;
    if (m_offerReceived) {
        if (number == 10053 || number == 10054 || number == 40006) {
            if (!m_cancelledHere)
                text = BrokenConnectionText(PeerNickName());
        } else {
            text = QStringLiteral("网络连接发生未知错误而断开。");
        }
    }
    if (text.isEmpty())
        Reset();
    else
        ResetAndReport(text, KindError, true);
}

// ---- The offer ---------------------------------------------------------------------------

void FileReceiveEngine::TakeOffer(const QString& payload) {
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
    m_friendlyTime = FriendlyFileTime(m_offer.modified, m_session.system().Now().date());

    if (m_session.settings.autoRecvFile)
        ReceiveAutomatically();
    else
        PutOfferToUser();
}

void FileReceiveEngine::WriteHistoryEntry() {
    const QString warning = AppendLogEntryQuietly(
        m_session, LogEvent::FileReceived,
        {PeerNickName(), m_identity.value(0), m_offer.fileName, m_typeName,
         FormatSizeWithBytes(qint32(m_offer.length)), m_friendlyTime, m_offer.note});
    if (!warning.isEmpty())
        emit HistoryWarning(warning);
}

qint64 FileReceiveEngine::HeldLength() const {
    QFileInfo info(m_tempPath);
    return info.exists() && info.isFile() ? info.size() : -1;
}

void FileReceiveEngine::ReceiveAutomatically() {
    m_automatic = true;
    const QString folder = m_session.settings.autoSavePath;
    if (!FolderExists(folder)) {
        Reset();
        if (!m_autoSaveErrorShown) {
            m_autoSaveErrorShown = true;
            emit Failure(QStringLiteral("无法自动接收文件:保存文件的位置不存在。"), KindError,
                         true);
            m_autoSaveErrorShown = false;
        }
        return;
    }
    m_targetPath = WithTrailingSlash(folder) + FitFileName(m_saveName, FileNameLimit(folder));
    m_tempPath = m_targetPath + QStringLiteral(".tvx");
    if (m_session.settings.existFile)
        DeleteFileIfExists(m_targetPath);

    const qint64 held = HeldLength();
    if (held >= 0 && held < m_offer.length) {
        m_position = held;
        m_progress.Start(m_offer.length, held);
        m_accepted = true;
        if (!SendOrFail(BuildAcceptance(held)))
            return;
        WriteHistoryEntry();
        return;
    }
    if (held >= m_offer.length && !DeleteTempBeforeRestart())
        return;
    m_position = 0;
    m_progress.Start(m_offer.length, 0);
    m_accepted = true;
    if (!SendOrFail(BuildAcceptance(0)))
        return;
    WriteHistoryEntry();
}

void FileReceiveEngine::PutOfferToUser() {
    m_automatic = false;
    m_refuseNote.clear();
    m_countDown = 60;
    m_timCountDown.start();
    m_session.activity.SetOfferPending(true);
    emit OfferWaiting(PeerNickName(), m_offer.fileName, m_offer.length);
    WriteHistoryEntry();
}

void FileReceiveEngine::CountDownTick() {
    --m_countDown;
    emit CountDownChanged(m_countDown);
    if (m_countDown > 0)
        return;
    m_timCountDown.stop();
    m_session.activity.SetOfferPending(false);
    emit OfferExpired();
    SendOrFail(BuildOfferRefusedAuto(m_refuseNote));
    m_timCloseGrace.start();
}

void FileReceiveEngine::SetCountDownRunning(bool running) {
    if (running)
        m_timCountDown.start();
    else
        m_timCountDown.stop();
}

void FileReceiveEngine::Refuse(const QString& note) {
    m_timCountDown.stop();
    m_session.activity.SetOfferPending(false);
    SendOrFail(BuildOfferRefused(note));
    m_timCloseGrace.start();
}

void FileReceiveEngine::StopWaiting() {
    m_session.activity.SetOfferPending(false);
    m_timCountDown.stop();
}

QString FileReceiveEngine::ChooseTarget(const QString& chosen) {
    m_targetPath =
        FolderOf(chosen) + FitFileName(FileNameOf(chosen), FileNameLimit(FolderOf(chosen)));
    m_tempPath = m_targetPath + QStringLiteral(".tvx");
    return m_targetPath;
}

bool FileReceiveEngine::ReplaceExistingTarget() {
    return DeleteFileIfExists(m_targetPath) && !FileExists(m_targetPath);
}

bool FileReceiveEngine::Accept(qint64 resumeOffset) {
    m_position = resumeOffset;
    if (!SendOrFail(BuildAcceptance(resumeOffset)))
        return false;
    StartReceiving();
    return true;
}

bool FileReceiveEngine::AcceptFromStart() {
    m_position = 0;
    if (!DeleteTempBeforeRestart())
        return false;
    return Accept(0);
}

bool FileReceiveEngine::DeleteTempBeforeRestart() {
    if (DeleteFileIfExists(m_tempPath))
        return true;
    const bool alreadyShown = m_tempErrorShown;
    Reset();
    if (!alreadyShown) {
        m_tempErrorShown = true;
        emit Failure(QStringLiteral("覆盖下列临时tvx文件时发生错误。") +
                         QStringLiteral("\r\n\r\n") + m_tempPath,
                     KindError, true);
        m_tempErrorShown = false;
    }
    return false;
}

// ---- Receiving ---------------------------------------------------------------------------

void FileReceiveEngine::StartReceiving() {
    m_accepted = true;
    m_session.activity.SetReceiving(true);
    m_progress.Start(m_offer.length, m_position);
    m_deleteOnReset = false;
    m_deleteHeldOnCancel = false;
    m_timSpeed.start();
    m_startTime = UptimeSeconds(m_session.system().UptimeMs());
    emit ReceivingStarted();
}

void FileReceiveEngine::OnDataArrival(qint64 bytesAvailable) {
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
        m_progress.SetPosition(m_position + bytesAvailable);
        if (!m_automatic)
            emit ProgressChanged(m_progress);
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
    m_progress.SetPosition(m_position);
    if (!m_automatic)
        emit ProgressChanged(m_progress);

    if (m_position == m_offer.length) {
        m_session.activity.SetReceiving(false);
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

void FileReceiveEngine::FailWrite(const QString& reason) {
    m_tempFile.close();
    ResetAndReport(
        reason.isEmpty() ? kWriteError : kWriteError + QStringLiteral("\r\n\r\n") + reason,
        KindError, true);
}

void FileReceiveEngine::SpeedTick() {
    const bool stalled = m_progress.Tick();
    emit SpeedMeasured(m_progress);
    if (stalled) {
        ResetAndReport(QStringLiteral("超时:无法与'") + PeerNickName() +
                           QStringLiteral("'继续接收") +
                           QStringLiteral(",原因可能是:\r\n\r\n-网络突然断开\r\n-"
                                          "对方中途退出Tolvex\r\n-其它意外原因导致连接中断"),
                       KindError, true);
    }
}

// ---- Completion --------------------------------------------------------------------------

bool FileReceiveEngine::OpenWanted() const {
    return m_session.settings.autoOpenFile &&
           IsAutoOpenType(m_targetPath, m_session.settings.autoOpenFileType);
}

void FileReceiveEngine::Complete() {
    m_keepPage = true;
    if (!FileExists(m_tempPath))
        return;
    m_targetPath = NumberedTargetPath(m_targetPath);
    if (!QFile::rename(m_tempPath, m_targetPath)) {
        m_keepPage = false;
        ResetAndReport(kWriteError, KindError, true);
        return;
    }
    if (m_automatic) {
        m_keepPage = false;
        emit AutoReceived(m_targetPath, OpenWanted());
        return;
    }
    QTimer::singleShot(m_completionPauseMs, this, &FileReceiveEngine::FinishCompletion);
}

void FileReceiveEngine::FinishCompletion() {
    const qint64 elapsed = UptimeSeconds(m_session.system().UptimeMs()) - m_startTime;
    emit Received(m_targetPath, elapsed, OpenWanted());
}

// ---- Cancelling --------------------------------------------------------------------------

void FileReceiveEngine::Cancel(const QString& note) {
    if (!m_session.activity.receiving())
        return;  // it ended while the question was open
    m_cancelledHere = true;
    m_deleteOnReset = true;
    SendOrFail(BuildReceiverCancel(note));
}

void FileReceiveEngine::TakeSenderCancel(const QString& note, bool resetHere) {
    const qint64 held = HeldLength();
    m_tempFile.close();
    const double ratio =
        m_offer.length > 0 && held >= 0 ? double(held) / double(m_offer.length) : 0;
    emit SenderCancelled(note, ratio);
    m_keepPage = true;
    m_pending = Pending{QString(), 0, false, true};
    // After a close of the control connection the link resets by itself.
    if (resetHere)
        Reset();
}

void FileReceiveEngine::DeleteHeldBytes() {
    DeleteFileIfExists(m_tempPath);
}

}  // namespace tvx
