#include <gtest/gtest.h>

#include <cerrno>

#include "common/Handshake.h"
#include "platform/SocketErrors.h"
#include "protocol/BatchMessages.h"
#include "protocol/Codes.h"
#include "protocol/HandshakeSteps.h"
#include "protocol/PeerMessages.h"
#include "protocol/ReceiveBuffer.h"
#include "protocol/Wire.h"
#include "texts/SendTexts.h"

namespace tvx::test {
namespace {

using C = ProtocolCodes;

constexpr qsizetype kMaxOverflowProbe = ReceiveBuffer::kMaxMessageBytes + 2;

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray bytes;
    for (int v : values)
        bytes.append(char(v));
    return bytes;
}

TEST(WireBytes, ExamplesByteForByte) {
    EXPECT_EQ(FrameControlMessage(BuildAdmissionRequest(QString())), Bytes({0x18, 0x4B, 2, 5}));
    EXPECT_EQ(FrameControlMessage(BuildVerifiedReply(QChar(C::Version), true)),
              Bytes({0x55, 0xAA, 0x00, 0x05, 0x03, 0x04, 0x02, 0x05}));
    EXPECT_EQ(FrameControlMessage(BuildVerifiedReply(QChar(C::Version), false)),
              Bytes({0x55, 0xAA, 0x00, 0x05, 0x02, 0x05}));
    EXPECT_EQ(FrameControlMessage(BuildAcceptance(400)),
              Bytes({0x0F, 0x18, 0x34, 0, 0x30, 0, 0x30, 0, 0x02, 0x05}));
    EXPECT_EQ(FrameControlMessage(BuildAcceptance(0)), Bytes({0x0F, 0x18, 2, 5}));
    EXPECT_EQ(FrameControlMessage(BuildCompletion()), Bytes({0, 0, 2, 5}));
    EXPECT_EQ(ToWire(QStringLiteral("中a")), Bytes({0x2D, 0x4E, 0x61, 0x00}));
    EXPECT_EQ(FromWire(Bytes({0x2D, 0x4E, 0x61, 0x00, 0x7F})), QStringLiteral("中a"));
}

TEST(WireBytes, CompletionIsACodeThoughBothBytesAreZero) {
    ReceiveBuffer buffer;
    QString message;
    ASSERT_EQ(buffer.Append(Bytes({0, 0, 2, 5}), message), ReceiveBuffer::Outcome::Message);
    const auto coded = SplitCode(message);
    ASSERT_TRUE(coded.has_value());
    EXPECT_EQ(coded->code, C::FileComplete);
    EXPECT_TRUE(coded->payload.isEmpty());
    EXPECT_FALSE(SplitCode(QString()).has_value());
}

TEST(ReceiveBuffer, SplitAtEveryBoundaryFramesAsWhole) {
    const QString body =
        BuildOffer({QStringLiteral("报告.doc"), 10, QStringLiteral("2007-03-05 08:04:09"),
                    QStringLiteral("附言"), 77});
    const QByteArray wire = FrameControlMessage(body);
    for (qsizetype cut = 1; cut < wire.size(); ++cut) {
        ReceiveBuffer buffer;
        QString message;
        ASSERT_EQ(buffer.Append(wire.left(cut), message), ReceiveBuffer::Outcome::Waiting) << cut;
        ASSERT_EQ(buffer.Append(wire.mid(cut), message), ReceiveBuffer::Outcome::Message) << cut;
        EXPECT_EQ(message, body) << cut;
        EXPECT_EQ(buffer.counter(), 1);
    }
    // One byte at a time, twice over: the counter counts messages, not arrivals.
    ReceiveBuffer buffer;
    QString message;
    int messages = 0;
    for (int round = 0; round < 2; ++round) {
        for (char byte : wire) {
            if (buffer.Append(QByteArray(1, byte), message) == ReceiveBuffer::Outcome::Message) {
                EXPECT_EQ(message, body);
                ++messages;
            }
        }
    }
    EXPECT_EQ(messages, 2);
    EXPECT_EQ(buffer.counter(), 2);
}

TEST(ReceiveBuffer, GluedMessagesStayOneAndResetClearsEverything) {
    ReceiveBuffer buffer;
    QString message;
    const QByteArray glued =
        FrameControlMessage(BuildAcceptance(4)) + FrameControlMessage(BuildCompletion());
    ASSERT_EQ(buffer.Append(glued, message), ReceiveBuffer::Outcome::Message);
    EXPECT_EQ(message, BuildAcceptance(4) + QChar(C::Terminator) + BuildCompletion());

    buffer.SetVerified();
    buffer.Append(Bytes({0x41}), message);  // half a character waiting
    buffer.Reset();
    EXPECT_EQ(buffer.counter(), 0);
    EXPECT_FALSE(buffer.verified());
    ASSERT_EQ(buffer.Append(Bytes({0x18, 0x4B, 2, 5}), message), ReceiveBuffer::Outcome::Message);
    EXPECT_EQ(message, BuildAdmissionRequest(QString()));
}

TEST(ReceiveBuffer, NextTakesGluedMessagesOneByOneAndKeepsATerminatorInsideAText) {
    ReceiveBuffer buffer;
    buffer.SetMessageStarts({C::InitiatorText, C::InitiatorLeaves});
    QString message;
    // Before the handshake has passed every terminator ends a message, even in pieces.
    const QByteArray two = FrameControlMessage(QStringLiteral("ab")) + FrameControlMessage("c");
    buffer.Feed(two.left(5));  // half of the first terminator
    EXPECT_EQ(buffer.Next(message), ReceiveBuffer::Outcome::Waiting);
    buffer.Feed(two.mid(5));
    ASSERT_EQ(buffer.Next(message), ReceiveBuffer::Outcome::Message);
    EXPECT_EQ(message, QStringLiteral("ab"));
    ASSERT_EQ(buffer.Next(message), ReceiveBuffer::Outcome::Message);
    EXPECT_EQ(message, QStringLiteral("c"));
    EXPECT_EQ(buffer.Next(message), ReceiveBuffer::Outcome::Waiting);
    EXPECT_EQ(buffer.counter(), 2);

    // Verified: a text whose scrambled form holds the terminator, glued to a second text and
    // a leave. The terminator inside is followed by no message start, so it stays.
    buffer.SetVerified();
    const int key = 0x4B;  // scrambles the character 义 into the terminator's value
    const QString a = QStringLiteral("FF800010112") + QStringLiteral("义") + QStringLiteral("气");
    ASSERT_EQ(ScrambleChatText(QStringLiteral("义"), key), QString(QChar(C::Terminator)));
    const QString first = MessageBody(C::InitiatorText, ScrambleChatText(a, key));
    const QString second = MessageBody(C::InitiatorText, ScrambleChatText(a + "!", key));
    buffer.Feed(FrameControlMessage(first) + FrameControlMessage(second) +
                FrameControlMessage(BuildInitiatorLeaves()));
    QStringList messages;
    while (buffer.Next(message) == ReceiveBuffer::Outcome::Message)
        messages << message;
    EXPECT_EQ(messages, (QStringList{first, second, BuildInitiatorLeaves()}));
    EXPECT_EQ(UnscrambleChatText(messages[1].mid(1), key), a + "!");
    EXPECT_EQ(buffer.counter(), 5);

    // A message that never ends overflows; the limit counts what waits, not what was taken.
    ReceiveBuffer endless;
    endless.Feed(QByteArray(kMaxOverflowProbe, 'a'));
    EXPECT_EQ(endless.Next(message), ReceiveBuffer::Outcome::Overflow);
    ReceiveBuffer many;
    QByteArray lots;
    for (int k = 0; k < 3000; ++k)
        lots += FrameControlMessage(QString(20, QChar('x')));
    many.Feed(lots);  // 132 KB in one arrival, every message small
    int count = 0;
    while (many.Next(message) == ReceiveBuffer::Outcome::Message)
        ++count;
    EXPECT_EQ(count, 3000);
}

TEST(ReceiveBuffer, EmptyMessageAndOverflow) {
    ReceiveBuffer buffer;
    QString message = QStringLiteral("stale");
    ASSERT_EQ(buffer.Append(Bytes({2, 5}), message), ReceiveBuffer::Outcome::Message);
    EXPECT_TRUE(message.isEmpty());

    ReceiveBuffer endless;
    const QByteArray chunk(4096, 'a');
    ReceiveBuffer::Outcome outcome = ReceiveBuffer::Outcome::Waiting;
    int chunks = 0;
    while (outcome == ReceiveBuffer::Outcome::Waiting && chunks < 100) {
        outcome = endless.Append(chunk, message);
        ++chunks;
    }
    EXPECT_EQ(outcome, ReceiveBuffer::Outcome::Overflow);
    EXPECT_EQ(chunks, 17);  // 64 KiB is still allowed, one chunk more is not

    // The longest real message passes; one past the limit does not, terminator or not.
    ReceiveBuffer chat;
    const QString longest =
        BuildChatText(C::InitiatorText, {QString(11, 'x'), QString(4096, 'y')}, 9);
    EXPECT_EQ(chat.Append(FrameControlMessage(longest), message), ReceiveBuffer::Outcome::Message);
    ReceiveBuffer big;
    EXPECT_EQ(big.Append(FrameControlMessage(QString(32769, 'z')), message),
              ReceiveBuffer::Outcome::Overflow);
}

TEST(Messages, OfferAndItsAnswers) {
    const FileOffer offer{QStringLiteral("a.txt"), 2147483647,
                          QStringLiteral("2007-03-05 08:04:09"),
                          QStringLiteral("x") + QChar(C::Separator) + QStringLiteral("y"), 254};
    const auto coded = SplitCode(BuildOffer(offer));
    ASSERT_EQ(coded->code, C::FileOffer);
    const auto parsed = ParseOffer(coded->payload);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->fileName, offer.fileName);
    EXPECT_EQ(parsed->length, offer.length);
    EXPECT_EQ(parsed->modified, offer.modified);
    EXPECT_EQ(parsed->note, offer.note);
    EXPECT_EQ(parsed->key, 254);

    const QString sep(QChar(C::Separator));
    EXPECT_FALSE(
        ParseOffer(QStringLiteral("a") + sep + "10" + sep + "t" + sep + "255").has_value());
    for (const QString& length : {QStringLiteral("2147483648"), QStringLiteral("-1"),
                                  QStringLiteral("1 0"), QStringLiteral("")}) {
        EXPECT_FALSE(ParseOffer("a" + sep + length + sep + "t" + sep + sep + "5").has_value())
            << length.toStdString();
    }
    EXPECT_FALSE(ParseOffer("a" + sep + "10" + sep + "t" + sep + sep + "0").has_value());

    EXPECT_EQ(ParseAcceptanceOffset(QString(), 10), 0);
    EXPECT_EQ(ParseAcceptanceOffset(QStringLiteral("4"), 10), 4);
    EXPECT_FALSE(ParseAcceptanceOffset(QStringLiteral("10"), 10).has_value());
    EXPECT_FALSE(ParseAcceptanceOffset(QStringLiteral("+4"), 10).has_value());

    const QString note = QStringLiteral("  不要  ");
    EXPECT_EQ(BuildOfferRefused(note), QChar(C::OfferRefused) + QStringLiteral("不要"));
    EXPECT_EQ(BuildOfferRefusedAuto(note), QChar(C::OfferRefusedAuto) + note);
    EXPECT_EQ(BuildSenderCancel(note), QChar(C::SenderCancel) + QStringLiteral("不要"));
    EXPECT_EQ(BuildReceiverCancel(note), QChar(C::ReceiverCancel) + QStringLiteral("不要"));
}

TEST(Messages, ChatInvitationTextsAndLeaving) {
    const auto invitation = SplitCode(BuildInvitation({QStringLiteral("聊聊?"), 1}));
    ASSERT_EQ(invitation->code, C::ChatInvitation);
    const auto parsed = ParseInvitation(invitation->payload);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->text, QStringLiteral("聊聊?"));
    EXPECT_EQ(parsed->key, 1);
    EXPECT_FALSE(ParseInvitation(QStringLiteral("no key")).has_value());

    EXPECT_EQ(BuildInvitationAccepted(), QString(QChar(C::InvitationAccepted)));
    EXPECT_EQ(BuildInvitationAcceptedAuto(QStringLiteral(" hi ")),
              QChar(C::InvitationAcceptedAuto) + QStringLiteral(" hi "));
    EXPECT_EQ(BuildInvitationRefused(QStringLiteral(" no ")),
              QChar(C::InvitationRefused) + QStringLiteral("no"));
    EXPECT_EQ(BuildInvitationRefusedAuto(QStringLiteral(" no ")),
              QChar(C::InvitationRefusedAuto) + QStringLiteral(" no "));
    EXPECT_EQ(BuildInitiatorLeaves(), QString(QChar(C::InitiatorLeaves)));
    EXPECT_EQ(BuildResponderLeaves(), QString(QChar(C::ResponderLeaves)));

    // Bold 9-point red: both bytes of every character are scrambled with the key.
    const ChatText chat{QStringLiteral("FF    1009 "), QStringLiteral("你好")};
    const QString body = BuildChatText(C::ResponderText, chat, 0x5A);
    EXPECT_EQ(body.front().unicode(), C::ResponderText);
    EXPECT_EQ(ToWire(body.mid(1)).left(2), Bytes({'F' ^ 0x5A, 0x5A}));
    const auto back = ParseChatText(body.mid(1), 0x5A);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->styleCode, chat.styleCode);
    EXPECT_EQ(back->text, chat.text);
    EXPECT_FALSE(ParseChatText(QString(10, 'x'), 3).has_value());
}

TEST(Messages, IntroductionsKeepTheirFieldCount) {
    const QStringList card{"昵称", "1", "30", "p", "e", "h", "a", "o"};
    const auto caller = SplitCode(BuildCallerIntroduction(QStringLiteral("NVSSWFDSEN"), card));
    ASSERT_EQ(caller->code, C::Introduction);
    const CallerIdentity identity = ParseCallerIntroduction(caller->payload);
    EXPECT_EQ(identity.addressCode, QStringLiteral("NVSSWFDSEN"));
    EXPECT_EQ(identity.card, card);
    EXPECT_EQ(ParseAnswererIntroduction(BuildAnswererIntroduction(card).mid(1)), card);
    const QStringList shortCard = ParseAnswererIntroduction(QStringLiteral("only"));
    EXPECT_EQ(shortCard.size(), kCardFields);
    EXPECT_EQ(shortCard.front(), QStringLiteral("only"));
    EXPECT_EQ(ParseCallerIntroduction(QString()).card.size(), kCardFields);
}

TEST(Messages, AdmissionRefusalTexts) {
    EXPECT_EQ(LinkRefusalText(LinkRefusal::WrongCode, QString()),
              QStringLiteral("发送连接请求失败:验证码无效。\r\n\r\n-没有使用验证码或验证码错误"));
    EXPECT_EQ(LinkRefusalText(LinkRefusal::Blocked, QStringLiteral("走开")),
              QStringLiteral("发送连接请求失败:当前IP不在对方允许连接的范围内。\r\n\r\n附言:走开"));
    EXPECT_EQ(LinkRefusalText(LinkRefusal::Blocked, QStringLiteral("  ")),
              QStringLiteral("发送连接请求失败:当前IP不在对方允许连接的范围内。\r\n\r\n附言:(无)"));
    EXPECT_EQ(BuildAdmissionRequest(Digest("x")).size(), 33);
}

TEST(BatchMessages, TheListAndThePlanAsDocumented) {
    // The reserved field announces batches; a plain receiver leaves it empty.
    EXPECT_TRUE(AnnouncesBatches(QString(QChar(C::Version)) + QChar(C::Separator) +
                                 QStringLiteral("tls/1 batch/1")));
    EXPECT_FALSE(AnnouncesBatches(QString(QChar(C::Version)) + QChar(C::Separator)));
    EXPECT_FALSE(AnnouncesBatches(QString(QChar(C::Version)) + QChar(C::Separator) +
                                  QStringLiteral("batch/10")));

    EXPECT_EQ(FrameControlMessage(BuildBatchOffer({2, 1, 1, 10, 7, QString()})),
              Bytes({0xB1, 0xE4, '2', 0,   3, 4, '1', 0,   3, 4, '1', 0, 3,
                     4,    '1',  0,   '0', 0, 3, 4,   '7', 0, 3, 4,   2, 5}));
    // "%", the separator and the terminator inside a name travel escaped, and come back.
    const QString name = QStringLiteral("a%b") + QChar(C::Separator) + QChar(C::Terminator);
    const QList<BatchEntry> entries{{true, 0, 0, QStringLiteral("相册")},
                                    {false, 5, 1700000000, QStringLiteral("相册/") + name}};
    const QStringList messages = BuildBatchEntries(entries);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QChar(0xE4B2) + QStringLiteral("D:0:0:相册") + QChar(C::Separator) +
                               QStringLiteral("F:5:1700000000:相册/a%0025b%0403%0502"));
    const auto parsed = ParseBatchEntries(messages[0].mid(1));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->at(1).path, entries[1].path);
    EXPECT_EQ(parsed->at(1).modified, 1700000000);
    // An escaped "/" cannot hide a separator inside a component; lower-case hex is not taken.
    EXPECT_FALSE(ParseBatchEntries(QStringLiteral("F:1:0:a%002Fb")));
    EXPECT_FALSE(ParseBatchEntries(QStringLiteral("F:1:0:a%002fb")));
    EXPECT_FALSE(ParseBatchEntries(QStringLiteral("D:3:0:a")));  // a folder has no size
    EXPECT_FALSE(ParseBatchEntries(QStringLiteral("F:1099511627777:0:a")));

    // The plan: ascending, not overlapping, within the list, resumed offsets above 0.
    const QStringList plan = BuildBatchPlan({{0, 4, -1}, {6, 6, 100}});
    ASSERT_EQ(plan.size(), 1);
    EXPECT_EQ(plan[0].mid(1),
              QStringLiteral("0-4") + QChar(C::Separator) + QStringLiteral("6+100"));
    EXPECT_TRUE(ParseBatchPlan(plan[0].mid(1), 7, -1));
    EXPECT_FALSE(ParseBatchPlan(plan[0].mid(1), 6, -1));  // index 6 of 6 entries
    EXPECT_FALSE(ParseBatchPlan(plan[0].mid(1), 7, 4));   // overlaps an earlier message
    EXPECT_FALSE(ParseBatchPlan(QStringLiteral("3-1"), 7, -1));
    EXPECT_FALSE(ParseBatchPlan(QStringLiteral("3+0"), 7, -1));

    const BatchStop stop =
        ParseBatchStopped(BuildBatchStopped({BatchStopReason::NoSpace, -1, 9, 4}).mid(1));
    EXPECT_EQ(stop.reason, BatchStopReason::NoSpace);
    EXPECT_EQ(stop.needed, 9);
    EXPECT_EQ(stop.available, 4);
    EXPECT_EQ(ParseBatchStopped(QStringLiteral("later")).reason, BatchStopReason::BadList);

    // A record header: type, index and length big-endian; lengths out of bounds do not parse.
    char header[kRecordHeaderBytes];
    WriteRecordHeader(header, {RecordType::Data, 258, 1024});
    EXPECT_EQ(QByteArray(header, kRecordHeaderBytes), Bytes({1, 0, 0, 1, 2, 0, 0, 4, 0}));
    EXPECT_FALSE(ReadRecordHeader(Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0}).constData()));
    EXPECT_FALSE(ReadRecordHeader(Bytes({1, 0, 0, 0, 0, 0, 0x10, 0, 1}).constData()));
    EXPECT_FALSE(ReadRecordHeader(Bytes({2, 0, 0, 0, 0, 0, 0, 0, 1}).constData()));
    EXPECT_FALSE(ReadRecordHeader(Bytes({4, 0, 0, 0, 0, 0, 0, 0, 0}).constData()));
    EXPECT_TRUE(ReadRecordHeader(Bytes({3, 0, 0, 0, 9, 0, 0, 0, 0}).constData()));
}

TEST(Version, BinaryComparisonAndMessages) {
    const QString v5(QChar(C::Version));
    const QString v6(QChar(WireUnit(0x00, 0x06)));
    const QString v0105(QChar(WireUnit(0x01, 0x05)));
    EXPECT_EQ(CheckVersion(v5, v5), VersionVerdict::Equal);
    EXPECT_EQ(CheckVersion(v6, v5), VersionVerdict::OwnNewer);
    EXPECT_EQ(CheckVersion(v5, v6), VersionVerdict::OwnOlder);
    // Units compare as whole 16-bit values: 01 05 is above 00 05 but below 00 06.
    EXPECT_EQ(CheckVersion(v0105, v5), VersionVerdict::OwnNewer);
    EXPECT_EQ(CheckVersion(v0105, v6), VersionVerdict::OwnOlder);
    EXPECT_EQ(CheckVersion(v5, v5 + QChar(0)), VersionVerdict::OwnOlder);
    EXPECT_EQ(CheckVersion(v5, QString()), VersionVerdict::OwnNewer);
    EXPECT_EQ(CompareBinary(QString(QChar(0xFFFF)), QString(QChar(0x0001))), 1);

    EXPECT_EQ(LinkRefusalText(LinkRefusal::OwnVersionTooLow, QString()),
              QStringLiteral("无法继续:本地使用的版本太低,请升级后重试。"));
    EXPECT_EQ(LinkRefusalText(LinkRefusal::PeerVersionTooLow, QString()),
              QStringLiteral("无法继续:对方使用的版本太低,请通知对方升级后重试。"));
    const QString rest = v5 + QChar(C::Separator) + QStringLiteral("reserved");
    EXPECT_EQ(PeerVersionOf(rest, true), v5);
    EXPECT_EQ(PeerVersionOf(rest, false), rest);
}

TEST(Scrambling, FileBytesAndKeyRange) {
    // A 10-byte file resumed at 4: bytes 4 to 9, each XOR the key, and back again.
    QByteArray file("0123456789");
    QByteArray sent = file.mid(4);
    ScrambleBytes(sent, 200);
    for (int k = 0; k < sent.size(); ++k)
        EXPECT_EQ(uchar(sent[k]), uchar(file[4 + k] ^ 200));
    ScrambleBytes(sent, 200);
    EXPECT_EQ(sent, file.mid(4));

    EXPECT_EQ(ParseKey(QStringLiteral("1")), 1);
    EXPECT_EQ(ParseKey(QStringLiteral("254")), 254);
    EXPECT_FALSE(ParseKey(QStringLiteral("0")).has_value());
    EXPECT_FALSE(ParseKey(QStringLiteral("255")).has_value());
    EXPECT_FALSE(ParseKey(QStringLiteral(" 5")).has_value());
}

TEST(HandshakeSteps, AnswererAndCallerTables) {
    QString answererChallenge;
    // Step 2: any 32 bytes are answered; 30 and 34 bytes are not.
    const QString anything(16, QChar(0xBEEF));
    const HandshakeStep step2 = AnswererHandshakeStep(1, anything, answererChallenge);
    EXPECT_EQ(step2.kind, HandshakeStep::Kind::Reply);
    EXPECT_EQ(step2.text, ChallengeResponse(anything));
    EXPECT_EQ(AnswererHandshakeStep(1, QString(15, 'a'), answererChallenge).kind,
              HandshakeStep::Kind::Fail);
    EXPECT_EQ(AnswererHandshakeStep(1, QString(17, 'a'), answererChallenge).kind,
              HandshakeStep::Kind::Fail);
    // Step 4 wants AA 55 alone.
    EXPECT_EQ(AnswererHandshakeStep(2, QString(2, QChar(C::AskChallenge)), answererChallenge).kind,
              HandshakeStep::Kind::Fail);
    const HandshakeStep step4 =
        AnswererHandshakeStep(2, QString(QChar(C::AskChallenge)), answererChallenge);
    ASSERT_EQ(step4.kind, HandshakeStep::Kind::Reply);
    EXPECT_EQ(step4.text, answererChallenge);
    EXPECT_EQ(answererChallenge.size(), 16);
    // Step 6 compares byte for byte.
    QString wrong = ChallengeResponse(answererChallenge);
    wrong[15] = QChar(wrong[15].unicode() ^ 0x0100);
    EXPECT_EQ(AnswererHandshakeStep(3, wrong, answererChallenge).kind, HandshakeStep::Kind::Fail);
    EXPECT_EQ(
        AnswererHandshakeStep(3, ChallengeResponse(answererChallenge), answererChallenge).kind,
        HandshakeStep::Kind::Verified);
    EXPECT_EQ(AnswererHandshakeStep(4, QString(), answererChallenge).kind,
              HandshakeStep::Kind::Fail);

    const QString callerChallenge = DrawChallenge();
    EXPECT_FALSE(callerChallenge.contains(QChar(C::Terminator)));
    EXPECT_EQ(CallerHandshakeStep(1, ChallengeResponse(anything), callerChallenge).kind,
              HandshakeStep::Kind::Fail);
    EXPECT_EQ(CallerHandshakeStep(1, ChallengeResponse(callerChallenge), callerChallenge).text,
              QString(QChar(C::AskChallenge)));
    EXPECT_EQ(CallerHandshakeStep(2, anything, callerChallenge).text, ChallengeResponse(anything));
    const HandshakeStep step7 =
        CallerHandshakeStep(3, BuildVerifiedReply(QChar(C::Version), true), callerChallenge);
    EXPECT_EQ(step7.kind, HandshakeStep::Kind::Verified);
    EXPECT_EQ(step7.text, QString(QChar(C::Version)) + QChar(C::Separator));
    EXPECT_EQ(CallerHandshakeStep(3, QString(), callerChallenge).kind, HandshakeStep::Kind::Fail);
}

TEST(SocketErrors, ErrnoValuesMapToTheErrorsTheEnginesTellApart) {
    EXPECT_EQ(SocketErrorOfErrno(EADDRINUSE), SocketError::AddressInUse);
    EXPECT_EQ(SocketErrorOfErrno(EADDRNOTAVAIL), SocketError::AddressNotAvailable);
    EXPECT_EQ(SocketErrorOfErrno(ENETUNREACH), SocketError::ConnectionAborted);
    EXPECT_EQ(SocketErrorOfErrno(ECONNREFUSED), SocketError::ConnectionRefused);
    EXPECT_EQ(SocketErrorOfErrno(ETIMEDOUT), SocketError::TimedOut);
    EXPECT_EQ(SocketErrorOfErrno(EACCES), SocketError::Other);
    // A reset, a broken pipe and an abort on a connection all mean the peer reset it.
    for (int reset : {ECONNRESET, EPIPE, ECONNABORTED})
        EXPECT_EQ(ConnectionError(reset), SocketError::ConnectionReset);
    EXPECT_EQ(ConnectionError(ENETDOWN), SocketError::ConnectionAborted);
}

}  // namespace
}  // namespace tvx::test
