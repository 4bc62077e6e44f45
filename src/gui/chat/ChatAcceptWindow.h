#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>

#include "common/Messages.h"
#include "platform/SocketErrors.h"
#include "records/PeerInfoWindow.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;

namespace tvx {

struct Session;
class ChatResponder;
class ChatPage;

// The answering chat window ("交流接收"): shows an invitation that a ChatResponder has
// received, with the caller's card and the count-down to the automatic refusal, and then the
// chat. The main window creates it at start; it stays hidden until the user asks for it, a
// chat is accepted automatically, or a chat has been held in it.
class ChatAcceptWindow : public QWidget {
    Q_OBJECT

public:
    enum Page { PageInvitation = 1, PageChat = 2 };

    explicit ChatAcceptWindow(Session& session, QWidget* parent = nullptr);
    ~ChatAcceptWindow() override;

    // Reads the chat settings and starts listening; false (after the message, owned by
    // owner) when the chat port cannot be had.
    bool StartListening(QWidget* owner);
    // Stops for good, as the program ends.
    void Shutdown();

    // Handlers, public so that tests can drive them as the user and the clock would.
    void AcceptInvitation();
    void RefuseInvitation();
    // The automatic refusal's count-down runs while its box is ticked.
    void SwitchAutoRefusal();
    void SendText();
    // Asks, then leaves the chat and hides the window.
    void LeaveChat();
    // Flashes the window until the user brings it to the front.
    void FlashUntilSeen();
    void ShowPeerInfo();

    int CurrentPage() const;
    ChatResponder& Responder() { return *m_responder; }
    // The peer-info window last opened from this window, while it is open.
    PeerInfoWindow* PeerInfo() const { return m_peerInfo; }
    bool Flashing() const { return m_timCRFlash.isActive(); }

signals:
    // An invitation waits for the user: the inviter's nickname, for the desktop notification.
    void InvitationWaiting(const QString& nickName);
    // The chat port cannot be had; the user has been told and the program is to end.
    void ListenerFailed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildPages();
    QWidget* BuildInvitationPage();
    void ShowPage(int page);
    void OnInvitationReceived(const QString& text, const QString& timestamp);
    void OnChatEntered(bool automatically, const QString& timestamp);
    void OnTextReceived(const QString& styledText);
    void OnPeerLeftChat();
    void OnResetDone(bool keepWindow);
    void OnListenerFailed(SocketError error);

    Session& m_session;
    ChatResponder* m_responder;
    QWidget* m_owner = nullptr;

    QStackedWidget* m_pages;
    std::array<QWidget*, 3> m_picCRbox{};
    std::array<QLabel*, 3> m_lblCRTip{};
    QLabel* m_lblDesc0;
    QLabel* m_lblCRSecurity;
    std::array<QLineEdit*, 6> m_txtCRInfo{};  // 2 to 5; 6 and 7 are the note boxes
    QPlainTextEdit* m_txtInvitation;          // txtCRInfo6
    QPlainTextEdit* m_txtRefusal;             // txtCRInfo7
    QCheckBox* m_chkAutoNo;
    std::array<QPushButton*, 3> m_cmdRecvQuery{};
    ChatPage* m_chat;
    QPointer<PeerInfoWindow> m_peerInfo;

    QTimer m_timCRFlash;
};

}  // namespace tvx
