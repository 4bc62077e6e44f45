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
#include "protocol/PeerLink.h"
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
// Everything a window shows comes by signal; every user decision is a call. The window checks
// the address and the file, saves the remembered inputs and runs the timed send itself, then
// calls Start.
class FileSendEngine : public QObject {
    Q_OBJECT

public:
    // The send window's pages, numbered as the window numbers them.
    enum Page {
        PageInput = 1,
        PageConnecting = 2,
        PageSending = 3,
        PageFinished = 4,
        PageRefused = 5,
        PageAutoRefused = 6,
        PageReceiverCancelled = 7,
    };

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
        QString peerAddress;       // dotted, as CheckTargetAddress resolved it
        QString shownAddress;      // the address box's text upper-cased; names the peer
        QString typedAddress;      // the address box's text as typed (history log)
        QString filePath;          // checked with FileProblem
        QString note;              // line breaks as "\r\n"
        QString verificationCode;  // empty when "使用验证码" is off or the code is blank
    };

    static constexpr int kProgressPauseMs = 500;
    static constexpr int kCloseGraceMs = 1000;
    static constexpr int kProgressRefreshMs = 100;

    explicit FileSendEngine(Session& session, QObject* parent = nullptr);
    ~FileSendEngine() override;

    // Why the file cannot be sent, with the message kind to show it in; empty when it can.
    static QString FileProblem(const QString& path, MessageKind* kind);

    // ---- Decisions ----

    // Connecting page, step 1, connect. Anything still open is closed first.
    void Start(const Request& request);
    // "自动重试(次)" and its count box; read at each failure, as the boxes may change meanwhile.
    void SetRetryPolicy(bool autoRetry, int attempts);
    // "取消" while connecting or waiting: closes everything and shows the input page.
    void Cancel();
    // "取消发送" after the user confirmed: sends the cancel with the note and shows the input
    // page; the peer's close that follows ends the transfer. False when nothing was sending.
    bool CancelSending(const QString& note);

    // ---- State the window reads ----

    Phase phase() const { return m_phase; }
    bool sending() const { return m_phase == Phase::Sending || m_phase == Phase::DataLost; }
    bool cancelledBySender() const { return m_cancelledBySender; }
    const Request& request() const { return m_request; }
    QString fileName() const { return m_fileName; }
    // The receiver's card: nickname, sex code, age, phone, e-mail, home page, address, other.
    QStringList peerCard() const { return m_peerCard; }
    const TransferProgress& progress() const { return m_progress; }
    qint64 position() const { return m_position; }
    qint64 fileSize() const { return m_fileSize; }
    int dataKey() const { return m_dataKey; }
    int retryCount() const { return m_retryCount; }
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
    void RetryConnection();

signals:
    // Show page p (Page). Pages 4 to 7 follow Outcome, which carries what they show.
    void PageChanged(int page);
    // Connecting step 1, 2 or 3; steps 2 and 3 come after the 500 ms pause.
    void StepChanged(int step);
    // The connecting page's status line: "", "(已等待 ...)" or "(已尝试连接 N 次)".
    void StatusLine(const QString& text);
    // The receiver accepted: the sending page is to be filled from progress() and request();
    // PageChanged(PageSending) follows once the first chunk is out.
    void SendingStarted();
    // Bytes went out (at most every 100 ms, and always at the end).
    void ProgressChanged();
    // One speed tick: the speed and the time left in progress() are new.
    void SpeedTicked();
    // A chunk of the file has been read and is about to go to the data connection; it leaves
    // once the listeners have returned, unless they ended the transfer. While one chunk goes
    // out the next is already read and waits behind it. Emitted only when the transfer began
    // with listeners connected: the sending thread then waits for the event loop at each chunk.
    void ChunkSent(qint64 offset, qint64 size);
    // The transfer ended with page 4 to 7: its line and, for pages 5 to 7, the note. The
    // window shows the page and brings itself forward.
    void Outcome(int page, const QString& line, const QString& note);
    // A message for the window to show with ShowMessage (kind as MessageKind). Except for a
    // failed history-log write, the transfer has already been closed when it comes.
    void Failure(tvx::MessageKind kind, const QString& text, bool systemModal);
    // The receiver refused admission (code, block list) or speaks another version: the text
    // to show (Error, system-modal). The engine closes right after.
    void Refused(const QString& text);
    // The receiver sent what it should not have; the text to show as Refused's.
    void ConnectionBroken(const QString& text);
    // The process-wide sending flag changed (the timed send waits while it is set).
    void SendingChanged(bool sending);

private:
    void Connect();
    void QueueRetry();
    void Reset();
    void ResetAndReport(const QString& text, MessageKind kind, bool systemModal);
    void ReportOutcome(int page, const QString& line, const QString& note);
    void SetSending(bool sending);

    void OnLinkReset();
    void OnIntroduced(const QStringList& peerCard);
    void OnControlMessage(char16_t code, const QString& payload);
    void OnControlClosed();
    void OnDataConnected();
    void OnDataArrival();
    void OnDataEnded(SocketError error);
    void OnHandshakeTimedOut();
    void SendOffer();
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
    PeerLink m_link;  // sckFS1, the control connection
    Socket m_data;    // sckFS2, the data connection
    QTimer m_timWait;
    QTimer m_timSendSpeed;

    // State of one send; Reset() puts it back.
    Request m_request;
    Phase m_phase = Phase::Idle;
    bool m_autoRetry = false;
    int m_retryAttempts = 99;
    QString m_fileName;
    qint64 m_fileSize = 0;
    qint64 m_position = 0;
    TransferProgress m_progress{TransferProgress::Estimate::RoundedSeconds};
    int m_retryCount = 0;
    qint64 m_waitStart = 0;
    qint64 m_sendingStart = 0;
    int m_dataKey = 0;
    bool m_cancelledBySender = false;
    bool m_keepPage = false;
    QStringList m_peerCard;
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
    bool m_retryPending = false;
    SocketError m_dataEndError = SocketError::None;
    int m_pauseMs = kProgressPauseMs;
    int m_closeGraceMs = kCloseGraceMs;
};

}  // namespace tvx
