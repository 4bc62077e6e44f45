#pragma once

#include <QFile>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <array>
#include <optional>

#include "platform/Socket.h"
#include "protocol/PeerLink.h"
#include "protocol/PeerMessages.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;

namespace tvx {

struct Session;

// The receiving side of file transfers, shown as the pages of the main window. It listens on
// the file control and data ports, admits one sender at a time, puts its offer before the
// user (or accepts it at once into the automatic folder), receives the bytes into target +
// ".tvx" and renames that file when the last byte has arrived. Every end goes through Reset(),
// which listens again; the temporary file stays for a later resume unless the user chose to
// delete it or the transfer completed.
class FileReceiver : public QWidget {
    Q_OBJECT

public:
    enum Page { PageOffer = 1, PageReceiving = 2, PageFinished = 3, PageSenderCancelled = 4 };

    // window is the main window: it is shown, hidden and brought forward for the receiver, and
    // owns its message boxes.
    FileReceiver(Session& session, QWidget* window, QWidget* parent = nullptr);
    ~FileReceiver() override;

    // Listens on 8510 and binds 8511; on failure tells the user and returns false.
    bool StartFileListener();
    // Stops for good, as the program ends.
    void Shutdown();
    void Reset();

    // The main window's close box.
    void HandleCloseBox();

    // Handlers, public so that tests can drive them as the user and the clock would.
    void cmdAccept_Click();
    void cmdRefuse_Click();
    void chkCountDown_Click(bool checked);
    void timCountDown_Timer();
    void timSpeed_Timer();
    void cmdCancel_Click();
    void cmdFinished_Click(int index);  // 1 open file, 2 open folder, 3 OK
    void cmdCancelledOK_Click();
    void lblNickName_Click();

    int CurrentPage() const;
    PeerLink& ControlLink() { return m_link; }
    QString TargetPath() const { return m_targetPath; }
    qint64 Position() const { return m_position; }
    qint64 ReceivedCount() const { return m_receivedCount; }
    int CountDown() const { return m_countDown; }
    bool CountDownRunning() const { return m_timCountDown.isActive(); }
    // Shortens the pause before the finished page (tests).
    void SetCompletionPauseMs(int milliseconds) { m_completionPauseMs = milliseconds; }
    // Text of a labelled control, by object name (tests and screenshots).
    QString TextOf(const QString& objectName) const;
    QWidget* Control(const QString& objectName) const;

signals:
    void BlinkWanted();
    void AutoReceived(const QString& targetPath);
    // An offer now waits for the user (page 1 filled, the count-down running).
    void OfferWaiting(const QString& nickName, const QString& fileName, qint64 length);
    // The listener cannot run; the user has been told and the program is to end.
    void ListenerFailed();

private:
    void BuildPages();
    void ShowPage(int page);

    void OnDataListenerDue();
    void OnControlMessage(char16_t code, const QString& payload);
    void OnPeerClosed();
    void OnLinkSocketError(int number);
    void OnResetDone();
    void OnDataConnectionRequest();
    void OnDataArrival(qint64 bytesAvailable);
    void OnDataClosed();
    void OnDataError(int number);

    void TakeOffer(const QString& payload);
    void ReceiveAutomatically();
    void PutOfferToUser();
    void AcceptWithTarget();
    void ShowReceivingPage();
    void Complete();
    void FinishCompletion();
    void SenderCancelled(const QString& note, bool resetHere);
    void ConnectionFailed(int number);

    bool SendOrFail(const QString& body);
    bool DeleteTempBeforeRestart();
    void RestartFromZero();
    void ResetAndShow(const QString& text, int kind, bool systemModal);
    void WriteHistoryEntry();
    // Ends the transfer with the write-error message, and the reason when there is one.
    void FailWrite(const QString& reason);
    void UpdateProgress();
    QString PeerNickName() const { return m_identity.value(1); }
    qint64 TempFileLength() const;
    void ShowOwnedMessage(const QString& text, int kind, bool systemModal);

    Session& m_session;
    QWidget* m_window;
    PeerLink m_link;  // the control connection, 8510
    Socket m_data;    // the data connection, 8511

    QTimer m_timCountDown;
    QTimer m_timSpeed;

    // Connection and transfer state; Reset() puts it back.
    QStringList m_identity;  // the sender's TVX address and its card
    FileOffer m_offer;       // as offered; the pages and the history show its name
    QString m_saveName;      // the offered name as it may stand in a file name
    QString m_typeName;
    QString m_friendlyTime;
    QString m_targetPath;
    QString m_tempPath;
    QFile m_tempFile;
    QByteArray m_slice;  // reused for every arrival
    qint64 m_position = 0;
    qint64 m_receivedCount = 0;
    qint64 m_startPosition = 0;
    qint64 m_lastSample = 0;
    int m_speedTicks = 0;
    int m_stallTicks = 0;
    qint64 m_startTime = 0;
    int m_countDown = 0;
    bool m_offerReceived = false;
    bool m_accepted = false;
    bool m_automatic = false;
    bool m_cancelledHere = false;
    bool m_deleteOnReset = false;
    bool m_keepWindow = false;
    bool m_autoSaveErrorShown = false;
    bool m_tempErrorShown = false;
    bool m_shuttingDown = false;
    bool m_starting = false;  // StartFileListener is resetting the link
    int m_completionPauseMs = 500;
    int m_progressWidth = 1;

    // What the reset is to show once it has run: a message, or the sender-cancelled page.
    struct Pending {
        QString text;
        int kind = 0;
        bool systemModal = false;
        bool senderCancelledPage = false;
    };
    std::optional<Pending> m_pending;

    QStackedWidget* m_pages = nullptr;
    QLabel* m_lblProgress = nullptr;
    QPlainTextEdit* m_txtRefuseNote = nullptr;
    QPlainTextEdit* m_txtCancelNote = nullptr;
    QCheckBox* m_chkCountDown = nullptr;
    std::array<QCheckBox*, 5> m_chkDelete{};  // on pages 2 and 4
};

}  // namespace tvx
