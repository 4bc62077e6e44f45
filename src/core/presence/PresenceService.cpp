#include "presence/PresenceService.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QUdpSocket>
#include <algorithm>

#include "address/AddressCode.h"
#include "platform/NetworkCards.h"
#include "platform/ServiceDiscovery.h"

namespace tvx {

namespace {

const QString kAllOnes = QStringLiteral("255.255.255.255");

quint32 Ipv4Of(const QString& dottedAddress) {
    bool ok = false;
    const quint32 value = QHostAddress(dottedAddress).toIPv4Address(&ok);
    return ok ? value : 0;
}

QString DottedOf(quint32 ipv4) {
    return QHostAddress(ipv4).toString();
}

// The netmask of the card that holds the address; 0 when no card does.
quint32 NetmaskOf(quint32 ipv4) {
    const std::optional<NetworkCard> card = CardHolding(QHostAddress(ipv4));
    return card ? card->netmask.toIPv4Address() : 0;
}

}  // namespace

bool IsLoopbackAddress(const QString& dottedAddress) {
    return (Ipv4Of(dottedAddress) >> 24) == 127;
}

QStringList BroadcastDestinations(const QString& localAddress) {
    const quint32 local = Ipv4Of(localAddress);
    if (local == 0 || IsLoopbackAddress(localAddress))
        return {};
    QStringList destinations;
    const quint32 netmask = NetmaskOf(local);
    // A /31 or /32 has no broadcast address of its own.
    if (netmask != 0 && ~netmask > 1)
        destinations << DottedOf(local | ~netmask);
    destinations << kAllOnes;
    return destinations;
}

quint16 PresencePortSetting() {
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("TOLVEX_PRESENCE_PORT", &ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : kPresencePort;
}

QStringList PresenceDestinations(const QString& localAddress) {
    if (!IsLoopbackAddress(localAddress))
        return BroadcastDestinations(localAddress);
    // A socket bound to one loopback address hears no loopback broadcast, hence unicast.
    const quint32 local = Ipv4Of(localAddress);
    QStringList destinations;
    for (quint32 last = 1; last <= 9; ++last) {
        const quint32 target = (127u << 24) | last;
        if (target != local)
            destinations << DottedOf(target);
    }
    return destinations;
}

PresenceService::PresenceService(PresenceConfig config, IdentitySource identity, QObject* parent)
    : QObject(parent), m_config(std::move(config)), m_identity(std::move(identity)) {
    m_localIpv4 = Ipv4Of(m_config.localAddress);
    m_announceTimer.setInterval(m_config.announceIntervalMs);
    connect(&m_announceTimer, &QTimer::timeout, this, &PresenceService::SendAnnouncement);
    // Expiry is checked often enough that a silent peer leaves soon after its time is up.
    m_expiryTimer.setInterval(std::clamp(m_config.expiryMs / 10, 20, 5000));
    connect(&m_expiryTimer, &QTimer::timeout, this, &PresenceService::ExpirePeers);
    m_clock.start();
}

PresenceService::~PresenceService() = default;

bool PresenceService::Start() {
    if (m_running)
        return true;
    if (m_localIpv4 == 0)
        return false;
    const QAbstractSocket::BindMode mode =
        m_config.hearBroadcasts ? QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint
                                : QAbstractSocket::DefaultForPlatform;
    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(QHostAddress(m_localIpv4), m_config.port, mode)) {
        delete m_socket;
        m_socket = nullptr;
        return false;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, [this] { ReadPending(m_socket); });
    if (m_config.hearBroadcasts && m_config.port != 0) {
        m_netmask = NetmaskOf(m_localIpv4);
        m_broadcastSocket = new QUdpSocket(this);
        if (m_broadcastSocket->bind(QHostAddress(QHostAddress::AnyIPv4), m_config.port, mode)) {
            connect(m_broadcastSocket, &QUdpSocket::readyRead, this,
                    [this] { ReadPending(m_broadcastSocket); });
        } else {
            // Without it the copy still answers queries and hears unicast answers.
            delete m_broadcastSocket;
            m_broadcastSocket = nullptr;
        }
    }
    m_running = true;
    m_announceTimer.start();
    m_expiryTimer.start();
    if (m_discovery) {
        connect(m_discovery, &ServiceDiscovery::PeerFound, this, &PresenceService::Discovered);
        connect(m_discovery, &ServiceDiscovery::PeerLost, this, &PresenceService::Undiscovered);
        m_discovery->Browse();
    }
    SendAnnouncement();
    Query();
    return true;
}

void PresenceService::Stop() {
    if (!m_running)
        return;
    if (m_announced)
        SendGoodbye();
    m_running = false;
    m_announceTimer.stop();
    m_expiryTimer.stop();
    // Closed now so that the port is free at once; deleted later, as a handler of theirs may
    // be what called Stop().
    for (QUdpSocket* socket : {m_socket, m_broadcastSocket}) {
        if (socket) {
            socket->close();
            socket->deleteLater();
        }
    }
    m_socket = nullptr;
    m_broadcastSocket = nullptr;
    m_answered.clear();
    if (m_discovery) {
        disconnect(m_discovery, nullptr, this, nullptr);
        m_discovery->StopBrowsing();
        m_discovery->Withdraw();
        m_published = false;
    }
    while (!m_found.empty())
        Undiscovered(DottedOf(m_found.begin()->first));
    while (!m_peers.empty())
        RemovePeer(m_peers.begin()->first);
}

void PresenceService::Query() {
    if (m_running)
        SendToDestinations(BuildPresenceQuery());
}

void PresenceService::AnnounceNow() {
    if (m_running)
        SendAnnouncement();
}

QList<PresencePeer> PresenceService::Peers() const {
    QList<PresencePeer> peers;
    peers.reserve(qsizetype(m_peers.size() + m_found.size()));
    auto heard = m_peers.begin();
    auto found = m_found.begin();
    while (heard != m_peers.end() || found != m_found.end()) {
        if (found == m_found.end() || (heard != m_peers.end() && heard->first <= found->first)) {
            if (found != m_found.end() && found->first == heard->first)
                ++found;
            peers << (heard++)->second.peer;
        } else {
            peers << (found++)->second;
        }
    }
    return peers;
}

int PresenceService::PeerCount() const {
    int count = int(m_peers.size());
    for (const auto& [source, peer] : m_found)
        count += m_peers.count(source) ? 0 : 1;
    return count;
}

void PresenceService::ReadPending(QUdpSocket* socket) {
    if (!m_running || (socket != m_socket && socket != m_broadcastSocket))
        return;
    const bool broadcastSocket = socket == m_broadcastSocket;
    // The socket announces the next datagram only after one was read, so every notice is
    // answered by a read, even when the datagram it announced is gone (dropped by the system
    // for a bad checksum, say): a notice left unanswered would silence the socket for good.
    // A flood is read a batch per notice, so that timers and other sockets keep their turn;
    // the notice comes again at once while datagrams wait.
    for (int count = 0; count < kReadBatch; ++count) {
        if (count > 0 && !socket->hasPendingDatagrams())
            break;
        // One byte more than allowed tells a datagram that is too long; the rest is dropped.
        const QNetworkDatagram datagram = socket->receiveDatagram(kMaxPresenceDatagram + 1);
        bool ok = false;
        const quint32 source = datagram.senderAddress().toIPv4Address(&ok);
        if (!ok || datagram.senderPort() <= 0)
            continue;
        HandleDatagram(datagram.data(), source, quint16(datagram.senderPort()), broadcastSocket);
        if (!m_running || (socket != m_socket && socket != m_broadcastSocket))
            return;  // stopped by a handler of the signals
    }
}

void PresenceService::HandleDatagram(const QByteArray& bytes, quint32 source, quint16 sourcePort,
                                     bool broadcastSocket) {
    if (source == m_localIpv4)
        return;  // our own broadcast coming back
    // Broadcasts from other networks of this machine are not this network's peers.
    if (broadcastSocket && m_netmask != 0 && (source & m_netmask) != (m_localIpv4 & m_netmask))
        return;
    const std::optional<PresenceMessage> message = ParsePresenceDatagram(bytes);
    if (!message)
        return;
    switch (message->kind) {
        case PresenceKind::Query:
            ScheduleAnswer(source, sourcePort);
            break;
        case PresenceKind::Announce:
            HeardAnnouncement(*message, source);
            break;
        case PresenceKind::Goodbye:
            // Only the copy itself may take itself off the list.
            if (Ipv4Of(DecodeAddressCode(message->addressCode)) == source)
                RemovePeer(source);
            break;
    }
}

void PresenceService::HeardAnnouncement(const PresenceMessage& message, quint32 source) {
    if (Ipv4Of(DecodeAddressCode(message.addressCode)) != source)
        return;
    const PresencePeer peer{DottedOf(source), message.addressCode, message.nickName, message.ports};
    const auto found = m_peers.find(source);
    if (found == m_peers.end()) {
        if (int(m_peers.size()) >= kMaxPeers) {
            ExpirePeers();
            if (int(m_peers.size()) >= kMaxPeers)
                return;  // full: the peers already listed keep their places
        }
        const std::optional<PresencePeer> before = Listed(source);
        m_peers.emplace(source, Entry{peer, Now()});
        ReportChange(source, before);
        return;
    }
    found->second.lastHeardMs = Now();
    const PresencePeer& known = found->second.peer;
    if (known.addressCode == peer.addressCode && known.nickName == peer.nickName &&
        known.ports == peer.ports)
        return;
    found->second.peer = peer;
    emit PeerUpdated(peer);
}

void PresenceService::ScheduleAnswer(quint32 source, quint16 port) {
    if (!m_identity().discoverable)
        return;
    const qint64 now = Now();
    const auto found = m_answered.find(source);
    if (found != m_answered.end() && now - found->second < m_config.answerGapMs)
        return;
    if (found == m_answered.end() && int(m_answered.size()) >= kMaxAnswerSources) {
        for (auto at = m_answered.begin(); at != m_answered.end();) {
            if (now - at->second >= m_config.answerGapMs)
                at = m_answered.erase(at);
            else
                ++at;
        }
        if (int(m_answered.size()) >= kMaxAnswerSources)
            return;  // too many askers at once: the rest go unanswered
    }
    m_answered[source] = now;
    const int delay = int(QRandomGenerator::global()->bounded(m_config.answerDelayMaxMs + 1));
    QTimer::singleShot(delay, this, [this, source, port] {
        const PresenceIdentity self = m_identity();
        if (!m_running || !self.discoverable || !IsAddressCode(self.addressCode))
            return;
        m_socket->writeDatagram(BuildPresenceAnnounce(self.addressCode, self.nickName, self.ports),
                                QHostAddress(source), port);
        m_announced = true;
    });
}

void PresenceService::SendAnnouncement() {
    UpdatePublication();
    const PresenceIdentity self = m_identity();
    if (!self.discoverable || !IsAddressCode(self.addressCode)) {
        if (m_announced)
            SendGoodbye();
        return;
    }
    SendToDestinations(BuildPresenceAnnounce(self.addressCode, self.nickName, self.ports));
    m_announced = true;
}

void PresenceService::SendGoodbye() {
    QString code = m_identity().addressCode;
    if (!IsAddressCode(code))
        code = EncodeAddressCode(m_config.localAddress);
    SendToDestinations(BuildPresenceGoodbye(code.toUpper()));
    m_announced = false;
}

void PresenceService::SendToDestinations(const QByteArray& datagram) {
    if (!m_socket)
        return;
    for (const QString& destination : m_config.destinations) {
        const quint32 target = Ipv4Of(destination);
        if (target != 0 && target != m_localIpv4)
            m_socket->writeDatagram(datagram, QHostAddress(target), m_config.peerPort);
    }
}

void PresenceService::RemovePeer(quint32 source) {
    const auto found = m_peers.find(source);
    if (found == m_peers.end())
        return;
    const std::optional<PresencePeer> before = found->second.peer;
    m_peers.erase(found);
    ReportChange(source, before);
}

void PresenceService::ExpirePeers() {
    const qint64 now = Now();
    QList<quint32> silent;
    for (const auto& [source, entry] : m_peers) {
        if (now - entry.lastHeardMs >= m_config.expiryMs)
            silent << source;
    }
    for (quint32 source : silent)
        RemovePeer(source);
    // The answer table forgets sources whose gap has passed, so it stays small when quiet.
    for (auto at = m_answered.begin(); at != m_answered.end();) {
        if (now - at->second >= m_config.answerGapMs)
            at = m_answered.erase(at);
        else
            ++at;
    }
}

void PresenceService::UpdatePublication() {
    if (!m_discovery || !m_running)
        return;
    const PresenceIdentity self = m_identity();
    if (self.discoverable && IsAddressCode(self.addressCode) && self.ports.fileControl != 0) {
        m_discovery->Publish({self.addressCode.toUpper(), self.nickName, self.ports});
        m_published = true;
    } else if (m_published) {
        m_discovery->Withdraw();
        m_published = false;
    }
}

void PresenceService::Discovered(const DiscoveredPeer& found) {
    const quint32 source = Ipv4Of(found.ipv4);
    // As with datagrams: never ourselves, and only a copy whose TVX address is its own.
    if (!m_running || source == 0 || source == m_localIpv4 ||
        Ipv4Of(DecodeAddressCode(found.record.addressCode)) != source)
        return;
    const PresencePeer peer{DottedOf(source), found.record.addressCode, found.record.nickName,
                            found.record.ports};
    const auto known = m_found.find(source);
    if (known == m_found.end() && int(m_found.size()) >= kMaxPeers)
        return;  // full: the peers already listed keep their places
    const std::optional<PresencePeer> before = Listed(source);
    m_found[source] = peer;
    ReportChange(source, before);
}

void PresenceService::Undiscovered(const QString& ipv4) {
    const quint32 source = Ipv4Of(ipv4);
    const auto known = m_found.find(source);
    if (known == m_found.end())
        return;
    const std::optional<PresencePeer> before = Listed(source);
    m_found.erase(known);
    ReportChange(source, before);
}

std::optional<PresencePeer> PresenceService::Listed(quint32 source) const {
    const auto heard = m_peers.find(source);
    if (heard != m_peers.end())
        return heard->second.peer;
    const auto found = m_found.find(source);
    if (found != m_found.end())
        return found->second;
    return std::nullopt;
}

void PresenceService::ReportChange(quint32 source, const std::optional<PresencePeer>& before) {
    const std::optional<PresencePeer> after = Listed(source);
    if (!before && after) {
        emit PeerAdded(*after);
    } else if (before && !after) {
        emit PeerRemoved(*before);
    } else if (before && after &&
               (before->addressCode != after->addressCode || before->nickName != after->nickName ||
                !(before->ports == after->ports))) {
        emit PeerUpdated(*after);
    }
}

}  // namespace tvx
