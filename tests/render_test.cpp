#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include "common/Session.h"
#include "shell/RunningWindow.h"
#include "startup/AddressChoiceDialog.h"
#include "support/Fakes.h"

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
    session.localAddress = QStringLiteral("192.168.0.5");
    session.localAddressCode = QStringLiteral("NVSSWFDSEN");

    AddressChoiceDialog choice(*fake.messageBox,
                               {QStringLiteral("192.168.0.5"), QStringLiteral("10.0.0.1")});
    Render(choice, QStringLiteral("address-choice"));

    RunningWindow running(session);
    Render(running, QStringLiteral("running"));
}

}  // namespace tvx::test
