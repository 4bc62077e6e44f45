#pragma once

#include <QAction>
#include <QHash>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>

#include "platform/Notifications.h"
#include "platform/Tray.h"
#include "protocol/PeerLink.h"

class QStackedWidget;

namespace tvx {

struct Session;
class AddressBookWindow;
class AutoReceiveTip;
class ChatAcceptWindow;
class ChatInviteWindow;
class OptionsDialog;
class PersonalInfoWindow;
class ReceiverPage;
class PresenceService;
class SendWindow;
class WebWindow;

// "确实要退出Tolvex么？..." lines: one per running activity, in a fixed order.
QString ActivityList(bool sending, bool receiving, bool chatting, bool webPage = false);

// The main window: hidden while the program runs, it owns the notification-area icon with
// its menu, the blinking that announces a waiting offer or invitation, the daily alarm and
// the pop-up tip, and it ends the program.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    explicit MainWindow(Session& session, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The load step; false when the program cannot run (it has then already said why).
    bool Start();

    // The tray icon blinks while an offer or invitation waits (the session's activity says
    // when); stopping puts the still picture back.
    void StartBlink();
    void StopBlink();
    void ShowAutoReceiveTip(const QString& targetPath);

    // Opens the chat-invitation window with the address in its target box; the address book's
    // "发送邀请" calls it.
    using InvitationOpener = std::function<void(const QString& address)>;
    void SetInvitationOpener(InvitationOpener opener) { m_openInvitation = std::move(opener); }

    // The options dialog on its first page, or on the about page; one at a time.
    void OpenOptions(int page);
    // The address book window; one at a time.
    void ShowAddressBook();

    // Raises a desktop notification beside the blinking icon, for an offer or invitation that
    // waits for the user, a file received automatically or a caller turned away for its
    // encryption. Its default action brings the
    // waiting window forward as a click on the icon would (NotifyKind::Invitation: the chat
    // accept window; NotifyKind::WebArrived: the web page's window). Nothing happens where the
    // desktop has no notification service.
    void NotifyWaiting(NotifyKind kind, const QString& summary, const QString& body);

    // Handlers, public so that tests can drive them as the desktop would.
    // A click on the icon brings forward what waits; the right button opens the menu.
    void OnTrayClicked(TrayClick click);
    // One step of the blinking; it stops once nothing waits any more.
    void BlinkTrayIcon();
    // The daily alarm's clock: at the chosen minute it shows the text and opens the file.
    void CheckAlarm();
    void ExitProgram();
    // The steps of "退出(&X)" once answered, without a question: also the end on SIGTERM and
    // SIGINT. Transfers and chats stop (a file under way keeps its temporary file), the
    // network hears the presence goodbye, ProgramEnded follows. Only the first call acts.
    void EndProgram();
    void NotificationActivated(NotifyKind kind);

    QMenu* TrayMenu() { return &m_mnuTray; }
    QAction* MenuEntry(int index) const { return m_mnuItem[index]; }
    AutoReceiveTip* Tip() const;
    ReceiverPage* Receiver() const { return m_receiver; }
    // The copies found on the network; running from the load step until the program ends.
    PresenceService* Presence() const { return m_presence; }
    // The send window, loaded on first use.
    SendWindow* FileSendWindow();
    // The chat window, loaded on first use; the answering chat window, loaded at start.
    ChatInviteWindow* ChatWindow();
    ChatAcceptWindow* AcceptWindow() const { return m_chatAcceptWindow; }
    // The web page's window while the page is served; null when it is not.
    WebWindow* PageWindow() const;
    bool IsBlinking() const { return m_timBlink.isActive(); }
    bool IsAlarmArmed() const { return m_timAlarm.isActive(); }
    OptionsDialog* Options() const;
    AddressBookWindow* AddressBook() const;

signals:
    // The program is to end now.
    void ProgramEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowPersonalInfo();
    void ShowSendWindow();
    void ShowChatWindow();
    void ShowWebWindow();
    void ShowHistoryLog();
    void ShowOptions();
    void ShowAbout();
    void ShowHelp();
    void NotifyOffer(const QString& nickName, const QString& fileName, qint64 length);
    void NotifyAutoReceived(const QString& targetPath);
    // A caller turned away for its encryption (a plain peer, a downgrade, a new certificate).
    void NotifyCallerRejected(LinkRefusal refusal, const QString& address);
    void ArmAlarm(bool on);
    void WithdrawAnswered();
    void StartPresence();

    Session& m_session;
    QMenu m_mnuTray;
    std::array<QAction*, 14> m_mnuItem{};  // entries 1 to 13; 0 unused
    QTimer m_timBlink;
    QTimer m_timAlarm;
    bool m_blinkPhase = false;
    bool m_alarmFired = false;
    bool m_ended = false;
    QStackedWidget* m_pages;
    ReceiverPage* m_receiver;
    PresenceService* m_presence = nullptr;
    QPointer<AutoReceiveTip> m_tip;
    QPointer<PersonalInfoWindow> m_personalInfo;
    QPointer<OptionsDialog> m_options;
    QPointer<AddressBookWindow> m_addressBook;
    QPointer<WebWindow> m_webWindow;
    InvitationOpener m_openInvitation;
    // When each refused-caller notice was last raised, by its text.
    static constexpr qint64 kRejectionNoticeGapMs = 60000;
    QHash<QString, qint64> m_rejectionsTold;
    SendWindow* m_sendWindow = nullptr;
    ChatInviteWindow* m_chatWindow = nullptr;
    ChatAcceptWindow* m_chatAcceptWindow = nullptr;
};

}  // namespace tvx
