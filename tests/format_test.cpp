#include "common/Format.h"

#include <gtest/gtest.h>

#include "common/Text.h"

using namespace tvx;

TEST(FormatSize, UnitBoundaries) {
    EXPECT_EQ(FormatSize(-5), QStringLiteral("0 字节"));
    EXPECT_EQ(FormatSize(0), QStringLiteral("0 字节"));
    EXPECT_EQ(FormatSize(1), QStringLiteral("1 字节"));
    EXPECT_EQ(FormatSize(1023), QStringLiteral("1023 字节"));
    EXPECT_EQ(FormatSize(1024), QStringLiteral("1 KB"));
    EXPECT_EQ(FormatSize(2047), QStringLiteral("1 KB"));
    EXPECT_EQ(FormatSize(1048575), QStringLiteral("1023 KB"));
    EXPECT_EQ(FormatSize(1048576), QStringLiteral("1.0 MB"));
    EXPECT_EQ(FormatSize(1572864), QStringLiteral("1.5 MB"));
    EXPECT_EQ(FormatSize(1073741823), QStringLiteral("1024.0 MB"));
    EXPECT_EQ(FormatSize(1073741824), QStringLiteral("1.0 GB"));
    EXPECT_EQ(FormatSize(2147483647), QStringLiteral("2.0 GB"));
}

TEST(FormatSize, OneDecimalRoundsHalfAwayFromZero) {
    // 1.25 MB is an exact half of a tenth and rounds up; so does anything just above 1.05.
    EXPECT_EQ(FormatSize(1048576 + 52429), QStringLiteral("1.1 MB"));
    EXPECT_EQ(FormatSize(1048576 + 262144), QStringLiteral("1.3 MB"));
    EXPECT_EQ(FormatSize(1048576 + 52428), QStringLiteral("1.0 MB"));
    EXPECT_EQ(FormatSize(1048576 * 9 + 996148), QStringLiteral("10.0 MB"));
}

TEST(FormatSizeWithBytes, BracketFromOneKilobyte) {
    EXPECT_EQ(FormatSizeWithBytes(1023), QStringLiteral("1023 字节"));
    EXPECT_EQ(FormatSizeWithBytes(1024), QStringLiteral("1 KB (1,024 字节)"));
    EXPECT_EQ(FormatSizeWithBytes(1572864), QStringLiteral("1.5 MB (1,572,864 字节)"));
    EXPECT_EQ(FormatSizeWithBytes(2147483647), QStringLiteral("2.0 GB (2,147,483,647 字节)"));
}

TEST(FormatDuration, HoursMinutesSeconds) {
    EXPECT_EQ(FormatDuration(-5), QStringLiteral("0 秒"));
    EXPECT_EQ(FormatDuration(0), QStringLiteral("0 秒"));
    EXPECT_EQ(FormatDuration(5), QStringLiteral("5 秒"));
    EXPECT_EQ(FormatDuration(60), QStringLiteral("1 分 0 秒"));
    EXPECT_EQ(FormatDuration(65), QStringLiteral("1 分 5 秒"));
    EXPECT_EQ(FormatDuration(3600), QStringLiteral("1 时 0 分 0 秒"));
    EXPECT_EQ(FormatDuration(3725), QStringLiteral("1 时 2 分 5 秒"));
    EXPECT_EQ(FormatDuration(7200), QStringLiteral("2 时 0 分 0 秒"));
}

TEST(FormatClock, PadsToTwoDigits) {
    EXPECT_EQ(FormatClock(-1), QStringLiteral("00:00:00"));
    EXPECT_EQ(FormatClock(59), QStringLiteral("00:00:59"));
    EXPECT_EQ(FormatClock(3661), QStringLiteral("01:01:01"));
    EXPECT_EQ(FormatClock(360000), QStringLiteral("100:00:00"));
}

TEST(ChatTimestamp, MonthDayAndUnpaddedHour) {
    EXPECT_EQ(ChatTimestamp(QDateTime(QDate(2007, 3, 5), QTime(8, 4, 9))),
              QStringLiteral("3月5日 8:04:09"));
    EXPECT_EQ(ChatTimestamp(QDateTime(QDate(2007, 12, 31), QTime(23, 59, 0))),
              QStringLiteral("12月31日 23:59:00"));
}

TEST(NoteBlock, EmptyOrBlankNoteShowsNone) {
    EXPECT_EQ(NoteBlock(QString()), QStringLiteral("\r\n\r\n附言:(无)"));
    EXPECT_EQ(NoteBlock(QStringLiteral("   ")), QStringLiteral("\r\n\r\n附言:(无)"));
    EXPECT_EQ(NoteBlock(QStringLiteral(" 走开 ")), QStringLiteral("\r\n\r\n附言: 走开 "));
}

TEST(TextRoutines, TrimLinesRemovesOuterBlankLines) {
    EXPECT_EQ(TrimLines(QStringLiteral("\r\n  abc \r\n\r\n")), QStringLiteral("abc"));
    EXPECT_EQ(TrimLines(QStringLiteral(" \r\n \r\na\r\nb \r\n ")), QStringLiteral("a\r\nb"));
    // A lone line feed is not a line break here and stays.
    EXPECT_EQ(TrimLines(QStringLiteral("\nabc")), QStringLiteral("\nabc"));
    EXPECT_EQ(TrimLines(QStringLiteral("\r\n\r\n")), QString());
}

TEST(TextRoutines, TrimSpacesOnlyTouchesSpaces) {
    EXPECT_EQ(TrimSpaces(QStringLiteral("  hi  ")), QStringLiteral("hi"));
    EXPECT_EQ(TrimSpaces(QStringLiteral("\thi\t")), QStringLiteral("\thi\t"));
}

TEST(TextRoutines, CutAtNulAndPadTwo) {
    EXPECT_EQ(CutAtNul(QString::fromUtf16(u"abc\0def", 7)), QStringLiteral("abc"));
    EXPECT_EQ(CutAtNul(QStringLiteral("abc")), QStringLiteral("abc"));
    EXPECT_EQ(PadTwo(QStringLiteral("7")), QStringLiteral("07"));
    EXPECT_EQ(PadTwo(QStringLiteral("17")), QStringLiteral("17"));
    EXPECT_EQ(PadTwo(QStringLiteral("117")), QStringLiteral("117"));
}

TEST(TextRoutines, LenientNumberReadsLeadingNumber) {
    EXPECT_EQ(LenientNumber(QString()), 0);
    EXPECT_EQ(LenientNumber(QStringLiteral("abc")), 0);
    EXPECT_EQ(LenientNumber(QStringLiteral("-1")), -1);
    EXPECT_EQ(LenientNumber(QStringLiteral("12abc")), 12);
    EXPECT_EQ(LenientNumber(QStringLiteral(" 2.5x")), 2.5);
    EXPECT_EQ(LenientNumber(QStringLiteral("-")), 0);
    EXPECT_EQ(LenientNumber(QStringLiteral(".")), 0);
    EXPECT_EQ(LenientNumber(QStringLiteral("99999999999999999999999")), 1e23);
}

TEST(TextRoutines, RoundHalfEven) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(2.51), 3);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(1e30), std::numeric_limits<qint64>::max());
}
