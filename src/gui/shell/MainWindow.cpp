#include "shell/MainWindow.h"

#include <QCloseEvent>
#include <QCursor>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "chat/ChatAcceptWindow.h"
#include "chat/ChatInviteWindow.h"
#include "chat/ChatResponder.h"
#include "common/Format.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/ShellRoutines.h"
#include "common/Windows.h"
#include "presence/PresenceService.h"
#include "protocol/Codes.h"
#include "records/AddressBookWindow.h"
#include "records/AddressFiles.h"
#include "records/HistoryLog.h"
#include "records/OptionsDialog.h"
#include "records/PersonalInfoWindow.h"
#include "session/Session.h"
#include "shell/AutoReceiveTip.h"
#include "shell/TrayPictures.h"
#include "texts/BatchTexts.h"
#include "texts/SecurityTexts.h"
#include "transfer/ReceiverPage.h"
#include "transfer/SendWindow.h"
#include "web/WebWindow.h"

namespace tvx {

QString ActivityList(bool sending, bool receiving, bool chatting, bool webPage) {
    const QString prefix = QStringLiteral("    >> 正在");
    QString list;
    if (sending)
        list += prefix + QStringLiteral("发送文件...") + QStringLiteral("\r\n");
    if (receiving)
        list += prefix + QStringLiteral("接收文件...") + QStringLiteral("\r\n");
    if (chatting)
        list += prefix + QStringLiteral("文字交流...") + QStringLiteral("\r\n");
    if (webPage)
        list += prefix + QStringLiteral("网页传输...") + QStringLiteral("\r\n");
    return list;
}

MainWindow::MainWindow(Session& session, QWidget* parent)
    : QWidget(parent),
      m_session(session),
      m_pages(new QStackedWidget(this)),
      m_receiver(new ReceiverPage(session, this)) {
    setObjectName(QStringLiteral("MainWindow"));
    m_pages->addWidget(m_receiver);
    connect(m_receiver, &ReceiverPage::AutoReceived, this, &MainWindow::ShowAutoReceiveTip);
    connect(m_receiver, &ReceiverPage::OfferWaiting, this, &MainWindow::NotifyOffer);
    connect(
        m_receiver, &ReceiverPage::BatchOfferWaiting, this, [this](const BatchSummary& summary) {
            NotifyWaiting(NotifyKind::Offer, QStringLiteral("收到文件"), BatchOfferNotice(summary));
        });
    connect(m_receiver, &ReceiverPage::AutoReceived, this, &MainWindow::NotifyAutoReceived);
    connect(&m_receiver->Engine(), &FileReceiveEngine::CallerRejected, this,
            &MainWindow::NotifyCallerRejected);
    connect(&m_session.notifications(), &NotificationService::Activated, this,
            &MainWindow::NotificationActivated);
    // The address book's "发送邀请" fills the chat window's address box and shows it.
    m_openInvitation = [this](const QString& address) { ChatWindow()->TakePickedAddress(address); };
    m_mnuTray.setObjectName(QStringLiteral("mnuTray"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);

    m_timBlink.setInterval(300);
    connect(&m_timBlink, &QTimer::timeout, this, &MainWindow::BlinkTrayIcon);
    m_timAlarm.setInterval(1000);
    connect(&m_timAlarm, &QTimer::timeout, this, &MainWindow::CheckAlarm);
    connect(&m_session.tray(), &TrayIcon::Clicked, this, &MainWindow::OnTrayClicked);
    connect(&m_session.tray(), &TrayIcon::CloseRequested, this, &MainWindow::ExitProgram);
    // The icon blinks while an offer or invitation waits; what no longer waits is no longer
    // announced on the desktop either.
    connect(&m_session.activity, &Activity::WaitingChanged, this, [this](bool waiting) {
        if (waiting) {
            StartBlink();
        } else {
            StopBlink();
        }
    });
    connect(&m_session.activity, &Activity::Changed, this, &MainWindow::WithdrawAnswered);
}

MainWindow::~MainWindow() {
    // The windows closed below end their work; this window no longer follows it.
    m_session.activity.disconnect(this);
    if (m_presence) {
        m_presence->Stop();
        m_session.presence = nullptr;
    }
    m_receiver->Shutdown();
    delete m_chatWindow;
    delete m_chatAcceptWindow;
    delete m_sendWindow;
    delete m_tip.data();
    delete m_personalInfo.data();
    delete m_options.data();
    delete m_addressBook.data();
    delete m_webWindow.data();
}

bool MainWindow::Start() {
    LoadBlockList(m_session, this);

    // Menu entries; 3, 7 and 11 are separators.
    struct MenuEntry {
        const char16_t* caption;
        void (MainWindow::*action)();
    };
    const MenuEntry entries[13] = {{nullptr, nullptr},
                                   {u"文件发送(&F)", &MainWindow::ShowSendWindow},
                                   {u"文字交流(&T)", &MainWindow::ShowChatWindow},
                                   {nullptr, nullptr},
                                   {u"个人信息(&P)", &MainWindow::ShowPersonalInfo},
                                   {u"联系列表(&L)", &MainWindow::ShowAddressBook},
                                   {u"历史记录(&S)", &MainWindow::ShowHistoryLog},
                                   {nullptr, nullptr},
                                   {u"选项(&O)...", &MainWindow::ShowOptions},
                                   {u"帮助(&H)...", &MainWindow::ShowHelp},
                                   {u"关于(&A)...", &MainWindow::ShowAbout},
                                   {nullptr, nullptr},
                                   {u"退出(&X)", &MainWindow::ExitProgram}};
    for (int index = 1; index <= 12; ++index) {
        const MenuEntry& item = entries[index];
        QAction* entry = item.caption ? m_mnuTray.addAction(QString::fromUtf16(item.caption))
                                      : m_mnuTray.addSeparator();
        entry->setObjectName(QStringLiteral("mnuItem%1").arg(index));
        if (item.action)
            connect(entry, &QAction::triggered, this, item.action);
        m_mnuItem[index] = entry;
    }
    // Entry 13 came later: it sits after the chat entry, and the others keep their numbers.
    auto* web = new QAction(QStringLiteral("网页传输(&W)..."), &m_mnuTray);
    web->setObjectName(QStringLiteral("mnuItem13"));
    m_mnuTray.insertAction(m_mnuItem[3], web);
    connect(web, &QAction::triggered, this, &MainWindow::ShowWebWindow);
    m_mnuItem[13] = web;

    const QString tip = (QStringLiteral("Tolvex") + QStringLiteral("\r") + QStringLiteral("IP:") +
                         m_session.localAddress)
                            .left(64);
    m_session.tray().Add(TrayPicture(1), tip);

    setWindowTitle(QStringLiteral("文件接收"));
    resize(m_session.display.PixelsX(6030), m_session.display.PixelsY(7230));

    LoadMainSettings(m_session.store(), m_session.settings);
    if (m_session.settings.useTimer)
        m_timAlarm.start();

    CenterForm(m_session.display, this);

    if (!m_receiver->StartFileListener()) {
        // The user has been told why; nothing can run without the listener.
        m_session.tray().Remove();
        emit ProgramEnded();
        return false;
    }

    // The answering chat window listens from now on; without it the program cannot run.
    m_chatAcceptWindow = new ChatAcceptWindow(m_session);
    connect(m_chatAcceptWindow, &ChatAcceptWindow::InvitationWaiting, this,
            [this](const QString& nickName) {
                NotifyWaiting(NotifyKind::Invitation, QStringLiteral("收到文字交流邀请"),
                              nickName + QStringLiteral(" 邀请你文字交流"));
            });
    if (!m_chatAcceptWindow->StartListening(this)) {
        EndProgram();
        return false;
    }
    connect(m_chatAcceptWindow, &ChatAcceptWindow::ListenerFailed, this, &MainWindow::EndProgram);
    connect(&m_chatAcceptWindow->Responder(), &ChatResponder::CallerRejected, this,
            &MainWindow::NotifyCallerRejected);
    StartPresence();
    return true;
}

void MainWindow::StartPresence() {
    PresenceConfig config;
    config.localAddress = m_session.localAddress;
    config.destinations = m_session.presenceDestinations;
    config.port = m_session.presencePort;
    config.peerPort = m_session.presencePort;
    config.hearBroadcasts = !IsLoopbackAddress(m_session.localAddress);
    // The card and the setting are read at each sending, so changes show at the next one.
    m_presence = new PresenceService(
        config,
        [this] {
            PresenceIdentity self;
            self.addressCode = m_session.localAddressCode;
            self.nickName = m_session.personalInfo.nickName;
            self.discoverable = m_session.settings.discoverable;
            self.ports = {kFileControlPort, kFileDataPort, kChatPort};
            return self;
        },
        this);
    m_session.presence = m_presence;
    // Not on a loopback address: the daemon would show such a copy (a test's, a benchmark's)
    // on the machine's networks, under an address it does not serve.
    if (!IsLoopbackAddress(m_session.localAddress))
        m_presence->UseServiceDiscovery(m_session.platform.discovery.get());
    // Without its port the program still sends and receives; it is only not found.
    m_presence->Start();
}

void MainWindow::OnTrayClicked(TrayClick click) {
    switch (click) {
        case TrayClick::Left:
        case TrayClick::Double:
            if (m_session.activity.offerWaiting()) {
                ActivateWindow(this);
                m_receiver->Engine().OfferSeen();
            }
            if (m_session.activity.invitationWaiting() && m_chatAcceptWindow) {
                ActivateWindow(m_chatAcceptWindow);
                m_chatAcceptWindow->Responder().InvitationSeen();
            }
            break;
        case TrayClick::Right:
            m_mnuTray.popup(QCursor::pos());
            break;
    }
}

void MainWindow::ShowHistoryLog() {
    ViewHistoryLog(m_session, this);
}

void MainWindow::ShowOptions() {
    OpenOptions(PageGeneral);
}

void MainWindow::ShowAbout() {
    OpenOptions(PageAbout);
}

SendWindow* MainWindow::FileSendWindow() {
    if (!m_sendWindow)
        m_sendWindow = new SendWindow(m_session);
    return m_sendWindow;
}

void MainWindow::ShowSendWindow() {
    FileSendWindow()->ShowSendWindow();
}

ChatInviteWindow* MainWindow::ChatWindow() {
    if (!m_chatWindow)
        m_chatWindow = new ChatInviteWindow(m_session);
    return m_chatWindow;
}

void MainWindow::ShowChatWindow() {
    ChatWindow()->ShowChatWindow();
}

void MainWindow::ShowWebWindow() {
    if (m_webWindow && m_webWindow->Serving()) {
        BringForward(m_webWindow);
        return;
    }
    // Each opening is a new page with a new code; the window ends it when it closes.
    auto* window = new WebWindow(m_session);
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (window->Open())
        m_webWindow = window;
}

WebWindow* MainWindow::PageWindow() const {
    return m_webWindow && m_webWindow->Serving() ? m_webWindow.data() : nullptr;
}

void MainWindow::ShowPersonalInfo() {
    if (!m_personalInfo) {
        m_personalInfo = new PersonalInfoWindow(m_session);
        m_personalInfo->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_personalInfo->show();
    m_personalInfo->raise();
    m_personalInfo->activateWindow();
}

void MainWindow::OpenOptions(int page) {
    // A dialog that has closed is only waiting to be deleted.
    if (!m_options || !m_options->isVisible()) {
        m_options = new OptionsDialog(m_session, page);
        connect(m_options, &OptionsDialog::AlarmSwitched, this, &MainWindow::ArmAlarm);
    } else if (page == PageAbout) {
        // The open dialog moves to the about page as a click on its tab would.
        m_options->SwitchToPage(PageAbout);
    }
    m_options->show();
    m_options->raise();
    m_options->activateWindow();
}

OptionsDialog* MainWindow::Options() const {
    return m_options.data();
}

AddressBookWindow* MainWindow::AddressBook() const {
    return m_addressBook.data();
}

void MainWindow::ArmAlarm(bool on) {
    if (on && !m_timAlarm.isActive())
        m_timAlarm.start();
    if (!on)
        m_timAlarm.stop();
}

void MainWindow::ShowAddressBook() {
    if (!m_addressBook || !m_addressBook->isVisible()) {
        m_addressBook = new AddressBookWindow(m_session);
        connect(m_addressBook, &AddressBookWindow::SendFileRequested, this,
                [this](const QString& address) { FileSendWindow()->TakePickedAddress(address); });
        connect(m_addressBook, &AddressBookWindow::InvitationRequested, this,
                [this](const QString& address) {
                    if (m_openInvitation)
                        m_openInvitation(address);
                });
        m_addressBook->LoadEntries();
    }
    m_addressBook->show();
    m_addressBook->raise();
    m_addressBook->activateWindow();
}

void MainWindow::ShowHelp() {
    OpenHelpPage(m_session, this);
}

void MainWindow::NotifyWaiting(NotifyKind kind, const QString& summary, const QString& body) {
    m_session.notifications().Notify(kind, summary, body);
}

void MainWindow::NotifyOffer(const QString& nickName, const QString& fileName, qint64 length) {
    NotifyWaiting(NotifyKind::Offer, QStringLiteral("收到文件"),
                  nickName + QStringLiteral(" 发来文件 ") + fileName + QStringLiteral(" (") +
                      FormatSize(qint32(length)) + QStringLiteral(")"));
}

void MainWindow::NotifyAutoReceived(const QString& targetPath) {
    NotifyWaiting(NotifyKind::AutoReceived, QStringLiteral("已自动接收文件"),
                  FileNameOf(targetPath) + QStringLiteral(" 已保存到 ") + FolderOf(targetPath));
}

void MainWindow::NotifyCallerRejected(LinkRefusal refusal, const QString& address) {
    // Each caller and reason at most once a minute: whoever keeps calling cannot flood the
    // desktop with notices.
    const QString text = CallerRejectedText(refusal, address);
    const qint64 now = m_session.system().UptimeMs();
    const auto told = m_rejectionsTold.constFind(text);
    if (told != m_rejectionsTold.cend() && now - *told < kRejectionNoticeGapMs)
        return;
    if (m_rejectionsTold.size() >= 256)
        m_rejectionsTold.clear();
    m_rejectionsTold.insert(text, now);
    NotifyWaiting(NotifyKind::CallerRejected, CallerRejectedSummary(), text);
}

void MainWindow::NotificationActivated(NotifyKind kind) {
    switch (kind) {
        case NotifyKind::Offer:
            // As a click on the icon, and again while the offer stands once it has been shown.
            if (m_session.activity.offerWaiting() || isVisible()) {
                ActivateWindow(this);
                m_receiver->Engine().OfferSeen();
            }
            break;
        case NotifyKind::Invitation:
            if (m_chatAcceptWindow &&
                (m_session.activity.invitationWaiting() || m_chatAcceptWindow->isVisible())) {
                ActivateWindow(m_chatAcceptWindow);
                m_chatAcceptWindow->Responder().InvitationSeen();
            }
            break;
        case NotifyKind::AutoReceived:
            if (m_tip) {
                m_tip->show();
                m_tip->raise();
            }
            break;
        case NotifyKind::WebArrived:
            if (m_webWindow && m_webWindow->Serving())
                ActivateWindow(m_webWindow);
            break;
        case NotifyKind::CallerRejected:
            break;
    }
}

void MainWindow::StartBlink() {
    if (!m_timBlink.isActive())
        m_timBlink.start();
}

void MainWindow::StopBlink() {
    if (!m_timBlink.isActive())
        return;
    m_timBlink.stop();
    m_session.tray().Modify(TrayPicture(1));
}

void MainWindow::BlinkTrayIcon() {
    if (!m_session.activity.waiting()) {
        StopBlink();
        return;
    }
    m_session.tray().Modify(TrayPicture(m_blinkPhase ? 1 : 2));
    m_blinkPhase = !m_blinkPhase;
}

void MainWindow::WithdrawAnswered() {
    if (!m_session.activity.offerWaiting())
        m_session.notifications().Withdraw(NotifyKind::Offer);
    if (!m_session.activity.invitationWaiting())
        m_session.notifications().Withdraw(NotifyKind::Invitation);
}

void MainWindow::CheckAlarm() {
    const SettingsRecord& settings = m_session.settings;
    const QTime now = m_session.system().Now().time();
    if (now.hour() != settings.hour || now.minute() != settings.minute) {
        m_alarmFired = false;
        return;
    }
    if (m_alarmFired)
        return;
    // Set before the box opens, so that ticks while it is open do not fire again.
    m_alarmFired = true;
    if (settings.popText)
        ShowMessage(m_session.messageBox(), this, settings.popTextString, MessageKind::Product,
                    true);
    if (settings.timerOpen && FileExists(settings.exeFilePath))
        OpenFileChecked(m_session.shell(), m_session.messageBox(), this, settings.exeFilePath);
}

void MainWindow::ShowAutoReceiveTip(const QString& targetPath) {
    if (!m_tip)
        m_tip = new AutoReceiveTip(m_session);
    m_tip->Show(targetPath);
}

AutoReceiveTip* MainWindow::Tip() const {
    return m_tip.data();
}

void MainWindow::ExitProgram() {
    const Activity& activity = m_session.activity;
    // The web page counts too: ending the program ends it, and a phone's upload with it.
    const QString list = ActivityList(activity.sendWindowSending(), activity.mainWindowReceiving(),
                                      activity.chatting(), PageWindow() != nullptr);
    if (!list.isEmpty()) {
        const QString question = QStringLiteral("确实要退出") + QStringLiteral("Tolvex") +
                                 QStringLiteral("么？") + QStringLiteral("当前正在进行的事件:") +
                                 QStringLiteral("\r\n\r\n") + list;
        if (ShowMessage(m_session.messageBox(), this, question, MessageKind::Ask, false) ==
            MessageAnswer::No)
            return;
    }
    EndProgram();
}

void MainWindow::EndProgram() {
    // A signal may come while the exit question is open; the program ends once.
    if (m_ended)
        return;
    m_ended = true;
    // Transfers and chats end at once, without a word to their peers; the network hears the
    // presence goodbye.
    if (m_presence)
        m_presence->Stop();
    m_receiver->Shutdown();
    if (m_chatAcceptWindow)
        m_chatAcceptWindow->Shutdown();
    if (m_webWindow)
        m_webWindow->close();
    m_session.tray().Remove();
    emit ProgramEnded();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The main window is only ever hidden; the program ends from the menu.
    event->ignore();
    m_receiver->HandleCloseBox();
}

}  // namespace tvx
