// Desktop notifications against a stand-in org.freedesktop.Notifications on the private session
// bus that dbus-run-session gives this test.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QUrl>
#include <QVariantMap>

#include "chat/ChatAcceptWindow.h"
#include "platform/DBusNotifications.h"
#include "session/Session.h"
#include "shell/AutoReceiveTip.h"
#include "shell/MainWindow.h"
#include "support/Fakes.h"
#include "support/Loopback.h"
#include "transfer/ReceiverPage.h"

namespace {

// The desktop's notification service, as far as the program uses it.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Note {
        QString app;
        QString icon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };

    explicit FakeNotificationServer(const QString& connectionName)
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)) {}
    ~FakeNotificationServer() override {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::disconnectFromBus(m_bus.name());
    }
    bool Register() {
        return m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                    QDBusConnection::ExportAllSlots) &&
               m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    // The user clicks notification `id` (1-based, in the order they came).
    void Click(uint id) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
        signal << id << QStringLiteral("default");
        m_bus.send(signal);
    }

    QList<Note> notes;
    QList<uint> closed;

public slots:
    uint Notify(const QString& app, uint /*replaces*/, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int /*timeout*/) {
        notes.append({app, icon, summary, body, actions, hints});
        return uint(notes.size());
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    void CloseNotification(uint id) { closed.append(id); }

private:
    QDBusConnection m_bus;
};

using namespace tvx;

// A main window whose notifications go to the session bus; nothing listens on the network.
struct BusRig {
    BusRig() {
        fake.platform.notifications = std::make_unique<DBusNotificationService>();
        session.localAddress = QStringLiteral("127.0.0.2");
        session.appFolder = folder.path() + QLatin1Char('/');
        session.localAddressCode = QStringLiteral("NVSSWFDSEN");
        session.presencePort = test::PresencePort();
        window = std::make_unique<MainWindow>(session);
    }
    // Loads the main window and with it the answering chat window (listening on 127.0.0.2).
    bool Load() { return window->Start(); }
    QTemporaryDir folder;
    test::FakePlatform fake;
    Session session{fake.platform};
    std::unique_ptr<MainWindow> window;
};

}  // namespace

TEST(Notifications, WithoutAServiceNothingIsSentAndNothingFails) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    BusRig rig;
    rig.session.activity.SetOfferWaiting(true);
    emit rig.window->Receiver()->OfferWaiting(QStringLiteral("小明"), QStringLiteral("a.txt"), 10);
    EXPECT_FALSE(rig.session.notifications().Notify(NotifyKind::Invitation, QStringLiteral("x"),
                                                    QStringLiteral("y")));
    QTest::qWait(200);
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_TRUE(rig.session.activity.offerWaiting());

    // A service that appears later is used from then on.
    FakeNotificationServer server(QStringLiteral("late"));
    ASSERT_TRUE(server.Register());
    rig.window->NotifyWaiting(NotifyKind::Invitation, QStringLiteral("x"), QStringLiteral("y"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.notes.size() == 1; }, 5000));
}

TEST(Notifications, EachWaitingEventNotifiesOnceAndItsActionBringsItsWindowForward) {
    FakeNotificationServer server(QStringLiteral("server"));
    ASSERT_TRUE(server.Register());
    BusRig rig;
    ASSERT_TRUE(rig.Load());
    QWidget& chatAcceptWindow = *rig.window->AcceptWindow();

    // A file offer that waits for the user.
    rig.session.activity.SetOfferWaiting(true);
    emit rig.window->Receiver()->OfferWaiting(QStringLiteral("小明"), QStringLiteral("报告.docx"),
                                              5 * 1048576);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.notes.size() == 1; }, 5000));
    const FakeNotificationServer::Note& offer = server.notes[0];
    EXPECT_EQ(offer.app, QStringLiteral("Tolvex"));
    EXPECT_EQ(offer.icon, QStringLiteral("tolvex"));
    EXPECT_EQ(offer.summary, QStringLiteral("收到文件"));
    EXPECT_EQ(offer.body, QStringLiteral("小明 发来文件 报告.docx (5.0 MB)"));
    EXPECT_EQ(offer.actions.value(0), QStringLiteral("default"));
    EXPECT_EQ(offer.hints.value(QStringLiteral("desktop-entry")).toString(),
              QStringLiteral("org.kestrane.Tolvex"));
    EXPECT_FALSE(rig.window->isVisible());
    server.Click(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.window->isVisible(); }, 5000));
    EXPECT_FALSE(rig.session.activity.offerWaiting());
    EXPECT_FALSE(chatAcceptWindow.isVisible());
    rig.window->hide();
    // The next blink tick sees the offer answered and takes its notification back.
    rig.window->BlinkTrayIcon();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.closed == QList<uint>{1}; }, 5000));

    // A chat invitation, raised by the chat window through the main window.
    rig.session.activity.SetInvitationWaiting(true);
    rig.window->NotifyWaiting(NotifyKind::Invitation, QStringLiteral("收到文字交流邀请"),
                              QStringLiteral("小明 邀请你文字交流"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.notes.size() == 2; }, 5000));
    EXPECT_EQ(server.notes[1].summary, QStringLiteral("收到文字交流邀请"));
    EXPECT_EQ(server.notes[1].body, QStringLiteral("小明 邀请你文字交流"));
    server.Click(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return chatAcceptWindow.isVisible(); }, 5000));
    EXPECT_FALSE(rig.session.activity.invitationWaiting());
    EXPECT_FALSE(rig.window->isVisible());

    // A file received automatically: the pop-up tip comes and the notification with it.
    emit rig.window->Receiver()->AutoReceived(QStringLiteral("/home/u/下载/a.txt"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.notes.size() == 3; }, 5000));
    EXPECT_EQ(server.notes[2].summary, QStringLiteral("已自动接收文件"));
    EXPECT_EQ(server.notes[2].body, QStringLiteral("a.txt 已保存到 /home/u/下载/"));
    ASSERT_NE(rig.window->Tip(), nullptr);
    rig.window->Tip()->hide();
    server.Click(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.window->Tip()->isVisible(); }, 5000));
    EXPECT_FALSE(rig.window->isVisible());

    // A click on something that is not ours changes nothing; nothing more was sent.
    server.Click(99);
    QTest::qWait(200);
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_EQ(server.notes.size(), 3);
}

TEST(Notifications, CarryTheProgramsIconInstalledAndFromTheBuildFolder) {
    FakeNotificationServer server(QStringLiteral("icon"));
    ASSERT_TRUE(server.Register());
    QTemporaryDir root;
    const QString icon = QStringLiteral("/share/icons/hicolor/128x128/apps/tolvex.png");
    for (const QString& prefix : {QStringLiteral("/usr"), QStringLiteral("/build")}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(root.path() + prefix + icon).path()));
        QFile file(root.path() + prefix + icon);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString installedIcon = QUrl::fromLocalFile(root.path() + "/usr" + icon).toString();
    const QString buildIcon = QUrl::fromLocalFile(root.path() + "/build" + icon).toString();
    // Installed: the theme's name, and the file for services that do not search the theme.
    // From the build folder: the file both ways. Neither: the name alone.
    const struct {
        QString program, appIcon, imagePath;
    } cases[] = {{root.path() + "/usr/bin/tolvex", QStringLiteral("tolvex"), installedIcon},
                 {root.path() + "/build/tolvex", buildIcon, buildIcon},
                 {root.path() + "/elsewhere/tolvex", QStringLiteral("tolvex"), QString()}};
    for (const auto& each : cases) {
        DBusNotificationService service(each.program);
        const int before = server.notes.size();
        ASSERT_TRUE(service.Notify(NotifyKind::Offer, QStringLiteral("s"), QStringLiteral("b")));
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.notes.size() == before + 1; }, 5000));
        EXPECT_EQ(server.notes.last().icon, each.appIcon) << qPrintable(each.program);
        EXPECT_EQ(server.notes.last().hints.value(QStringLiteral("image-path")).toString(),
                  each.imagePath)
            << qPrintable(each.program);
    }
}

#include "notifications_bus.moc"
