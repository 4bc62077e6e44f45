#include "doctor/Doctor.h"

#include <unistd.h>

#include <QHostAddress>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <algorithm>

#include "doctor/FirewallRules.h"
#include "doctor/PortHolders.h"
#include "platform/NetworkCards.h"
#include "presence/PresenceService.h"
#include "protocol/BatchMessages.h"
#include "protocol/Codes.h"
#include "protocol/HandshakeSteps.h"
#include "protocol/Wire.h"
#include "session/Session.h"

namespace tvx {

namespace {

using Kind = Finding::Kind;
using Verdict = Finding::Verdict;
using PortState = Finding::PortState;

// What a firewall tool may print before it is stopped: far above any real rule set.
constexpr qint64 kMaxToolOutput = 8 * 1024 * 1024;
constexpr qsizetype kMaxToolMessage = 200;
constexpr qsizetype kMaxVersionUnits = 16;

QList<WatchedPort> WatchedPorts(quint16 presencePort) {
    return {{kFileControlPort, false},
            {kFileDataPort, false},
            {kChatPort, false},
            {presencePort, true}};
}

// The wire bytes of a version text, as "00 05".
QString VersionBytes(const QString& version) {
    return QString::fromLatin1(ToWire(version.left(kMaxVersionUnits)).toHex(' ').toUpper());
}

bool IsPermissionMessage(const QByteArray& text) {
    const QByteArray lower = text.toLower();
    return lower.contains("permission denied") || lower.contains("operation not permitted") ||
           lower.contains("must be root") || lower.contains("need to be root");
}

}  // namespace

struct Doctor::Tool {
    QString name;
    QProcess process;
    QTimer timer;
    QByteArray output;
    QByteArray errors;
    bool done = false;
};

bool IsPeerFinding(Finding::Kind kind) {
    switch (kind) {
        case Kind::PeerPresence:
        case Kind::PeerPort:
        case Kind::Handshake:
        case Kind::RoundTrip:
        case Kind::Subnet:
            return true;
        default:
            return false;
    }
}

Finding::Verdict WorstVerdict(const QList<Finding>& findings, bool peerSide) {
    Verdict worst = Verdict::Ok;
    for (const Finding& finding : findings) {
        if (IsPeerFinding(finding.kind) == peerSide && finding.verdict > worst)
            worst = finding.verdict;
    }
    return worst;
}

DoctorConfig DoctorConfigOf(const Session& session, const QString& peer) {
    DoctorConfig config;
    config.localAddress = session.localAddress;
    config.usableAddresses = session.localAddressList;
    config.peer = peer;
    config.presencePort = session.presencePort;
    config.presenceDestinations = session.presenceDestinations;
    return config;
}

Doctor::Doctor(QObject* parent) : QObject(parent) {
    m_presenceTimer.setSingleShot(true);
    m_stepTimer.setSingleShot(true);
    m_runTimer.setSingleShot(true);
    connect(&m_presenceTimer, &QTimer::timeout, this, &Doctor::PresenceDone);
    connect(&m_stepTimer, &QTimer::timeout, this, &Doctor::OnStepTimeout);
    connect(&m_runTimer, &QTimer::timeout, this, &Doctor::FinishRun);
    connect(&m_socket, &Socket::Connected, this, &Doctor::OnConnected);
    connect(&m_socket, &Socket::Error, this, &Doctor::OnSocketError);
    connect(&m_socket, &Socket::DataArrival, this, &Doctor::OnHandshakeData);
    connect(&m_socket, &Socket::Closed, this, [this] {
        if (m_inHandshake)
            EndHandshake(Finding::HandshakeResult::Failed);
    });
}

Doctor::~Doctor() {
    for (auto& tool : m_tools) {
        tool->process.disconnect(this);
        tool->process.kill();
        tool->process.waitForFinished(1000);
    }
}

void Doctor::Start(const DoctorConfig& config) {
    if (m_phase == Phase::Running)
        return;
    m_config = config;
    m_phase = Phase::Running;
    m_findings.clear();
    m_firewallFindings.clear();
    m_toolsRead.clear();
    m_netmask.clear();
    m_fastestConnectMs = -1;
    m_peerIsTolvex = false;
    m_runTimer.start(m_config.wholeRunMs);
    m_starting = true;

    CheckLocalAddress();
    const bool onThisComputer = !m_findings.isEmpty() && m_findings.first().verdict == Verdict::Ok;
    if (m_config.usableAddresses.size() > 1) {
        Finding several;
        several.kind = Kind::SeveralAddresses;
        several.verdict = m_config.addressGiven ? Verdict::Ok : Verdict::Warning;
        several.address = m_config.localAddress;
        several.addresses = m_config.usableAddresses;
        several.addressGiven = m_config.addressGiven;
        Report(several);
    }
    if (onThisComputer)
        CheckPorts();
    StartFirewallTools();
    if (onThisComputer)
        StartPresence();

    if (!m_config.peer.isEmpty()) {
        const quint32 mask = QHostAddress(m_netmask).toIPv4Address();
        if (!m_netmask.isEmpty()) {
            Finding subnet = PeerFinding(Kind::Subnet);
            subnet.netmask = m_netmask;
            subnet.sameSubnet = (QHostAddress(m_config.localAddress).toIPv4Address() & mask) ==
                                (QHostAddress(m_config.peer).toIPv4Address() & mask);
            subnet.verdict = subnet.sameSubnet ? Verdict::Ok : Verdict::Warning;
            Report(subnet);
        }
        m_peerSteps = {kChatPort, kFileControlPort, kFileDataPort};
        m_peerPending = true;
        NextPeerStep();
    }
    m_starting = false;
    Settle();
}

void Doctor::Stop() {
    if (m_phase == Phase::Running)
        FinishRun();
}

void Doctor::Report(Finding finding) {
    if (m_phase != Phase::Running)
        return;
    m_findings.append(finding);
    emit FindingReady(m_findings.last());
}

Finding Doctor::PeerFinding(Finding::Kind kind) const {
    Finding finding;
    finding.kind = kind;
    finding.address = m_config.localAddress;
    finding.peer = m_config.peer;
    return finding;
}

void Doctor::CheckLocalAddress() {
    Finding finding;
    finding.kind = Kind::LocalAddress;
    finding.address = m_config.localAddress;
    finding.verdict = Verdict::Error;
    if (const std::optional<NetworkCard> card = CardHolding(QHostAddress(m_config.localAddress))) {
        finding.verdict = card->up ? Verdict::Ok : Verdict::Error;
        finding.interfaceName = card->name;
        finding.netmask = card->netmask.toString();
        finding.broadcast = card->broadcast.toString();
        m_netmask = finding.netmask;
    }
    Report(finding);
}

void Doctor::CheckPorts() {
    for (const WatchedPort& watched : WatchedPorts(m_config.presencePort)) {
        const PortHolder holder =
            FindPortHolder(m_config.localAddress, watched.port, watched.udp, m_config.ownProgram);
        Finding finding;
        finding.kind = Kind::PortUse;
        finding.address = m_config.localAddress;
        finding.port = watched.port;
        finding.udp = watched.udp;
        finding.portState = holder.state;
        finding.program = holder.program;
        finding.pid = holder.pid;
        switch (holder.state) {
            case PortState::HeldByOther:
                // Without the presence port a copy is not found, but it still receives.
                finding.verdict = watched.udp ? Verdict::Warning : Verdict::Error;
                break;
            case PortState::HeldUnseen:
                finding.verdict = Verdict::Warning;
                break;
            default:
                finding.verdict = Verdict::Ok;
                break;
        }
        Report(finding);
    }
}

void Doctor::StartFirewallTools() {
    // Read-only listings; the system folders are searched too, as a user's PATH often lacks
    // them.
    const QStringList systemFolders{QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                    QStringLiteral("/usr/bin"), QStringLiteral("/bin")};
    const QList<QStringList> commands{
        {QStringLiteral("nft"), QStringLiteral("-j"), QStringLiteral("list"),
         QStringLiteral("ruleset")},
        {QStringLiteral("iptables"), QStringLiteral("-S")},
        {QStringLiteral("ufw"), QStringLiteral("status"), QStringLiteral("verbose")},
    };
    m_firewallPending = true;
    for (const QStringList& command : commands) {
        QString program = QStandardPaths::findExecutable(command.first());
        if (program.isEmpty())
            program = QStandardPaths::findExecutable(command.first(), systemFolders);
        if (program.isEmpty())
            continue;
        auto tool = std::make_unique<Tool>();
        Tool& started = *tool;
        m_tools.push_back(std::move(tool));
        started.name = command.first();
        started.timer.setSingleShot(true);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        started.process.setProcessEnvironment(environment);
        connect(&started.process, &QProcess::readyReadStandardOutput, this, [this, &started] {
            started.output += started.process.readAllStandardOutput();
            if (started.output.size() > kMaxToolOutput)
                ToolDone(started, true);
        });
        connect(&started.process, &QProcess::readyReadStandardError, this, [&started] {
            const QByteArray more = started.process.readAllStandardError();
            started.errors +=
                more.left(qMax<qsizetype>(0, kMaxToolMessage * 4 - started.errors.size()));
        });
        connect(&started.process, &QProcess::finished, this,
                [this, &started] { ToolDone(started, false); });
        connect(&started.process, &QProcess::errorOccurred, this, [this, &started](auto error) {
            if (error == QProcess::FailedToStart)
                ToolDone(started, false);
        });
        connect(&started.timer, &QTimer::timeout, this,
                [this, &started] { ToolDone(started, true); });
        started.timer.start(m_config.toolTimeoutMs);
        started.process.start(program, command.mid(1), QIODevice::ReadOnly);
    }
    ReportFirewall();
}

void Doctor::ToolDone(Tool& tool, bool timedOut) {
    if (tool.done)
        return;
    tool.done = true;
    tool.timer.stop();
    if (!timedOut)
        tool.output += tool.process.readAllStandardOutput().left(kMaxToolOutput);
    tool.process.disconnect(this);
    if (tool.process.state() != QProcess::NotRunning)
        tool.process.kill();

    const QList<WatchedPort> ports = WatchedPorts(m_config.presencePort);
    FirewallReading reading;
    const bool ran = !timedOut && tool.process.exitStatus() == QProcess::NormalExit &&
                     tool.process.exitCode() == 0 &&
                     tool.process.error() != QProcess::FailedToStart;
    if (ran) {
        if (tool.name == QLatin1String("nft"))
            reading = ReadNftRuleset(tool.output, ports);
        else if (tool.name == QLatin1String("iptables"))
            reading = ReadIptablesRules(tool.output, ports);
        else
            reading = ReadUfwStatus(tool.output, ports);
    }
    if (!reading.read) {
        Finding unreadable;
        unreadable.kind = Kind::FirewallUnreadable;
        unreadable.verdict = Verdict::Warning;
        unreadable.tool = tool.name;
        const QByteArray said =
            tool.errors.isEmpty() ? tool.output.left(kMaxToolMessage * 4) : tool.errors;
        unreadable.needsRoot = ::geteuid() != 0 && (IsPermissionMessage(said) || !ran);
        unreadable.rule =
            QString::fromUtf8(said).section(QLatin1Char('\n'), 0, 0).left(kMaxToolMessage);
        for (QChar& ch : unreadable.rule) {
            if (!ch.isPrint())
                ch = QLatin1Char(' ');
        }
        m_firewallFindings.append(unreadable);
    } else {
        m_toolsRead << tool.name;
        for (const PortBlock& block : reading.blocks) {
            Finding drops;
            drops.kind = Kind::FirewallDrops;
            drops.verdict = Verdict::Error;
            drops.address = m_config.localAddress;
            drops.tool = tool.name;
            drops.port = block.port;
            drops.udp = block.udp;
            drops.rule = block.rule;
            drops.policyDrop = block.policyDrop;
            m_firewallFindings.append(drops);
        }
    }
    // Reported once every tool has answered, after the event that ended this one.
    QTimer::singleShot(0, this, &Doctor::ReportFirewall);
}

void Doctor::ReportFirewall() {
    if (m_phase != Phase::Running || !m_firewallPending)
        return;
    for (const auto& tool : m_tools) {
        if (!tool->done)
            return;
    }
    const bool anyBlock =
        std::any_of(m_firewallFindings.begin(), m_firewallFindings.end(),
                    [](const Finding& f) { return f.kind == Kind::FirewallDrops; });
    // ufw writes its rules through iptables, and iptables on nftables shows up in nft's
    // listing: one port dropped is told once, by the tool the user most likely set it with.
    const auto rank = [](const QString& tool) {
        return tool == QLatin1String("ufw") ? 0 : tool == QLatin1String("iptables") ? 1 : 2;
    };
    std::stable_sort(
        m_firewallFindings.begin(), m_firewallFindings.end(),
        [&](const Finding& a, const Finding& b) { return rank(a.tool) < rank(b.tool); });
    QSet<QPair<quint16, bool>> told;
    for (const Finding& finding : m_firewallFindings) {
        if (finding.kind == Kind::FirewallDrops) {
            if (told.contains({finding.port, finding.udp}))
                continue;
            told.insert({finding.port, finding.udp});
        }
        Report(finding);
    }
    m_firewallFindings.clear();
    m_firewallPending = false;
    if (!anyBlock && (m_tools.empty() || !m_toolsRead.isEmpty())) {
        Finding clear;
        clear.kind = Kind::FirewallClear;
        clear.tools = m_toolsRead;
        Report(clear);
    }
    m_tools.clear();
    Settle();
}

void Doctor::StartPresence() {
    PresenceConfig config;
    config.localAddress = m_config.localAddress;
    config.destinations = m_config.presenceDestinations;
    if (!m_config.peer.isEmpty() && !config.destinations.contains(m_config.peer))
        config.destinations << m_config.peer;
    config.port = 0;  // beside a copy that holds the presence port on this address
    config.peerPort = m_config.presencePort;
    m_presence = std::make_unique<PresenceService>(config, [] {
        PresenceIdentity self;
        self.discoverable = false;
        return self;
    });
    m_presencePending = true;
    if (!m_presence->Start()) {
        PresenceDone();
        return;
    }
    m_presenceTimer.start(m_config.presenceWaitMs);
}

void Doctor::PresenceDone() {
    if (!m_presencePending)
        return;
    m_presencePending = false;
    m_presenceTimer.stop();
    Finding answers;
    answers.kind = Kind::PresenceAnswers;
    answers.address = m_config.localAddress;
    const bool asked = m_presence && m_presence->IsRunning();
    const QList<PresencePeer> peers = asked ? m_presence->Peers() : QList<PresencePeer>();
    answers.answers = asked ? 0 : -1;
    for (const PresencePeer& peer : peers) {
        if (peer.ipv4 != m_config.localAddress)
            ++answers.answers;
    }
    answers.verdict = answers.answers > 0 ? Verdict::Ok : Verdict::Warning;
    Report(answers);
    if (!m_config.peer.isEmpty()) {
        Finding heard = PeerFinding(Kind::PeerPresence);
        heard.verdict = Verdict::Warning;
        for (const PresencePeer& peer : peers) {
            if (peer.ipv4 == m_config.peer) {
                heard.answered = true;
                heard.verdict = Verdict::Ok;
                heard.nickName = peer.nickName;
                heard.addressCode = peer.addressCode;
            }
        }
        Report(heard);
    }
    if (m_presence) {
        m_presence->Stop();
        m_presence.reset();
    }
    Settle();
}

void Doctor::NextPeerStep() {
    if (m_phase != Phase::Running)
        return;
    if (m_peerSteps.isEmpty()) {
        m_peerPending = false;
        if (m_fastestConnectMs >= 0) {
            Finding roundTrip = PeerFinding(Kind::RoundTrip);
            roundTrip.rttMs = m_fastestConnectMs;
            roundTrip.verdict =
                m_fastestConnectMs < m_config.slowRoundTripMs ? Verdict::Ok : Verdict::Warning;
            Report(roundTrip);
        }
        Settle();
        return;
    }
    m_stepPort = m_peerSteps.takeFirst();
    m_inHandshake = false;
    if (m_stepPort == kFileDataPort && !m_peerIsTolvex) {
        Finding port = PeerFinding(Kind::PeerPort);
        port.port = m_stepPort;
        port.portState = PortState::NotTried;
        Report(port);
        EndPeerStep();
        return;
    }
    m_socket.Close();
    m_stepClock.start();
    m_stepTimer.start(m_config.connectTimeoutMs);
    const SocketError error = m_socket.Connect(m_config.peer, m_stepPort, m_config.localAddress);
    if (error != SocketError::None)
        OnSocketError(error);
}

void Doctor::OnConnected() {
    if (m_stepPort == 0)
        return;
    const qint64 connectMs = m_stepClock.elapsed();
    if (m_fastestConnectMs < 0 || connectMs < m_fastestConnectMs)
        m_fastestConnectMs = connectMs;
    Finding port = PeerFinding(Kind::PeerPort);
    port.port = m_stepPort;
    port.portState = PortState::Accepted;
    port.rttMs = connectMs;
    Report(port);
    if (m_stepPort != kFileControlPort) {
        EndPeerStep();
        return;
    }
    // The caller's first steps of the handshake, up to the answerer's verified reply with
    // its version; the connection is closed before the admission request.
    m_inHandshake = true;
    m_buffer.Reset();
    m_handshakeBytes = 0;
    m_challenge = DrawChallenge(false);
    m_stepClock.start();
    m_stepTimer.start(m_config.handshakeTimeoutMs);
    if (SendControlMessage(m_socket, m_challenge) != SocketError::None)
        EndHandshake(Finding::HandshakeResult::Failed);
}

void Doctor::OnHandshakeData() {
    if (!m_inHandshake) {
        m_socket.Read();  // nothing is expected on a port only tried
        return;
    }
    const QByteArray bytes = m_socket.Read();
    m_handshakeBytes += bytes.size();
    if (m_handshakeBytes > kMaxHandshakeBytes) {
        EndHandshake(Finding::HandshakeResult::Failed);
        return;
    }
    m_buffer.Feed(bytes);
    QString message;
    while (m_inHandshake) {
        const ReceiveBuffer::Outcome outcome = m_buffer.Next(message);
        if (outcome == ReceiveBuffer::Outcome::Waiting)
            return;
        if (outcome == ReceiveBuffer::Outcome::Overflow) {
            EndHandshake(Finding::HandshakeResult::Failed);
            return;
        }
        const HandshakeStep step = CallerHandshakeStep(m_buffer.counter(), message, m_challenge);
        switch (step.kind) {
            case HandshakeStep::Kind::Reply:
                if (SendControlMessage(m_socket, step.text) != SocketError::None)
                    EndHandshake(Finding::HandshakeResult::Failed);
                break;
            case HandshakeStep::Kind::Verified: {
                // As the file sender reads it: the version is the reply's first field.
                const QString version = SplitFields(step.text).value(0);
                m_peerIsTolvex = AnnouncesBatches(step.text);
                EndHandshake(version == QString(QChar(ProtocolCodes::Version))
                                 ? Finding::HandshakeResult::Completed
                                 : Finding::HandshakeResult::VersionDiffers,
                             version);
                return;
            }
            case HandshakeStep::Kind::Fail:
                EndHandshake(Finding::HandshakeResult::Failed);
                return;
        }
    }
}

void Doctor::EndHandshake(Finding::HandshakeResult result, const QString& version) {
    if (!m_inHandshake)
        return;
    m_inHandshake = false;
    Finding handshake = PeerFinding(Kind::Handshake);
    handshake.port = kFileControlPort;
    handshake.handshake = result;
    handshake.ownVersion = VersionBytes(QString(QChar(ProtocolCodes::Version)));
    if (result == Finding::HandshakeResult::Completed ||
        result == Finding::HandshakeResult::VersionDiffers) {
        handshake.version = VersionBytes(version);
        handshake.rttMs = m_stepClock.elapsed();
    }
    handshake.verdict =
        result == Finding::HandshakeResult::Completed ? Verdict::Ok : Verdict::Error;
    Report(handshake);
    EndPeerStep();
}

void Doctor::OnSocketError(SocketError error) {
    if (m_stepPort == 0)
        return;
    if (m_inHandshake) {
        EndHandshake(Finding::HandshakeResult::Failed);
        return;
    }
    Finding port = PeerFinding(Kind::PeerPort);
    port.port = m_stepPort;
    port.error = error;
    port.portState = error == SocketError::ConnectionRefused ? PortState::Refused
                     : error == SocketError::TimedOut        ? PortState::TimedOut
                                                             : PortState::Failed;
    // The data port listens only while a file is on its way: a refusal there is usual.
    port.verdict = port.portState == PortState::Refused && m_stepPort == kFileDataPort
                       ? Verdict::Ok
                       : Verdict::Error;
    Report(port);
    EndPeerStep();
}

void Doctor::OnStepTimeout() {
    if (m_inHandshake)
        EndHandshake(Finding::HandshakeResult::TimedOut);
    else
        OnSocketError(SocketError::TimedOut);
}

void Doctor::EndPeerStep() {
    m_stepTimer.stop();
    m_stepPort = 0;
    m_socket.Close();
    // The next port from the event loop, once this connection's events are over.
    QTimer::singleShot(0, this, &Doctor::NextPeerStep);
}

void Doctor::Settle() {
    if (m_phase != Phase::Running || m_starting || m_presencePending || m_peerPending ||
        m_firewallPending)
        return;
    FinishRun();
}

void Doctor::FinishRun() {
    if (m_phase != Phase::Running)
        return;
    m_phase = Phase::Done;
    m_starting = false;
    m_runTimer.stop();
    m_stepTimer.stop();
    m_presenceTimer.stop();
    m_stepPort = 0;
    m_inHandshake = false;
    m_peerSteps.clear();
    m_peerPending = false;
    m_presencePending = false;
    m_socket.Close();
    if (m_presence) {
        m_presence->Stop();
        m_presence.reset();
    }
    for (auto& tool : m_tools) {
        tool->process.disconnect(this);
        tool->process.kill();
        tool->process.waitForFinished(1000);
    }
    m_tools.clear();
    emit Finished();
}

}  // namespace tvx
