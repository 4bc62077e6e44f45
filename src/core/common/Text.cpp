#include "common/Text.h"

#include <cmath>
#include <limits>

namespace tvx {

QString TrimSpaces(const QString& text) {
    int begin = 0;
    int end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

QString CutAtNul(const QString& text) {
    int nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

QString TrimLines(const QString& text) {
    const QString lineBreak = QStringLiteral("\r\n");
    QString result = TrimSpaces(text);
    while (result.startsWith(lineBreak))
        result = TrimSpaces(result.mid(2));
    while (result.endsWith(lineBreak))
        result = TrimSpaces(result.left(result.size() - 2));
    return result;
}

QString ToWireText(const QString& boxText) {
    return QString(boxText).replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

QString FromWireText(const QString& wireText) {
    return QString(wireText).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString PadTwo(const QString& text) {
    return text.size() == 1 ? QLatin1Char('0') + text : text;
}

double LenientNumber(const QString& text) {
    int i = 0;
    const int n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    QString number;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        number += text[i++];
    bool digits = false;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
        number += text[i++];
        digits = true;
    }
    if (i < n && text[i] == QLatin1Char('.')) {
        number += text[i++];
        while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
            number += text[i++];
            digits = true;
        }
    }
    if (!digits)
        return 0;
    bool ok = false;
    double value = number.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0;
}

qint64 RoundHalfEven(double value) {
    if (std::isnan(value))
        return 0;
    constexpr double kLimit = 9.2e18;
    if (value >= kLimit)
        return std::numeric_limits<qint64>::max();
    if (value <= -kLimit)
        return std::numeric_limits<qint64>::min();
    double floor = std::floor(value);
    double fraction = value - floor;
    qint64 whole = qint64(floor);
    if (fraction > 0.5 || (fraction == 0.5 && (whole % 2) != 0))
        ++whole;
    return whole;
}

}  // namespace tvx
