#include "shell/TrayPictures.h"

#include <QPainter>
#include <QPixmap>

namespace tvx {

QIcon TrayPicture(int which) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // The blink phase keeps the shape but fades, so the icon visibly pulses in place.
    const QColor fill = which == 2 ? QColor(0xFF, 0x80, 0x00) : QColor(0x00, 0x80, 0xFF);
    painter.setBrush(fill);
    painter.setPen(QPen(fill.darker(140), 1.5));
    painter.drawRoundedRect(QRectF(2, 2, 28, 28), 6, 6);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(20);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("T"));
    painter.end();
    return QIcon(pixmap);
}

}  // namespace tvx
