#include <QApplication>
#include <QScreen>
#include <QStyle>

#include "platform/DesktopPlatform.h"

namespace tvx {

ScreenMetrics QtScreenService::Metrics() {
    ScreenMetrics metrics;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return metrics;
    metrics.width = screen->geometry().width();
    metrics.height = screen->geometry().height();
    int caption = 0;
    if (QApplication::style())
        caption = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    metrics.captionHeight = caption > 0 ? caption : metrics.captionHeight;
    metrics.fullScreenHeight = screen->availableGeometry().height() - metrics.captionHeight;
    metrics.logicalDpiX = screen->logicalDotsPerInchX();
    metrics.logicalDpiY = screen->logicalDotsPerInchY();
    return metrics;
}

}  // namespace tvx
