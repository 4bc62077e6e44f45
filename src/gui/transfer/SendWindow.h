#pragma once

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

#include "address/AddressPicker.h"
#include "common/RetryScheduleBox.h"
#include "transfer/FileSendEngine.h"

class QLabel;
class QLineEdit;
class QMimeData;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace tvx {

struct Session;
class CodeRow;
class ConnectingPage;
class FileInfoTip;

// The send window: the view of a FileSendEngine. It takes the address, the file and the note,
// checks them, starts the engine and shows its pages, progress and outcomes; it runs the send
// at a chosen hour and minute itself. There is one per process; closing it hides it and keeps
// its inputs.
class SendWindow : public QWidget {
    Q_OBJECT

public:
    enum Page {
        PageInput = 1,
        PageConnecting = 2,
        PageSending = 3,
        PageFinished = 4,
        PageRefused = 5,
        PageAutoRefused = 6,
        PageReceiverCancelled = 7,
    };
    using Phase = FileSendEngine::Phase;

    explicit SendWindow(Session& session, QWidget* parent = nullptr);
    ~SendWindow() override;

    // Restores the remembered inputs and shows page 1. ShowSendWindow() calls it once.
    void RestoreInputs();
    // Shows the window (loading it the first time) and brings it forward. The tray menu's
    // send entry calls this.
    void ShowSendWindow();
    // The address picker's pick: the address goes into the address box as stored.
    void TakePickedAddress(const QString& address);

    // What the user does, public so that tests can drive them as the user and the clock would.
    // The buttons cmdDo1 to cmdDo4: address book, file, send, cancel.
    void AddressBookClicked();
    // Several files may be chosen; one file goes into the file box as before.
    void ChooseFileClicked();
    // The small button beside the file box: one folder.
    void ChooseFolderClicked();
    void SendClicked();
    void CancelClicked();         // while connecting or waiting for the answer
    void CancelSendingClicked();  // "取消发送": asks, then cancels the running transfer
    void ResultConfirmed();       // "确定" of pages 4 to 7
    void FileIconDoubleClicked();
    void ReceiverClicked();
    // A drop on the file box: every local file and folder in it. True when taken.
    bool FileDropped(const QMimeData* data);
    void ScheduleTick();
    void FileTipTick();

    // Tests shorten the progress pauses (500 ms) and the wait for the control connection's
    // verdict after the data connection ended (1000 ms); both run without blocking.
    void SetPauseMs(int milliseconds) { m_engine.SetPauseMs(milliseconds); }
    void SetCloseGraceMs(int milliseconds) { m_engine.SetCloseGraceMs(milliseconds); }
    void SetVerificationTimeoutMs(int milliseconds) {
        m_engine.SetVerificationTimeoutMs(milliseconds);
    }

    FileSendEngine& Engine() { return m_engine; }
    int CurrentPage() const;
    Phase phase() const { return m_engine.phase(); }
    PeerLink& ControlLink() { return m_engine.link(); }
    qint64 Position() const { return m_engine.position(); }
    qint64 FileSize() const { return m_engine.fileSize(); }
    int DataKey() const { return m_engine.dataKey(); }
    int RetryCount() const { return m_engine.retryCount(); }
    int StallTicks() const { return m_engine.progress().StallTicks(); }
    bool WaitCounterRunning() const { return m_engine.waitCounterRunning(); }
    bool SpeedTickRunning() const { return m_engine.speedTickRunning(); }
    bool ScheduleClockRunning() const { return m_retry->clockRunning(); }
    bool FileInfoTipPolling() const { return m_timFileInfoTip.isActive(); }
    FileInfoTip* Tip() const { return m_tip; }
    AddressPicker* Picker() const { return m_picker; }

signals:
    // A chunk of the file has been read and is about to go to the data connection (the
    // engine's ChunkSent, passed on only while somebody listens here).
    void ChunkSent(qint64 offset, qint64 size);

protected:
    void connectNotify(const QMetaMethod& signal) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildPages();
    QWidget* BuildInputPage();
    QWidget* BuildSendingPage();
    QWidget* BuildResultPage(int page, QLabel*& line, const QString& noteLabel,
                             QPlainTextEdit*& note, QPushButton*& button, const QString& name);
    void ShowPage(int page);
    void SetStep(int step);

    bool CheckFile();
    // Takes the items the user chose: one goes into the file box as its path, several as a
    // list; several or a folder are walked and shown as the batch they make.
    void TakeChosen(const QStringList& paths);
    // What the file box names: the chosen items while it shows their list, else its text.
    QStringList ChosenPaths() const;
    // Walks the items and shows what will go.
    std::shared_ptr<const BatchSelection> WalkSelection(const QStringList& paths);
    void ShowBatch();
    void HideBatch();
    void FillSendingPage();
    void UpdateProgress();
    void ShowBatchProgress();
    void UpdateSpeed();
    void OnStep(int step);
    // The page or the message box that tells how the send ended.
    void ShowEnd(const SendOutcome& outcome);
    void ShowOutcome(int page, const QString& line, const QString& note);
    // After a refusal the user may overrule (a known peer's new certificate, a known peer on
    // the plain wire): asks, and on Yes sends the same again with the user's consent.
    void AskToTrust(const SendOutcome& outcome);
    void PassRetryPolicy();

    void FileBoxChanged();
    void UpdateScheduleClock();
    void ShowOneByOne(qint64 files);
    QString NoteText() const;

    Session& m_session;
    FileSendEngine m_engine;
    bool m_chunksPassedOn = false;
    bool m_loaded = false;

    // Controls. Indexed arrays keep their index numbers; unused slots stay empty.
    QStackedWidget* m_pages;
    std::array<QWidget*, 8> m_picFSbox{};
    std::array<QLineEdit*, 3> m_txtFSInfo{};
    QPlainTextEdit* m_txtNote;
    std::array<QLabel*, 2> m_picFileIcoSmall{};
    CodeRow* m_code;
    std::array<QPushButton*, 5> m_cmdDo{};
    QToolButton* m_cmdFolder;
    QWidget* m_picBatch;
    QLabel* m_lblBatchSummary;
    QLabel* m_lblBatchNames;
    QPlainTextEdit* m_txtBatchSkipped;
    QLabel* m_lblOneByOne;
    RetryScheduleBox* m_retry;
    std::array<QLabel*, 3> m_lblFSTip{};
    std::array<QLabel*, 5> m_lblLinkInfo{};
    ConnectingPage* m_steps;
    std::array<QLabel*, 12> m_lblSendProc{};
    QLabel* m_lblSecurity;
    QProgressBar* m_picBox;
    QLineEdit* m_txtCancelSend;
    QPushButton* m_cmdSendProc;
    QLabel* m_lblSendFinish;
    QPushButton* m_cmdSendFinish;
    std::array<QLabel*, 2> m_lblRefuRecv{};
    QPlainTextEdit* m_txtRefuRecv;
    QPushButton* m_cmdRefuRecv;
    std::array<QLabel*, 2> m_lblAutoRefuRecv{};
    QPlainTextEdit* m_txtAutoRefuRecv;
    QPushButton* m_cmdAutoRefuRecv;
    std::array<QLabel*, 2> m_lblCanclRecv{};
    QPlainTextEdit* m_txtCanclRecv;
    QPushButton* m_cmdCanclRecv;
    FileInfoTip* m_tip;
    QPointer<AddressPicker> m_picker;

    QTimer m_timFileInfoTip;

    // Several chosen items and the text the file box shows for them; typing in the box
    // replaces them with what is typed.
    QStringList m_chosen;
    QString m_chosenText;
    // The last walk of chosen items and the file box text it was made for.
    std::shared_ptr<const BatchSelection> m_batch;
    QString m_batchText;
};

}  // namespace tvx
