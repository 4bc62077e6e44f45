#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>

#include "protocol/PresenceMessages.h"

class QUdpSocket;

namespace tvx {

class ServiceDiscovery;
struct DiscoveredPeer;

// A running copy heard on the network.
struct PresencePeer {
    QString ipv4;         // normalised dotted address, the datagrams' source
    QString addressCode;  // its TVX address as it announced it
    QString nickName;
    PresencePorts ports;
};

// What this copy says of itself, read at the moment each datagram is sent so that a new
// nickname, a fresh TVX address or the Discoverable setting take effect at the next one.
struct PresenceIdentity {
    QString addressCode;
    QString nickName;
    bool discoverable = true;
    PresencePorts ports;
};

struct PresenceConfig {
    QString localAddress;
    // Where announcements, queries and goodbyes go. Start-up fills it with the subnet
    // broadcast and 255.255.255.255; tests with loopback addresses only.
    QStringList destinations;
    // Also hear broadcasts, on a second socket bound to 0.0.0.0 (a socket bound to a unicast
    // address never receives them). Off on a loopback address and in tests.
    bool hearBroadcasts = false;
    // 0 for any free port: a one-shot asker (not discoverable) that runs beside the program
    // on the same address and only wants the answers, which go to the asking port.
    quint16 port = kPresencePort;
    // Where the other copies listen: announcements, queries and goodbyes go to this port.
    // Another one keeps a group of copies (a test's) apart from those on the usual port.
    quint16 peerPort = kPresencePort;
    int announceIntervalMs = 60000;
    int expiryMs = 150000;
    int answerDelayMaxMs = 500;
    int answerGapMs = 5000;  // at most one answer per source in this time
};

// The subnet broadcast of the local address (netmask from the interface that holds it) and
// 255.255.255.255; nothing for a loopback address, which has no network to announce to.
QStringList BroadcastDestinations(const QString& localAddress);
bool IsLoopbackAddress(const QString& dottedAddress);
// The presence port of this run: the usual one, or the one that TOLVEX_PRESENCE_PORT names,
// which keeps a group of copies (a test run's, say) apart from those on the usual port.
quint16 PresencePortSetting();
// Where a copy on the address announces itself: the broadcasts above, or on a loopback
// address (several copies on one machine) the other loopback addresses 127.0.0.1 to
// 127.0.0.9, each by unicast, so that nothing leaves the machine.
QStringList PresenceDestinations(const QString& localAddress);

// The presence service of one running copy: announces itself at start and every minute,
// sends one query at start, answers queries after a short random delay, says goodbye when
// stopped, and keeps the list of the other copies it hears, which a view watches through the
// signals. Every datagram is a stranger's: one that is wrong in any way changes nothing.
// With a service discovery it also publishes itself there and lists the copies found that way:
// one list by address, where a copy heard both ways is listed as its datagrams say and goes
// only when both ways have lost it.
class PresenceService : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxPeers = 500;
    static constexpr int kMaxAnswerSources = 1024;  // sources remembered for the answer gap
    static constexpr int kReadBatch = 256;          // datagrams read before other events run

    using IdentitySource = std::function<PresenceIdentity()>;

    PresenceService(PresenceConfig config, IdentitySource identity, QObject* parent = nullptr);
    // Ends without a goodbye, as a killed copy would; call Stop() for a proper end.
    ~PresenceService() override;

    // Publishes and browses through it too, from Start() to Stop(); set before Start(). Not
    // owned; null for none.
    void UseServiceDiscovery(ServiceDiscovery* discovery) { m_discovery = discovery; }

    // Binds port 9171, announces (when discoverable) and sends one query. False when the port
    // could not be taken; the program runs on without presence.
    bool Start();
    // Says goodbye (when it had announced itself) and closes; the list is emptied.
    void Stop();
    bool IsRunning() const { return m_running; }

    // Asks every copy to answer; the answers arrive as PeerAdded or PeerUpdated.
    void Query();
    // Sends the announcement now, or a goodbye when Discoverable was turned off since the
    // last one; for the options and personal-info windows after they change something.
    void AnnounceNow();

    // The peers heard or found, in address order.
    QList<PresencePeer> Peers() const;
    int PeerCount() const;
    int AnswerTableSize() const { return int(m_answered.size()); }
    const PresenceConfig& config() const { return m_config; }

signals:
    void PeerAdded(const tvx::PresencePeer& peer);
    void PeerUpdated(const tvx::PresencePeer& peer);
    void PeerRemoved(const tvx::PresencePeer& peer);

private:
    struct Entry {
        PresencePeer peer;
        qint64 lastHeardMs = 0;
    };

    void ReadPending(QUdpSocket* socket);
    void HandleDatagram(const QByteArray& bytes, quint32 source, quint16 sourcePort,
                        bool broadcastSocket);
    void HeardAnnouncement(const PresenceMessage& message, quint32 source);
    void ScheduleAnswer(quint32 source, quint16 port);
    void SendAnnouncement();
    void SendGoodbye();
    void SendToDestinations(const QByteArray& datagram);
    void RemovePeer(quint32 source);
    void ExpirePeers();
    void UpdatePublication();
    void Discovered(const DiscoveredPeer& found);
    void Undiscovered(const QString& ipv4);
    // The listed form of the peer at the address: its datagrams' when heard, else what
    // discovery found; nothing when neither.
    std::optional<PresencePeer> Listed(quint32 source) const;
    // Tells the views how the peer at the address changed since it was listed as `before`.
    void ReportChange(quint32 source, const std::optional<PresencePeer>& before);
    qint64 Now() const { return m_clock.elapsed(); }

    PresenceConfig m_config;
    IdentitySource m_identity;
    quint32 m_localIpv4 = 0;
    quint32 m_netmask = 0;                    // of the local address; 0 when unknown
    QUdpSocket* m_socket = nullptr;           // bound to the local address
    QUdpSocket* m_broadcastSocket = nullptr;  // bound to 0.0.0.0, when hearing broadcasts
    QTimer m_announceTimer;
    QTimer m_expiryTimer;
    QElapsedTimer m_clock;
    bool m_running = false;
    bool m_announced = false;                 // the others may list us: a goodbye is owed
    std::map<quint32, Entry> m_peers;         // heard by datagrams
    std::map<quint32, PresencePeer> m_found;  // found through service discovery
    ServiceDiscovery* m_discovery = nullptr;
    bool m_published = false;
    std::map<quint32, qint64> m_answered;  // source to the time of its last answer
};

}  // namespace tvx
