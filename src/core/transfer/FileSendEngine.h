#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

#include "common/Messages.h"
#include "common/PostedNotice.h"
#include "platform/Socket.h"
#include "protocol/CallerLink.h"
#include "transfer/BatchSelection.h"
#include "transfer/BatchStreamer.h"
#include "transfer/SendOutcome.h"
#include "transfer/TransferProgress.h"

namespace tvx {

struct Session;

// The sending side of one file transfer: connects to the peer's file listener (8510), runs the
// handshake, admission and introduction through the shared link, opens the data connection
// (8511), offers the file with a fresh key, streams it from the offset the receiver accepts
// and reports the outcome. It retries a failed connection when asked to, gives up on a peer
// that does not finish the handshake in time and on a transfer that stays silent for twenty
// speed ticks, and writes the offer to the history log.
//
// What happens comes by signal as numbers and typed outcomes; every user decision is a call.
// The window checks the address and the file, saves the remembered inputs and runs the timed
// send itself, then calls Start.
class FileSendEngine : public QObject {
    Q_OBJECT

public:
    // Where the transfer is between two resets.
    enum class Phase {
        Idle,
        Connecting,        // control connection: handshake, admission, introduction
        DataConnecting,    // data connection to 8511 opening
        Offering,          // data connection up, the offer is about to go
        WaitingForAnswer,  // offer sent, the peer's user decides
        Sending,           // accepted: chunks go out, then the wait for 00 00
        DataLost,          // the data connection ended; the control connection is to tell why
    };

    // One send as the user asked for it.
    struct Request {
        QString peerAddress;   // dotted, as CheckTargetAddress resolved it
        QString shownAddress;  // the address box's text upper-cased; names the peer
        QString typedAddress;  // the address box's text as typed (history log)
        QString filePath;      // checked with FileProblem; unused for a batch
        // Several files or folders, walked once; null for a single file. A batch goes in one
        // offer to a peer that announces batches, and as single offers one after another to
        // any other.
        std::shared_ptr<const BatchSelection> batch;
        QString note;              // line breaks as "\r\n"
        QString verificationCode;  // empty when the code box is off or blank
        // The user agreed: a known peer's new certificate is taken, a known peer's plain wire
        // is accepted.
        bool acceptNewIdentity = false;
        bool allowPlain = false;
    };

    static constexpr int kProgressPauseMs = 500;
    static constexpr int kCloseGraceMs = 1000;
    // After every byte went out, the receiver writes, checks and then reports completion on
    // the control connection: a busy receiver may take longer than the grace above.
    static constexpr int kCompletionWaitMs = 10000;
    static constexpr int kProgressRefreshMs = 100;

    explicit FileSendEngine(Session& session, QObject* parent = nullptr);
    ~FileSendEngine() override;

    // Why the file cannot be sent; FileProblem::None when it can.
    static tvx::FileProblem CheckFile(const QString& path);

    // ---- Decisions ----

    // Connecting page, step 1, connect. Anything still open is closed first.
    void Start(const Request& request);
    // The automatic retry box and its count; read at each failure, as the boxes may change
    // meanwhile.
    void SetRetryPolicy(bool autoRetry, int attempts);
    // Cancel while connecting or waiting: closes everything; ends Cancelled.
    void Cancel();
    // Cancel sending after the user confirmed: sends the cancel with the note; the peer's close
    // that follows ends the transfer (Cancelled). False when nothing was sending.
    bool CancelSending(const QString& note);

    // ---- State the window reads ----

    Phase phase() const { return m_phase; }
    bool sending() const { return m_phase == Phase::Sending || m_phase == Phase::DataLost; }
    bool cancelledBySender() const { return m_cancelledBySender; }
    const Request& request() const { return m_request; }
    QString fileName() const { return m_fileName; }
    // The receiver's card: nickname, sex code, age, phone, e-mail, home page, address, other.
    QStringList peerCard() const { return m_peerCard; }
    // Once introduced: whether the connections run inside TLS, and the peer's certificate.
    bool encrypted() const { return m_encrypted; }
    QByteArray peerFingerprint() const { return m_peerFingerprint; }
    const TransferProgress& progress() const { return m_progress; }
    qint64 position() const { return m_position; }
    qint64 fileSize() const { return m_fileSize; }
    int dataKey() const { return m_dataKey; }
    int retryCount() const { return m_caller.retryCount(); }
    bool batch() const { return m_request.batch != nullptr; }
    // A batch's files: done, total and the one on its way.
    BatchProgress batchProgress() const;
    bool waitCounterRunning() const { return m_timWait.isActive(); }
    bool speedTickRunning() const { return m_timSendSpeed.isActive(); }

    // ---- Seams for tests and the benchmark ----

    void SetPauseMs(int milliseconds) { m_pauseMs = milliseconds; }
    void SetCloseGraceMs(int milliseconds) { m_closeGraceMs = milliseconds; }
    void SetVerificationTimeoutMs(int milliseconds) { m_link.SetHandshakeTimeout(milliseconds); }
    PeerLink& link() { return m_link; }
    // As the clock and the sockets would call them.
    void SpeedTick();
    void WaitTick();
    void HandleConnectionError(SocketError error);

signals:
    // Connecting step 1, 2 or 3; step 1 comes from Start, steps 2 and 3 after the 500 ms pause.
    void StepChanged(int step);
    // Step 3: the peer's user has had the offer for so many seconds (0 at first, then each
    // second).
    void Waiting(qint64 seconds);
    // A failed connection is tried again; `attempt` counts from 1.
    void Retrying(int attempt);
    // The receiver accepted: the sending page is to be filled from progress() and request();
    // StreamStarted follows once the first chunk is out.
    void SendingStarted();
    void StreamStarted();
    // Bytes went out (at most every 100 ms, and always at the end).
    void ProgressChanged();
    // One speed tick: the speed and the time left in progress() are new.
    void SpeedTicked();
    // A chunk of the file has been read and is about to go to the data connection; it leaves
    // once the listeners have returned, unless they ended the transfer. While one chunk goes
    // out the next is already read and waits behind it. Emitted only when the transfer began
    // with listeners connected: the sending thread then waits for the event loop at each chunk.
    void ChunkSent(qint64 offset, qint64 size);
    // A batch: the peer takes one file per offer, so the files go one after another, each
    // with its bare name (told once per send).
    void OneByOne(qint64 files);
    // A file of a batch went out whole (one by one: the peer holds it); its path in the batch.
    void FileDone(const QString& path, qint64 size);
    // The send is over and the engine idle again (Completed comes after the 500 ms pause).
    void Ended(const tvx::SendOutcome& outcome);
    // The history log could not take the offer; the transfer goes on. The warning to show.
    void LogWriteFailed(const QString& warning);
    // The process-wide sending flag changed (the timed send waits while it is set).
    void SendingChanged(bool sending);

private:
    void Connect();
    void Reset();
    // Resets and reports how the send ended.
    void End(SendOutcome::Kind kind);
    void End(SendOutcome outcome);
    SendOutcome OutcomeOf(SendOutcome::Kind kind) const;
    // How a send ends that nobody explains: this side's cancel, or the peer's silence.
    SendOutcome::Kind SilentEnd() const;
    // The receiver accepted and the file was going out (also while the data connection's end
    // waits for the control connection to explain it).
    bool Streaming() const;
    bool AllBytesSent() const;
    void SetSending(bool sending);

    void OnLinkReset();
    void OnIntroduced(const QStringList& peerCard);
    void OnControlMessage(char16_t code, const QString& payload);
    void OnControlClosed();
    void OnDataConnected();
    void OnDataEncrypted();
    void DataReady();
    void OnDataArrival();
    void OnDataEnded(SocketError error);
    void OnHandshakeTimedOut();
    void SendOffer();
    // A batch to a peer that takes it: the totals, the list in pieces, its end.
    void SendBatchOffer();
    void SendListPieces();
    void LogOffer();
    void OnBatchPlan(const QString& payload);
    void OnBatchAccepted();
    void OnStreamerReport();
    // One by one: the next entry that can go as a single offer, after `after`; the ones that
    // cannot (empty, too large, gone) are noted as skipped. -1 when none is left.
    qint64 NextSingleFile(qint64 after);
    // One by one: the file went (or was refused); the next one connects, or the batch ends.
    void SingleFileDone(bool received);
    void OfferSent();
    void BeginWaiting();
    void OnAcceptance(const QString& payload);
    void OnSenderReport();
    void StopSender();
    void ReadFailed();
    void Finished();
    void PeerCancelled(const QString& note);

    qint64 Uptime() const;
    void After(int milliseconds, const std::function<void()>& step);

    Session& m_session;
    CallerLink m_caller;
    PeerLink& m_link;  // sckFS1, the control connection
    Socket m_data;     // sckFS2, the data connection
    QTimer m_timWait;
    QTimer m_timSendSpeed;

    // State of one send; Reset() puts it back.
    Request m_request;
    Phase m_phase = Phase::Idle;
    QString m_fileName;
    qint64 m_fileSize = 0;
    qint64 m_position = 0;
    TransferProgress m_progress{TransferProgress::Estimate::RoundedSeconds};
    qint64 m_waitStart = 0;
    qint64 m_sendingStart = 0;
    int m_dataKey = 0;
    bool m_cancelledBySender = false;
    bool m_lostWhileStreaming = false;
    QStringList m_peerCard;
    bool m_encrypted = false;
    QByteArray m_peerFingerprint;
    // The file that goes now: the request's, or one of a batch's sent one by one.
    QString m_filePath;
    qint64 m_progressBase = 0;  // one by one: the batch's bytes before this file

    // A batch's state over its whole send (retries and one-by-one files included).
    bool m_oneByOne = false;
    bool m_oneByOneTold = false;
    qint64 m_fileIndex = -1;     // one by one: the entry being offered
    qint64 m_listSent = 0;       // entries of the list handed to the connection so far
    QList<qint64> m_batchStart;  // per entry where its bytes begin, -1 when it does not go
    qint64 m_planAfter = -1;
    qint64 m_filesDone = 0;
    qint64 m_filesThere = 0;
    qint64 m_bytesThere = 0;
    QStringList m_skipped;
    QStringList m_refused;
    QList<qint64> m_unreadable;  // entries the stream could not read
    BatchDoneFiles m_doneFiles;
    bool m_batchLogged = false;
    BatchStop m_stop;
    BatchProgress m_batchProgress;
    PostedNotice m_streamerNotice{this, [this] { OnStreamerReport(); }};
    std::unique_ptr<BatchStreamer> m_streamer;
    // The file stays open while the sending thread reads and sends it.
    QFile m_file;
    class ChunkSender;
    // Declared before the thread's owner, so it outlives the thread that posts to it.
    PostedNotice m_senderNotice{this, [this] { OnSenderReport(); }};
    std::unique_ptr<ChunkSender> m_sender;
    bool m_chunksHeard = false;  // ChunkSent has listeners: the thread waits for each release
    int m_releasedChunks = 0;    // chunks the thread may send
    bool m_releasing = false;
    bool m_sendingShown = false;
    QElapsedTimer m_progressShown;  // when progress was last reported

    // Bookkeeping of the asynchronous steps: each reset starts a new generation, and a step
    // queued in an older one does nothing.
    quint64 m_generation = 0;
    bool m_resetting = false;
    SocketError m_dataEndError = SocketError::None;
    int m_pauseMs = kProgressPauseMs;
    int m_closeGraceMs = kCloseGraceMs;
};

}  // namespace tvx
