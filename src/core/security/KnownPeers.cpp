#include "security/KnownPeers.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "address/AddressCode.h"

namespace tvx {

QHash<QString, QByteArray> KnownPeers::Parse(const QByteArray& text) {
    QHash<QString, QByteArray> pins;
    const QByteArray bounded = text.left(kMaxFileBytes);
    for (const QByteArray& line : bounded.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        const QList<QByteArray> fields = trimmed.simplified().split(' ');
        if (fields.size() != 3 || fields[2].size() != 64)
            continue;
        const QString address = QString::fromLatin1(fields[0]);
        if (!IsDottedAddress(address))
            continue;
        const QByteArray fingerprint = QByteArray::fromHex(fields[2]);
        if (fingerprint.size() != 32 || fingerprint.toHex() != fields[2].toLower())
            continue;
        if (pins.size() >= kMaxPeers && !pins.contains(address))
            break;
        pins.insert(NormalizeDottedAddress(address), fingerprint);
    }
    return pins;
}

void KnownPeers::Reload() {
    if (path_.isEmpty())
        return;
    const QFileInfo info(path_);
    const qint64 stamp = info.exists() ? info.lastModified().toMSecsSinceEpoch() : -1;
    if (stamp == loadedStamp_ && stamp != -1)
        return;
    loadedStamp_ = stamp;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return;  // none yet: the pins made so far stay
    pins_ = Parse(file.read(kMaxFileBytes));
}

QByteArray KnownPeers::Pinned(const QString& dottedAddress) {
    Reload();
    return pins_.value(NormalizeDottedAddress(dottedAddress));
}

bool KnownPeers::Pin(const QString& dottedAddress, const QByteArray& fingerprint) {
    Reload();
    const QString address = NormalizeDottedAddress(dottedAddress);
    if (!IsDottedAddress(address) || fingerprint.size() != 32)
        return false;
    pins_.insert(address, fingerprint);
    if (path_.isEmpty())
        return true;
    QByteArray text = "# Tolvex: peers met encrypted. Address, TVX address, certificate SHA-256.\n";
    QStringList addresses = pins_.keys();
    std::sort(addresses.begin(), addresses.end());
    for (const QString& known : addresses) {
        text += known.toLatin1() + ' ' + EncodeAddressCode(known).toLatin1() + ' ' +
                pins_.value(known).toHex() + '\n';
    }
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return false;
    loadedStamp_ = QFileInfo(path_).lastModified().toMSecsSinceEpoch();
    return true;
}

}  // namespace tvx
