#include "transfer/FileSendEngine.h"

#include <poll.h>
#include <sys/socket.h>

#include <QFileInfo>
#include <QMetaMethod>
#include <cerrno>
#include <chrono>

#include "common/Format.h"
#include "common/Handshake.h"
#include "common/Messages.h"
#include "common/PageBuffer.h"
#include "common/Paths.h"
#include "common/ReportingWorker.h"
#include "common/Text.h"
#include "platform/SocketErrors.h"
#include "protocol/BatchMessages.h"
#include "protocol/Codes.h"
#include "protocol/PeerMessages.h"
#include "records/HistoryLog.h"
#include "session/Session.h"
#include "texts/SecurityTexts.h"

namespace tvx {

using C = ProtocolCodes;

// Reads, scrambles and sends the file on a thread of its own, on the data connection the
// engine lends it, as a plain copy would: the event loop is not woken for every bit of room
// in the connection. Chunks keep their boundaries. While one chunk goes out the next is
// already read and scrambled (two buffers take turns). When the engine has listeners to each
// chunk, a chunk leaves only once the engine has released it, after telling them, so that they
// can still end the transfer first; otherwise the engine hears of progress a few dozen times a
// second and the thread does not wait for it.
class FileSendEngine::ChunkSender {
public:
    struct Report {
        qint64 sent = 0;         // the file's bytes that went out, from its start
        int readyIndex = -1;     // the chunk read last, counted from 0
        qint64 readyOffset = 0;  // and where it is in the file
        qint64 readySize = 0;
        bool done = false;  // every byte went out
        bool readFailed = false;
        bool peerClosed = false;  // the receiver closed or reset the connection
        int sendError = 0;        // errno of a failed send
    };

    // Sends `file` (open, Unbuffered) from `start` to `length` in chunks of `chunkBytes` on
    // the lent non-blocking descriptor, which goes back when the sender goes; with `gated`, each
    // chunk waits for Release. `notify` runs on the thread after each step; it must only post.
    ChunkSender(QFile& file, DescriptorLease lease, qint64 start, qint64 length, qint64 chunkBytes,
                int key, bool gated, std::function<void()> notify)
        : m_file(file),
          m_lease(std::move(lease)),
          m_descriptor(m_lease.descriptor()),
          m_start(start),
          m_length(length),
          m_chunkBytes(chunkBytes),
          m_key(key),
          m_gated(gated),
          m_worker(std::move(notify)) {
        m_sent = start;
        m_worker.Update([start](Report& r) { r.sent = start; }, false);
        m_worker.Start([this] { Run(); });
    }

    // Chunks up to `index` may leave.
    void Release(int index) {
        m_worker.Change([this, index] { m_released = index; });
    }
    void Stop() { m_worker.Stop(); }
    Report Snapshot() const { return m_worker.Snapshot(); }

private:
    void Run() {
        if (m_gated)
            RunReleased();
        else
            RunFree();
    }

    // Each slice is read, scrambled and sent at once, while it is still in the processor's
    // cache; the chunks are counted only.
    void RunFree() {
        PageBuffer slice(size_t(qMin(kSlice, m_chunkBytes)));
        for (qint64 offset = m_start, index = 0; offset < m_length; ++index) {
            const qint64 size = qMin(m_chunkBytes, m_length - offset);
            // The engine shows the sending page with the first chunk.
            Update(
                [&](Report& r) {
                    r.readyIndex = int(index);
                    r.readyOffset = offset;
                    r.readySize = size;
                },
                index == 0);
            for (qint64 done = 0; done < size;) {
                const qint64 part = qMin<qint64>(qint64(slice.size()), size - done);
                const bool more = offset + done + part < m_length;
                if (!ReadScrambled(slice.data(), part) || !SendAll(slice.data(), part, more))
                    return;
                done += part;
            }
            offset += size;
        }
        Update([](Report& r) { r.done = true; });
    }

    // Two chunk buffers take turns: while one chunk goes out the next is read and waits for
    // its release.
    void RunReleased() {
        qint64 offset = m_start;
        qint64 size = qMin(m_chunkBytes, m_length - offset);
        PageBuffer buffers[2] = {PageBuffer(size_t(size)), PageBuffer(size_t(size))};
        for (int index = 0;; ++index) {
            PageBuffer& chunk = buffers[index % 2];
            if (index == 0 && !Prepare(chunk, 0, offset, size))
                return;
            if (!WaitReleased(index))
                return;
            const qint64 next = offset + size;
            const qint64 nextSize = qMin(m_chunkBytes, m_length - next);
            if (nextSize > 0 && !Prepare(buffers[(index + 1) % 2], index + 1, next, nextSize))
                return;
            if (!SendAll(chunk.data(), size, false))
                return;
            if (nextSize <= 0) {
                Update([](Report& r) { r.done = true; });
                return;
            }
            offset = next;
            size = nextSize;
        }
    }

    // Reads and scrambles a whole chunk and tells the engine it is ready.
    bool Prepare(PageBuffer& chunk, int index, qint64 offset, qint64 size) {
        if (!ReadScrambled(chunk.data(), size))
            return false;
        Update([&](Report& r) {
            r.readyIndex = index;
            r.readyOffset = offset;
            r.readySize = size;
        });
        return true;
    }

    // The file's next `size` bytes, read and xored a slice at a time so that each slice is
    // xored while it is still in the processor's cache.
    bool ReadScrambled(char* bytes, qint64 size) {
        qint64 done = 0;
        while (done < size) {
            const qint64 got = m_file.read(bytes + done, qMin(kSlice, size - done));
            if (got <= 0)
                break;
            ScrambleBytes(bytes + done, got, m_key);
            done += got;
        }
        if (done != size) {
            Update([](Report& r) { r.readFailed = true; });
            return false;
        }
        return true;
    }

    bool WaitReleased(int index) {
        if (!m_gated)
            return !m_worker.stopping();
        return m_worker.Wait([&] { return m_released >= index; });
    }

    // `more` while the file goes on freely: the end of this piece then waits to fill a segment
    // with the next one instead of leaving as a small segment of its own. (A chunk that waits
    // for its release is sent whole at once, as its listeners may wait for all of it.)
    bool SendAll(const char* bytes, qint64 size, bool more) {
        const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
        qint64 done = 0;
        while (done < size) {
            if (m_worker.stopping())
                return false;
            const ssize_t n = m_lease.Transmit(bytes + done, size_t(size - done), flags);
            if (n > 0) {
                done += n;
                m_sent += n;
                // The engine hears of progress a few dozen times a second.
                const auto now = std::chrono::steady_clock::now();
                if (now - m_lastNotice >= kNoticeInterval) {
                    m_lastNotice = now;
                    Update([](Report&) {});
                }
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // Progress not yet reported goes out once the connection has been full a moment.
                const bool unreported = m_sent != m_noticed;
                if (m_worker.WaitReady(m_descriptor, POLLOUT, unreported ? 20 : 100) && unreported)
                    Update([](Report&) {});
                continue;
            }
            // A reset is the receiver's close (its close turns into a reset as the bytes
            // keep coming); the control connection tells why. Anything else is a failure.
            const int failure = errno;
            const bool closed = IsConnectionReset(failure);
            Update([&](Report& r) {
                r.peerClosed = closed;
                r.sendError = closed ? 0 : failure;
            });
            return false;
        }
        return true;
    }

    template <typename Change>
    void Update(Change change, bool tell = true) {
        m_worker.Update(
            [&](Report& r) {
                r.sent = m_sent;
                change(r);
            },
            tell);
        if (tell)
            m_noticed = m_sent;
    }

    QFile& m_file;            // only this thread touches it while the thread runs
    DescriptorLease m_lease;  // before the worker: the thread stops before the descriptor goes back
    const int m_descriptor;
    const qint64 m_start;
    const qint64 m_length;
    const qint64 m_chunkBytes;
    const int m_key;
    const bool m_gated;
    qint64 m_sent = 0;
    qint64 m_noticed = -1;  // the sent count the engine last heard of
    static constexpr qint64 kSlice = 512 * 1024;
    static constexpr std::chrono::milliseconds kNoticeInterval{20};
    std::chrono::steady_clock::time_point m_lastNotice;
    int m_released = -1;               // under the worker's lock
    ReportingWorker<Report> m_worker;  // last: it stops the thread before the rest goes
};

FileSendEngine::FileSendEngine(Session& session, QObject* parent)
    : QObject(parent),
      m_session(session),
      m_caller(PeerRole::FileSender, session.linkContext),
      m_link(m_caller.link()) {
    m_timWait.setInterval(1000);
    m_timSendSpeed.setInterval(1000);
    connect(&m_timWait, &QTimer::timeout, this, &FileSendEngine::WaitTick);
    connect(&m_timSendSpeed, &QTimer::timeout, this, &FileSendEngine::SpeedTick);

    connect(&m_link, &PeerLink::ResetDone, this, &FileSendEngine::OnLinkReset);
    // The window shows the link's message before the engine closes, as the box is modal.
    connect(&m_link, &PeerLink::Refused, this, [this](LinkRefusal refusal, const QString& note) {
        SendOutcome outcome = OutcomeOf(SendOutcome::Kind::LinkRefused);
        outcome.refusal = refusal;
        outcome.note = note;
        outcome.peerFingerprint = m_link.peerFingerprint();
        outcome.pinnedFingerprint = m_link.pinnedFingerprint();
        End(outcome);
    });
    connect(&m_link, &PeerLink::ConnectionBroken, this,
            [this] { End(SendOutcome::Kind::ProtocolBroken); });
    connect(&m_caller, &CallerLink::HandshakeTimedOut, this, &FileSendEngine::OnHandshakeTimedOut);
    connect(&m_caller, &CallerLink::RetryDue, this, [this](int attempt) {
        emit Retrying(attempt);
        Connect();
    });
    connect(&m_caller, &CallerLink::RetriesUsedUp, this,
            [this] { End(SendOutcome::Kind::RetriesUsedUp); });
    connect(&m_link, &PeerLink::Introduced, this,
            [this](const QString&, const QStringList& card) { OnIntroduced(card); });
    connect(&m_link, &PeerLink::MessageReceived, this, &FileSendEngine::OnControlMessage);
    connect(&m_link, &PeerLink::PeerClosed, this, [this] { OnControlClosed(); });
    connect(&m_link, &PeerLink::SocketFailed, this, &FileSendEngine::HandleConnectionError);

    // A long list goes out as the connection takes it, not all into memory at once.
    connect(&m_link.socket(), &Socket::SendProgress, this, [this] {
        if (m_phase == Phase::WaitingForAnswer && batch() && !m_oneByOne)
            SendListPieces();
    });
    connect(&m_data, &Socket::Connected, this, &FileSendEngine::OnDataConnected);
    connect(&m_data, &Socket::Encrypted, this, &FileSendEngine::OnDataEncrypted);
    connect(&m_data, &Socket::DataArrival, this, &FileSendEngine::OnDataArrival);
    connect(&m_data, &Socket::Closed, this, [this] { OnDataEnded(SocketError::None); });
    connect(&m_data, &Socket::Error, this, [this](SocketError error) { OnDataEnded(error); });
}

FileSendEngine::~FileSendEngine() {
    // Closing reports nothing any more: the owner is going away.
    m_resetting = true;
    m_data.disconnect(this);
    m_link.disconnect(this);
    StopSender();
    m_data.Close();
    m_link.Reset();
    if (m_phase != Phase::Idle)
        m_session.activity.SetSendWindowSending(false);
}

FileProblem FileSendEngine::CheckFile(const QString& path) {
    if (TrimSpaces(path).isEmpty())
        return FileProblem::NotChosen;
    if (!FileExists(path))
        return FileProblem::Missing;
    const qint64 size = QFileInfo(path).size();
    if (size == 0)
        return FileProblem::Empty;
    // The file may have grown since it was put into the box.
    if (size < 0 || size > kMaxFileLength)
        return FileProblem::TooLarge;
    return FileProblem::None;
}

qint64 FileSendEngine::Uptime() const {
    return UptimeSeconds(m_session.system().UptimeMs());
}

void FileSendEngine::After(int milliseconds, const std::function<void()>& step) {
    const quint64 generation = m_generation;
    QTimer::singleShot(milliseconds, this, [this, generation, step] {
        if (generation == m_generation)
            step();
    });
}

// ---- Starting and connecting ----

void FileSendEngine::Start(const Request& request) {
    if (m_phase != Phase::Idle)
        Reset();
    m_request = request;
    m_encrypted = false;
    m_peerFingerprint.clear();
    m_oneByOne = false;
    m_oneByOneTold = false;
    m_batchLogged = false;
    m_fileIndex = -1;
    m_progressBase = 0;
    m_filesDone = m_filesThere = m_bytesThere = 0;
    m_skipped.clear();
    m_refused.clear();
    m_unreadable.clear();
    m_stop = BatchStop();
    m_batchProgress = BatchProgress();
    if (request.batch) {
        m_filePath.clear();
        m_fileName = request.batch->topNames().value(0);
        m_fileSize = request.batch->totalBytes();
        m_batchProgress.filesTotal = request.batch->files();
    } else {
        m_filePath = request.filePath;
        m_fileName = FileNameOf(request.filePath);
        m_fileSize = QFileInfo(request.filePath).size();
    }
    m_caller.RestartCount();
    emit StepChanged(1);
    Connect();
}

void FileSendEngine::SetRetryPolicy(bool autoRetry, int attempts) {
    m_caller.SetRetryPolicy(autoRetry, attempts);
}

void FileSendEngine::Cancel() {
    End(SendOutcome::Kind::Cancelled);
}

void FileSendEngine::Connect() {
    ++m_generation;
    const FileProblem problem = batch() ? FileProblem::None : CheckFile(m_filePath);
    if (problem != FileProblem::None) {
        // The file went away or grew between two attempts.
        SendOutcome outcome = OutcomeOf(SendOutcome::Kind::FileProblem);
        outcome.fileProblem = problem;
        End(outcome);
        return;
    }
    m_resetting = true;
    m_data.Close();
    m_link.Reset();
    m_resetting = false;
    m_peerCard.clear();
    m_phase = Phase::Connecting;
    m_link.SetTrust(m_request.acceptNewIdentity, m_request.allowPlain);
    const SocketError error = m_caller.Dial(m_request.peerAddress, m_request.verificationCode);
    if (error != SocketError::None)
        HandleConnectionError(error);
}

void FileSendEngine::OnLinkReset() {
    // The link gives up silently on a failed handshake; the engine follows it. Resets that
    // the engine makes itself, a retry about to start and a reset that the link explains
    // right after (a refusal, a broken connection) are not followed.
    if (m_resetting || m_caller.retryPending() || m_phase == Phase::Idle || m_link.resetExplained())
        return;
    End(SilentEnd());
}

void FileSendEngine::OnIntroduced(const QStringList& peerCard) {
    m_peerCard = peerCard;
    m_encrypted = m_link.encrypted();
    m_peerFingerprint = m_encrypted ? m_link.peerFingerprint() : QByteArray();
    if (batch() && !m_oneByOne && !AnnouncesBatches(m_link.peerVerifiedRest())) {
        // The peer takes one file per offer: the batch's files go one after another.
        m_oneByOne = true;
        if (!m_oneByOneTold) {
            m_oneByOneTold = true;
            const quint64 generation = m_generation;
            emit OneByOne(m_request.batch->files());
            if (generation != m_generation)
                return;
        }
        if (NextSingleFile(-1) < 0) {
            Finished();
            return;
        }
    }
    m_phase = Phase::DataConnecting;
    const SocketError error =
        m_data.Connect(m_request.peerAddress, kFileDataPort, m_session.localAddress);
    if (error != SocketError::None)
        HandleConnectionError(error);
}

void FileSendEngine::OnDataConnected() {
    if (m_phase != Phase::DataConnecting)
        return;
    if (m_encrypted) {
        // The data connection runs inside TLS too, to the certificate of the control connection.
        const SocketError error = m_data.StartTls(*m_link.identity(), false);
        if (error != SocketError::None)
            HandleConnectionError(error);
        return;
    }
    DataReady();
}

void FileSendEngine::OnDataEncrypted() {
    if (m_phase != Phase::DataConnecting)
        return;
    if (m_data.PeerFingerprint() != m_peerFingerprint) {
        End(SendOutcome::Kind::ProtocolBroken);
        return;
    }
    DataReady();
}

void FileSendEngine::DataReady() {
    m_phase = Phase::Offering;
    After(m_pauseMs, [this] { SendOffer(); });
}

void FileSendEngine::SendOffer() {
    if (m_phase != Phase::Offering)
        return;
    if (batch() && !m_oneByOne) {
        SendBatchOffer();
        return;
    }
    emit StepChanged(2);
    m_dataKey = DrawScrambleKey();
    FileOffer offer;
    offer.fileName = m_fileName;
    offer.length = m_fileSize;
    offer.modified = FileTimeText(m_filePath);
    offer.note = m_request.note;
    offer.key = m_dataKey;
    const SocketError error = m_link.Send(BuildOffer(offer));
    if (error != SocketError::None) {
        HandleConnectionError(error);
        return;
    }
    OfferSent();
    LogOffer();
}

// The log records the offer whatever becomes of it (a batch once, however its files go); a
// failed write is reported.
void FileSendEngine::LogOffer() {
    if (m_batchLogged)
        return;
    m_batchLogged = batch();
    const QStringList values =
        batch() ? BatchLogValues({m_request.typedAddress}, m_request.batch->topNames(),
                                 m_request.batch->folders(), m_request.batch->files(),
                                 m_request.batch->totalBytes(), m_session.system().Now(),
                                 m_request.note)
                : FileSentLogValues(m_session.shell(), m_request.typedAddress, m_filePath,
                                    m_request.note);
    const QString warning =
        AppendLogEntryQuietly(m_session, LogEvent::FileSent, values,
                              m_encrypted ? EncryptionLine(true, m_peerFingerprint) : QString());
    if (!warning.isEmpty())
        emit LogWriteFailed(warning);
}

void FileSendEngine::SendBatchOffer() {
    const quint64 generation = m_generation;
    emit StepChanged(2);
    if (generation != m_generation)
        return;
    const BatchSelection& selection = *m_request.batch;
    m_dataKey = DrawScrambleKey();
    BatchHeader header;
    header.entries = selection.entries().size();
    header.folders = selection.folders();
    header.files = selection.files();
    header.totalBytes = selection.totalBytes();
    header.key = m_dataKey;
    header.note = m_request.note;
    m_batchStart.clear();
    m_batchStart.reserve(selection.entries().size());
    for (const BatchEntry& entry : selection.entries())
        m_batchStart.append(entry.folder ? -1 : 0);
    m_planAfter = -1;
    m_filesThere = m_bytesThere = 0;
    m_listSent = 0;
    const SocketError error = m_link.Send(BuildBatchOffer(header));
    if (error != SocketError::None) {
        HandleConnectionError(error);
        return;
    }
    OfferSent();
    SendListPieces();
    if (m_phase == Phase::WaitingForAnswer)
        LogOffer();
}

// Hands the list to the connection while little of it waits there; the rest follows as the
// connection drains. The end of the list goes last.
void FileSendEngine::SendListPieces() {
    constexpr qint64 kQueued = 256 * 1024;
    const QList<BatchEntry>& entries = m_request.batch->entries();
    while (m_listSent <= entries.size() && m_link.socket().BytesToWrite() < kQueued) {
        QStringList messages;
        if (m_listSent == entries.size()) {
            messages.append(BuildBatchListEnd());
            ++m_listSent;
        } else {
            const qsizetype count =
                qMin<qsizetype>(kEntriesPerMessage, entries.size() - m_listSent);
            messages = BuildBatchEntries(entries.mid(m_listSent, count));
            m_listSent += count;
        }
        for (const QString& message : messages) {
            const SocketError error = m_link.Send(message);
            if (error != SocketError::None) {
                HandleConnectionError(error);
                return;
            }
        }
    }
}

// The offer is out: the peer's user decides, and the wait shows after the pause.
void FileSendEngine::OfferSent() {
    m_phase = Phase::WaitingForAnswer;
    m_waitStart = Uptime();
    After(m_pauseMs, [this] { BeginWaiting(); });
}

void FileSendEngine::BeginWaiting() {
    if (m_phase != Phase::WaitingForAnswer)
        return;
    emit StepChanged(3);
    emit Waiting(0);
    m_timWait.start();
}

void FileSendEngine::WaitTick() {
    emit Waiting(Uptime() - m_waitStart);
}

void FileSendEngine::OnHandshakeTimedOut() {
    if (m_phase != Phase::Connecting)
        return;
    End(SendOutcome::Kind::HandshakeTimedOut);
}

// ---- Control messages ----

void FileSendEngine::OnControlMessage(char16_t code, const QString& payload) {
    const bool inBatch = batch() && !m_oneByOne;
    switch (code) {
        case BatchCodes::Plan:
        case BatchCodes::Accepted:
            if (!inBatch || m_phase != Phase::WaitingForAnswer ||
                m_listSent <= m_request.batch->entries().size()) {
                End(SendOutcome::Kind::ProtocolBroken);
                return;
            }
            if (code == BatchCodes::Plan)
                OnBatchPlan(payload);
            else
                OnBatchAccepted();
            return;
        case BatchCodes::Stopped:
            if (!inBatch) {
                End(SendOutcome::Kind::ProtocolBroken);
                return;
            }
            m_stop = ParseBatchStopped(payload);
            End(SendOutcome::Kind::BatchStopped);
            return;
        case C::OfferAccepted:
            if (m_phase != Phase::WaitingForAnswer || inBatch) {
                // A second acceptance would restart the stream from a wrong place.
                End(SendOutcome::Kind::ProtocolBroken);
                return;
            }
            OnAcceptance(payload);
            return;
        case C::FileComplete:
            if (m_oneByOne)
                SingleFileDone(true);
            else if (inBatch && m_phase != Phase::Sending)
                End(SendOutcome::Kind::ProtocolBroken);
            else
                Finished();
            return;
        case C::OfferRefused:
            if (m_oneByOne) {
                // One file of several: the peer's user did not want this one.
                m_refused.append(m_filePath);
                SingleFileDone(false);
                return;
            }
            [[fallthrough]];
        case C::OfferRefusedAuto: {
            SendOutcome outcome =
                OutcomeOf(code == C::OfferRefused ? SendOutcome::Kind::Refused
                                                  : SendOutcome::Kind::AutoRefused);
            outcome.note = payload;
            End(outcome);
            return;
        }
        case C::ReceiverCancel:
            PeerCancelled(payload);
            return;
        default:
            return;
    }
}

void FileSendEngine::PeerCancelled(const QString& note) {
    SendOutcome outcome = OutcomeOf(SendOutcome::Kind::PeerCancelled);
    outcome.note = note;
    End(outcome);
}

void FileSendEngine::OnControlClosed() {
    if (m_phase == Phase::Idle)
        return;
    if (Streaming() && !m_cancelledBySender) {
        PeerCancelled(QString());
        return;
    }
    End(SilentEnd());
}

// The receiver never writes on the data connection: bytes from it there break the protocol,
// as an unexpected code on the control connection does. Keeping them would let a receiver
// fill the sender's memory.
void FileSendEngine::OnDataArrival() {
    if (m_phase == Phase::Idle || m_phase == Phase::DataLost)
        return;
    End(SendOutcome::Kind::ProtocolBroken);
}

void FileSendEngine::OnDataEnded(SocketError error) {
    if (m_phase == Phase::Idle)
        return;
    if (m_phase == Phase::DataConnecting || m_phase == Phase::Offering) {
        if (error != SocketError::None) {
            HandleConnectionError(error);
        } else {
            End(SilentEnd());
        }
        return;
    }
    if (m_phase == Phase::DataLost)
        return;
    // After the offer the control connection tells what happened: the receiver's answer,
    // completion or cancel may still be on its way there. Only when it stays silent does
    // the data connection's end count.
    StopSender();
    m_data.Close();
    const bool wasSending = Streaming();
    m_lostWhileStreaming = wasSending;
    m_phase = Phase::DataLost;
    m_dataEndError = error;
    // A receiver that has everything closes the data connection before its completion comes:
    // only the control connection's close or a long silence makes that a cancel.
    const bool complete = wasSending && error == SocketError::None && AllBytesSent();
    After(complete ? std::max(m_closeGraceMs, kCompletionWaitMs) : m_closeGraceMs,
          [this, wasSending] {
              if (m_phase != Phase::DataLost)
                  return;
              if (m_dataEndError != SocketError::None) {
                  HandleConnectionError(m_dataEndError);
              } else if (wasSending && !m_cancelledBySender) {
                  PeerCancelled(QString());
              } else {
                  End(SilentEnd());
              }
          });
}

// ---- Sending ----

void FileSendEngine::OnAcceptance(const QString& payload) {
    m_timWait.stop();
    SetSending(true);
    const std::optional<qint64> offset = ParseAcceptanceOffset(payload, m_fileSize);
    if (!offset) {
        // Not a whole number below the file's length: nothing sensible to send from.
        ReadFailed();
        return;
    }
    m_position = *offset;
    // Speed counts bytes sent in this transfer, not the part the receiver already held. One by
    // one, the bar shows the whole batch.
    if (m_oneByOne) {
        m_progress.Start(m_request.batch->totalBytes(), m_progressBase + m_position);
        m_batchProgress.filesDone = m_filesDone;
        m_batchProgress.currentPath = m_request.batch->entries()[m_fileIndex].path;
        m_batchProgress.currentSize = m_fileSize;
    } else {
        m_progress.Start(m_fileSize, m_position);
    }
    m_phase = Phase::Sending;
    emit SendingStarted();

    m_timSendSpeed.start();
    m_progressShown.invalidate();
    m_sendingStart = Uptime();
    m_file.setFileName(m_filePath);
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !m_file.seek(m_position)) {
        ReadFailed();
        return;
    }
    DescriptorLease lease = m_data.LendForWriting();
    if (!lease) {
        HandleConnectionError(SocketError::WrongState);
        return;
    }
    const qint64 chunkBytes = qMax<qint64>(m_session.settings.sendBufferBytes, 1);
    m_releasedChunks = 0;
    // Releasing chunk by chunk costs the thread a wait for the event loop per chunk: only
    // while somebody hears of each chunk.
    m_chunksHeard = isSignalConnected(QMetaMethod::fromSignal(&FileSendEngine::ChunkSent));
    m_sender =
        std::make_unique<ChunkSender>(m_file, std::move(lease), m_position, m_fileSize, chunkBytes,
                                      m_dataKey, m_chunksHeard, [this] { m_senderNotice.Post(); });
}

// What the sending thread did: a chunk ready (its listeners hear of it, then it may leave),
// bytes that went out, the end or a failure.
void FileSendEngine::OnSenderReport() {
    if (!m_sender)
        return;
    const quint64 generation = m_generation;
    ChunkSender::Report report = m_sender->Snapshot();
    // A listener to ChunkSent may run the event loop; the report that is releasing goes on.
    if (m_chunksHeard && !m_releasing && report.readyIndex >= m_releasedChunks &&
        !m_cancelledBySender) {
        m_releasing = true;
        emit ChunkSent(report.readyOffset, report.readySize);
        m_releasing = false;
        if (generation != m_generation || m_phase != Phase::Sending || !m_sender)
            return;  // whoever heard of the chunk ended the transfer
        m_releasedChunks = report.readyIndex + 1;
        m_sender->Release(report.readyIndex);
        report = m_sender->Snapshot();
    }
    if (!m_sendingShown && report.readyIndex >= 0) {
        m_sendingShown = true;
        emit StreamStarted();
        if (generation != m_generation || !m_sender)
            return;
    }
    if (m_phase == Phase::Sending && report.sent > m_position) {
        m_position = qMin(report.sent, m_fileSize);
        m_progress.SetPosition(m_progressBase + m_position);
        // Redrawing the page more often would cost more than moving the bytes; the last
        // report always goes out.
        if (m_position == m_fileSize || !m_progressShown.isValid() ||
            m_progressShown.elapsed() >= kProgressRefreshMs) {
            emit ProgressChanged();
            m_progressShown.start();
            if (generation != m_generation || !m_sender)
                return;
        }
    }
    if (report.readFailed) {
        ReadFailed();
    } else if (report.peerClosed || report.sendError != 0) {
        OnDataEnded(report.peerClosed ? SocketError::None : ConnectionError(report.sendError));
    } else if (report.done) {
        // The control connection tells when the receiver has it all.
        StopSender();
    }
}

// Ends the sending thread and gives the connection back to the socket.
void FileSendEngine::StopSender() {
    if (m_streamer) {
        m_streamer->Stop();
        m_unreadable = m_streamer->Snapshot().unreadable;
        m_streamer.reset();
    }
    if (!m_sender)
        return;
    m_sender->Stop();
    m_sender.reset();
    m_releasing = false;
}

// ---- Batches ----

void FileSendEngine::OnBatchPlan(const QString& payload) {
    const QList<BatchEntry>& entries = m_request.batch->entries();
    const std::optional<QList<PlanItem>> items =
        ParseBatchPlan(payload, entries.size(), m_planAfter);
    if (!items) {
        End(SendOutcome::Kind::ProtocolBroken);
        return;
    }
    for (const PlanItem& item : *items) {
        if (item.offset >= 0) {
            if (entries[item.first].folder || item.offset >= entries[item.first].size) {
                End(SendOutcome::Kind::ProtocolBroken);
                return;
            }
            m_batchStart[item.first] = item.offset;
            m_bytesThere += item.offset;
        } else {
            for (qint64 i = item.first; i <= item.last; ++i) {
                if (entries[i].folder)
                    continue;
                m_batchStart[i] = -1;
                ++m_filesThere;
                m_bytesThere += entries[i].size;
            }
        }
        m_planAfter = item.last;
    }
}

void FileSendEngine::OnBatchAccepted() {
    m_timWait.stop();
    SetSending(true);
    m_position = m_bytesThere;
    m_progress.Start(m_fileSize, m_position);
    m_batchProgress.filesDone = m_filesThere;
    m_phase = Phase::Sending;
    const quint64 generation = m_generation;
    emit SendingStarted();
    if (generation != m_generation)
        return;
    m_timSendSpeed.start();
    m_progressShown.invalidate();
    m_sendingStart = Uptime();
    DescriptorLease lease = m_data.LendForWriting();
    if (!lease) {
        HandleConnectionError(SocketError::WrongState);
        return;
    }
    m_unreadable.clear();
    m_doneFiles.Reset();
    m_streamer = std::make_unique<BatchStreamer>(m_request.batch, m_batchStart, std::move(lease),
                                                 m_dataKey, [this] { m_streamerNotice.Post(); });
}

void FileSendEngine::OnStreamerReport() {
    if (!m_streamer)
        return;
    const quint64 generation = m_generation;
    const BatchStreamer::Report report = m_streamer->Snapshot();
    m_unreadable = report.unreadable;
    if (!m_sendingShown && (report.sent > 0 || report.filesDone > 0 || report.done)) {
        m_sendingShown = true;
        emit StreamStarted();
        if (generation != m_generation || !m_streamer)
            return;
    }
    m_position = m_bytesThere + report.sent;
    m_progress.SetPosition(m_position);
    m_batchProgress.filesDone = m_filesThere + report.filesDone;
    if (report.current >= 0) {
        const BatchEntry& entry = m_request.batch->entries()[report.current];
        m_batchProgress.currentPath = entry.path;
        m_batchProgress.currentSize = entry.size;
    }
    for (const qint64 index :
         m_doneFiles.Advance(m_request.batch->entries(), m_batchStart, report.filesDone)) {
        if (m_unreadable.contains(index))
            continue;
        const BatchEntry& entry = m_request.batch->entries()[index];
        emit FileDone(entry.path, entry.size);
        if (generation != m_generation || !m_streamer)
            return;
    }
    if (report.done || !m_progressShown.isValid() ||
        m_progressShown.elapsed() >= kProgressRefreshMs) {
        emit ProgressChanged();
        m_progressShown.start();
        if (generation != m_generation || !m_streamer)
            return;
    }
    if (report.peerClosed || report.sendError != 0) {
        OnDataEnded(report.peerClosed ? SocketError::None : ConnectionError(report.sendError));
    } else if (report.done) {
        // The control connection tells when the receiver has it all.
        StopSender();
    }
}

qint64 FileSendEngine::NextSingleFile(qint64 after) {
    const BatchSelection& selection = *m_request.batch;
    for (qint64 i = after + 1; i < selection.entries().size(); ++i) {
        if (selection.entries()[i].folder)
            continue;
        const QString path = selection.LocalPath(i);
        if (CheckFile(path) != FileProblem::None) {
            // Empty, above what a single offer carries, or gone.
            m_skipped.append(path);
            continue;
        }
        m_fileIndex = i;
        m_filePath = path;
        m_fileName = FileNameOf(path);
        m_fileSize = QFileInfo(path).size();
        return i;
    }
    return -1;
}

void FileSendEngine::SingleFileDone(bool received) {
    if (received) {
        ++m_filesDone;
        const quint64 generation = m_generation;
        const BatchEntry& entry = m_request.batch->entries()[m_fileIndex];
        emit FileDone(entry.path, entry.size);
        if (generation != m_generation)
            return;
    }
    m_progressBase += m_request.batch->entries()[m_fileIndex].size;
    m_batchProgress.filesDone = m_filesDone;
    if (NextSingleFile(m_fileIndex) < 0) {
        Finished();
        return;
    }
    // The peer takes one offer per connection: the next file comes on new ones.
    ++m_generation;
    m_resetting = true;
    StopSender();
    m_data.Close();
    m_link.Reset();
    m_resetting = false;
    m_timSendSpeed.stop();
    m_file.close();
    m_position = 0;
    m_sendingShown = false;
    m_phase = Phase::Connecting;
    SetSending(false);
    m_caller.RestartCount();
    After(m_pauseMs, [this] { Connect(); });
}

void FileSendEngine::ReadFailed() {
    SendOutcome outcome = OutcomeOf(SendOutcome::Kind::ReadFailed);
    outcome.systemError = m_file.errorString();
    End(outcome);
}

void FileSendEngine::SpeedTick() {
    const bool stalled = m_progress.Tick();
    emit SpeedTicked();
    if (stalled)
        End(SendOutcome::Kind::Stalled);
}

bool FileSendEngine::CancelSending(const QString& note) {
    if (!sending() || m_cancelledBySender)
        return false;
    m_cancelledBySender = true;
    m_timSendSpeed.stop();
    StopSender();
    const SocketError error = m_link.Send(BuildSenderCancel(note));
    // The peer closes both connections on the cancel, and that close resets the engine.
    if (error != SocketError::None)
        HandleConnectionError(error);
    return true;
}

// ---- Outcomes ----

void FileSendEngine::Finished() {
    m_timSendSpeed.stop();
    StopSender();
    if (batch() && !m_oneByOne)
        m_filesDone = m_request.batch->files() - m_unreadable.size();
    SendOutcome outcome = OutcomeOf(SendOutcome::Kind::Completed);
    outcome.sent = m_fileSize;
    outcome.finishedAt = m_session.system().Now().time();
    outcome.seconds = Uptime() - m_sendingStart;
    Reset();
    After(m_pauseMs, [this, outcome] { emit Ended(outcome); });
}

SendOutcome FileSendEngine::OutcomeOf(SendOutcome::Kind kind) const {
    SendOutcome outcome;
    outcome.kind = kind;
    outcome.peer = m_request.shownAddress;
    outcome.fileName = m_fileName;
    outcome.filePath = m_request.filePath;
    outcome.sent = m_position;
    outcome.size = m_fileSize;
    outcome.attempts = m_caller.retryCount();
    outcome.encrypted = m_encrypted;
    outcome.peerFingerprint = m_peerFingerprint;
    if (!batch())
        return outcome;
    const BatchSelection& selection = *m_request.batch;
    outcome.batch = true;
    outcome.oneByOne = m_oneByOne;
    outcome.filePath.clear();
    outcome.size = selection.totalBytes();
    outcome.sent = m_oneByOne ? m_progressBase + m_position : m_position;
    outcome.files = selection.files();
    outcome.filesDone = m_filesDone;
    outcome.filesThere = m_filesThere;
    for (const SkippedPath& skipped : selection.skipped())
        outcome.skipped.append(skipped.path);
    for (qint64 index : m_unreadable)
        outcome.skipped.append(selection.LocalPath(index));
    outcome.skipped += m_skipped;
    outcome.refused = m_refused;
    outcome.stop = m_stop;
    return outcome;
}

void FileSendEngine::End(SendOutcome::Kind kind) {
    End(OutcomeOf(kind));
}

void FileSendEngine::End(SendOutcome outcome) {
    Reset();
    emit Ended(outcome);
}

SendOutcome::Kind FileSendEngine::SilentEnd() const {
    return m_cancelledBySender ? SendOutcome::Kind::Cancelled : SendOutcome::Kind::Dropped;
}

bool FileSendEngine::AllBytesSent() const {
    return m_position >= (batch() ? m_request.batch->totalBytes() : m_fileSize);
}

bool FileSendEngine::Streaming() const {
    return m_phase == Phase::Sending || (m_phase == Phase::DataLost && m_lostWhileStreaming);
}

// ---- Errors, retries and the reset ----

void FileSendEngine::HandleConnectionError(SocketError error) {
    if (m_phase == Phase::Idle || m_caller.retryPending())
        return;
    if (m_cancelledBySender &&
        (error == SocketError::ConnectionAborted || error == SocketError::ConnectionReset)) {
        End(SendOutcome::Kind::Cancelled);
        return;
    }
    if (m_caller.RetryAfter(error))
        return;
    SendOutcome outcome = OutcomeOf(SendOutcome::Kind::NetworkError);
    outcome.error = error;
    End(outcome);
}

void FileSendEngine::SetSending(bool sending) {
    m_session.activity.SetSendWindowSending(sending);
    emit SendingChanged(sending);
}

void FileSendEngine::Reset() {
    ++m_generation;
    m_resetting = true;
    StopSender();
    m_data.Close();
    m_caller.Reset();
    m_resetting = false;
    m_timWait.stop();
    m_timSendSpeed.stop();
    m_phase = Phase::Idle;
    m_position = 0;
    m_progress.Reset();
    m_fileSize = 0;
    m_cancelledBySender = false;
    m_lostWhileStreaming = false;
    m_dataEndError = SocketError::None;
    m_file.close();
    m_releasedChunks = 0;
    m_sendingShown = false;
    SetSending(false);
}

BatchProgress FileSendEngine::batchProgress() const {
    return m_batchProgress;
}

}  // namespace tvx
