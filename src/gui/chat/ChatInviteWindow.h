#pragma once

#include <QPointer>
#include <QWidget>
#include <array>

#include "address/AddressPicker.h"
#include "chat/ChatInviter.h"
#include "chat/InviteFailure.h"
#include "common/Messages.h"
#include "common/RetryScheduleBox.h"
#include "records/PeerInfoWindow.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;

namespace tvx {

struct Session;
class ChatPage;
class CodeRow;
class ConnectingPage;

// The chat window ("交流发送"): invites a peer to a chat and then carries the chat. It shows
// the conversation held by a ChatInviter: the input page, the progress of the connection,
// the chat itself and the two refusals. There is one per program; closing it hides it.
class ChatInviteWindow : public QWidget {
    Q_OBJECT

public:
    enum Page {
        PageInput = 1,
        PageProgress = 2,
        PageChat = 3,
        PageRefused = 4,
        PageAutoRefused = 5
    };

    explicit ChatInviteWindow(Session& session, QWidget* parent = nullptr);
    ~ChatInviteWindow() override;

    // Restores the remembered inputs and shows the input page; ShowChatWindow() calls it once.
    void RestoreInputs();
    // Shows the window (loading it the first time), restored and in front. The tray menu's
    // chat entry calls this.
    void ShowChatWindow();
    // The address picker's pick: the address goes into the address box as stored.
    void TakePickedAddress(const QString& address);

    // Handlers, public so that tests can drive them as the user and the clock would.
    // The address book button: the picker of addresses, one at a time.
    void PickAddress();
    void CancelInvitation();
    void SendText();
    // Asks, then leaves the chat and returns to the input page.
    void LeaveChat();
    // The refusal pages' button.
    void BackToInput();
    // The scheduled invitation's clock: at the chosen hour and minute it invites.
    void CheckSchedule();
    void ShowPeerInfo();

    int CurrentPage() const;
    ChatInviter& Inviter() { return *m_inviter; }
    // The peer-info window last opened from this window, while it is open.
    PeerInfoWindow* PeerInfo() const { return m_peerInfo; }
    AddressPicker* Picker() const { return m_picker; }
    bool ScheduleClockRunning() const { return m_retry->clockRunning(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildPages();
    QWidget* BuildInputPage();
    QWidget* BuildRefusalPage(int page, const QString& name);
    void ShowPage(int page);
    void ShowProgressStep(int step);
    void StartInvitation();
    void UpdateScheduleClock();
    QString NoteText() const;
    qint64 Uptime() const;

    void OnStageChanged(ChatInviter::Stage stage);
    void EnterChatPage();
    void OnPeerLeftChat();
    void OnTextReceived(const QString& styledText);
    void OnFailure(const InviteFailure& failure);
    // After a refusal the user may overrule (a known peer's new certificate, a known peer on
    // the plain wire): asks, and on Yes invites again with the user's consent.
    void AskToTrust(LinkRefusal refusal);

    Session& m_session;
    ChatInviter* m_inviter;
    bool m_loaded = false;

    QStackedWidget* m_pages;
    std::array<QWidget*, 6> m_picCSbox{};
    std::array<QLabel*, 3> m_lblCSTip{};
    QLineEdit* m_txtAddress;    // txtCSInfo1
    QPlainTextEdit* m_txtNote;  // txtCSInfo2
    CodeRow* m_code;
    RetryScheduleBox* m_retry;
    std::array<QPushButton*, 4> m_cmdCSDo{};
    std::array<QLabel*, 5> m_lblLinkInfo{};
    ConnectingPage* m_steps;
    ChatPage* m_chat;
    QLabel* m_lblRefuRecv;
    QPlainTextEdit* m_txtRefuRecv;
    QPushButton* m_cmdRufuRecv;
    QLabel* m_lblAutoRefuRecv;
    QPlainTextEdit* m_txtAutoRefuRecv;
    QPushButton* m_cmdAutoRefuRecv;
    QPointer<AddressPicker> m_picker;
    QPointer<PeerInfoWindow> m_peerInfo;
};

}  // namespace tvx
