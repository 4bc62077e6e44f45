#include "common/FontStyle.h"

#include <QTextEdit>

namespace tvx {

QString FontStyleCode(quint32 colorBgr, bool bold, bool italic, bool underline, double pointSize) {
    QString code =
        QString::number(colorBgr & 0xFFFFFF, 16).toUpper().leftJustified(6, QLatin1Char(' '));
    code += bold ? QLatin1Char('1') : QLatin1Char('0');
    code += italic ? QLatin1Char('1') : QLatin1Char('0');
    code += underline ? QLatin1Char('1') : QLatin1Char('0');
    code += QString::number(pointSize, 'g', 15).leftJustified(2, QLatin1Char(' '), true);
    return code;
}

QString FontStyleCode(const QTextEdit* textBox) {
    const QColor color = textBox->textColor();
    const quint32 bgr =
        quint32(color.red()) | (quint32(color.green()) << 8) | (quint32(color.blue()) << 16);
    const QFont font = textBox->currentFont();
    double size = font.pointSizeF() > 0 ? font.pointSizeF() : 9;
    return FontStyleCode(bgr, font.bold(), font.italic(), font.underline(), size);
}

}  // namespace tvx
