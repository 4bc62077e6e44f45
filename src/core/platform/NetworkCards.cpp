#include "platform/NetworkCards.h"

#include <QNetworkInterface>

namespace tvx {

std::optional<NetworkCard> CardHolding(const QHostAddress& address) {
    if (address.protocol() != QAbstractSocket::IPv4Protocol)
        return std::nullopt;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const bool loopbackPass : {false, true}) {
        for (const QNetworkInterface& card : interfaces) {
            if (loopbackPass && !(card.flags() & QNetworkInterface::IsLoopBack))
                continue;
            for (const QNetworkAddressEntry& entry : card.addressEntries()) {
                if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                    continue;
                const bool holds = loopbackPass
                                       ? entry.prefixLength() >= 0 &&
                                             address.isInSubnet(entry.ip(), entry.prefixLength())
                                       : entry.ip() == address;
                if (holds) {
                    return NetworkCard{card.humanReadableName(),
                                       bool(card.flags() & QNetworkInterface::IsUp),
                                       entry.netmask(), entry.prefixLength(), entry.broadcast()};
                }
            }
        }
    }
    return std::nullopt;
}

}  // namespace tvx
