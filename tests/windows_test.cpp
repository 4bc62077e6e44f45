#include "common/Windows.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QWidget>

using namespace tvx;

TEST(CenterForm, CentresWithinTheScreenLessItsBars) {
    DisplayMetrics display;
    display.screen.width = 1024;
    display.screen.fullScreenHeight = 720;
    display.screen.captionHeight = 22;
    QWidget form;
    form.resize(400, 300);
    CenterForm(display, &form);
    EXPECT_EQ(form.pos(), QPoint(312, 221));

    // A form larger than the screen is put at the top left corner.
    form.resize(2000, 1000);
    CenterForm(display, &form);
    EXPECT_EQ(form.pos(), QPoint(0, 0));

    // Twips are whole pixels' worth at any factor.
    display.twipsPerPixelX = 12;
    display.twipsPerPixelY = 12;
    form.resize(401, 301);
    CenterForm(display, &form);
    EXPECT_EQ(form.pos(), QPoint(311, 220));
}

TEST(TwipsPerPixel, FromLogicalDpi) {
    EXPECT_EQ(TwipsPerPixel(96), 15);
    EXPECT_EQ(TwipsPerPixel(120), 12);
    EXPECT_EQ(TwipsPerPixel(144), 10);
    EXPECT_EQ(TwipsPerPixel(0), 15);
}

TEST(UnloadWindow, ClearsTheReference) {
    QPointer<QWidget> form = new QWidget;
    QPointer<QWidget> watcher = form;
    UnloadWindow(form);
    EXPECT_TRUE(form.isNull());
    EXPECT_TRUE(watcher.isNull());
    UnloadWindow(form);  // an empty reference does nothing
}

TEST(ActivateWindow, ShowsAndRestores) {
    QWidget form;
    form.showMinimized();
    ActivateWindow(&form);
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.windowState() & Qt::WindowMinimized);
}
