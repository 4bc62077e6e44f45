#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tvx {

// A port this program needs reachable from the network.
struct WatchedPort {
    quint16 port = 0;
    bool udp = false;
};

// A rule (or a chain's policy) that would keep a watched port's packets out.
struct PortBlock {
    quint16 port = 0;
    bool udp = false;
    QString rule;             // as the tool shows it, or rebuilt from its JSON (nft)
    bool policyDrop = false;  // the input policy drops and no rule accepts the port
};

// What a firewall tool's listing says of the watched ports. `read` is false when the listing
// could not be understood (it is then no finding of a block, nor of none).
struct FirewallReading {
    bool read = false;
    QList<PortBlock> blocks;
};

// Pure readers of what the tools print; nothing here runs them. Only incoming packets count:
// rules of input chains, and of the chains these jump or go to. A rule counts when it drops or
// rejects and one of its destination-port matches holds the port (single ports, lists, ranges
// and named sets); a rule without a port match is left alone (it is about something else,
// such as a connection's state).
FirewallReading ReadNftRuleset(const QByteArray& json, const QList<WatchedPort>& ports);
// The output of `iptables -S` (the filter table).
FirewallReading ReadIptablesRules(const QByteArray& text, const QList<WatchedPort>& ports);
// The output of `ufw status verbose`; an inactive ufw blocks nothing.
FirewallReading ReadUfwStatus(const QByteArray& text, const QList<WatchedPort>& ports);

}  // namespace tvx
