#include "protocol/PeerMessages.h"

#include "common/Format.h"
#include "common/Text.h"
#include "protocol/Codes.h"
#include "protocol/Wire.h"

namespace tvx {

namespace {

using C = ProtocolCodes;

// Plain decimal digits only, no sign, blank or grouping; nothing above the limit.

QStringList CardOf(const QStringList& fields, qsizetype from) {
    QStringList card = fields.mid(from, kCardFields);
    while (card.size() < kCardFields)
        card.append(QString());
    return card;
}

}  // namespace

std::optional<qint64> ParseDecimal(QStringView text, qint64 limit) {
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    if (value > limit)
        return std::nullopt;
    return value;
}

std::optional<CodedMessage> SplitCode(const QString& message) {
    if (message.isEmpty())
        return std::nullopt;
    return CodedMessage{message.front().unicode(), message.mid(1)};
}

QString BuildVerifiedReply(const QString& version, bool withReservedField,
                           const QString& reserved) {
    QString reply = QChar(C::Verified) + version;
    if (withReservedField)
        reply += QChar(C::Separator) + reserved;
    return reply;
}

QString PeerVersionOf(const QString& rest, bool firstFieldOnly) {
    if (!firstFieldOnly)
        return rest;
    const qsizetype separator = rest.indexOf(QChar(C::Separator));
    return separator < 0 ? rest : rest.left(separator);
}

int CompareBinary(const QString& left, const QString& right) {
    const qsizetype common = qMin(left.size(), right.size());
    for (qsizetype k = 0; k < common; ++k) {
        const char16_t a = left[k].unicode();
        const char16_t b = right[k].unicode();
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (left.size() == right.size())
        return 0;
    return left.size() < right.size() ? -1 : 1;
}

VersionVerdict CheckVersion(const QString& ownVersion, const QString& peerVersion) {
    const int order = CompareBinary(ownVersion, peerVersion);
    if (order == 0)
        return VersionVerdict::Equal;
    return order < 0 ? VersionVerdict::OwnOlder : VersionVerdict::OwnNewer;
}

QString BuildAdmissionRequest(const QString& digest) {
    return MessageBody(C::AdmissionRequest, digest);
}
QString BuildAdmitted() {
    return MessageBody(C::Admitted);
}
QString BuildRefusedCode() {
    return MessageBody(C::RefusedCode);
}
QString BuildRefusedBlocked(const QString& blockNote) {
    return MessageBody(C::RefusedBlocked, blockNote);
}

QString BuildCallerIntroduction(const QString& addressCode, const QStringList& card) {
    return MessageBody(C::Introduction, JoinFields(QStringList{addressCode} + card));
}

QString BuildAnswererIntroduction(const QStringList& card) {
    return MessageBody(C::Introduction, JoinFields(card));
}

CallerIdentity ParseCallerIntroduction(const QString& payload) {
    const QStringList fields = SplitFields(payload);
    return CallerIdentity{fields.value(0), CardOf(fields, 1)};
}

QStringList ParseAnswererIntroduction(const QString& payload) {
    return CardOf(SplitFields(payload), 0);
}

QString BuildOffer(const FileOffer& offer) {
    return MessageBody(C::FileOffer,
                       JoinFields({offer.fileName, QString::number(offer.length), offer.modified,
                                   offer.note, QString::number(offer.key)}));
}

std::optional<FileOffer> ParseOffer(const QString& payload) {
    const QStringList fields = SplitFields(payload);
    if (fields.size() < 5)
        return std::nullopt;
    const std::optional<qint64> length = ParseDecimal(fields[1], kMaxFileLength);
    const std::optional<int> key = ParseKey(fields.back());
    if (!length || !key)
        return std::nullopt;
    FileOffer offer;
    offer.fileName = fields[0];
    offer.length = *length;
    offer.modified = fields[2];
    offer.note = JoinFields(fields.mid(3, fields.size() - 4));
    offer.key = *key;
    return offer;
}

QString BuildAcceptance(qint64 offset) {
    return MessageBody(C::OfferAccepted, offset > 0 ? QString::number(offset) : QString());
}

std::optional<qint64> ParseAcceptanceOffset(const QString& payload, qint64 fileLength) {
    if (payload.isEmpty())
        return 0;
    const std::optional<qint64> offset = ParseDecimal(payload, kMaxFileLength);
    if (!offset || *offset >= fileLength)
        return std::nullopt;
    return offset;
}

QString BuildOfferRefused(const QString& note) {
    return MessageBody(C::OfferRefused, TrimSpaces(note));
}
QString BuildOfferRefusedAuto(const QString& note) {
    return MessageBody(C::OfferRefusedAuto, note);
}
QString BuildCompletion() {
    return MessageBody(C::FileComplete);
}
QString BuildSenderCancel(const QString& note) {
    return MessageBody(C::SenderCancel, TrimSpaces(note));
}
QString BuildReceiverCancel(const QString& note) {
    return MessageBody(C::ReceiverCancel, TrimSpaces(note));
}

QString BuildInvitation(const ChatInvitation& invitation) {
    return MessageBody(C::ChatInvitation,
                       JoinFields({invitation.text, QString::number(invitation.key)}));
}

std::optional<ChatInvitation> ParseInvitation(const QString& payload) {
    const QStringList fields = SplitFields(payload);
    if (fields.size() < 2)
        return std::nullopt;
    const std::optional<int> key = ParseKey(fields.back());
    if (!key)
        return std::nullopt;
    return ChatInvitation{JoinFields(fields.mid(0, fields.size() - 1)), *key};
}

QString BuildInvitationAccepted() {
    return MessageBody(C::InvitationAccepted);
}
QString BuildInvitationAcceptedAuto(const QString& autoReply) {
    return MessageBody(C::InvitationAcceptedAuto, autoReply);
}
QString BuildInvitationRefused(const QString& note) {
    return MessageBody(C::InvitationRefused, TrimSpaces(note));
}
QString BuildInvitationRefusedAuto(const QString& note) {
    return MessageBody(C::InvitationRefusedAuto, note);
}

QString BuildChatText(char16_t code, const ChatText& chat, int key) {
    return MessageBody(code, ScrambleText(chat.styleCode + chat.text, key));
}

std::optional<ChatText> ParseChatText(const QString& payload, int key) {
    if (payload.size() < kStyleCodeLength)
        return std::nullopt;
    const QString plain = ScrambleText(payload, key);
    return ChatText{plain.left(kStyleCodeLength), plain.mid(kStyleCodeLength)};
}

QString ScrambleChatText(const QString& text, int key) {
    return ScrambleText(text, key);
}

QString UnscrambleChatText(const QString& payload, int key) {
    return ScrambleText(payload, key);
}

QString ReceivedChatText(const QString& payload, int key) {
    QString styled = UnscrambleChatText(payload, key);
    if (styled.size() < kStyleCodeLength)
        return styled.leftJustified(kStyleCodeLength, QLatin1Char(' '));
    // Counted as the input box counts: "\r\n" is the one character of a line break there.
    qsizetype end = kStyleCodeLength;
    for (int counted = 0; counted < kMaxChatTextLength && end < styled.size(); ++counted) {
        const bool lineBreak = styled[end] == QLatin1Char('\r') && end + 1 < styled.size() &&
                               styled[end + 1] == QLatin1Char('\n');
        end += lineBreak ? 2 : 1;
    }
    if (end < styled.size()) {
        if (styled[end - 1].isHighSurrogate())
            --end;  // a character is not split in half
        styled.truncate(end);
    }
    return styled;
}

QString BuildInitiatorLeaves() {
    return MessageBody(C::InitiatorLeaves);
}
QString BuildResponderLeaves() {
    return MessageBody(C::ResponderLeaves);
}

// Every byte of a file passes here twice (sender and receiver); where the processor has the
// wider vector unit, the loop is compiled for it as well and chosen at start-up.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void ScrambleBytes(char* bytes, qsizetype count, int key) {
    const char mask = char(key & 0xFF);
    for (qsizetype k = 0; k < count; ++k)
        bytes[k] ^= mask;
}

void ScrambleBytes(QByteArray& bytes, int key) {
    ScrambleBytes(bytes.data(), bytes.size(), key);
}

QString ScrambleText(const QString& text, int key) {
    const char16_t mask = char16_t((key & 0xFF) | ((key & 0xFF) << 8));
    QString result(text.size(), Qt::Uninitialized);
    QChar* out = result.data();
    for (qsizetype k = 0; k < text.size(); ++k)
        out[k] = QChar(char16_t(text[k].unicode() ^ mask));
    return result;
}

std::optional<int> ParseKey(const QString& text) {
    const std::optional<qint64> key = ParseDecimal(text, 254);
    if (!key || *key < 1)
        return std::nullopt;
    return int(*key);
}

}  // namespace tvx
