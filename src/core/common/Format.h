#pragma once

#include <QDateTime>
#include <QString>

namespace tvx {

// Byte counts, durations and times as the windows show them.
QString FormatSize(qint32 bytes);
QString FormatSizeWithBytes(qint32 bytes);
QString FormatDuration(qint32 seconds);
QString FormatClock(qint32 seconds);

// "3月5日 8:04:09": month, day and the time without an hour pad.
QString ChatTimestamp(const QDateTime& now);

// "\r\n\r\n附言:" and the note, or "(无)" when the note is empty or only spaces.
QString NoteBlock(const QString& note);

// Whole seconds of a millisecond uptime.
qint64 UptimeSeconds(qint64 uptimeMs);

// Decimal digits grouped by "," in threes.
QString GroupThousands(qint64 value);

}  // namespace tvx
