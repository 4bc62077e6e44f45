#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QWidget>

namespace tvx::test {

// Saves a picture of the window under the build folder so that its look can be checked by eye.
inline void RenderToPng(QWidget& window, const QString& name) {
    const QString folder = QStringLiteral(TOLVEX_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    if (!window.isVisible())
        window.show();
    const QImage image = window.grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png")));
}

}  // namespace tvx::test
