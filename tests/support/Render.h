#pragma once

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QScreen>
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

// Saves a picture of the primary screen with the windows given at their places, the later ones
// over the earlier ones, for checking how windows sit beside each other.
inline bool RenderScreenToPng(const QList<QWidget*>& windows, const QString& name) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return false;
    QImage image(screen->geometry().size(), QImage::Format_RGB32);
    image.fill(QColor(0x3A, 0x6E, 0xA5));
    QPainter painter(&image);
    for (QWidget* window : windows)
        painter.drawImage(window->geometry().topLeft(), window->grab().toImage());
    painter.end();
    const QString folder = QStringLiteral(TOLVEX_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    return image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

}  // namespace tvx::test
