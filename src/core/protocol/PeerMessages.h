#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace tvx {

// A complete message after the handshake: its first character is the code, the rest the
// payload. An empty message has no code.
struct CodedMessage {
    char16_t code = 0;
    QString payload;
};
std::optional<CodedMessage> SplitCode(const QString& message);

// A number as the protocol writes it: plain decimal digits, at most 18, not above `limit`.
std::optional<qint64> ParseDecimal(QStringView text, qint64 limit);

// ---- Handshake, version, admission, introduction ----

// 55 AA and the own version; the file receiver adds 03 04 and the reserved field, which this
// program fills with its feature words (empty as the plain protocol has it).
QString BuildVerifiedReply(const QString& version, bool withReservedField,
                           const QString& reserved = QString());
// The peer's version from a verified reply's rest (after 55 AA): the file sender takes the
// first field, the chat initiator the whole rest.
QString PeerVersionOf(const QString& rest, bool firstFieldOnly);

// Binary comparison: character by character as unsigned 16-bit values; on a common prefix the
// shorter text is smaller. Negative, zero or positive.
int CompareBinary(const QString& left, const QString& right);

enum class VersionVerdict { Equal, OwnOlder, OwnNewer };
VersionVerdict CheckVersion(const QString& ownVersion, const QString& peerVersion);

// 18 4B with the digest of the verification code, or alone when there is none.
QString BuildAdmissionRequest(const QString& digest);
QString BuildAdmitted();
QString BuildRefusedCode();
// 1A 13 and the block note as given (the answerer trims it).
QString BuildRefusedBlocked(const QString& blockNote);

// The card has eight fields in the order of PersonalInfo::Fields().
constexpr int kCardFields = 8;
QString BuildCallerIntroduction(const QString& addressCode, const QStringList& card);
QString BuildAnswererIntroduction(const QStringList& card);

struct CallerIdentity {
    QString addressCode;
    QStringList card;  // always kCardFields texts
};
// The payload of the caller's 16 4D: the address and the card. Missing fields are empty.
CallerIdentity ParseCallerIntroduction(const QString& payload);
// The payload of the answerer's 16 4D: the card. Missing fields are empty.
QStringList ParseAnswererIntroduction(const QString& payload);

// ---- File transfer ----

constexpr qint64 kMaxFileLength = 2147483647;

struct FileOffer {
    QString fileName;   // without folder
    qint64 length = 0;  // 1 to kMaxFileLength
    QString modified;   // "yyyy-mm-dd hh:mm:ss"
    QString note;
    int key = 1;  // 1 to 254
};
QString BuildOffer(const FileOffer& offer);
// The payload of 1E 10; nothing when the length or the key is not a valid number. A note that
// holds the separator is kept whole.
std::optional<FileOffer> ParseOffer(const QString& payload);

// 0F 18 alone for offset 0, else 0F 18 and the offset in decimal.
QString BuildAcceptance(qint64 offset);
// The offset of an acceptance payload: a missing number counts as 0; nothing when it is not
// a plain decimal number below the file length.
std::optional<qint64> ParseAcceptanceOffset(const QString& payload, qint64 fileLength);
// 14 1E with the note trimmed of spaces; 15 17 with the note as typed.
QString BuildOfferRefused(const QString& note);
QString BuildOfferRefusedAuto(const QString& note);
QString BuildCompletion();
// 1A 0E and 17 1D, each with its cancel note trimmed of spaces.
QString BuildSenderCancel(const QString& note);
QString BuildReceiverCancel(const QString& note);

// ---- Chat ----

struct ChatInvitation {
    QString text;
    int key = 1;  // 1 to 254
};
QString BuildInvitation(const ChatInvitation& invitation);
std::optional<ChatInvitation> ParseInvitation(const QString& payload);

// 13 1D alone; 1B 16 with the auto-reply; 1E 12 with the note trimmed; 11 16 with it as typed.
QString BuildInvitationAccepted();
QString BuildInvitationAcceptedAuto(const QString& autoReply);
QString BuildInvitationRefused(const QString& note);
QString BuildInvitationRefusedAuto(const QString& note);

constexpr int kStyleCodeLength = 11;
struct ChatText {
    QString styleCode;  // kStyleCodeLength characters
    QString text;
};
// 1D 0C (initiator) or 12 0F (responder) and the scrambled style code and text.
QString BuildChatText(char16_t code, const ChatText& chat, int key);
// The payload of a chat text, unscrambled; nothing when it is shorter than a style code.
std::optional<ChatText> ParseChatText(const QString& payload, int key);

// A styled text (style code and text) as it travels in 1D 0C and 12 0F: both bytes of every
// UTF-16LE character XOR the key. Unscrambling is the same operation; it takes any payload.
QString ScrambleChatText(const QString& text, int key);
QString UnscrambleChatText(const QString& payload, int key);

// The input box holds at most this many characters of text, a line break counted once.
constexpr int kMaxChatTextLength = 4096;
// A received chat text as it is shown: the payload unscrambled, padded with spaces to a whole
// style code when shorter, and its text cut to what the input box allows.
QString ReceivedChatText(const QString& payload, int key);

QString BuildInitiatorLeaves();
QString BuildResponderLeaves();

// ---- Scrambling ----

// Every byte XOR the key, in place; the same call unscrambles.
void ScrambleBytes(char* bytes, qsizetype count, int key);
void ScrambleBytes(QByteArray& bytes, int key);
// Both bytes of every UTF-16LE character XOR the key.
QString ScrambleText(const QString& text, int key);

// A key as sent inside an offer or invitation: decimal 1 to 254.
std::optional<int> ParseKey(const QString& text);

}  // namespace tvx
