#include "common/Handshake.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace tvx {

QString Digest(const QString& text) {
    QByteArray bytes(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QString MakeChallenge() {
    QString challenge(16, QChar(0));
    QRandomGenerator* random = QRandomGenerator::system();
    for (int k = 0; k < 16; ++k) {
        quint16 low = quint16(random->bounded(256));
        quint16 high = quint16(random->bounded(256));
        challenge[k] = QChar(quint16(low | (high << 8)));
    }
    return challenge;
}

QString ChallengeResponse(const QString& challenge) {
    const QString hex = Digest(challenge);
    QString response(16, QChar(0));
    for (int k = 0; k < 16; ++k) {
        quint16 low = hex[2 * k].unicode();
        quint16 high = hex[2 * k + 1].unicode();
        response[k] = QChar(quint16(low | (high << 8)));
    }
    return response;
}

int DrawScrambleKey() {
    return int(QRandomGenerator::system()->bounded(1, 255));
}

int DrawAddressMask() {
    return int(QRandomGenerator::system()->bounded(1, 256));
}

}  // namespace tvx
