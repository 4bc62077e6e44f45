#pragma once

#include <QWidget>
#include <array>

#include "transfer/FileReceiveEngine.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QStackedWidget;

namespace tvx {

struct Session;

// The receiving side of file transfers as the pages of the main window: the offer, the
// receiving progress, the finished file and the sender's cancel. It shows what its
// FileReceiveEngine reports and passes the user's answers to it; the save dialog and the
// questions about resuming, refusing and cancelling are asked here.
class ReceiverPage : public QWidget {
    Q_OBJECT

public:
    enum Page { PageOffer = 1, PageReceiving = 2, PageFinished = 3, PageSenderCancelled = 4 };

    // window is the main window: it is shown, hidden and brought forward for the receiver, and
    // owns its message boxes.
    ReceiverPage(Session& session, QWidget* window, QWidget* parent = nullptr);
    ~ReceiverPage() override;

    FileReceiveEngine& Engine() { return m_engine; }

    // Listens on 8510 and binds 8511; on failure tells the user and returns false.
    bool StartFileListener() { return m_engine.StartFileListener(); }
    // Stops for good, as the program ends.
    void Shutdown() { m_engine.Shutdown(); }

    // The main window's close box.
    void HandleCloseBox();

    // What the user does on the pages, public so that tests can drive them as the user would.
    void AcceptOffer();
    void RefuseOffer();
    void SetCountDownRunning(bool running);
    void CancelReceiving();
    void OpenReceivedFile();
    void OpenReceivedFolder();
    void CloseFinishedPage();
    void CloseCancelledPage();
    void ShowPeerInfo();

    int CurrentPage() const;
    PeerLink& ControlLink() { return m_engine.ControlLink(); }
    QString TargetPath() const { return m_engine.TargetPath(); }
    qint64 Position() const { return m_engine.Position(); }
    qint64 ReceivedCount() const { return m_engine.ReceivedCount(); }
    int CountDown() const { return m_engine.CountDown(); }
    bool CountDownRunning() const { return m_engine.CountDownRunning(); }
    // Shortens the pause before the finished page (tests).
    void SetCompletionPauseMs(int milliseconds) { m_engine.SetCompletionPauseMs(milliseconds); }

signals:
    void AutoReceived(const QString& targetPath);
    // An offer now waits for the user (page 1 filled, the count-down running).
    void OfferWaiting(const QString& nickName, const QString& fileName, qint64 length);
    void BatchOfferWaiting(const tvx::BatchSummary& summary);
    // The listener cannot run; the user has been told and the program is to end.
    void ListenerFailed();

private:
    void BuildPages();
    void ShowPage(int page);
    void SetLabel(const char* name, const QString& text);
    // Whether the connection is encrypted, with the sender's fingerprint code.
    QString SecurityLine() const;

    void ShowOffer(const QString& nickName, const QString& fileName, qint64 length);
    void ShowBatchOffer(const BatchSummary& summary);
    // The rows of page 1 that only a single file has, and how its name lines take long text.
    void ShowFileRows(bool file);
    // Asks for the folder a batch goes into until the user has decided.
    void AcceptBatch(quint64 offer);
    void ShowCountDown(int seconds);
    void HideOnExpiry();
    void ShowReceiving();
    void ShowProgress(const TransferProgress& progress);
    void ShowSpeed(const TransferProgress& progress);
    void ShowFinished(const QString& targetPath, qint64 elapsedSeconds, bool openWanted);
    void ShowBatchReceived(const QString& folder, const QStringList& targets, qint64 files,
                           qint64 elapsedSeconds, bool automatic);
    void ShowBatchProgress();
    void EndAutomatic(const QString& targetPath, bool openWanted);
    // Refuses the offer of that key when it still waits.
    void Refuse(quint64 offer);
    void FillSenderCancelled(const QString& note, double ratio);
    void ShowSenderCancelled(bool automatic);
    void ShowOutcome(const ReceiveOutcome& outcome);
    void HideAfterReset(bool keepPage);

    Session& m_session;
    QWidget* m_window;
    FileReceiveEngine m_engine;
    int m_progressWidth = 1;
    quint64 m_cancelledOffer = 0;  // the offer page 4 tells of
    QString m_batchFolder;         // the folder the batch being received goes into
    QString m_doneFolder;          // page 3: the folder a batch went into

    QStackedWidget* m_pages = nullptr;
    QProgressBar* m_lblProgress = nullptr;
    QPlainTextEdit* m_txtRefuseNote = nullptr;
    QPlainTextEdit* m_txtCancelNote = nullptr;
    QCheckBox* m_chkCountDown = nullptr;
    std::array<QCheckBox*, 5> m_chkDelete{};  // on pages 2 and 4
};

}  // namespace tvx
