#pragma once

#include <QDir>
#include <QImage>
#include <QWidget>

namespace tvx::test {

// Saves a picture of the window under the build folder's screenshots, for checking by eye.
inline bool RenderToPng(QWidget& window, const QString& name) {
    const QString folder = QStringLiteral(TOLVEX_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    const bool wasVisible = window.isVisible();
    window.show();
    const QImage image = window.grab().toImage();
    if (!wasVisible)
        window.hide();
    return !image.isNull() && image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

}  // namespace tvx::test
