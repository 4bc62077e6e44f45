#pragma once

#include <QHostAddress>
#include <QString>
#include <optional>

namespace tvx {

// The network card that holds a local IPv4 address, as the system lists it.
struct NetworkCard {
    QString name;
    bool up = false;
    QHostAddress netmask;
    int prefixLength = 0;
    QHostAddress broadcast;
};

// The card the address is assigned to; for an address of 127.0.0.0/8 the loopback card, which
// lists only its first address but answers to them all. Nothing when no card holds it.
std::optional<NetworkCard> CardHolding(const QHostAddress& address);

}  // namespace tvx
