#include "protocol/Wire.h"

#include "protocol/Codes.h"

namespace tvx {

QByteArray ToWire(const QString& text) {
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    char* out = bytes.data();
    for (const QChar unit : text) {
        const char16_t value = unit.unicode();
        *out++ = char(value & 0xFF);
        *out++ = char(value >> 8);
    }
    return bytes;
}

QString FromWire(const QByteArray& bytes) {
    const qsizetype units = bytes.size() / 2;
    QString text(units, Qt::Uninitialized);
    QChar* out = text.data();
    const auto* in = reinterpret_cast<const uchar*>(bytes.constData());
    for (qsizetype k = 0; k < units; ++k) {
        out[k] = QChar(char16_t(in[2 * k] | (in[2 * k + 1] << 8)));
    }
    return text;
}

QString JoinFields(const QStringList& fields) {
    return fields.join(QChar(ProtocolCodes::Separator));
}

QStringList SplitFields(const QString& payload) {
    return payload.split(QChar(ProtocolCodes::Separator));
}

QString MessageBody(char16_t code, const QString& payload) {
    return QChar(code) + payload;
}

QByteArray FrameControlMessage(const QString& body) {
    return ToWire(body + QChar(ProtocolCodes::Terminator));
}

}  // namespace tvx
