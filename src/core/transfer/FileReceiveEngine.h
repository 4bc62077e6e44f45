#pragma once

#include <QFile>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

#include "common/Messages.h"
#include "common/PostedNotice.h"
#include "platform/Socket.h"
#include "protocol/PeerLink.h"
#include "protocol/PeerMessages.h"
#include "transfer/BatchReception.h"
#include "transfer/BatchWriter.h"
#include "transfer/SendOutcome.h"
#include "transfer/TransferProgress.h"

namespace tvx {

struct Session;

// The receiving side of file transfers, without a window. It listens on the file control and
// data ports, admits one sender at a time, reports its offer (or accepts it at once into the
// automatic folder), receives the bytes into target + ".tvx" and renames that file when the
// last byte has arrived. Every end goes through Reset(), which listens again; the temporary
// file stays for a later resume unless the user chose to delete it or the transfer completed.
// The user's decisions come in as calls; what the user is to see goes out as signals.
// What ended a transfer, or what the user is to hear of while one goes on; the front ends
// make the words (texts/ReceiveTexts.h).
struct ReceiveOutcome {
    enum class Kind {
        SenderCancelled,        // note and share: what the sender wrote, how much is held
        WriteFailed,            // path: the temporary file; systemError when the system said why
        TooManyBytes,           // the sender sent beyond the offered length
        RenameFailed,           // path: the complete temporary file that could not be renamed
        ReplaceFailedRenamed,   // path: the file that stays; the new one took a numbered name
        TempFileNotReplaced,    // path: the held temporary file that could not be deleted
        AutoSaveFolderMissing,  // path: the automatic folder
        ConnectionLost,         // socketError; peerName: who was sending
        NetworkError,           // socketError: any other failure of the connection
        Stalled,                // no byte for too long; peerName
        ListenerFailed,         // socketError: the ports cannot be had; the program ends
        HistoryNotWritten,      // systemError: the records' own report
        BatchRefused,           // stop: a batch broke the rules and was turned away; peerName
        NoSpace,                // stop.needed/available: the batch does not fit; path: folder
    };
    Kind kind = Kind::WriteFailed;
    QString path;
    QString systemError;
    SocketError socketError = SocketError::None;
    QString peerName;
    QString note;
    double share = 0;
    BatchStop stop;
};

// What a batch offer shows the user before it is taken.
struct BatchSummary {
    QString nickName;
    qint64 folders = 0;
    qint64 files = 0;
    qint64 totalBytes = 0;
    QStringList topNames;  // the chosen items at the top of the batch, as they will be named
    QString note;
};

class FileReceiveEngine : public QObject {
    Q_OBJECT

public:
    // Where the engine stands with the current sender.
    enum class Phase {
        Listening,  // no offer
        Offered,    // an offer came and is not accepted (it may wait for the user)
        Receiving,  // accepted: the bytes flow
        Cancelled,  // the user here cancelled while receiving; the rest is dropped
        Finishing,  // every byte is in; the file is being completed
    };

    explicit FileReceiveEngine(Session& session, QObject* parent = nullptr);
    ~FileReceiveEngine() override;

    // The receiving thread takes whatever has arrived, up to this much at a time (or the
    // receive buffer's buffer-full when it gathers one): a few large reads keep up with a fast
    // sender better than many small ones.
    static constexpr qint64 kReadSliceBytes = 2 * 1024 * 1024;
    // And writes it to the file in pieces of at most this much. The system may back a larger
    // write with large blocks of fresh memory; on a virtual machine that hands free memory back
    // to its host, the first touch of such blocks costs several times the copy (a gathered
    // 4 MB written at once ran at a third of the speed of the same bytes in 512 KB writes).
    static constexpr qint64 kWriteSliceBytes = 512 * 1024;

    // Listens on 8510 and binds 8511; on failure reports ListenerFailed and returns false.
    bool StartFileListener();
    // Stops for good, as the program ends.
    void Shutdown();
    void Reset();

    // ---- Decisions on a waiting offer. Each offer gets a key of its own (OfferKey(), from its
    // arrival until the next offer), and every decision names the key of the offer it answers:
    // the user may have taken it while a dialog was open and that offer has gone, perhaps for
    // another one. A decision for an offer that no longer waits is ignored.
    quint64 OfferKey() const { return m_offerKey; }
    bool OfferWaits(quint64 offer) const { return offer != 0 && offer == m_waitingOffer; }
    void Refuse(quint64 offer, const QString& note);
    // A sender that stays connected this long after a refusal is dropped, so it cannot hold
    // the listener from everyone else.
    static constexpr int kCloseGraceMs = 5000;
    void SetCloseGraceMs(int milliseconds) { m_timCloseGrace.setInterval(milliseconds); }
    // The note sent when the count-down refuses the offer.
    void SetRefuseNote(const QString& note) { m_refuseNote = note; }
    void SetCountDownRunning(bool running);
    // The user has begun to answer: the offer no longer waits and the count-down stops.
    void StopWaiting();
    // The user has seen the waiting offer (the window came up): it no longer calls for attention.
    void OfferSeen();
    // Takes the user's chosen file: a name too long for its folder (or for the temporary file)
    // is shortened. Returns the target the bytes will be renamed to; empty when the offer no
    // longer waits.
    QString ChooseTarget(quint64 offer, const QString& chosen);
    // The temporary file held for the chosen target, against the offer: what can be resumed.
    enum class Held { None, Resumable, TooLong };
    Held HeldBytes() const;
    // Length of the temporary file held for the chosen target, -1 when there is none.
    qint64 HeldLength() const;
    // Where the accepted bytes start: after the held ones when they are shorter than the offer
    // (otherwise from the first byte), or from the first byte with the held ones dropped.
    enum class Start { AfterHeldBytes, FromFirstByte };
    // Accepts the offer into the chosen target. With replaceTarget an existing file there stays
    // until the last byte has arrived and is then replaced in one rename; otherwise the
    // received file gets a numbered name when the target exists by then. False when the offer
    // no longer waits or the transfer has ended instead.
    bool Accept(quint64 offer, Start start, bool replaceTarget);
    // Accepts a waiting batch into the folder: its tree goes under it, a top name that stands
    // there already takes a numbered name (or is merged into, with "ExistFile"), and a batch
    // that was cut there before continues. When the batch cannot fit, it is refused and
    // NoSpace reported. False when the offer no longer waits or the batch was refused.
    bool AcceptBatch(quint64 offer, const QString& folder);
    // Ends with an outcome reported once the link has been reset.
    void ResetAndReport(const ReceiveOutcome& outcome);

    // ---- Decisions while and after receiving.
    void Cancel(const QString& note);
    // Whether the held bytes go when this transfer is cancelled here.
    void SetDeleteHeldOnCancel(bool deleteHeld) { m_deleteHeldOnCancel = deleteHeld; }
    // Deletes the bytes held for the offer of that key, unless another offer has come since.
    void DeleteHeldBytes(quint64 offer);

    // The clocks, public so that tests can tick them.
    void CountDownTick();
    void SpeedTick();
    // Shortens the pause before the finished page (tests).
    void SetCompletionPauseMs(int milliseconds) { m_completionPauseMs = milliseconds; }

    PeerLink& ControlLink() { return m_link; }
    const FileOffer& Offer() const { return m_offer; }
    QString SaveName() const { return m_saveName; }
    QString TypeName() const { return m_typeName; }
    QString FriendlyTime() const { return m_friendlyTime; }
    QStringList Identity() const { return m_identity; }
    QString PeerNickName() const { return m_identity.value(1); }
    // While a sender is connected: whether the connections run inside TLS, and the sender's
    // certificate.
    bool Encrypted() const { return m_link.encrypted(); }
    QByteArray PeerFingerprint() const { return m_link.peerFingerprint(); }
    QString TargetPath() const { return m_targetPath; }
    qint64 Position() const { return m_position; }
    // The bytes received so far, counting those gathering in the receive buffer.
    qint64 ReceivedCount() const { return m_progress.Position(); }
    const TransferProgress& Progress() const { return m_progress; }
    int CountDown() const { return m_countDown; }
    bool CountDownRunning() const { return m_timCountDown.isActive(); }
    Phase phase() const { return m_phase; }
    bool OfferReceived() const { return m_phase != Phase::Listening; }
    // A file accepted by the user is flowing (not one taken automatically).
    bool ReceivingHere() const { return m_phase == Phase::Receiving && !m_automatic; }
    bool Automatic() const { return m_automatic; }
    // The offer (waiting or taken) is a batch.
    bool BatchOffered() const;
    const BatchSummary& batchSummary() const;
    BatchProgress batchProgress() const;
    // The batch taken: its entries as named in the folder (empty before it is taken).
    QList<BatchEntry> batchEntries() const;

signals:
    // A caller was turned away for its encryption: a plain one where encryption is required or
    // where it was met encrypted before, or one with a certificate other than the pinned one.
    void CallerRejected(tvx::LinkRefusal refusal, const QString& address);
    // An offer now waits for the user; its details are in Offer(), TypeName(), FriendlyTime().
    void OfferWaiting(const QString& nickName, const QString& fileName, qint64 length);
    void CountDownChanged(int seconds);
    // The count-down has run out; the refusal goes out right after.
    void OfferExpired();
    // Bytes are to flow from Position(); the receiving page starts.
    void ReceivingStarted();
    void ProgressChanged(const TransferProgress& progress);
    // Once a second while receiving: the speed and the time left have been measured anew.
    void SpeedMeasured(const TransferProgress& progress);
    // A batch offer now waits for the user (batchSummary()); the count-down runs as for a file.
    void BatchOfferWaiting(const tvx::BatchSummary& summary);
    // A file of the batch is complete: its path in the batch, its size, where it is saved.
    void BatchFileDone(const QString& path, qint64 size, const QString& savedPath);
    // A batch is complete in `folder`: `targets` are its top items as named there, `files`
    // the files it holds. After the short pause for one the user accepted.
    void BatchReceived(const QString& folder, const QStringList& targets, qint64 files,
                       qint64 elapsedSeconds, bool automatic);
    // A file the user accepted is complete, after the short pause.
    void Received(const QString& targetPath, qint64 elapsedSeconds, bool openWanted);
    // A file accepted automatically is complete.
    void AutoReceived(const QString& targetPath, bool openWanted);
    // The sender cancelled (or went away) with held/offered bytes; the page follows the reset.
    void SenderCancelled(const QString& note, double ratio);
    void SenderCancelPageWanted(bool automatic);
    // Something the user is to hear of: a transfer that ended badly, a file that took another
    // name, a history entry not written, or (ListenerFailed) the ports cannot be had and the
    // program is to end.
    void Reported(const tvx::ReceiveOutcome& outcome);
    // The link has been reset; keepPage when the page shown is to stay.
    void ResetDone(bool keepPage);

private:
    void OnDataListenerDue();
    void OnControlMessage(char16_t code, const QString& payload);
    void OnPeerClosed();
    void OnLinkSocketError(SocketError error);
    void OnResetDone();
    void OnDataConnectionRequest();
    void OnDataArrival();
    void StartReceiverThread();
    void OnReceiverReport();
    void DataConnectionEnded(bool closed, int readError);
    void FinishFile();
    // Ends the receiving thread, which writes what it holds first, then closes the file.
    void CloseTempFile();
    void OnDataClosed();
    void OnDataError(SocketError error);

    void TakeOffer(const QString& payload);
    void TakeBatchOffer(const QString& payload);
    void TakeBatchEntries(const QString& payload);
    void TakeBatchListEnd();
    // The list is complete and sound: the batch is put to the user or taken automatically.
    void OfferBatch();
    bool StartBatch(const QString& folder);
    // Turns the batch away (or stops it) with the reason the sender is told; the outcome is
    // reported here at once and the sender's close follows.
    void StopBatch(const BatchStop& stop, const ReceiveOutcome& outcome);
    void OnWriterReport();
    void FinishBatch();
    void ReceiveAutomatically();
    void PutOfferToUser();
    void StartReceiving();
    void Complete();
    void FinishCompletion();
    void TakeSenderCancel(const QString& note, bool resetHere);
    void ConnectionFailed(SocketError error);

    bool SendOrFail(const QString& body);
    // Drops held bytes that are not to be resumed and sends the acceptance; the position the
    // bytes start at, or -1 when the transfer has ended instead.
    qint64 SendAcceptance(Start start);
    bool DeleteTempBeforeRestart();
    // Renames the complete temporary file to the target; false when it stays where it is.
    bool RenameToTarget();
    void WriteHistoryEntry();
    void WriteHistoryEntry(const QStringList& values);
    // Ends the transfer with the write-error message, and the reason when there is one.
    void FailWrite(ReceiveOutcome::Kind kind, const QString& reason);
    ReceiveOutcome Outcome(ReceiveOutcome::Kind kind) const;
    // Moves to the phase and reports into the activity whether a file the user took flows.
    void SetPhase(Phase phase);
    bool OpenWanted() const;

    Session& m_session;
    PeerLink m_link;  // the control connection, 8510
    Socket m_data;    // the data connection, 8511

    QTimer m_timCountDown;
    QTimer m_timSpeed;
    QTimer m_timCloseGrace;

    // Connection and transfer state; a reset puts it back.
    QStringList m_identity;  // the sender's TVX address and its card
    FileOffer m_offer;       // as offered; the pages and the history show its name
    QString m_saveName;      // the offered name as it may stand in a file name
    QString m_typeName;
    QString m_friendlyTime;
    QString m_targetPath;
    QString m_tempPath;
    QString m_refuseNote;
    QFile m_tempFile;
    // Reads the data connection, unscrambles and writes on its own thread; it exists while
    // the file's bytes flow and the temporary file is open.
    class SliceReceiver;
    // Declared before the thread's owner, so it outlives the thread that posts to it.
    PostedNotice m_receiverNotice{this, [this] { OnReceiverReport(); }};
    std::unique_ptr<SliceReceiver> m_receiver;
    qint64 m_received = 0;  // the file's bytes that came, written or not
    qint64 m_position = 0;  // written to the temporary file
    TransferProgress m_progress{TransferProgress::Estimate::WholeBytesPerTick};
    qint64 m_startTime = 0;
    int m_countDown = 0;
    quint64 m_offerKey = 0;      // the latest offer's key; keys count the offers
    quint64 m_waitingOffer = 0;  // the key of the offer waiting for the user, 0 when none
    Phase m_phase = Phase::Listening;
    bool m_replaceTarget = false;  // the received file replaces an existing target
    bool m_automatic = false;      // the offer was taken into the automatic folder
    bool m_deleteOnReset = false;
    bool m_deleteHeldOnCancel = false;
    bool m_keepPage = false;
    bool m_autoSaveErrorShown = false;
    bool m_tempErrorShown = false;
    bool m_shuttingDown = false;
    bool m_starting = false;  // StartFileListener is resetting the link
    int m_completionPauseMs = 500;

    // A batch: its list as it arrives and once checked, the job once accepted, and the thread
    // that writes it.
    std::unique_ptr<BatchList> m_batchList;
    std::shared_ptr<BatchJob> m_batchJob;
    bool m_batchStopped = false;  // turned away; what the sender still sends is dropped
    BatchSummary m_batchSummary;
    BatchProgress m_batchProgress;
    qint64 m_batchSkipped = 0;
    PostedNotice m_writerNotice{this, [this] { OnWriterReport(); }};
    std::unique_ptr<BatchWriter> m_writer;
    BatchDoneFiles m_doneFiles;

    // What the reset is to report once it has run (SenderCancelled: the sender-cancelled page).
    std::optional<ReceiveOutcome> m_pending;
};

}  // namespace tvx
