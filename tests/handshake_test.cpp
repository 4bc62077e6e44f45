#include "common/Handshake.h"

#include <gtest/gtest.h>

#include <QSet>
#include <QTextEdit>

#include "chat/Transcript.h"
#include "common/FontStyle.h"

using namespace tvx;

TEST(Digest, Md5OfUtf16LeText) {
    EXPECT_EQ(Digest(QString()), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_EQ(Digest(QStringLiteral("abc")), QStringLiteral("ce1473cf80c6b3fda8e3dfc006adc315"));
    EXPECT_EQ(Digest(QStringLiteral("验证码")), QStringLiteral("bf5c4e4cea6a721f88ea3d9d79ce95e9"));
}

TEST(Challenge, ThirtyTwoFreshBytes) {
    QSet<QString> seen;
    for (int i = 0; i < 50; ++i) {
        const QString challenge = MakeChallenge();
        EXPECT_EQ(challenge.size(), 16);
        seen.insert(challenge);
    }
    // Drawn back to back, challenges still differ.
    EXPECT_EQ(seen.size(), 50);
}

TEST(Challenge, ResponsePacksTheDigestTwoCharactersToAUnit) {
    const QString challenge = MakeChallenge();
    const QString response = ChallengeResponse(challenge);
    ASSERT_EQ(response.size(), 16);
    const QString hex = Digest(challenge);
    QByteArray bytes(reinterpret_cast<const char*>(response.utf16()), 32);
    EXPECT_EQ(QString::fromLatin1(bytes), hex);
    EXPECT_EQ(ChallengeResponse(challenge), response);
}

TEST(RandomDraws, StayInTheirRanges) {
    QSet<int> keys, masks;
    for (int i = 0; i < 5000; ++i) {
        int key = DrawScrambleKey();
        int mask = DrawAddressMask();
        ASSERT_GE(key, 1);
        ASSERT_LE(key, 254);
        ASSERT_GE(mask, 1);
        ASSERT_LE(mask, 255);
        keys.insert(key);
        masks.insert(mask);
    }
    EXPECT_TRUE(keys.contains(1) && keys.contains(254));
    EXPECT_TRUE(masks.contains(1) && masks.contains(255));
}

TEST(FontStyleCode, ColourFlagsAndSize) {
    EXPECT_EQ(FontStyleCode(0x0000FF, true, false, false, 9), QStringLiteral("FF    1009 "));
    EXPECT_EQ(FontStyleCode(0, false, false, false, 10.5), QStringLiteral("0     00010"));
    EXPECT_EQ(FontStyleCode(0xFFFFFF, false, true, true, 12), QStringLiteral("FFFFFF01112"));
    EXPECT_EQ(FontStyleCode(0x123456, false, false, true, 8.5), QStringLiteral("123456001"
                                                                               "8."));

    QTextEdit box;
    QFont font = box.currentFont();
    font.setPointSizeF(9);
    font.setBold(true);
    box.setCurrentFont(font);
    box.setTextColor(QColor(255, 0, 0));
    EXPECT_EQ(FontStyleCode(&box), QStringLiteral("FF    1009 "));
}
