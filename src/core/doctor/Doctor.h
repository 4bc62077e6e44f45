#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

#include "doctor/Finding.h"
#include "platform/Socket.h"
#include "protocol/PresenceMessages.h"
#include "protocol/ReceiveBuffer.h"

class QProcess;

namespace tvx {

class PresenceService;
struct Session;

// What the doctor looks at: this computer on its local address and, when given, one peer.
struct DoctorConfig {
    QString localAddress;
    QStringList usableAddresses;  // every usable local address, the one used among them
    bool addressGiven = false;    // the user chose the local address
    QString peer;                 // dotted; empty: this computer only
    quint16 presencePort = kPresencePort;
    QStringList presenceDestinations;
    // The process name of a copy of this program, as /proc/<pid>/comm shows it.
    QString ownProgram = QStringLiteral("tolvex");
    int connectTimeoutMs = 2500;
    int handshakeTimeoutMs = 3000;
    int presenceWaitMs = 2000;
    int toolTimeoutMs = 3000;
    int slowRoundTripMs = 300;
    int wholeRunMs = 14000;
};

// The doctor's look at a running copy's session, for the window and the command.
DoctorConfig DoctorConfigOf(const Session& session, const QString& peer);

// Looks at why a peer may not be found or reached and reports each thing it looked at as a
// typed finding (Finding.h): the local address and its interface, the program's ports here
// (free, or held by whom), the firewall's input rules (read with nft, iptables and ufw, never
// changed), whether a presence query is answered; with a peer, its presence answer, whether
// each of its TCP ports takes a connection, the handshake and its version (only the
// handshake: nothing a peer would act on is sent), the round-trip time and the subnets.
//
// Everything runs on the event loop, each network check within a few seconds and the whole
// run within wholeRunMs; findings come as they are made, Finished once at the end. Every
// byte from the peer is bounded and checked, as on any other connection.
class Doctor : public QObject {
    Q_OBJECT

public:
    enum class Phase { Idle, Running, Done };
    // A peer's answer in the handshake never needs more.
    static constexpr qsizetype kMaxHandshakeBytes = 4096;

    explicit Doctor(QObject* parent = nullptr);
    ~Doctor() override;

    // Starts a run (not while one runs).
    void Start(const DoctorConfig& config);
    // Ends a run early: no more findings, Finished follows.
    void Stop();

    Phase phase() const { return m_phase; }
    const QList<Finding>& findings() const { return m_findings; }

signals:
    void FindingReady(const tvx::Finding& finding);
    void Finished();

private:
    struct Tool;

    void Report(Finding finding);
    void CheckLocalAddress();
    void CheckPorts();
    void StartFirewallTools();
    void ToolDone(Tool& tool, bool timedOut);
    void ReportFirewall();
    void StartPresence();
    void PresenceDone();
    void NextPeerStep();
    void OnConnected();
    void OnSocketError(SocketError error);
    void OnStepTimeout();
    void OnHandshakeData();
    void EndHandshake(Finding::HandshakeResult result, const QString& version = QString());
    void EndPeerStep();
    void Settle();
    void FinishRun();
    Finding PeerFinding(Finding::Kind kind) const;

    DoctorConfig m_config;
    Phase m_phase = Phase::Idle;
    bool m_starting = false;  // checks still being started: none may end the run yet
    QList<Finding> m_findings;
    QString m_netmask;  // of the local address, when its interface is known

    std::vector<std::unique_ptr<Tool>> m_tools;
    QList<Finding> m_firewallFindings;
    QStringList m_toolsRead;
    bool m_firewallPending = false;

    std::unique_ptr<PresenceService> m_presence;
    QTimer m_presenceTimer;
    bool m_presencePending = false;

    // The peer's ports, one after the other: 9170, 8510 (with the handshake), 8511.
    QList<quint16> m_peerSteps;
    bool m_peerPending = false;
    quint16 m_stepPort = 0;
    bool m_inHandshake = false;
    bool m_peerIsTolvex = false;  // its verified reply announced this program's features
    Socket m_socket;
    QTimer m_stepTimer;
    QElapsedTimer m_stepClock;
    ReceiveBuffer m_buffer;
    QString m_challenge;
    qsizetype m_handshakeBytes = 0;
    qint64 m_fastestConnectMs = -1;

    QTimer m_runTimer;
};

}  // namespace tvx
