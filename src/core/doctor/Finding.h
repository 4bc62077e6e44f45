#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "platform/SocketErrors.h"

namespace tvx {

// One thing the doctor looked at and what it found, as data: the views turn it into a
// sentence (texts/DoctorTexts.h).
struct Finding {
    enum class Kind {
        // Here.
        LocalAddress,        // address, interfaceName, netmask, broadcast; Error: not on a card
        SeveralAddresses,    // addresses (the usable ones), address (the one used), addressGiven
        PortUse,             // port, udp, portState (Free, Held...), program, pid
        FirewallDrops,       // tool, port, udp, rule; policyDrop: a drop policy, no accept
        FirewallUnreadable,  // tool, needsRoot, rule (what the tool said, one line)
        FirewallClear,       // tools: those read, none of which drops a port
        PresenceAnswers,     // answers: copies that answered a query
        // With a peer.
        PeerPresence,  // peer; answered (nickName, addressCode) or not
        PeerPort,      // peer, port, portState (Accepted, Refused, TimedOut, Failed), rttMs
        Handshake,     // peer, port, handshake, version, ownVersion, rttMs
        RoundTrip,     // peer, rttMs (the time a connection took to be made)
        Subnet,        // address, peer, netmask; sameSubnet
    };
    enum class Verdict { Ok, Warning, Error };
    enum class PortState {
        Free,
        HeldByTolvex,  // a copy of this program listens there: as it should
        HeldByOther,   // program, pid
        HeldUnseen,    // taken, but the system does not say by whom (another user's process)
        Accepted,
        Refused,
        TimedOut,
        Failed,  // error
        // Not tried: the data port of a peer that did not say it is a copy of this program.
        // Such a peer may take any connection there for the data of a transfer under way.
        NotTried,
    };
    enum class HandshakeResult {
        Completed,       // version: the peer's, the same as ownVersion
        VersionDiffers,  // version, ownVersion
        Failed,          // the peer answered something else, or closed
        TimedOut,
        NoConnection,  // error
    };

    Kind kind = Kind::LocalAddress;
    Verdict verdict = Verdict::Ok;

    QString address;  // the local address
    QString interfaceName;
    QString netmask;
    QString broadcast;
    QStringList addresses;
    bool addressGiven = false;  // chosen with --address (or in the start-up dialog)

    QString peer;  // the peer's dotted address
    quint16 port = 0;
    bool udp = false;
    PortState portState = PortState::Free;
    QString program;
    qint64 pid = 0;
    SocketError error = SocketError::None;

    QString tool;  // "nft", "iptables", "ufw"
    QStringList tools;
    QString rule;
    bool policyDrop = false;
    bool needsRoot = false;

    int answers = 0;
    bool answered = false;
    QString nickName;
    QString addressCode;

    HandshakeResult handshake = HandshakeResult::Completed;
    QString version;  // as the wire carries it: "00 05"
    QString ownVersion;
    qint64 rttMs = -1;
    bool sameSubnet = true;
};

// Whether a finding is about the peer (else about this computer).
bool IsPeerFinding(Finding::Kind kind);

// The worst verdict among the findings of one side.
Finding::Verdict WorstVerdict(const QList<Finding>& findings, bool peerSide);

}  // namespace tvx
