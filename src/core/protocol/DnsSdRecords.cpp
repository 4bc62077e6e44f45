#include "protocol/DnsSdRecords.h"

#include <QStringDecoder>

namespace tvx {

namespace {

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029;
}

bool IsCodeLetters(const QByteArray& value) {
    static const QByteArray kCodeLetters = QByteArrayLiteral("EXVKCSQHAWNFBYMD");
    if (value.size() != kAddressCodeLength)
        return false;
    for (char letter : value) {
        if (!kCodeLetters.contains(letter))
            return false;
    }
    return true;
}

// One to five decimal digits standing for 0 to 65535.
std::optional<quint16> PortOf(const QByteArray& digits) {
    if (digits.isEmpty() || digits.size() > 5)
        return std::nullopt;
    int value = 0;
    for (char digit : digits) {
        if (digit < '0' || digit > '9')
            return std::nullopt;
        value = value * 10 + (digit - '0');
    }
    if (value > 65535)
        return std::nullopt;
    return quint16(value);
}

std::optional<PresencePorts> PortsOf(const QByteArray& value) {
    const QList<QByteArray> fields = value.split(',');
    if (fields.size() != 3)
        return std::nullopt;
    const std::optional<quint16> control = PortOf(fields[0]);
    const std::optional<quint16> data = PortOf(fields[1]);
    const std::optional<quint16> chat = PortOf(fields[2]);
    if (!control || !data || !chat)
        return std::nullopt;
    return PresencePorts{*control, *data, *chat};
}

std::optional<QString> NickNameOf(const QByteArray& value) {
    if (value.size() > kMaxPresenceNickNameBytes)
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString nickName = utf8(value);
    if (utf8.hasError())
        return std::nullopt;
    for (uint c : nickName.toUcs4()) {
        if (IsControl(c))
            return std::nullopt;
    }
    return nickName;
}

QByteArray Record(const char* key, const QByteArray& value) {
    return QByteArray(key) + '=' + value;
}

}  // namespace

QList<QByteArray> BuildDnsSdTxt(const DnsSdRecord& record) {
    const PresencePorts& ports = record.ports;
    return {Record("txtvers", QByteArray::number(kDnsSdTxtVersion)),
            Record("tvx", record.addressCode.toLatin1().left(kAddressCodeLength)),
            Record("nick", PresenceNickNameBytes(record.nickName)),
            Record("ports", QByteArray::number(ports.fileControl) + ',' +
                                QByteArray::number(ports.fileData) + ',' +
                                QByteArray::number(ports.chat))};
}

QString DnsSdInstanceName(const QString& nickName, const QString& addressCode) {
    QByteArray bytes;
    const QList<uint> characters = nickName.simplified().toUcs4();
    for (uint c : characters) {
        const char32_t character = IsControl(c) ? U' ' : char32_t(c);
        const QByteArray piece = QString::fromUcs4(&character, 1).toUtf8();
        if (bytes.size() + piece.size() > kMaxDnsSdInstanceNameBytes)
            break;
        bytes += piece;
    }
    const QString name = QString::fromUtf8(bytes).trimmed();
    if (!name.isEmpty())
        return name;
    return QStringLiteral("Tolvex ") + addressCode.left(kAddressCodeLength);
}

std::optional<DnsSdRecord> ParseDnsSdTxt(const QList<QByteArray>& strings) {
    if (strings.size() > kMaxDnsSdTxtRecords)
        return std::nullopt;
    std::optional<QByteArray> version, code, nick, ports;
    for (const QByteArray& string : strings) {
        if (string.size() > kMaxDnsSdTxtRecordBytes)
            return std::nullopt;
        const qsizetype equals = string.indexOf('=');
        if (equals <= 0)
            continue;  // a flag or an empty key: nothing of ours
        const QByteArray key = string.first(equals);
        bool printable = true;
        for (char c : key)
            printable = printable && c >= 0x20 && c < 0x7F;
        if (!printable)
            continue;
        const QByteArray value = string.sliced(equals + 1);
        const QByteArray lower = key.toLower();
        std::optional<QByteArray>* slot = lower == "txtvers" ? &version
                                          : lower == "tvx"   ? &code
                                          : lower == "nick"  ? &nick
                                          : lower == "ports" ? &ports
                                                             : nullptr;
        if (slot && !slot->has_value())
            *slot = value;
    }
    if (version && *version != QByteArray::number(kDnsSdTxtVersion))
        return std::nullopt;
    if (!code || !IsCodeLetters(*code) || !ports)
        return std::nullopt;
    const std::optional<PresencePorts> portValues = PortsOf(*ports);
    if (!portValues)
        return std::nullopt;
    DnsSdRecord record;
    record.addressCode = QString::fromLatin1(*code);
    record.ports = *portValues;
    if (nick) {
        const std::optional<QString> nickName = NickNameOf(*nick);
        if (!nickName)
            return std::nullopt;
        record.nickName = *nickName;
    }
    return record;
}

}  // namespace tvx
