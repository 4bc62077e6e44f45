#include "common/Format.h"

#include "common/Text.h"

namespace tvx {

namespace {

// value / unit with one decimal, rounded half away from zero (value is positive).
QString OneDecimal(qint64 value, qint64 unit) {
    qint64 tenths = (value * 10 + unit / 2) / unit;
    return QString::number(tenths / 10) + QLatin1Char('.') + QString::number(tenths % 10);
}

}  // namespace

QString FormatSize(qint32 bytes) {
    if (bytes <= 0)
        return QStringLiteral("0 字节");
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" 字节");
    if (bytes < 1048576)
        return QString::number(bytes / 1024) + QStringLiteral(" KB");
    if (bytes < 1073741824)
        return OneDecimal(bytes, 1048576) + QStringLiteral(" MB");
    return OneDecimal(bytes, 1073741824) + QStringLiteral(" GB");
}

QString GroupThousands(qint64 value) {
    QString digits = QString::number(value < 0 ? -value : value);
    for (int i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

QString FormatSizeWithBytes(qint32 bytes) {
    QString text = FormatSize(bytes);
    if (bytes >= 1024)
        text += QStringLiteral(" (") + GroupThousands(bytes) + QStringLiteral(" 字节)");
    return text;
}

QString FormatDuration(qint32 seconds) {
    if (seconds <= 0)
        return QStringLiteral("0 秒");
    int h = seconds / 3600;
    int m = (seconds % 3600) / 60;
    int s = seconds % 60;
    QString hours = h > 0 ? QString::number(h) + QStringLiteral(" 时 ") : QString();
    QString minutes;
    if (m > 0)
        minutes = QString::number(m) + QStringLiteral(" 分 ");
    else if (!hours.isEmpty())
        minutes = QStringLiteral("0 分 ");
    return hours + minutes + QString::number(s) + QStringLiteral(" 秒");
}

QString FormatClock(qint32 seconds) {
    if (seconds <= 0)
        return QStringLiteral("00:00:00");
    int h = seconds / 3600;
    int m = (seconds % 3600) / 60;
    int s = seconds % 60;
    return PadTwo(QString::number(h)) + QLatin1Char(':') + PadTwo(QString::number(m)) +
           QLatin1Char(':') + PadTwo(QString::number(s));
}

QString ChatTimestamp(const QDateTime& now) {
    const QDate date = now.date();
    const QTime time = now.time();
    return QString::number(date.month()) + QStringLiteral("月") + QString::number(date.day()) +
           QStringLiteral("日 ") + QString::number(time.hour()) + QLatin1Char(':') +
           PadTwo(QString::number(time.minute())) + QLatin1Char(':') +
           PadTwo(QString::number(time.second()));
}

QString NoteBlock(const QString& note) {
    QString shown = TrimSpaces(note).isEmpty() ? QStringLiteral("(无)") : note;
    return QStringLiteral("\r\n\r\n附言:") + shown;
}

qint64 UptimeSeconds(qint64 uptimeMs) {
    return uptimeMs / 1000;
}

}  // namespace tvx
