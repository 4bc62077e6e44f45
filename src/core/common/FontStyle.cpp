#include "common/FontStyle.h"

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

}  // namespace tvx
