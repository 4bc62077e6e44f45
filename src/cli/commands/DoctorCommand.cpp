// tolvex doctor: looks at this computer and, when given, one peer, and says what it found.
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>

#include "commands/Commands.h"
#include "commands/EventNames.h"
#include "commands/JsonOutput.h"
#include "commands/TerminalOutput.h"
#include "doctor/Doctor.h"
#include "platform/Headless.h"
#include "session/Session.h"
#include "texts/DoctorTexts.h"

namespace tvx {

namespace {

using Kind = Finding::Kind;

// The "finding" event: its kind, verdict, side and sentence, and the data of that kind only.
QJsonObject FindingFields(const Finding& finding) {
    const bool peerSide = IsPeerFinding(finding.kind);
    QJsonObject fields{
        {QStringLiteral("kind"), FindingKindName(finding.kind)},
        {QStringLiteral("verdict"), VerdictName(finding.verdict)},
        {QStringLiteral("side"), peerSide ? QStringLiteral("peer") : QStringLiteral("local")},
        {QStringLiteral("text"), DoctorFindingText(finding)}};
    const auto add = [&fields](const char* name, const QJsonValue& value) {
        fields.insert(QLatin1String(name), value);
    };
    const auto addPort = [&] {
        add("port", finding.port);
        add("protocol", finding.udp ? QStringLiteral("udp") : QStringLiteral("tcp"));
    };
    if (peerSide)
        add("peer", finding.peer);
    switch (finding.kind) {
        case Kind::LocalAddress:
            add("address", finding.address);
            if (finding.verdict != Finding::Verdict::Error) {
                add("interface", finding.interfaceName);
                add("netmask", finding.netmask);
                add("broadcast", finding.broadcast);
            }
            break;
        case Kind::SeveralAddresses:
            add("address", finding.address);
            add("addresses", QJsonArray::fromStringList(finding.addresses));
            add("addressGiven", finding.addressGiven);
            break;
        case Kind::PortUse:
            addPort();
            add("portState", PortStateName(finding.portState));
            if (finding.portState == Finding::PortState::HeldByOther) {
                add("program", finding.program);
                add("pid", finding.pid);
            } else if (finding.portState == Finding::PortState::HeldByTolvex) {
                add("pid", finding.pid);
            }
            break;
        case Kind::FirewallDrops:
            add("tool", finding.tool);
            addPort();
            add("rule", finding.rule);
            add("policyDrop", finding.policyDrop);
            break;
        case Kind::FirewallUnreadable:
            add("tool", finding.tool);
            add("needsRoot", finding.needsRoot);
            add("rule", finding.rule);
            break;
        case Kind::FirewallClear:
            add("tools", QJsonArray::fromStringList(finding.tools));
            break;
        case Kind::PresenceAnswers:
            add("answers", finding.answers);
            break;
        case Kind::PeerPresence:
            add("answered", finding.answered);
            if (finding.answered) {
                add("nickName", finding.nickName);
                add("addressCode", finding.addressCode);
            }
            break;
        case Kind::PeerPort:
            addPort();
            add("portState", PortStateName(finding.portState));
            if (finding.rttMs >= 0)
                add("rttMs", finding.rttMs);
            if (finding.error != SocketError::None)
                add("error", SocketErrorName(finding.error));
            break;
        case Kind::Handshake:
            add("port", finding.port);
            add("handshake", HandshakeName(finding.handshake));
            if (!finding.version.isEmpty())
                add("version", finding.version);
            add("ownVersion", finding.ownVersion);
            if (finding.rttMs >= 0)
                add("rttMs", finding.rttMs);
            break;
        case Kind::RoundTrip:
            add("rttMs", finding.rttMs);
            break;
        case Kind::Subnet:
            add("address", finding.address);
            add("netmask", finding.netmask);
            add("sameSubnet", finding.sameSubnet);
            break;
    }
    return fields;
}

}  // namespace

int RunDoctorCommand(CommandContext& context, const CommandRequest& request) {
    QString peer;
    if (!request.peerAddress.isEmpty()) {
        peer = CheckCommandAddress(context, request.peerAddress);
        if (peer.isEmpty())
            return StatusUsage;
    }
    DoctorConfig config = DoctorConfigOf(context.session, peer);
    config.addressGiven = !request.startup.address.isEmpty();

    Doctor doctor;
    QEventLoop loop;
    QObject::connect(&doctor, &Doctor::FindingReady, &loop, [&](const Finding& finding) {
        context.output.Result(DoctorFindingLine(finding));
        if (context.json.on())
            context.json.Emit(QStringLiteral("finding"), FindingFields(finding));
    });
    QObject::connect(&doctor, &Doctor::Finished, &loop, [&] { loop.exit(0); });
    QObject::connect(&context.stop, &StopSignals::StopRequested, &doctor, &Doctor::Stop);
    doctor.Start(config);
    if (doctor.phase() == Doctor::Phase::Running)
        loop.exec();

    // A problem here comes first: it may be why the peer cannot be reached.
    int status = StatusDone;
    QString outcome = QStringLiteral("ok");
    if (WorstVerdict(doctor.findings(), false) == Finding::Verdict::Error) {
        status = StatusNetwork;
        outcome = QStringLiteral("local-problem");
    } else if (WorstVerdict(doctor.findings(), true) == Finding::Verdict::Error) {
        status = StatusRefused;
        outcome = QStringLiteral("peer-unreachable");
    }
    context.json.Emit(QStringLiteral("end"), QJsonObject{{QStringLiteral("outcome"), outcome},
                                                         {QStringLiteral("status"), status}});
    return status;
}

}  // namespace tvx
