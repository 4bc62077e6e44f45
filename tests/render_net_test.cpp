#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include "platform/Tray.h"
#include "records/PeerInfoWindow.h"
#include "records/PersonalInfoWindow.h"
#include "security/TlsIdentity.h"
#include "session/Session.h"
#include "shell/AutoReceiveTip.h"
#include "shell/MainWindow.h"
#include "startup/AddressChoiceDialog.h"
#include "support/Fakes.h"
#include "support/Loopback.h"

// Renders the windows to PNG files under the build folder, so that their look can be
// checked by eye. The pictures are build output, never committed.
namespace tvx::test {

namespace {

void Render(QWidget& window, const QString& name) {
    const QString folder = QStringLiteral(TOLVEX_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    window.show();
    QImage image = window.grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png")));
}

}  // namespace

TEST(Render, StartUpWindows) {
    FakePlatform fake;
    Session session(fake.platform);
    session.localAddress = QStringLiteral("127.0.0.2");
    session.localAddressCode = QStringLiteral("NVSSWFDSEN");

    AddressChoiceDialog choice(*fake.messageBox,
                               {QStringLiteral("192.168.0.5"), QStringLiteral("10.0.0.1")});
    Render(choice, QStringLiteral("address-choice"));

    DesktopTrayIcon tray;
    tray.Add(QIcon(), QStringLiteral("Tolvex\rIP:192.168.0.5"));
    ASSERT_NE(tray.StandInWindow(), nullptr);
    Render(*tray.StandInWindow(), QStringLiteral("tray-stand-in"));
}

TEST(Render, MainWindowMenuTipAndPersonalInfo) {
    FakePlatform fake;
    Session session(fake.platform);
    session.localAddress = QStringLiteral("127.0.0.2");
    session.localAddressCode = QStringLiteral("NVSSWFDSEN");
    session.personalInfo.nickName = QStringLiteral("小王");
    session.personalInfo.sex = QStringLiteral("1");
    session.personalInfo.otherInfo = QStringLiteral("第一行\r\n第二行");
    session.presencePort = test::PresencePort();

    MainWindow mainWindow(session);
    ASSERT_TRUE(mainWindow.Start());
    Render(mainWindow, QStringLiteral("main-window"));
    mainWindow.TrayMenu()->adjustSize();
    Render(*mainWindow.TrayMenu(), QStringLiteral("tray-menu"));
    mainWindow.TrayMenu()->hide();

    mainWindow.ShowAutoReceiveTip(QStringLiteral("/home/u/收到/报告.doc"));
    Render(*mainWindow.Tip(), QStringLiteral("auto-receive-tip"));

    session.identity = TlsIdentity::CreateTransient();
    PersonalInfoWindow personal(session);
    Render(personal, QStringLiteral("personal-info"));

    PeerInfoWindow peer(session);
    peer.Fill({QStringLiteral("XXEEEXEEEF"), QStringLiteral("小明"), QStringLiteral("2"),
               QStringLiteral("28"), QStringLiteral("010-12345678"),
               QStringLiteral("xm@example.com"), QString(), QStringLiteral("北京"),
               QStringLiteral("你好\r\n再见")});
    peer.ShowFingerprint(session.identity->fingerprint());
    Render(peer, QStringLiteral("peer-info"));
}

}  // namespace tvx::test
