#include "protocol/PresenceMessages.h"

#include <QList>
#include <QStringDecoder>


namespace tvx {

namespace {

const char kMagic[4] = {'T', 'V', 'X', 'P'};
constexpr int kAnnounceFixedBytes = kPresenceHeaderBytes + kAddressCodeLength + 3 * 2 + 1;

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029;
}

QByteArray Header(PresenceKind kind) {
    QByteArray bytes(kMagic, sizeof kMagic);
    bytes.append(char(kPresenceVersion));
    bytes.append(char(kind));
    return bytes;
}

void AppendPort(QByteArray& bytes, quint16 port) {
    bytes.append(char(port >> 8));
    bytes.append(char(port & 0xFF));
}

quint16 PortAt(const QByteArray& bytes, int at) {
    return quint16((quint8(bytes[at]) << 8) | quint8(bytes[at + 1]));
}

// Ten upper-case letters of the TVX address alphabet, one for each hexadecimal digit; any
// ten of them stand for some address. Lower case is never written, so it is not taken.
std::optional<QString> CodeAt(const QByteArray& bytes, int at) {
    static const QByteArray kCodeLetters = QByteArrayLiteral("EXVKCSQHAWNFBYMD");
    const QByteArray code = bytes.mid(at, kAddressCodeLength);
    for (char letter : code) {
        if (!kCodeLetters.contains(letter))
            return std::nullopt;
    }
    return QString::fromLatin1(code);
}

}  // namespace

QByteArray PresenceNickNameBytes(const QString& nickName) {
    QByteArray bytes;
    const QList<uint> characters = nickName.toUcs4();
    for (uint c : characters) {
        const char32_t character = IsControl(c) ? U' ' : char32_t(c);
        const QByteArray piece = QString::fromUcs4(&character, 1).toUtf8();
        if (bytes.size() + piece.size() > kMaxPresenceNickNameBytes)
            break;
        bytes += piece;
    }
    return bytes;
}

QByteArray BuildPresenceAnnounce(const QString& addressCode, const QString& nickName,
                                 const PresencePorts& ports) {
    QByteArray bytes = Header(PresenceKind::Announce);
    bytes += addressCode.toLatin1().leftJustified(kAddressCodeLength, '\0', true);
    AppendPort(bytes, ports.fileControl);
    AppendPort(bytes, ports.fileData);
    AppendPort(bytes, ports.chat);
    const QByteArray name = PresenceNickNameBytes(nickName);
    bytes.append(char(name.size()));
    bytes += name;
    return bytes;
}

QByteArray BuildPresenceQuery() {
    return Header(PresenceKind::Query);
}

QByteArray BuildPresenceGoodbye(const QString& addressCode) {
    return Header(PresenceKind::Goodbye) +
           addressCode.toLatin1().leftJustified(kAddressCodeLength, '\0', true);
}

std::optional<PresenceMessage> ParsePresenceDatagram(const QByteArray& datagram) {
    const qsizetype size = datagram.size();
    if (size < kPresenceHeaderBytes || size > kMaxPresenceDatagram)
        return std::nullopt;
    if (!datagram.startsWith(QByteArrayView(kMagic, sizeof kMagic)) ||
        quint8(datagram[4]) != kPresenceVersion)
        return std::nullopt;

    PresenceMessage message;
    switch (quint8(datagram[5])) {
        case quint8(PresenceKind::Query):
            if (size != kPresenceHeaderBytes)
                return std::nullopt;
            message.kind = PresenceKind::Query;
            return message;

        case quint8(PresenceKind::Goodbye): {
            if (size != kPresenceHeaderBytes + kAddressCodeLength)
                return std::nullopt;
            const std::optional<QString> code = CodeAt(datagram, kPresenceHeaderBytes);
            if (!code)
                return std::nullopt;
            message.kind = PresenceKind::Goodbye;
            message.addressCode = *code;
            return message;
        }

        case quint8(PresenceKind::Announce): {
            if (size < kAnnounceFixedBytes)
                return std::nullopt;
            const int nameLength = quint8(datagram[kAnnounceFixedBytes - 1]);
            if (nameLength > kMaxPresenceNickNameBytes || size != kAnnounceFixedBytes + nameLength)
                return std::nullopt;
            const std::optional<QString> code = CodeAt(datagram, kPresenceHeaderBytes);
            if (!code)
                return std::nullopt;

            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                          QStringDecoder::Flag::ConvertInitialBom);
            const QString nickName = utf8(datagram.sliced(kAnnounceFixedBytes, nameLength));
            if (utf8.hasError())
                return std::nullopt;
            for (uint c : nickName.toUcs4()) {
                if (IsControl(c))
                    return std::nullopt;
            }

            const int ports = kPresenceHeaderBytes + kAddressCodeLength;
            message.kind = PresenceKind::Announce;
            message.addressCode = *code;
            message.nickName = nickName;
            message.ports = {PortAt(datagram, ports), PortAt(datagram, ports + 2),
                             PortAt(datagram, ports + 4)};
            return message;
        }

        default:
            return std::nullopt;
    }
}

}  // namespace tvx
