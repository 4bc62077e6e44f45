#include "transfer/FileReceiveEngine.h"

#include <QDir>
#include <QFileInfo>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

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
// Slices the writer may hold, queued or being written: 2 MB.
constexpr int kWriterSlices = 8;
constexpr qint64 kReadAheadBytes = 1024 * 1024;

const QString kWriteError = QStringLiteral("无法继续接收:写入文件时发生错误。");

QString BrokenConnectionText(const QString& nickName) {
    return QStringLiteral("无法与 ") + nickName + QStringLiteral(" 继续接收") +
           QStringLiteral(
               ",原因可能是:\r\n\r\n-网络突然断开\r\n-对方中途退出Tolvex\r\n-"
               "其它意外原因导致连接中断");
}

}  // namespace

// Unscrambles received slices and writes them to the temporary file in order, on a thread of
// its own, so that the data connection is read while the disk works. The slices come from a
// fixed set of buffers: when all of them wait to be written the engine stops reading, and the
// connection holds the sender back. After a failed write the rest is dropped.
class FileReceiveEngine::SliceWriter {
public:
    // Writes from the file's position, which is `start` bytes into the file.
    SliceWriter(QFile& file, qint64 start, int key, std::function<void()> written)
        : m_file(file), m_key(key), m_written(std::move(written)), m_writtenBytes(start) {
        m_thread = std::thread([this] { Run(); });
    }
    ~SliceWriter() { Finish(); }

    // An empty buffer of kSliceBytes; a null array while every buffer waits to be written.
    QByteArray TakeBuffer() {
        std::lock_guard<std::mutex> lock(m_mutex);
        QByteArray buffer;
        if (!m_free.empty()) {
            buffer = std::move(m_free.back());
            m_free.pop_back();
        } else if (m_buffers < kWriterSlices) {
            ++m_buffers;
        } else {
            return QByteArray();
        }
        buffer.resize(kSliceBytes);  // keeps the allocation it had
        return buffer;
    }
    // An empty buffer, waiting for the writer to let one go when every buffer is queued.
    QByteArray TakeBufferWaiting() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_free.empty() && m_buffers < kWriterSlices) {
            ++m_buffers;
            QByteArray buffer;
            buffer.resize(kSliceBytes);
            return buffer;
        }
        m_freed.wait(lock, [this] { return !m_free.empty(); });
        QByteArray buffer = std::move(m_free.back());
        m_free.pop_back();
        buffer.resize(kSliceBytes);
        return buffer;
    }
    void GiveBack(QByteArray buffer) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free.push_back(std::move(buffer));
    }
    // Queues a slice, sized to its bytes, to be unscrambled and written after the others.
    void Write(QByteArray slice) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back(std::move(slice));
        }
        m_wake.notify_one();
    }
    // Writes what is queued and ends the thread.
    void Finish() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }
    // The file's length so far: the start and every byte written since.
    qint64 Written() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_writtenBytes;
    }
    bool Failed(QString* error) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        *error = m_error;
        return m_failed;
    }

private:
    void Run() {
        for (;;) {
            QByteArray slice;
            bool failed = false;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
                if (m_queue.empty())
                    return;
                slice = std::move(m_queue.front());
                m_queue.pop_front();
                failed = m_failed;
            }
            bool ok = false;
            QString error;
            if (!failed) {
                ScrambleBytes(slice.data(), slice.size(), m_key);
                ok = m_file.write(slice.constData(), slice.size()) == slice.size();
                if (!ok)
                    error = m_file.errorString();
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (ok) {
                    m_writtenBytes += slice.size();
                } else if (!m_failed) {
                    m_failed = true;
                    m_error = error;
                }
                m_free.push_back(std::move(slice));
            }
            m_freed.notify_one();
            m_written();
        }
    }

    QFile& m_file;  // only this thread touches it while the writer runs
    const int m_key;
    const std::function<void()> m_written;
    mutable std::mutex m_mutex;
    qint64 m_writtenBytes;
    std::condition_variable m_wake;
    std::condition_variable m_freed;  // a buffer came back from the writer
    std::deque<QByteArray> m_queue;
    std::vector<QByteArray> m_free;
    int m_buffers = 0;
    bool m_failed = false;
    QString m_error;
    bool m_stopping = false;
    std::thread m_thread;
};

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
    CloseTempFile();
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
    CloseTempFile();
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
    // Bounds what the connection takes in ahead of the slices: the receive buffer's
    // buffer-full when it is to gather one, otherwise a little. Beyond that the system holds
    // the bytes, so a writer that falls behind holds the sender back instead of filling memory.
    const SettingsRecord& settings = m_session.settings;
    m_data.SetReadBufferSize(
        settings.useRecvBuffer ? qMax(settings.recvBufferBytes, kReadAheadBytes) : kReadAheadBytes);
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
    // Bytes the connection still holds arrived before its close: they go to the writer first
    // (waiting for its buffers), so that the close is judged on everything that came.
    if (m_writer && m_accepted && !m_cancelledHere && !DrainClosedConnection())
        return;
    if (m_writer && m_received == m_offer.length) {
        // Every byte came before the close; the last ones may still be on their way to the
        // disk. They complete the file first, as they would have had they been written.
        m_writer->Finish();
        OnSlicesWritten();
        if (!m_offerReceived)
            return;  // a failed write or completion has reset the transfer
    }
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
        m_timSpeed.start();
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
    m_timSpeed.start();
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

void FileReceiveEngine::OnDataArrival() {
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
    TakeArrivedBytes(true);
}

// Hands what the connection holds to the writer, as far as its buffers reach; the writer's
// next written slice goes on with the rest. A connection whose buffer filled up reads again
// only once its buffer has been emptied, so a started drain is never left for gathering.
void FileReceiveEngine::TakeArrivedBytes(bool gather) {
    const qint64 available = m_data.BytesAvailable();
    const qint64 missing = m_offer.length - TakenIn();
    if (available > missing) {
        // More than was offered: keep what is whole for a resume and stop.
        FailWrite(QString());
        return;
    }
    const SettingsRecord& settings = m_session.settings;
    if (gather && settings.useRecvBuffer && available != missing &&
        available < settings.recvBufferBytes) {
        // Let a buffer-full gather in the connection before touching the disk.
        m_progress.SetPosition(TakenIn() + available);
        if (!m_automatic)
            emit ProgressChanged(m_progress);
        return;
    }
    if (available == 0)
        return;
    // The temporary file stays open while the bytes flow; it is closed by every end.
    if (!m_writer) {
        m_tempFile.setFileName(m_tempPath);
        if (!m_tempFile.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
            FailWrite(m_tempFile.errorString());
            return;
        }
        if (!m_tempFile.seek(m_position)) {
            FailWrite(m_tempFile.errorString());
            return;
        }
        m_received = m_position;
        m_writer = std::make_unique<SliceWriter>(m_tempFile, m_position, m_offer.key, [this] {
            // One notice at a time is enough: it reads the writer's state when it runs.
            if (!m_writtenNoticePending.exchange(true)) {
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        m_writtenNoticePending = false;
                        OnSlicesWritten();
                    },
                    Qt::QueuedConnection);
            }
        });
    }
    while (m_data.BytesAvailable() > 0) {
        QByteArray slice = m_writer->TakeBuffer();
        if (slice.isNull()) {
            // The writer's next written slice goes on; until then the sender waits.
            m_drainWaiting = true;
            m_data.HoldBack();
            break;
        }
        const qint64 count = m_data.ReadInto(slice.data(), slice.size());
        if (count <= 0) {
            m_writer->GiveBack(std::move(slice));
            break;
        }
        if (m_received + count > m_offer.length) {
            FailWrite(QString());
            return;
        }
        slice.resize(count);
        m_writer->Write(std::move(slice));
        m_received += count;
    }
    m_progress.SetPosition(m_received);
    if (!m_automatic)
        emit ProgressChanged(m_progress);
}

bool FileReceiveEngine::DrainClosedConnection() {
    m_drainWaiting = false;
    while (m_data.BytesAvailable() > 0) {
        QByteArray slice = m_writer->TakeBufferWaiting();
        const qint64 count = m_data.ReadInto(slice.data(), slice.size());
        if (count <= 0) {
            m_writer->GiveBack(std::move(slice));
            break;
        }
        if (m_received + count > m_offer.length) {
            m_writer->GiveBack(std::move(slice));
            FailWrite(QString());
            return false;
        }
        slice.resize(count);
        m_writer->Write(std::move(slice));
        m_received += count;
    }
    return true;
}

void FileReceiveEngine::OnSlicesWritten() {
    if (!m_writer)
        return;
    QString error;
    if (m_writer->Failed(&error)) {
        FailWrite(error);
        return;
    }
    m_position = m_writer->Written();
    if (m_position == m_offer.length) {
        FinishFile();
        return;
    }
    if (m_drainWaiting) {
        m_drainWaiting = false;
        if (m_accepted && !m_cancelledHere)
            TakeArrivedBytes(false);
    }
}

// Every byte is in the temporary file: close it and tell the sender.
void FileReceiveEngine::FinishFile() {
    m_session.activity.SetReceiving(false);
    m_timSpeed.stop();
    CloseTempFile();
    if (!SendOrFail(BuildCompletion()))
        return;
    Complete();
}

void FileReceiveEngine::CloseTempFile() {
    if (m_writer) {
        m_writer->Finish();
        m_position = m_writer->Written();
        m_writer.reset();
    }
    m_drainWaiting = false;
    m_tempFile.close();
}

void FileReceiveEngine::FailWrite(const QString& reason) {
    CloseTempFile();
    ResetAndReport(
        reason.isEmpty() ? kWriteError : kWriteError + QStringLiteral("\r\n\r\n") + reason,
        KindError, true);
}

void FileReceiveEngine::SpeedTick() {
    const bool stalled = m_progress.Tick();
    emit SpeedMeasured(m_progress);
    if (stalled && m_automatic) {
        // An automatic transfer that went silent ends as quietly as one the sender broke
        // off; what arrived stays for a resume, and the listeners serve the next sender.
        Reset();
    } else if (stalled) {
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
    CloseTempFile();
    const qint64 held = HeldLength();
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
