#include <gtest/gtest.h>

#include <QRandomGenerator>

#include "protocol/PresenceMessages.h"

using namespace tvx;

namespace {

const PresencePorts kPorts{8510, 8511, 9170};

// 192.168.1.10 with the mask 5A, "小李", the three fixed ports.
const QByteArray kAnnounce =
    QByteArray::fromHex("54565850 01 01 4e5653535746445345 4e 213e 213f 23d2 06 e5b08fe69d8e");

QByteArray Announce(const QByteArray& nameBytes) {
    QByteArray bytes = kAnnounce.left(22);
    bytes.append(char(nameBytes.size()));
    return bytes + nameBytes;
}

}  // namespace

TEST(PresenceMessages, BytesAreTheDocumentedLayout) {
    EXPECT_EQ(BuildPresenceAnnounce(QStringLiteral("NVSSWFDSEN"), QStringLiteral("小李"), kPorts),
              kAnnounce);
    EXPECT_EQ(BuildPresenceQuery(), QByteArray::fromHex("545658500102"));
    EXPECT_EQ(BuildPresenceGoodbye(QStringLiteral("NVSSWFDSEN")),
              QByteArray::fromHex("545658500103") + "NVSSWFDSEN");

    const std::optional<PresenceMessage> announce = ParsePresenceDatagram(kAnnounce);
    ASSERT_TRUE(announce);
    EXPECT_EQ(announce->kind, PresenceKind::Announce);
    EXPECT_EQ(announce->addressCode, QStringLiteral("NVSSWFDSEN"));
    EXPECT_EQ(announce->nickName, QStringLiteral("小李"));
    EXPECT_TRUE(announce->ports == kPorts);

    const std::optional<PresenceMessage> goodbye =
        ParsePresenceDatagram(BuildPresenceGoodbye(QStringLiteral("XXEEEXEEEF")));
    ASSERT_TRUE(goodbye);
    EXPECT_EQ(goodbye->kind, PresenceKind::Goodbye);
    EXPECT_EQ(goodbye->addressCode, QStringLiteral("XXEEEXEEEF"));
    ASSERT_TRUE(ParsePresenceDatagram(BuildPresenceQuery()));
    EXPECT_EQ(ParsePresenceDatagram(BuildPresenceQuery())->kind, PresenceKind::Query);

    // An empty nickname and ports not served are fine.
    const std::optional<PresenceMessage> bare = ParsePresenceDatagram(
        BuildPresenceAnnounce(QStringLiteral("NVSSWFDSEN"), QString(), PresencePorts{}));
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->nickName.isEmpty());
    EXPECT_EQ(bare->ports.chat, 0);
}

TEST(PresenceMessages, NickNameIsBoundedWholeAndPrintable) {
    // Fifty Chinese characters fill the 150 bytes exactly; the fifty-first is left out.
    const QString fifty = QString(50, QChar(0x674E));
    EXPECT_EQ(PresenceNickNameBytes(fifty + QStringLiteral("李")).size(), 150);
    std::optional<PresenceMessage> parsed = ParsePresenceDatagram(
        BuildPresenceAnnounce(QStringLiteral("NVSSWFDSEN"), fifty + QStringLiteral("x"), kPorts));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->nickName, fifty);

    // A character outside the basic plane is never cut in half at the bound.
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    const QByteArray bytes = PresenceNickNameBytes(QString(147, QChar('a')) + emoji);
    EXPECT_EQ(bytes, QByteArray(147, 'a'));

    // Control characters travel as spaces, so what is sent always parses.
    parsed = ParsePresenceDatagram(BuildPresenceAnnounce(
        QStringLiteral("NVSSWFDSEN"), QStringLiteral("a\r\nb\tc") + QChar(0x85), kPorts));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->nickName, QStringLiteral("a  b c "));
}

TEST(PresenceMessages, BrokenDatagramsDoNotParse) {
    struct Case {
        const char* what;
        QByteArray bytes;
    };
    QByteArray badMagic = kAnnounce;
    badMagic[3] = 'Q';
    QByteArray version0 = kAnnounce, version2 = kAnnounce;
    version0[4] = 0;
    version2[4] = 2;
    QByteArray kind0 = kAnnounce, kind4 = kAnnounce;
    kind0[5] = 0;
    kind4[5] = 4;
    QByteArray lowerCode = kAnnounce;
    lowerCode[6] = 'n';
    QByteArray letterG = kAnnounce;
    letterG[7] = 'G';
    QByteArray nulCode = kAnnounce;
    nulCode[15] = 0;
    QByteArray longerName = kAnnounce;
    longerName[22] = 7;
    QByteArray tooLong = kAnnounce;
    tooLong.append(QByteArray(kMaxPresenceDatagram + 1 - kAnnounce.size(), 'x'));
    tooLong[22] = char(0xFF);

    const Case cases[] = {
        {"empty", QByteArray()},
        {"header cut", QByteArray::fromHex("5456585001")},
        {"wrong magic", badMagic},
        {"version 0", version0},
        {"version 2", version2},
        {"kind 0", kind0},
        {"kind 4", kind4},
        {"query with a byte more", BuildPresenceQuery() + 'x'},
        {"goodbye cut", BuildPresenceGoodbye(QStringLiteral("NVSSWFDSEN")).chopped(1)},
        {"goodbye with a byte more", BuildPresenceGoodbye(QStringLiteral("NVSSWFDSEN")) + 'E'},
        {"goodbye with a lower-case code", QByteArray::fromHex("545658500103") + "nvsswfdsen"},
        {"lower-case code", lowerCode},
        {"letter outside the code", letterG},
        {"NUL in the code", nulCode},
        {"announce before its length byte", kAnnounce.left(22)},
        {"name shorter than its length", longerName},
        {"a byte left over", kAnnounce + 'x'},
        {"name over 150 bytes", Announce(QByteArray(151, 'a'))},
        {"over 1024 bytes", tooLong},
        {"broken UTF-8", Announce(QByteArray::fromHex("c328"))},
        {"UTF-8 cut", Announce(QByteArray::fromHex("e5b0"))},
        {"overlong UTF-8", Announce(QByteArray::fromHex("c0af"))},
        {"encoded surrogate", Announce(QByteArray::fromHex("eda080"))},
        {"control character", Announce("a\x07")},
        {"line break", Announce("a\nb")},
        {"C1 control", Announce(QByteArray::fromHex("c285"))},
        {"line separator", Announce(QByteArray::fromHex("e280a8"))},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(ParsePresenceDatagram(c.bytes)) << c.what;

    // Every cut of a good announcement is broken too.
    for (int size = 0; size < kAnnounce.size(); ++size)
        EXPECT_FALSE(ParsePresenceDatagram(kAnnounce.left(size))) << size;
}

TEST(PresenceMessages, RandomBytesParseOnlyAsWhatTheBuilderWrites) {
    QRandomGenerator random(15);
    int parsed = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes;
        if (round % 2 == 0) {
            bytes.resize(random.bounded(0, 1100));
            for (char& byte : bytes)
                byte = char(random.bounded(256));
        } else {
            // A good datagram with a few bytes changed, cut or grown.
            bytes = round % 3 ? kAnnounce : BuildPresenceGoodbye(QStringLiteral("NVSSWFDSEN"));
            for (int changes = random.bounded(1, 4); changes > 0; --changes)
                bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
            if (round % 7 == 0)
                bytes.resize(random.bounded(0, 40));
        }
        const std::optional<PresenceMessage> message = ParsePresenceDatagram(bytes);
        if (!message)
            continue;
        ++parsed;
        if (message->kind == PresenceKind::Announce) {
            EXPECT_EQ(
                BuildPresenceAnnounce(message->addressCode, message->nickName, message->ports),
                bytes);
        } else if (message->kind == PresenceKind::Goodbye) {
            EXPECT_EQ(BuildPresenceGoodbye(message->addressCode), bytes);
        }
    }
    EXPECT_GT(parsed, 0);  // some changes keep a datagram good, and those read back exactly
}
