#include <gtest/gtest.h>

#include <QApplication>

#include "startup/Language.h"
#include "support/Loopback.h"

// Every test runs inside one application object, without a display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The programs a test starts use the test's presence port too.
    qputenv("TOLVEX_PRESENCE_PORT", QByteArray::number(tvx::test::PresencePort()));
    QApplication app(argc, argv);
    // The program's own language, as app/main.cpp sets it.
    tvx::UseChineseLanguage(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
