#include "address/AddressCode.h"

#include <QStringList>

#include "common/Handshake.h"

namespace tvx {

namespace {

// Code letter of each hexadecimal digit 0 to F.
const char kLetters[] = "EXVKCSQHAWNFBYMD";

// Output position k (0-based) takes letter kReorder[k] of the plain letter string.
const int kReorder[10] = {1, 5, 8, 6, 2, 7, 4, 0, 9, 3};

int DigitOfLetter(QChar letter) {
    for (int digit = 0; digit < 16; ++digit) {
        if (letter == QLatin1Char(kLetters[digit]))
            return digit;
    }
    return -1;
}

}  // namespace

QString EncodeAddressCode(const QString& dottedAddress) {
    return EncodeAddressCode(dottedAddress, DrawAddressMask());
}

QString EncodeAddressCode(const QString& dottedAddress, int mask) {
    const QStringList fields = dottedAddress.split(QLatin1Char('.'));
    if (fields.size() != 4)
        return QString();
    int bytes[5] = {mask & 0xFF, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i)
        bytes[i + 1] = (fields[i].toInt() & 0xFF) ^ (mask & 0xFF);

    QString plain;
    for (int byte : bytes) {
        plain += QLatin1Char(kLetters[byte >> 4]);
        plain += QLatin1Char(kLetters[byte & 0xF]);
    }
    QString code(10, QLatin1Char(' '));
    for (int k = 0; k < 10; ++k)
        code[k] = plain[kReorder[k]];
    return code;
}

QString DecodeAddressCode(const QString& code) {
    const QString upper = code.toUpper();
    if (upper.size() != 10)
        return QString();
    QString plain(10, QLatin1Char(' '));
    for (int k = 0; k < 10; ++k)
        plain[kReorder[k]] = upper[k];

    int digits[10];
    for (int i = 0; i < 10; ++i) {
        digits[i] = DigitOfLetter(plain[i]);
        if (digits[i] < 0)
            return QString();
    }
    const int mask = digits[0] * 16 + digits[1];
    QStringList fields;
    for (int i = 1; i < 5; ++i)
        fields << QString::number((digits[2 * i] * 16 + digits[2 * i + 1]) ^ mask);
    return fields.join(QLatin1Char('.'));
}

bool IsDottedAddress(const QString& text) {
    if (text.size() <= 6 || text.size() >= 16)
        return false;
    const QStringList fields = text.split(QLatin1Char('.'));
    if (fields.size() != 4)
        return false;
    for (const QString& field : fields) {
        if (field.isEmpty() || field.size() > 3)
            return false;
        for (QChar c : field) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        if (field.toInt() > 255)
            return false;
    }
    return true;
}

bool IsAddressCode(const QString& text) {
    if (text.size() != 10)
        return false;
    const QString upper = text.toUpper();
    for (QChar c : upper) {
        if (DigitOfLetter(c) < 0)
            return false;
    }
    return IsDottedAddress(DecodeAddressCode(upper));
}

QString NormalizeDottedAddress(const QString& dottedAddress) {
    QStringList fields = dottedAddress.split(QLatin1Char('.'));
    for (QString& field : fields)
        field = QString::number(field.toInt());
    return fields.join(QLatin1Char('.'));
}

QString ResolvePeerAddress(const QString& text) {
    if (IsDottedAddress(text))
        return NormalizeDottedAddress(text);
    if (IsAddressCode(text))
        return NormalizeDottedAddress(DecodeAddressCode(text));
    return QString();
}

}  // namespace tvx
