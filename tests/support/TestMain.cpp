#include <gtest/gtest.h>

#include <QApplication>

#include "startup/Language.h"

// Every test runs inside one application object, without a display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The program's own language, as app/main.cpp sets it.
    tvx::UseChineseLanguage(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
