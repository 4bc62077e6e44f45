#include "startup/LocalAddress.h"

namespace tvx {

QString DottedText(const Ipv4Bytes& address) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address[0])
        .arg(address[1])
        .arg(address[2])
        .arg(address[3]);
}

bool IsUsableAddress(const QString& dotted) {
    return !dotted.startsWith(QLatin1String("127.")) && !dotted.startsWith(QLatin1String("0."));
}

QStringList UsableAddresses(const QList<Ipv4Bytes>& table) {
    QStringList usable;
    for (const Ipv4Bytes& entry : table) {
        QString dotted = DottedText(entry);
        if (IsUsableAddress(dotted))
            usable.append(dotted);
    }
    return usable;
}

}  // namespace tvx
