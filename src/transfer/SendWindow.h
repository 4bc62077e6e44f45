#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <array>

#include "chat/AddressPicker.h"
#include "platform/Socket.h"
#include "protocol/PeerLink.h"
#include "transfer/TransferProgress.h"

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QMimeData;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QStackedWidget;

namespace tvx {

struct Session;
class FileInfoTip;

// The send window: offers one file to one peer over the control connection (8510), streams
// it over the data connection (8511) once accepted, resuming where the receiver's temporary
// file ends. It also retries failed connections, times out a silent peer, counts the wait for
// the peer's answer and starts a send at a chosen hour and minute. There is one per process;
// closing it hides it and keeps its inputs.
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

    // Where the window is between two resets.
    enum class Phase {
        Idle,
        Connecting,        // control connection: handshake, admission, introduction
        DataConnecting,    // data connection to 8511 opening
        Offering,          // data connection up, the offer is about to go
        WaitingForAnswer,  // offer sent, the peer's user decides
        Sending,           // accepted: chunks go out, then the wait for 00 00
        DataLost,          // the data connection ended; the control connection is to tell why
    };

    explicit SendWindow(Session& session, QWidget* parent = nullptr);
    ~SendWindow() override;

    // Restores the remembered inputs and shows page 1. ShowSendWindow() calls it once.
    void Form_Load();
    // Shows the window (loading it the first time) and brings it forward. The tray menu's
    // send entry calls this.
    void ShowSendWindow();
    // The address picker's pick: the address goes into the address box as stored.
    void TakePickedAddress(const QString& address);

    // Handlers, public so that tests can drive them as the user and the clock would.
    void cmdDo_Click(int index);  // 1 address book, 2 choose file, 3 send, 4 cancel
    void cmdSendProc_Click();     // cancel the running transfer
    void cmdResult_Click();       // "确定" of pages 4 to 7
    void chkFSPW_Click();
    void chkAutoTry_Click();
    void chkUseTime_Click();
    void picFileIcoSmall_DblClick(int index);
    void lblSendProc_Click(int index);
    // A drop on the file box: the first item unless it is a folder. True when taken.
    bool txtFSInfo_OLEDragDrop(const QMimeData* data);
    void timWait_Timer();
    void timSendSpeed_Timer();
    void timSend_Timer();
    void timFileInfoTip_Timer();
    void timFSClitYZ_Timer();
    // Every socket error of both connections: a retry or a reset with its message.
    void HandleConnectionError(int number);
    // One automatic retry: counts it, gives up at the count box's value.
    void RetryConnection();

    // Tests shorten the progress pauses (500 ms) and the wait for the control connection's
    // verdict after the data connection ended (1000 ms); both run without blocking.
    void SetPauseMs(int milliseconds) { m_pauseMs = milliseconds; }
    void SetCloseGraceMs(int milliseconds) { m_closeGraceMs = milliseconds; }
    void SetVerificationTimeoutMs(int milliseconds) { m_link.SetHandshakeTimeout(milliseconds); }

    int CurrentPage() const;
    Phase phase() const { return m_phase; }
    PeerLink& ControlLink() { return m_link; }
    qint64 Position() const { return m_position; }
    qint64 FileSize() const { return m_fileSize; }
    int DataKey() const { return m_dataKey; }
    int RetryCount() const { return m_retryCount; }
    int StallTicks() const { return m_progress.StallTicks(); }
    int ProgressWidth() const;
    bool WaitCounterRunning() const { return m_timWait.isActive(); }
    bool SpeedTickRunning() const { return m_timSendSpeed.isActive(); }
    bool ScheduleClockRunning() const { return m_timSend.isActive(); }
    bool FileInfoTipPolling() const { return m_timFileInfoTip.isActive(); }
    FileInfoTip* Tip() const { return m_tip; }
    AddressPicker* Picker() const { return m_picker; }

    QLineEdit* txtFSInfo(int index) const { return m_txtFSInfo[index]; }  // 1 address, 2 file
    QPlainTextEdit* txtNote() const { return m_txtNote; }                 // box 3
    QCheckBox* chkFSPW() const { return m_chkFSPW; }
    QLineEdit* txtFSPW() const { return m_txtFSPW; }
    QCheckBox* chkAutoTry() const { return m_chkAutoTry; }
    QLineEdit* txtAutoTryNum() const { return m_txtAutoTryNum; }
    QScrollBar* vsbAutoTry() const { return m_vsbAutoTry; }
    QCheckBox* chkUseTime() const { return m_chkUseTime; }
    QLineEdit* txtTime(int index) const { return m_txtTime[index]; }
    QScrollBar* vsrTime(int index) const { return m_vsrTime[index]; }
    QLineEdit* txtCancelSend() const { return m_txtCancelSend; }
    // Text of a label or box by object name (tests and screenshots).
    QString TextOf(const QString& objectName) const;

signals:
    // A chunk of the file has been read and is about to go to the data connection.
    void ChunkSent(qint64 offset, qint64 size);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildPages();
    QWidget* BuildInputPage();
    QWidget* BuildConnectingPage();
    QWidget* BuildSendingPage();
    QWidget* BuildResultPage(int page, QLabel*& line, const QString& noteLabel,
                             QPlainTextEdit*& note, QPushButton*& button, const QString& name);
    void ShowPage(int page);
    void SetStep(int step);

    void StartSend();
    bool CheckFile();
    void Connect();
    void QueueRetry();
    void Reset();
    void ResetAndShow(const QString& text, int kind, bool systemModal);
    void ShowOutcome(int page, const QString& line, const QString& note);

    void OnLinkReset();
    void OnIntroduced(const QStringList& peerCard);
    void OnControlMessage(char16_t code, const QString& payload);
    void OnControlClosed();
    void OnDataConnected();
    void OnDataEnded(int errorNumber);
    void SendOffer();
    void BeginWaiting();
    void OnAcceptance(const QString& payload);
    bool SendChunk();
    void ReadFailed();
    void OnSendProgress(qint64 bytes);
    void OnSendComplete();
    void Finished();
    void PeerCancelled(const QString& note);
    void UpdateProgress();

    void FileBoxChanged();
    void SyncCountBox();
    void SyncTimeBox(int index);
    void UpdateScheduleClock();
    QString NoteText() const;
    qint64 Uptime() const;
    void After(int milliseconds, const std::function<void()>& step);

    Session& m_session;
    PeerLink m_link;  // sckFS1, the control connection
    Socket m_data;    // sckFS2, the data connection
    bool m_loaded = false;

    // Controls. Indexed arrays keep their index numbers; unused slots stay empty.
    QStackedWidget* m_pages;
    std::array<QWidget*, 8> m_picFSbox{};
    std::array<QLineEdit*, 3> m_txtFSInfo{};
    QPlainTextEdit* m_txtNote;
    std::array<QLabel*, 2> m_picFileIcoSmall{};
    QCheckBox* m_chkFSPW;
    QLineEdit* m_txtFSPW;
    std::array<QPushButton*, 5> m_cmdDo{};
    QCheckBox* m_chkAutoTry;
    QLineEdit* m_txtAutoTryNum;
    QScrollBar* m_vsbAutoTry;
    QCheckBox* m_chkUseTime;
    std::array<QLineEdit*, 3> m_txtTime{};
    std::array<QScrollBar*, 3> m_vsrTime{};
    std::array<QLabel*, 3> m_lblTimeUnit{};
    std::array<QLabel*, 3> m_lblFSTip{};
    std::array<QLabel*, 5> m_lblLinkInfo{};
    QGridLayout* m_stepGrid;
    QLabel* m_imgPro;
    std::array<QLabel*, 12> m_lblSendProc{};
    QWidget* m_picBox;
    QWidget* m_picBar;
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

    QTimer m_timWait;
    QTimer m_timSendSpeed;
    QTimer m_timSend;
    QTimer m_timFileInfoTip;

    // State of one send; Reset() puts it back.
    Phase m_phase = Phase::Idle;
    QString m_targetAddress;
    QString m_typedAddress;
    QString m_filePath;
    QString m_fileName;
    qint64 m_fileSize = 0;
    qint64 m_position = 0;
    TransferProgress m_progress;
    int m_retryCount = 0;
    qint64 m_waitStart = 0;
    qint64 m_sendingStart = 0;
    int m_dataKey = 0;
    bool m_cancelledBySender = false;
    bool m_finalPageShown = false;
    QStringList m_peerCard;
    QByteArray m_sendBuffer;
    QElapsedTimer m_progressShown;  // when the progress was last drawn

    // Bookkeeping of the asynchronous steps: each reset starts a new generation, and a step
    // queued in an older one does nothing.
    quint64 m_generation = 0;
    bool m_resetting = false;
    bool m_retryPending = false;
    int m_dataEndError = 0;
    int m_pauseMs = 500;
    int m_closeGraceMs = 1000;
};

}  // namespace tvx
