#include "transfer/FileReceiveEngine.h"

#include <poll.h>
#include <sys/socket.h>

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>

#include "common/Format.h"
#include "common/Messages.h"
#include "common/PageBuffer.h"
#include "common/Paths.h"
#include "common/ReportingWorker.h"
#include "common/ShellRoutines.h"
#include "common/Text.h"
#include "platform/FileSystem.h"
#include "platform/SocketErrors.h"
#include "protocol/BatchMessages.h"
#include "protocol/Codes.h"
#include "records/AddressFiles.h"
#include "records/HistoryLog.h"
#include "session/Session.h"
#include "texts/SecurityTexts.h"
#include "transfer/ReceiveRules.h"

namespace tvx {

namespace {

using C = ProtocolCodes;

constexpr qint64 kReadAheadBytes = 1024 * 1024;

bool IsBrokenConnection(SocketError error) {
    return error == SocketError::ConnectionAborted || error == SocketError::ConnectionReset ||
           error == SocketError::WrongState;
}

}  // namespace

// Reads the data connection, unscrambles and writes to the temporary file, all on a thread of
// its own, so that each byte is handled once while it is still in the processor's cache and
// the disk never holds up the event loop. The engine lends it the connection once the bytes
// begin to flow and takes it back when the transfer ends. With a gathering size it writes
// whole buffer-fulls only (the receive-buffer option). Bytes beyond the offered length are
// not written: the thread stops and says so.
class FileReceiveEngine::SliceReceiver {
public:
    struct Report {
        qint64 received = 0;  // the file's bytes that came so far, from its start
        qint64 written = 0;   // of which in the file
        bool closed = false;  // the sender closed the connection; every byte is written
        bool beyond = false;  // more bytes came than were offered
        int readError = 0;    // errno of a failed read
        bool writeFailed = false;
        QString writeError;
    };

    // Reads the lent descriptor (non-blocking; it goes back when the receiver goes) into `file`
    // from `start` bytes into it, opening the file with the first bytes to write; `taken` holds
    // bytes that were read before. `notify` runs on the thread after each step; it must only post.
    SliceReceiver(QFile& file, DescriptorLease lease, QByteArray taken, qint64 start, qint64 length,
                  int key, qint64 gatherBytes, std::function<void()> notify)
        : m_file(file),
          m_lease(std::move(lease)),
          m_descriptor(m_lease.descriptor()),
          m_length(length),
          m_key(key),
          m_gather(gatherBytes > 0),
          m_buffer(size_t(qMax<qint64>(gatherBytes, kReadSliceBytes))),
          m_worker(std::move(notify)) {
        m_received = m_written = start;
        m_worker.Update([start](Report& r) { r.received = r.written = start; }, false);
        m_worker.Start([this, taken = std::move(taken)] { Run(taken); });
    }

    // Ends the thread; bytes gathered and not yet written are written first.
    void Stop() { m_worker.Stop(); }
    Report Snapshot() const { return m_worker.Snapshot(); }

private:
    void Run(const QByteArray& taken) {
        if (!taken.isEmpty() && !Take(taken.constData(), taken.size()))
            return;
        while (!m_worker.stopping()) {
            char* free = m_buffer.data() + m_filled;
            const ssize_t n = m_lease.Receive(free, m_buffer.size() - m_filled);
            if (n > 0) {
                if (!Taken(n))
                    return;
                continue;
            }
            if (n == 0) {
                Flush();
                Update([](Report& r) { r.closed = true; });
                return;
            }
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                const int failure = errno;
                Flush();
                Update([failure](Report& r) { r.readError = failure; });
                return;
            }
            // Progress not yet reported goes out once the connection has been quiet a moment.
            const bool unreported = m_received != m_noticed;
            if (m_worker.WaitReady(m_descriptor, POLLIN, unreported ? 20 : 100) && unreported)
                Update([](Report&) {});
        }
        Flush();
        Update([](Report&) {});
    }

    // Bytes read before the thread began, as if it had read them.
    bool Take(const char* bytes, qint64 count) {
        while (count > 0) {
            const qint64 part = qMin<qint64>(count, qint64(m_buffer.size()) - m_filled);
            memcpy(m_buffer.data() + m_filled, bytes, size_t(part));
            if (!Taken(part))
                return false;
            bytes += part;
            count -= part;
        }
        return true;
    }

    // `count` new bytes at the end of the buffer: written at once, or once the gathering
    // buffer is full or the file complete. False when the thread is to end.
    bool Taken(qint64 count) {
        if (m_received + count > m_length) {
            Flush();
            Update([](Report& r) { r.beyond = true; });
            return false;
        }
        // Unscrambled at once, while the bytes are still in the processor's cache.
        ScrambleBytes(m_buffer.data() + m_filled, count, m_key);
        m_received += count;
        m_filled += count;
        if (!m_gather || m_filled == qint64(m_buffer.size()) || m_received == m_length) {
            if (!Flush())
                return false;
        }
        // The engine hears of progress a few dozen times a second, and of the last byte at once.
        const auto now = std::chrono::steady_clock::now();
        if (m_written == m_length || now - m_lastNotice >= kNoticeInterval) {
            m_lastNotice = now;
            Update([](Report&) {});
        }
        return m_written < m_length;
    }

    bool Flush() {
        if (m_filled > 0 && !m_failed) {
            const bool opened =
                m_file.isOpen() || (m_file.open(QIODevice::ReadWrite | QIODevice::Unbuffered) &&
                                    m_file.seek(m_written));
            if (!opened || !WriteAll()) {
                m_failed = true;
                const QString error = m_file.errorString();
                Update([&error](Report& r) {
                    r.writeFailed = true;
                    r.writeError = error;
                });
                m_filled = 0;
                return false;
            }
            m_written += m_filled;
        }
        m_filled = 0;
        return !m_failed;
    }

    bool WriteAll() {
        for (qint64 done = 0; done < m_filled;) {
            const qint64 part = qMin(kWriteSliceBytes, m_filled - done);
            if (m_file.write(m_buffer.data() + done, part) != part)
                return false;
            done += part;
        }
        return true;
    }

    template <typename Change>
    void Update(Change change) {
        m_worker.Update([&](Report& r) {
            r.received = m_received;
            r.written = m_written;
            change(r);
        });
        m_noticed = m_received;
    }

    QFile& m_file;            // only this thread touches it while the thread runs
    DescriptorLease m_lease;  // before the worker: the thread stops before the descriptor goes back
    const int m_descriptor;
    const qint64 m_length;
    const int m_key;
    const bool m_gather;
    PageBuffer m_buffer;
    qint64 m_filled = 0;
    qint64 m_received = 0;
    qint64 m_written = 0;
    qint64 m_noticed = -1;  // the received count the engine last heard of
    bool m_failed = false;
    static constexpr std::chrono::milliseconds kNoticeInterval{20};
    std::chrono::steady_clock::time_point m_lastNotice;
    ReportingWorker<Report> m_worker;  // last: it stops the thread before the rest goes
};

FileReceiveEngine::FileReceiveEngine(Session& session, QObject* parent)
    : QObject(parent), m_session(session), m_link(PeerRole::FileReceiver, session.linkContext) {
    connect(&m_link, &PeerLink::DataListenerDue, this, &FileReceiveEngine::OnDataListenerDue);
    connect(&m_link, &PeerLink::MessageReceived, this, &FileReceiveEngine::OnControlMessage);
    connect(&m_link, &PeerLink::PeerClosed, this, &FileReceiveEngine::OnPeerClosed);
    connect(&m_link, &PeerLink::SocketFailed, this, &FileReceiveEngine::OnLinkSocketError);
    connect(&m_link, &PeerLink::ResetDone, this, &FileReceiveEngine::OnResetDone);
    connect(&m_link, &PeerLink::CallerRejected, this, &FileReceiveEngine::CallerRejected);

    connect(&m_data, &Socket::ConnectionRequest, this, &FileReceiveEngine::OnDataConnectionRequest);
    // The data connection of an encrypted control connection must show the same certificate.
    connect(&m_data, &Socket::Encrypted, this, [this] {
        if (m_data.PeerFingerprint() != m_link.peerFingerprint())
            Reset();
    });
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
    SocketError error = m_link.Listen();
    if (error == SocketError::None) {
        m_data.Close();
        error = m_data.Bind(m_session.localAddress, kFileDataPort);
    }
    if (error == SocketError::None) {
        m_starting = false;
        return true;
    }
    m_link.Stop();
    m_data.Close();
    m_starting = false;
    ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::ListenerFailed);
    outcome.socketError = error;
    emit Reported(outcome);
    return false;
}

void FileReceiveEngine::Shutdown() {
    m_shuttingDown = true;
    m_timCountDown.stop();
    m_timSpeed.stop();
    m_timCloseGrace.stop();
    m_link.Stop();
    CloseTempFile();
    m_data.Close();
}

void FileReceiveEngine::Reset() {
    m_link.Reset();
}

void FileReceiveEngine::ResetAndReport(const ReceiveOutcome& outcome) {
    m_pending = outcome;
    Reset();
}

ReceiveOutcome FileReceiveEngine::Outcome(ReceiveOutcome::Kind kind) const {
    ReceiveOutcome outcome;
    outcome.kind = kind;
    outcome.peerName = PeerNickName();
    return outcome;
}

void FileReceiveEngine::SetPhase(Phase phase) {
    m_phase = phase;
    // A cancelled transfer still counts until the link has been reset.
    m_session.activity.SetMainWindowReceiving(
        !m_automatic && (phase == Phase::Receiving || phase == Phase::Cancelled));
}

// Runs after every reset of the control link, whoever started it.
void FileReceiveEngine::OnResetDone() {
    m_waitingOffer = 0;
    CloseTempFile();
    m_batchList.reset();
    m_batchJob.reset();
    m_batchStopped = false;
    m_batchSkipped = 0;
    m_data.Close();
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
    SetPhase(Phase::Listening);
    m_session.activity.SetOfferWaiting(false);
    if (m_deleteHeldOnCancel && m_deleteOnReset)
        DeleteFileIfExists(m_tempPath);
    if (m_shuttingDown || m_starting)
        return;

    // Listen again: the link has re-opened 8510; the data port is bound afresh.
    if (m_link.state() != PeerLink::State::Listening ||
        m_data.Bind(m_session.localAddress, kFileDataPort) != SocketError::None) {
        StartFileListener();
        if (m_link.state() != PeerLink::State::Listening)
            return;
    }

    if (!m_pending)
        return;
    const ReceiveOutcome pending = *m_pending;
    m_pending.reset();
    if (pending.kind == ReceiveOutcome::Kind::SenderCancelled)
        emit SenderCancelPageWanted(m_automatic);
    else
        emit Reported(pending);
}

// ---- Control connection ------------------------------------------------------------------

void FileReceiveEngine::OnDataListenerDue() {
    m_data.Close();
    if (m_data.Bind(m_session.localAddress, kFileDataPort) != SocketError::None ||
        m_data.Listen() != SocketError::None)
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
    if (m_link.encrypted() && m_data.StartTls(*m_link.identity(), true) != SocketError::None) {
        Reset();
        return;
    }
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
    } else if (code == BatchCodes::Offer) {
        TakeBatchOffer(payload);
    } else if (code == BatchCodes::Entries) {
        TakeBatchEntries(payload);
    } else if (code == BatchCodes::ListEnd) {
        TakeBatchListEnd();
    }
}

bool FileReceiveEngine::SendOrFail(const QString& body) {
    const SocketError error = m_link.Send(body);
    if (error == SocketError::None)
        return true;
    ConnectionFailed(error);
    return false;
}

void FileReceiveEngine::OnPeerClosed() {
    // The link resets itself after this; a close in the middle of a transfer is a cancel.
    if (ReceivingHere())
        TakeSenderCancel(QString(), false);
}

void FileReceiveEngine::OnDataClosed() {
    // While the receiving thread reads the connection it judges the close itself; this is a
    // close before any byte of the file, or after the user cancelled.
    if (ReceivingHere()) {
        TakeSenderCancel(QString(), true);
    } else {
        Reset();
    }
}

void FileReceiveEngine::OnLinkSocketError(SocketError error) {
    // The link resets right after this signal.
    if (m_phase == Phase::Listening)
        return;
    if (IsBrokenConnection(error) && m_phase == Phase::Cancelled)
        return;
    ReceiveOutcome outcome =
        Outcome(IsBrokenConnection(error) ? ReceiveOutcome::Kind::ConnectionLost
                                          : ReceiveOutcome::Kind::NetworkError);
    outcome.socketError = error;
    m_pending = outcome;
}

void FileReceiveEngine::OnDataError(SocketError error) {
    ConnectionFailed(error);
}

void FileReceiveEngine::ConnectionFailed(SocketError error) {
    if (m_phase == Phase::Listening || (IsBrokenConnection(error) && m_phase == Phase::Cancelled)) {
        Reset();
        return;
    }
    ReceiveOutcome outcome =
        Outcome(IsBrokenConnection(error) ? ReceiveOutcome::Kind::ConnectionLost
                                          : ReceiveOutcome::Kind::NetworkError);
    outcome.socketError = error;
    ResetAndReport(outcome);
}

// ---- The offer ---------------------------------------------------------------------------

void FileReceiveEngine::TakeOffer(const QString& payload) {
    std::optional<FileOffer> offer = ParseOffer(payload);
    const QString name = offer ? SafeOfferName(offer->fileName) : QString();
    // An offer that cannot be taken safely ends the connection; nothing touches the disk.
    if (!offer || name.isEmpty() || m_phase != Phase::Listening || m_batchList) {
        Reset();
        return;
    }
    m_offer = *offer;
    m_offer.fileName = name;
    ++m_offerKey;
    m_targetPath.clear();
    m_tempPath.clear();
    m_saveName = ReceivedFileName(name);
    SetPhase(Phase::Offered);
    m_identity = QStringList{m_link.peerAddressCode()} + m_link.peerCard();
    m_deleteOnReset = false;
    m_replaceTarget = false;

    // The type is told by the offered name alone: nothing is written to ask about it.
    m_typeName = GetFileTypeName(m_session.shell(), m_saveName);
    m_friendlyTime = FriendlyFileTime(m_offer.modified, m_session.system().Now().date());

    if (m_session.settings.autoRecvFile)
        ReceiveAutomatically();
    else
        PutOfferToUser();
}

void FileReceiveEngine::WriteHistoryEntry() {
    WriteHistoryEntry({PeerNickName(), m_identity.value(0), m_offer.fileName, m_typeName,
                       FormatSizeWithBytes(qint32(m_offer.length)), m_friendlyTime, m_offer.note});
}

void FileReceiveEngine::WriteHistoryEntry(const QStringList& values) {
    const QString warning =
        AppendLogEntryQuietly(m_session, LogEvent::FileReceived, values,
                              Encrypted() ? EncryptionLine(true, PeerFingerprint()) : QString());
    if (!warning.isEmpty()) {
        ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::HistoryNotWritten);
        outcome.systemError = warning;
        emit Reported(outcome);
    }
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
            ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::AutoSaveFolderMissing);
            outcome.path = folder;
            emit Reported(outcome);
            m_autoSaveErrorShown = false;
        }
        return;
    }
    m_targetPath = WithTrailingSlash(folder) + FitFileName(m_saveName, FileNameLimit(folder));
    m_tempPath = m_targetPath + QStringLiteral(".tvx");
    // An existing file is replaced ("ExistFile") only once the new one is complete.
    m_replaceTarget = m_session.settings.existFile;
    const qint64 start = SendAcceptance(Start::AfterHeldBytes);
    if (start < 0)
        return;
    m_position = start;
    m_progress.Start(m_offer.length, start);
    SetPhase(Phase::Receiving);
    m_timSpeed.start();
    WriteHistoryEntry();
}

void FileReceiveEngine::PutOfferToUser() {
    m_automatic = false;
    m_refuseNote.clear();
    m_countDown = 60;
    m_timCountDown.start();
    m_waitingOffer = m_offerKey;
    m_session.activity.SetOfferWaiting(true);
    emit OfferWaiting(PeerNickName(), m_offer.fileName, m_offer.length);
    WriteHistoryEntry();
}

void FileReceiveEngine::CountDownTick() {
    --m_countDown;
    emit CountDownChanged(m_countDown);
    if (m_countDown > 0)
        return;
    m_timCountDown.stop();
    m_waitingOffer = 0;
    m_session.activity.SetOfferWaiting(false);
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

void FileReceiveEngine::Refuse(quint64 offer, const QString& note) {
    if (!OfferWaits(offer))
        return;
    m_waitingOffer = 0;
    m_timCountDown.stop();
    m_session.activity.SetOfferWaiting(false);
    SendOrFail(BuildOfferRefused(note));
    m_timCloseGrace.start();
}

void FileReceiveEngine::OfferSeen() {
    m_session.activity.SetOfferWaiting(false);
}

void FileReceiveEngine::StopWaiting() {
    m_session.activity.SetOfferWaiting(false);
    m_timCountDown.stop();
}

QString FileReceiveEngine::ChooseTarget(quint64 offer, const QString& chosen) {
    if (!OfferWaits(offer) || m_batchList)
        return QString();
    m_targetPath =
        FolderOf(chosen) + FitFileName(FileNameOf(chosen), FileNameLimit(FolderOf(chosen)));
    m_tempPath = m_targetPath + QStringLiteral(".tvx");
    return m_targetPath;
}

FileReceiveEngine::Held FileReceiveEngine::HeldBytes() const {
    const qint64 held = HeldLength();
    if (held < 0)
        return Held::None;
    return held < m_offer.length ? Held::Resumable : Held::TooLong;
}

bool FileReceiveEngine::Accept(quint64 offer, Start start, bool replaceTarget) {
    if (!OfferWaits(offer) || m_targetPath.isEmpty() || m_batchList)
        return false;
    m_waitingOffer = 0;
    m_replaceTarget = replaceTarget;
    const qint64 position = SendAcceptance(start);
    if (position < 0)
        return false;
    m_position = position;
    StartReceiving();
    return true;
}

// The one rule for held bytes, whoever accepts: bytes shorter than the offer are resumed
// unless the user chose to start afresh; anything else is dropped and the file starts at its
// first byte.
qint64 FileReceiveEngine::SendAcceptance(Start start) {
    const Held held = HeldBytes();
    const qint64 position =
        start == Start::AfterHeldBytes && held == Held::Resumable ? HeldLength() : 0;
    if (position == 0 && held != Held::None && !DeleteTempBeforeRestart())
        return -1;
    if (!SendOrFail(BuildAcceptance(position)))
        return -1;
    return position;
}

bool FileReceiveEngine::DeleteTempBeforeRestart() {
    if (DeleteFileIfExists(m_tempPath))
        return true;
    const bool alreadyShown = m_tempErrorShown;
    Reset();
    if (!alreadyShown) {
        m_tempErrorShown = true;
        ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::TempFileNotReplaced);
        outcome.path = m_tempPath;
        emit Reported(outcome);
        m_tempErrorShown = false;
    }
    return false;
}

// ---- Receiving ---------------------------------------------------------------------------

void FileReceiveEngine::StartReceiving() {
    SetPhase(Phase::Receiving);
    m_progress.Start(m_offer.length, m_position);
    m_deleteOnReset = false;
    m_deleteHeldOnCancel = false;
    m_timSpeed.start();
    m_startTime = UptimeSeconds(m_session.system().UptimeMs());
    emit ReceivingStarted();
}

void FileReceiveEngine::OnDataArrival() {
    if (m_phase == Phase::Listening || m_phase == Phase::Offered) {
        // Bytes before the acceptance break the protocol.
        Reset();
        return;
    }
    if (m_batchJob) {
        if (m_phase != Phase::Receiving) {
            m_data.Read();  // cancelled, stopped or complete: nothing more is written
        } else if (!m_writer) {
            QByteArray taken;
            DescriptorLease lease = m_data.LendForReading(&taken);
            if (lease) {
                m_doneFiles.Reset();
                m_writer = std::make_unique<BatchWriter>(m_batchJob, std::move(lease), taken,
                                                         m_batchList->header().key,
                                                         [this] { m_writerNotice.Post(); });
            }
        }
        return;
    }
    if (m_phase == Phase::Cancelled || (!m_receiver && m_position >= m_offer.length)) {
        // The user has cancelled: bytes still in flight are dropped, so the file is not
        // completed behind the user's back while the sender closes. Bytes after the last one
        // offered are dropped too: the file is whole and stays so.
        m_data.Read();
        return;
    }
    if (!m_receiver)
        StartReceiverThread();
}

// Lends the data connection to the receiving thread, which reads, unscrambles and writes
// into the temporary file from here on and reports each step.
void FileReceiveEngine::StartReceiverThread() {
    // The thread opens the file with the first bytes it writes, so that nothing touches the
    // disk while a buffer-full gathers.
    m_tempFile.setFileName(m_tempPath);
    QByteArray taken;
    DescriptorLease lease = m_data.LendForReading(&taken);
    if (!lease)
        return;
    const SettingsRecord& settings = m_session.settings;
    const qint64 gather = settings.useRecvBuffer ? qMax<qint64>(settings.recvBufferBytes, 1) : 0;
    m_received = m_position;
    m_receiver = std::make_unique<SliceReceiver>(m_tempFile, std::move(lease), taken, m_position,
                                                 m_offer.length, m_offer.key, gather,
                                                 [this] { m_receiverNotice.Post(); });
}

void FileReceiveEngine::OnReceiverReport() {
    if (!m_receiver)
        return;
    const SliceReceiver::Report report = m_receiver->Snapshot();
    m_received = report.received;
    m_position = report.written;
    m_progress.SetPosition(m_received);
    if (!m_automatic)
        emit ProgressChanged(m_progress);
    if (report.writeFailed) {
        FailWrite(ReceiveOutcome::Kind::WriteFailed, report.writeError);
    } else if (report.beyond) {
        // More than was offered: keep what is whole for a resume and stop.
        FailWrite(ReceiveOutcome::Kind::TooManyBytes, QString());
    } else if (m_position == m_offer.length) {
        FinishFile();
    } else {
        DataConnectionEnded(report.closed, report.readError);
    }
}

// The receiving thread found the data connection ended: the sender went away before the last
// byte (a cancel, as the close of the connection would have been), or it failed.
void FileReceiveEngine::DataConnectionEnded(bool closed, int readError) {
    if (!closed && readError == 0)
        return;
    CloseTempFile();
    if (closed || IsConnectionReset(readError))
        OnDataClosed();
    else
        ConnectionFailed(ConnectionError(readError));
}

// Every byte is in the temporary file: close it and tell the sender.
void FileReceiveEngine::FinishFile() {
    SetPhase(Phase::Finishing);
    m_timSpeed.stop();
    CloseTempFile();
    if (!SendOrFail(BuildCompletion()))
        return;
    Complete();
}

// Ends the receiving thread (it writes what it gathered first), gives the connection back to
// the socket and closes the temporary file.
void FileReceiveEngine::CloseTempFile() {
    if (m_writer) {
        m_writer->Stop();
        m_writer.reset();
    }
    if (m_receiver) {
        m_receiver->Stop();
        const SliceReceiver::Report report = m_receiver->Snapshot();
        m_position = report.written;
        m_received = report.received;
        m_receiver.reset();
    }
    m_tempFile.close();
}

void FileReceiveEngine::FailWrite(ReceiveOutcome::Kind kind, const QString& reason) {
    CloseTempFile();
    ReceiveOutcome outcome = Outcome(kind);
    outcome.path = m_tempPath;
    outcome.systemError = reason;
    ResetAndReport(outcome);
}

void FileReceiveEngine::SpeedTick() {
    const bool stalled = m_progress.Tick();
    emit SpeedMeasured(m_progress);
    if (stalled && m_automatic) {
        // An automatic transfer that went silent ends as quietly as one the sender broke
        // off; what arrived stays for a resume, and the listeners serve the next sender.
        Reset();
    } else if (stalled) {
        ResetAndReport(Outcome(ReceiveOutcome::Kind::Stalled));
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
    if (!RenameToTarget()) {
        m_keepPage = false;
        ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::RenameFailed);
        outcome.path = m_tempPath;
        ResetAndReport(outcome);
        return;
    }
    if (m_automatic) {
        m_keepPage = false;
        emit AutoReceived(m_targetPath, OpenWanted());
        return;
    }
    QTimer::singleShot(m_completionPauseMs, this, &FileReceiveEngine::FinishCompletion);
}

// The existing file to be replaced stays whole until here, and is swapped for the new one in a
// single rename; when that cannot be done the new file takes a numbered name, as it does when
// the target is to be kept.
bool FileReceiveEngine::RenameToTarget() {
    if (m_replaceTarget && FileExists(m_targetPath)) {
        if (std::rename(QFile::encodeName(m_tempPath).constData(),
                        QFile::encodeName(m_targetPath).constData()) == 0)
            return true;
        const QString kept = m_targetPath;
        m_targetPath = NumberedTargetPath(m_targetPath);
        if (!QFile::rename(m_tempPath, m_targetPath))
            return false;
        ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::ReplaceFailedRenamed);
        outcome.path = kept;
        emit Reported(outcome);
        return true;
    }
    m_targetPath = NumberedTargetPath(m_targetPath);
    return QFile::rename(m_tempPath, m_targetPath);
}

void FileReceiveEngine::FinishCompletion() {
    const qint64 elapsed = UptimeSeconds(m_session.system().UptimeMs()) - m_startTime;
    emit Received(m_targetPath, elapsed, OpenWanted());
}

// ---- Cancelling --------------------------------------------------------------------------

void FileReceiveEngine::Cancel(const QString& note) {
    if (!ReceivingHere())
        return;  // it ended while the question was open
    SetPhase(Phase::Cancelled);
    m_deleteOnReset = true;
    // Bytes still on their way are dropped from here on, so the file is not completed behind
    // the user's back while the sender closes.
    CloseTempFile();
    SendOrFail(BuildReceiverCancel(note));
}

void FileReceiveEngine::TakeSenderCancel(const QString& note, bool resetHere) {
    m_waitingOffer = 0;
    CloseTempFile();
    const qint64 held = HeldLength();
    const double ratio = m_batchJob                        ? m_progress.Fraction()
                         : m_offer.length > 0 && held >= 0 ? double(held) / double(m_offer.length)
                                                           : 0;
    emit SenderCancelled(note, ratio);
    m_keepPage = true;
    ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::SenderCancelled);
    outcome.note = note;
    outcome.share = ratio;
    m_pending = outcome;
    // After a close of the control connection the link resets by itself.
    if (resetHere)
        Reset();
}

void FileReceiveEngine::DeleteHeldBytes(quint64 offer) {
    if (offer == m_offerKey)
        DeleteFileIfExists(m_tempPath);
}

// ---- Batches -----------------------------------------------------------------------------

void FileReceiveEngine::TakeBatchOffer(const QString& payload) {
    if (m_phase != Phase::Listening || m_batchList) {
        Reset();
        return;
    }
    m_identity = QStringList{m_link.peerAddressCode()} + m_link.peerCard();
    const std::optional<BatchHeader> header = ParseBatchOffer(payload);
    BatchStop stop;
    if (header && header->entries > kMaxBatchEntries)
        stop.reason = BatchStopReason::TooMany;
    m_batchList = std::make_unique<BatchList>(header.value_or(BatchHeader()));
    if (!header || header->entries > kMaxBatchEntries) {
        ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::BatchRefused);
        outcome.stop = stop;
        StopBatch(stop, outcome);
    }
}

void FileReceiveEngine::TakeBatchEntries(const QString& payload) {
    if (m_batchStopped)
        return;
    if (!m_batchList || m_phase != Phase::Listening) {
        Reset();
        return;
    }
    std::optional<QList<BatchEntry>> entries = ParseBatchEntries(payload);
    std::optional<BatchStop> stop =
        entries ? m_batchList->Add(std::move(*entries)) : std::optional<BatchStop>(BatchStop());
    if (stop) {
        ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::BatchRefused);
        outcome.stop = *stop;
        StopBatch(*stop, outcome);
    }
}

void FileReceiveEngine::TakeBatchListEnd() {
    if (m_batchStopped)
        return;
    if (!m_batchList || m_phase != Phase::Listening) {
        Reset();
        return;
    }
    if (const std::optional<BatchStop> stop = m_batchList->Finish()) {
        ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::BatchRefused);
        outcome.stop = *stop;
        StopBatch(*stop, outcome);
        return;
    }
    OfferBatch();
}

void FileReceiveEngine::StopBatch(const BatchStop& stop, const ReceiveOutcome& outcome) {
    m_batchStopped = true;
    m_waitingOffer = 0;
    m_timCountDown.stop();
    m_timSpeed.stop();
    m_session.activity.SetOfferWaiting(false);
    CloseTempFile();
    if (m_phase == Phase::Receiving)
        SetPhase(Phase::Cancelled);
    if (!SendOrFail(BuildBatchStopped(stop)))
        return;
    m_timCloseGrace.start();
    emit Reported(outcome);
}

void FileReceiveEngine::OfferBatch() {
    const BatchHeader& header = m_batchList->header();
    ++m_offerKey;
    m_offer = FileOffer();
    m_offer.note = header.note;
    m_offer.length = header.totalBytes;
    m_targetPath.clear();
    m_tempPath.clear();
    m_deleteOnReset = false;
    m_replaceTarget = false;
    SetPhase(Phase::Offered);
    m_batchSummary = BatchSummary();
    m_batchSummary.nickName = PeerNickName();
    m_batchSummary.folders = header.folders;
    m_batchSummary.files = header.files;
    m_batchSummary.totalBytes = header.totalBytes;
    m_batchSummary.topNames = m_batchList->topNames();
    m_batchSummary.note = header.note;

    WriteHistoryEntry(BatchLogValues({PeerNickName(), m_identity.value(0)}, m_batchSummary.topNames,
                                     header.folders, header.files, header.totalBytes,
                                     m_session.system().Now(), header.note));

    if (m_session.settings.autoRecvFile) {
        m_automatic = true;
        const QString folder = m_session.settings.autoSavePath;
        if (!FolderExists(folder)) {
            Reset();
            ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::AutoSaveFolderMissing);
            outcome.path = folder;
            emit Reported(outcome);
            return;
        }
        StartBatch(folder);
        return;
    }
    m_automatic = false;
    m_refuseNote.clear();
    m_countDown = 60;
    m_timCountDown.start();
    m_waitingOffer = m_offerKey;
    m_session.activity.SetOfferWaiting(true);
    emit BatchOfferWaiting(m_batchSummary);
}

bool FileReceiveEngine::AcceptBatch(quint64 offer, const QString& folder) {
    if (!OfferWaits(offer) || !m_batchList)
        return false;
    m_waitingOffer = 0;
    m_timCountDown.stop();
    m_session.activity.SetOfferWaiting(false);
    return StartBatch(folder);
}

bool FileReceiveEngine::StartBatch(const QString& folder) {
    const BatchPreparation prepared =
        PrepareBatch(*m_batchList, folder, m_session.settings.existFile,
                     m_session.appFolder + QStringLiteral("batches"));
    if (prepared.stop) {
        ReceiveOutcome outcome = Outcome(prepared.stop->reason == BatchStopReason::NoSpace
                                             ? ReceiveOutcome::Kind::NoSpace
                                             : ReceiveOutcome::Kind::WriteFailed);
        outcome.stop = *prepared.stop;
        outcome.path = folder;
        outcome.systemError = prepared.error;
        StopBatch(*prepared.stop, outcome);
        return false;
    }
    m_batchJob = prepared.job;
    for (const QString& message : BuildBatchPlan(m_batchJob->plan)) {
        if (!SendOrFail(message))
            return false;
    }
    if (!SendOrFail(BuildBatchAccepted()))
        return false;
    m_position = m_batchJob->bytesThere;
    m_batchProgress = BatchProgress();
    m_batchProgress.filesTotal = m_batchList->header().files;
    m_batchProgress.filesDone = m_batchJob->filesThere;
    if (m_automatic) {
        SetPhase(Phase::Receiving);
        m_progress.Start(m_offer.length, m_position);
        m_timSpeed.start();
        m_startTime = UptimeSeconds(m_session.system().UptimeMs());
    } else {
        StartReceiving();
    }
    if (m_batchJob->filesToCome == 0)
        FinishBatch();
    return true;
}

void FileReceiveEngine::OnWriterReport() {
    if (!m_writer)
        return;
    const BatchWriter::Report report = m_writer->Snapshot();
    m_received = m_batchJob->bytesThere + report.received;
    m_position = m_received;
    m_progress.SetPosition(m_received);
    m_batchProgress.filesDone = m_batchJob->filesThere + report.filesDone;
    m_batchSkipped = report.skipped.size();
    if (report.current >= 0 && report.current < m_batchJob->entries.size()) {
        m_batchProgress.currentPath = m_batchJob->entries[report.current].path;
        m_batchProgress.currentSize = m_batchJob->entries[report.current].size;
    }
    const std::shared_ptr<const BatchJob> job = m_batchJob;
    // The writer counts whole files; the files the sender could not read end in turn too.
    for (const qint64 index :
         m_doneFiles.Advance(job->entries, job->start, report.filesDone + report.skipped.size())) {
        if (report.skipped.contains(index))
            continue;
        const BatchEntry& entry = job->entries[index];
        emit BatchFileDone(entry.path, entry.size, job->folder + entry.path);
        if (!m_writer)
            return;
    }
    if (!m_automatic)
        emit ProgressChanged(m_progress);
    if (report.writeFailed) {
        BatchStop stop;
        stop.reason = BatchStopReason::WriteFailed;
        stop.index = report.failedIndex;
        ReceiveOutcome outcome = Outcome(ReceiveOutcome::Kind::WriteFailed);
        outcome.path = report.failedIndex >= 0
                           ? m_batchJob->folder + m_batchJob->entries[report.failedIndex].path
                           : m_batchJob->folder;
        outcome.systemError = report.writeError;
        StopBatch(stop, outcome);
    } else if (report.broken) {
        // The sender broke the stream's rules: what is whole stays, the rest for a resume.
        CloseTempFile();
        Reset();
    } else if (report.finished) {
        FinishBatch();
    } else {
        DataConnectionEnded(report.closed, report.readError);
    }
}

void FileReceiveEngine::FinishBatch() {
    SetPhase(Phase::Finishing);
    m_timSpeed.stop();
    CloseTempFile();
    FinishBatchJournal(*m_batchJob);
    if (!SendOrFail(BuildCompletion()))
        return;
    const QString folder = m_batchJob->folder;
    const QStringList targets = m_batchJob->targets;
    const qint64 files = m_batchList->header().files - m_batchSkipped;
    const bool automatic = m_automatic;
    m_keepPage = !automatic;
    if (automatic) {
        emit BatchReceived(folder, targets, files, 0, true);
        return;
    }
    const qint64 elapsed = UptimeSeconds(m_session.system().UptimeMs()) - m_startTime;
    QTimer::singleShot(m_completionPauseMs, this, [this, folder, targets, files, elapsed] {
        emit BatchReceived(folder, targets, files, elapsed, false);
    });
}

bool FileReceiveEngine::BatchOffered() const {
    return m_batchList != nullptr;
}

const BatchSummary& FileReceiveEngine::batchSummary() const {
    return m_batchSummary;
}

QList<BatchEntry> FileReceiveEngine::batchEntries() const {
    return m_batchJob ? m_batchJob->entries : QList<BatchEntry>();
}

BatchProgress FileReceiveEngine::batchProgress() const {
    return m_batchProgress;
}

}  // namespace tvx
