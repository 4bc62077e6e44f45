#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "protocol/DnsSdRecords.h"

namespace tvx {

// A copy found through the desktop's service discovery: the IPv4 address its service resolved
// to and what its records say.
struct DiscoveredPeer {
    QString ipv4;  // normalised dotted address
    DnsSdRecord record;
};

// Publishing this copy as a DNS-SD service and browsing for the others, where the desktop runs
// a service discovery daemon. Every call may be made at any time, also while the daemon is
// absent: what was asked for takes effect when it appears. The null implementation below does
// nothing, which is what a machine without the daemon sees too.
class ServiceDiscovery : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Shows this copy under the record, or updates what is shown; the same record again
    // changes nothing.
    virtual void Publish(const DnsSdRecord& self) = 0;
    // Takes this copy off the network's lists.
    virtual void Withdraw() = 0;
    // Starts reporting the other copies by PeerFound and PeerLost.
    virtual void Browse() = 0;
    // Stops; the peers found are forgotten without PeerLost.
    virtual void StopBrowsing() = 0;

signals:
    // A copy was found, or what it says changed.
    void PeerFound(const tvx::DiscoveredPeer& peer);
    // The copy at the address is gone.
    void PeerLost(const QString& ipv4);
};

class NullServiceDiscovery final : public ServiceDiscovery {
    Q_OBJECT

public:
    using ServiceDiscovery::ServiceDiscovery;
    void Publish(const DnsSdRecord&) override {}
    void Withdraw() override {}
    void Browse() override {}
    void StopBrowsing() override {}
};

// Makes the service discovery of a program that runs without the desktop library (the command
// line), which cannot name the desktop's implementation itself.
using ServiceDiscoveryFactory = std::function<std::unique_ptr<ServiceDiscovery>()>;

}  // namespace tvx
