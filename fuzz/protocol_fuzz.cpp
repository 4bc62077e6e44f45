// Feeds arbitrary bytes through the receive buffer, in pieces whose sizes come from the input,
// and hands every message it frames to each parser of the protocol.
#include <cstddef>
#include <cstdint>

#include "protocol/Codes.h"
#include "protocol/HandshakeSteps.h"
#include "protocol/PeerMessages.h"
#include "protocol/PresenceMessages.h"
#include "protocol/ReceiveBuffer.h"
#include "protocol/Wire.h"

namespace {

using namespace tvx;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

void ParseEverything(const QString& message, int counter) {
    QString answererChallenge = QStringLiteral("0123456789abcdef");
    AnswererHandshakeStep(counter % 4, message, answererChallenge);
    CallerHandshakeStep(counter % 4, message, answererChallenge);

    const std::optional<CodedMessage> coded = SplitCode(message);
    Check(coded.has_value() == !message.isEmpty());
    if (!coded)
        return;
    const QString& payload = coded->payload;

    CheckVersion(QString(QChar(ProtocolCodes::Version)), PeerVersionOf(payload, true));
    CheckVersion(QString(QChar(ProtocolCodes::Version)), PeerVersionOf(payload, false));

    const CallerIdentity identity = ParseCallerIntroduction(payload);
    Check(identity.card.size() == kCardFields);
    Check(ParseAnswererIntroduction(payload).size() == kCardFields);

    if (const std::optional<FileOffer> offer = ParseOffer(payload)) {
        Check(offer->key >= 1 && offer->key <= 254);
        Check(offer->length >= 0 && offer->length <= kMaxFileLength);
        if (const std::optional<qint64> offset = ParseAcceptanceOffset(payload, offer->length)) {
            Check(*offset == 0 || *offset < offer->length);
        }
    }
    if (const std::optional<ChatInvitation> invitation = ParseInvitation(payload)) {
        Check(invitation->key >= 1 && invitation->key <= 254);
        // Text chat with that key: scrambling twice gives the payload back.
        if (const std::optional<ChatText> chat = ParseChatText(payload, invitation->key)) {
            Check(chat->styleCode.size() == kStyleCodeLength);
            Check(ScrambleText(chat->styleCode + chat->text, invitation->key) == payload);
        }
    }
    RefusedBlockedMessage(payload);
    Check(FromWire(FrameControlMessage(message)).chopped(1) == message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the piece size, the rest is the stream.
    const size_t piece = size_t(data[0] % 64) + 1;
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
                ParseEverything(message, buffer.counter());
                break;
        }
        if (buffer.counter() == 0)
            messages = 0;
    }
    // The whole input as one presence datagram: what parses is exactly what the builder writes.
    const QByteArray datagram(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const std::optional<PresenceMessage> m = ParsePresenceDatagram(datagram))
        Check(m->kind != PresenceKind::Announce ||
              BuildPresenceAnnounce(m->addressCode, m->nickName, m->ports) == datagram);
    // The whole input as one message, without framing.
    ParseEverything(
        FromWire(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size))),
        int(size));
    return 0;
}
