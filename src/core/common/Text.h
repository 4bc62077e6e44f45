#pragma once

#include <QString>

namespace tvx {

// Removes spaces (only U+0020) at both ends, as every input box does when it loses the focus.
QString TrimSpaces(const QString& text);

// The text before the first NUL character; the whole text when there is none.
QString CutAtNul(const QString& text);

// Trims spaces, then leading and trailing "\r\n" pairs, trimming spaces again after each.
QString TrimLines(const QString& text);

// Multi-line boxes hold "\n"; notes and cards travel and are stored with "\r\n".
QString ToWireText(const QString& boxText);
QString FromWireText(const QString& wireText);

// "0" before a one-character text; the text unchanged otherwise.
QString PadTwo(const QString& text);

// The leading decimal number of a text, sign and fraction allowed, as far as it goes;
// 0 when the text does not begin with a number. Blanks before the number are skipped.
double LenientNumber(const QString& text);

// Rounds to the nearest whole number, halves to the even neighbour, clamped to 64 bits.
qint64 RoundHalfEven(double value);

}  // namespace tvx
