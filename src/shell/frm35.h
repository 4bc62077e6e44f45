#pragma once

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>

class QStackedWidget;

namespace tvx {

struct Session;
class AutoReceiveTip;
class frm60;
class FileReceiver;
class PresenceService;
class frm30;

// "确实要退出Tolvex么？..." lines: one per running activity, in a fixed order.
QString ActivityList(bool sending, bool receiving, bool chatting);

// The main window: hidden while the program runs, it owns the notification-area icon with
// its menu, the blinking that announces a waiting offer or invitation, the daily alarm and
// the pop-up tip, and it ends the program.
class frm35 : public QWidget {
    Q_OBJECT

public:
    explicit frm35(Session& session, QWidget* parent = nullptr);
    ~frm35() override;

    // The load step; false when the program cannot run (it has then already said why).
    bool Form_Load();

    // Asks for the tray icon to blink while an offer or invitation waits.
    void StartBlink();
    void ShowAutoReceiveTip(const QString& targetPath);

    // The window that an icon click brings forward while an invitation waits.
    void SetChatAcceptWindow(QWidget* window) { m_chatAcceptWindow = window; }

    // Handlers, public so that tests can drive them as the desktop would.
    void picTray_MouseMove(int message);
    void mnuTray_Click(int index);
    void timBlink_Timer();
    void timAlarm_Timer();
    void ExitProgram();

    QMenu* TrayMenu() { return &m_mnuTray; }
    QAction* MenuEntry(int index) const { return m_mnuItem[index]; }
    AutoReceiveTip* Tip() const;
    FileReceiver* Receiver() const { return m_receiver; }
    // The copies found on the network; running from the load step until the program ends.
    PresenceService* Presence() const { return m_presence; }
    // The send window, loaded on first use.
    frm30* SendWindow();
    bool IsBlinking() const { return m_timBlink.isActive(); }
    bool IsAlarmArmed() const { return m_timAlarm.isActive(); }

signals:
    // The program is to end now.
    void ProgramEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowPersonalInfo();
    void ShowSendWindow();
    void ShowHelp();
    void StartPresence();

    Session& m_session;
    QMenu m_mnuTray;
    std::array<QAction*, 13> m_mnuItem{};  // entries 1 to 12; 0 unused
    QTimer m_timBlink;
    QTimer m_timAlarm;
    bool m_blinkPhase = false;
    bool m_alarmFired = false;
    QStackedWidget* m_pages;
    FileReceiver* m_receiver;
    PresenceService* m_presence = nullptr;
    QPointer<AutoReceiveTip> m_tip;
    QPointer<frm60> m_personalInfo;
    frm30* m_sendWindow = nullptr;
    QPointer<QWidget> m_chatAcceptWindow;
};

}  // namespace tvx
