// Feeds arbitrary bytes through the receive buffer, in pieces whose sizes come from the input,
// and hands every message it frames to each parser of peer input in kParsers, whose checks
// must hold whatever a peer sends. Each input stands alone: nothing it builds outlives it.
#include <QDate>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "address/AddressCode.h"
#include "common/Format.h"
#include "common/Text.h"
#include "platform/FileSystem.h"
#include "protocol/BatchMessages.h"
#include "protocol/Codes.h"
#include "protocol/DnsSdRecords.h"
#include "protocol/HandshakeSteps.h"
#include "protocol/PeerMessages.h"
#include "protocol/PresenceMessages.h"
#include "protocol/ReceiveBuffer.h"
#include "protocol/Wire.h"
#include "security/KnownPeers.h"
#include "transfer/BatchReception.h"
#include "transfer/ReceiveRules.h"
#include "web/MultipartReader.h"

namespace {

using namespace tvx;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// One framed message as each parser may want it.
struct Input {
    QString message;   // without its terminator
    int counter = 0;   // the message counter it arrived with
    QString payload;   // after the code; empty when the message is
    int key = 1;       // a scrambling key, 1 to 254, taken from the input
    QByteArray bytes;  // the same as it came, for the datagram parser
};

// What the receiver makes of an offered name: it stays in its folder, holds no control
// character and, with its temporary name, fits the file system's limit.
void CheckReceivedName(const QString& offered) {
    const QString safe = SafeOfferName(offered);
    if (safe.isEmpty())
        return;
    Check(!safe.contains(QLatin1Char('/')) && !safe.contains(QLatin1Char('\\')));
    const QString name = ReceivedFileName(safe);
    for (const QChar c : name)
        Check(c.unicode() >= 0x20 && c.unicode() != 0x7F);
    for (const int limit : {255, 143, 24}) {
        const QString fitted = FitFileName(name, limit);
        Check(!fitted.isEmpty() && fitted != QLatin1String(".") && fitted != QLatin1String(".."));
        Check(FileNameBytes(fitted) + kTempSuffixBytes <= limit || fitted == QLatin1String("_"));
        Check(FitFileName(name, limit) == fitted);
        if (FileNameBytes(name) + kTempSuffixBytes <= limit)
            Check(fitted == name);
        const QString numbered = FitMarkedName(fitted, QStringLiteral("(12)"), limit);
        Check(numbered.contains(QStringLiteral("(12)")));
    }
}

// A batch's list that parsed: it builds back to what parses the same, and once the receiver
// has checked it every path is one it may write below its folder.
void CheckBatchEntries(const QList<BatchEntry>& entries) {
    for (const QString& message : BuildBatchEntries(entries)) {
        const std::optional<QList<BatchEntry>> again =
            ParseBatchEntries(SplitCode(message)->payload);
        Check(again.has_value());
    }
    BatchHeader header;
    header.entries = entries.size();
    for (const BatchEntry& entry : entries) {
        Check(entry.size >= 0 && entry.size <= kMaxBatchFileLength);
        header.folders += entry.folder ? 1 : 0;
        header.totalBytes += entry.size;
    }
    header.files = header.entries - header.folders;
    BatchList list(header);
    if (list.Add(entries) || list.Finish())
        return;
    for (const BatchEntry& entry : list.entries()) {
        const QStringList components = entry.path.split(QLatin1Char('/'));
        Check(components.size() <= kMaxBatchDepth);
        for (const QString& component : components) {
            Check(!component.isEmpty() && component != QLatin1String(".") &&
                  component != QLatin1String("..") && !component.contains(QLatin1Char('\\')));
            for (const QChar c : component)
                Check(c.unicode() >= 0x20 && c.unicode() != 0x7F);
        }
    }
}

// Every parser of peer input; adding one is one more line here.
using Parser = void (*)(const Input&);
const Parser kParsers[] = {
    [](const Input& in) {
        QString answererChallenge = QStringLiteral("0123456789abcdef");
        AnswererHandshakeStep(in.counter % 4, in.message, answererChallenge,
                              IsMarkedChallenge(in.message));
        CallerHandshakeStep(in.counter % 4, in.message, answererChallenge);
        Check(!IsMarkedChallenge(answererChallenge) || answererChallenge.size() == 16);
    },
    [](const Input& in) { Check(SplitCode(in.message).has_value() == !in.message.isEmpty()); },
    [](const Input& in) {
        CheckVersion(QString(QChar(ProtocolCodes::Version)), PeerVersionOf(in.payload, true));
        CheckVersion(QString(QChar(ProtocolCodes::Version)), PeerVersionOf(in.payload, false));
    },
    [](const Input& in) {
        Check(ParseCallerIntroduction(in.payload).card.size() == kCardFields);
        Check(ParseAnswererIntroduction(in.payload).size() == kCardFields);
    },
    [](const Input& in) {
        const std::optional<FileOffer> offer = ParseOffer(in.payload);
        if (!offer)
            return;
        Check(offer->key >= 1 && offer->key <= 254);
        Check(offer->length >= 0 && offer->length <= kMaxFileLength);
        if (const std::optional<qint64> offset = ParseAcceptanceOffset(in.payload, offer->length))
            Check(*offset == 0 || *offset < offer->length);
        CheckReceivedName(offer->fileName);
        FriendlyFileTime(offer->modified, QDate(2007, 3, 5));
    },
    [](const Input& in) { CheckReceivedName(in.payload); },
    [](const Input& in) {
        const QString friendly = FriendlyFileTime(in.payload, QDate(2007, 3, 5));
        Check(friendly == in.payload || friendly.size() == in.payload.size() - 8);
    },
    [](const Input& in) {
        const std::optional<ChatInvitation> invitation = ParseInvitation(in.payload);
        if (invitation)
            Check(invitation->key >= 1 && invitation->key <= 254);
    },
    [](const Input& in) {
        // Unscrambling and scrambling again gives the payload back.
        if (const std::optional<ChatText> chat = ParseChatText(in.payload, in.key)) {
            Check(chat->styleCode.size() == kStyleCodeLength);
            Check(ScrambleText(chat->styleCode + chat->text, in.key) == in.payload);
        }
    },
    [](const Input& in) { NoteBlock(in.payload); },  // the refusal's block note
    [](const Input& in) {
        // The point size of a chat text's style code.
        Check(std::isfinite(LenientNumber(in.payload)));
    },
    [](const Input& in) {
        // A presence datagram: what parses is exactly what the builders write, and the
        // address it names is one the service can compare with the sender's.
        const std::optional<PresenceMessage> m = ParsePresenceDatagram(in.bytes);
        if (!m)
            return;
        switch (m->kind) {
            case PresenceKind::Query:
                Check(BuildPresenceQuery() == in.bytes);
                return;
            case PresenceKind::Goodbye:
                Check(BuildPresenceGoodbye(m->addressCode) == in.bytes);
                break;
            case PresenceKind::Announce:
                Check(BuildPresenceAnnounce(m->addressCode, m->nickName, m->ports) == in.bytes);
                break;
        }
        Check(IsDottedAddress(DecodeAddressCode(m->addressCode)));
    },
    [](const Input& in) {
        Check(FromWire(FrameControlMessage(in.message)).chopped(1) == in.message);
    },
    [](const Input& in) { AnnouncesBatches(in.payload); },
    [](const Input& in) {
        const std::optional<BatchHeader> header = ParseBatchOffer(in.payload);
        if (!header)
            return;
        Check(header->key >= 1 && header->key <= 254);
        Check(header->folders + header->files == header->entries);
        const std::optional<BatchHeader> again =
            ParseBatchOffer(SplitCode(BuildBatchOffer(*header))->payload);
        Check(again && again->entries == header->entries && again->note == header->note);
    },
    [](const Input& in) {
        if (const std::optional<QList<BatchEntry>> entries = ParseBatchEntries(in.payload))
            CheckBatchEntries(*entries);
    },
    [](const Input& in) {
        const std::optional<QList<PlanItem>> items = ParseBatchPlan(in.payload, 1000, -1);
        if (!items)
            return;
        qint64 after = -1;
        for (const PlanItem& item : *items) {
            Check(item.first > after && item.last >= item.first && item.last < 1000);
            Check(item.offset == -1 || (item.offset > 0 && item.first == item.last));
            after = item.last;
        }
    },
    [](const Input& in) { ParseBatchStopped(in.payload); },
    [](const Input& in) {
        // The known-peers file: every entry read is a dotted address with a whole digest.
        const QHash<QString, QByteArray> pins = KnownPeers::Parse(in.bytes);
        Check(pins.size() <= KnownPeers::kMaxPeers);
        for (auto pin = pins.cbegin(); pin != pins.cend(); ++pin)
            Check(IsDottedAddress(pin.key()) && pin.value().size() == 32);
    },
    [](const Input& in) {
        // A browser's upload body: read whole and in two pieces, the same parts come out, and
        // a part's bytes only ever come between its beginning and its end.
        struct Parts : MultipartReader::Sink {
            bool PartBegins(const MultipartReader::Part& part) override {
                Check(!open);
                Check(part.fileName.toUtf8().size() <= MultipartReader::kMaxFileNameBytes * 3);
                open = true;
                seen += "[" + part.fileName.toUtf8() + "|";
                return true;
            }
            bool PartData(const char* data, std::size_t size) override {
                Check(open && size > 0);
                seen.append(data, qsizetype(size));
                return true;
            }
            bool PartEnds() override {
                Check(open);
                open = false;
                seen += "]";
                return true;
            }
            bool open = false;
            QByteArray seen;
        };
        const QByteArray boundary = MultipartReader::BoundaryOf(
            "multipart/form-data; boundary=" + in.bytes.left(in.bytes.indexOf('\n')));
        Check(boundary.size() <= MultipartReader::kMaxBoundaryBytes);
        const QByteArray used = boundary.isEmpty() ? QByteArray("b") : boundary;
        Parts whole;
        MultipartReader one(used);
        const bool wholeOk = one.Feed(in.bytes.constData(), std::size_t(in.bytes.size()), whole);
        Parts split;
        MultipartReader two(used);
        const qsizetype cut = in.bytes.size() / 2;
        const bool splitOk =
            two.Feed(in.bytes.constData(), std::size_t(cut), split) &&
            two.Feed(in.bytes.constData() + cut, std::size_t(in.bytes.size() - cut), split);
        Check(wholeOk == splitOk && one.state() == two.state());
        if (wholeOk)
            Check(whole.seen == split.seen);
        HeaderParameter(in.bytes, "filename");
    },
    [](const Input& in) {
        if (in.bytes.size() < kRecordHeaderBytes)
            return;
        const std::optional<RecordHeader> header = ReadRecordHeader(in.bytes.constData());
        if (!header)
            return;
        Check(header->length <= kMaxRecordPayload);
        char again[kRecordHeaderBytes];
        WriteRecordHeader(again, *header);
        Check(memcmp(again, in.bytes.constData(), kRecordHeaderBytes) == 0);
    },
    [](const Input& in) {
        // A service's TXT strings, as DNS carries them (a length byte, then the bytes): what
        // is taken is a record whose own strings read back the same.
        QList<QByteArray> strings;
        for (qsizetype at = 0; at < in.bytes.size();) {
            const int length = quint8(in.bytes[at]);
            strings << in.bytes.mid(at + 1, length);
            at += 1 + length;
        }
        const std::optional<DnsSdRecord> record = ParseDnsSdTxt(strings);
        if (!record)
            return;
        Check(strings.size() <= kMaxDnsSdTxtRecords);
        Check(record->addressCode.size() == kAddressCodeLength);
        Check(record->nickName.toUtf8().size() <= kMaxPresenceNickNameBytes);
        Check(ParseDnsSdTxt(BuildDnsSdTxt(*record)) == record);
        Check(DnsSdInstanceName(record->nickName, record->addressCode).toUtf8().size() <=
              kMaxDnsSdInstanceNameBytes);
    },
};

void ParseEverything(const QString& message, int counter, int key, const QByteArray& bytes) {
    Input in;
    in.message = message;
    in.counter = counter;
    in.key = key;
    in.bytes = bytes;
    if (const std::optional<CodedMessage> coded = SplitCode(message))
        in.payload = coded->payload;
    for (const Parser parse : kParsers)
        parse(in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the piece size and the key, the rest is the stream.
    const size_t piece = size_t(data[0] % 64) + 1;
    const int key = data[0] % 254 + 1;
    ReceiveBuffer buffer;
    int messages = 0;
    for (size_t at = 1; at < size; at += piece) {
        const size_t length = at + piece <= size ? piece : size - at;
        QString message;
        const QByteArray bytes =
            QByteArray::fromRawData(reinterpret_cast<const char*>(data + at), qsizetype(length));
        switch (buffer.Append(bytes, message)) {
            case ReceiveBuffer::Outcome::Waiting:
                break;
            case ReceiveBuffer::Outcome::Overflow:
                buffer.Reset();
                break;
            case ReceiveBuffer::Outcome::Message:
                ++messages;
                Check(buffer.counter() == messages);
                Check(message.size() * 2 <= ReceiveBuffer::kMaxMessageBytes);
                ParseEverything(message, buffer.counter(), key, ToWire(message));
                break;
        }
        if (buffer.counter() == 0)
            messages = 0;
    }
    // The same stream split at every terminator, verified half-way with the chat codes as the
    // only message starts: every message stays within the limit, the counter counts them.
    ReceiveBuffer split;
    split.SetMessageStarts({ProtocolCodes::InitiatorText, ProtocolCodes::InitiatorLeaves});
    int splitMessages = 0;
    for (size_t at = 1; at < size; at += piece) {
        const size_t length = at + piece <= size ? piece : size - at;
        split.Feed(
            QByteArray::fromRawData(reinterpret_cast<const char*>(data + at), qsizetype(length)));
        if (at > size / 2)
            split.SetVerified();
        QString message;
        ReceiveBuffer::Outcome outcome;
        while ((outcome = split.Next(message)) == ReceiveBuffer::Outcome::Message) {
            ++splitMessages;
            Check(split.counter() == splitMessages);
            Check(message.size() * 2 <= ReceiveBuffer::kMaxMessageBytes);
            UnscrambleChatText(message, 77);
        }
        if (outcome == ReceiveBuffer::Outcome::Overflow) {
            split.Reset();
            splitMessages = 0;
        }
    }
    // The whole input as one message without framing, and as one datagram.
    const QByteArray whole =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    ParseEverything(FromWire(whole), int(size), key, whole);
    return 0;
}
