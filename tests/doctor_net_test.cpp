// The doctor against what it is meant to explain: a complete copy on loopback, an address where
// nothing listens, a port held by another program and a firewall rule that drops a port. The
// whole test runs in a network namespace of its own (entered in main before any thread
// starts), so its firewall rules and ports touch nothing else on the machine.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <string>

#include "doctor/Doctor.h"
#include "doctor/DoctorWindow.h"
#include "presence/PresenceService.h"
#include "protocol/Codes.h"
#include "startup/Language.h"
#include "support/Clicks.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/Render.h"
#include "support/TestPeer.h"
#include "texts/DoctorTexts.h"
#include "transfer/SendWindow.h"

namespace tvx::test {
namespace {

// Why the test could not get a network of its own; empty when it did.
std::string g_sharedNetworkReason;

bool WriteProcFile(const char* path, const std::string& text) {
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::WriteOnly) &&
           file.write(text.data(), qint64(text.size())) == qint64(text.size());
}

// A private network namespace with its loopback up: as root directly, otherwise inside a
// user namespace of its own where the system allows one.
void EnterPrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
            g_sharedNetworkReason =
                std::string("no private network namespace (unshare: ") + std::strerror(errno) + ")";
            return;
        }
        WriteProcFile("/proc/self/setgroups", "deny");
        WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    const int descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = descriptor >= 0 && ::ioctl(descriptor, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP | IFF_RUNNING,
                     ::ioctl(descriptor, SIOCSIFFLAGS, &request) == 0);
    if (descriptor >= 0)
        ::close(descriptor);
    if (!up)
        qFatal("the private network's loopback could not be brought up");
}

using Kind = Finding::Kind;
using Verdict = Finding::Verdict;
using PortState = Finding::PortState;

DoctorConfig ConfigFor(const QString& peer) {
    DoctorConfig config;
    config.localAddress = kCallerAddress;
    config.usableAddresses = {kCallerAddress};
    config.peer = peer;
    config.presencePort = PresencePort();
    config.presenceDestinations = PresenceDestinations(kCallerAddress);
    return config;
}

QList<Finding> RunDoctor(const DoctorConfig& config) {
    Doctor doctor;
    QSignalSpy finished(&doctor, &Doctor::Finished);
    QElapsedTimer clock;
    clock.start();
    doctor.Start(config);
    EXPECT_TRUE(finished.count() == 1 || finished.wait(15000));
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_EQ(doctor.phase(), Doctor::Phase::Done);
    return doctor.findings();
}

QList<Finding> Of(const QList<Finding>& findings, Kind kind) {
    QList<Finding> found;
    for (const Finding& finding : findings) {
        if (finding.kind == kind)
            found << finding;
    }
    return found;
}

Finding PeerPort(const QList<Finding>& findings, quint16 port) {
    for (const Finding& finding : Of(findings, Kind::PeerPort)) {
        if (finding.port == port)
            return finding;
    }
    ADD_FAILURE() << "no finding for the peer's port " << port;
    return Finding();
}

QString Lines(const QList<Finding>& findings) {
    QStringList lines;
    for (const Finding& finding : findings)
        lines << DoctorFindingLine(finding);
    return lines.join(QLatin1Char('\n'));
}

// Runs a firewall tool inside the test's network; false with what it said.
bool RunTool(const QString& program, const QStringList& arguments, QString* said = nullptr) {
    QProcess process;
    process.start(program, arguments);
    const bool ran = process.waitForFinished(10000) &&
                     process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (said)
        *said = QString::fromUtf8(process.readAllStandardError()).trimmed();
    return ran;
}

TEST(Doctor, FindsAllWellWithACopyOnLoopbackAndNamesItsVersion) {
    TestPeer peer(kAnswererAddress, QStringLiteral("小红"));
    ASSERT_TRUE(peer.Start());
    const QList<Finding> findings = RunDoctor(ConfigFor(kAnswererAddress));
    const QString lines = Lines(findings);

    for (const Finding& finding : findings)
        EXPECT_EQ(finding.verdict, Verdict::Ok) << qPrintable(DoctorFindingLine(finding));
    ASSERT_EQ(Of(findings, Kind::LocalAddress).size(), 1) << qPrintable(lines);
    EXPECT_EQ(Of(findings, Kind::LocalAddress).first().interfaceName, QStringLiteral("lo"));
    EXPECT_EQ(Of(findings, Kind::LocalAddress).first().netmask, QStringLiteral("255.0.0.0"));
    EXPECT_EQ(Of(findings, Kind::PortUse).size(), 4) << qPrintable(lines);
    EXPECT_EQ(Of(findings, Kind::FirewallClear).size(), 1) << qPrintable(lines);
    ASSERT_EQ(Of(findings, Kind::PresenceAnswers).size(), 1);
    EXPECT_GE(Of(findings, Kind::PresenceAnswers).first().answers, 1);
    ASSERT_EQ(Of(findings, Kind::PeerPresence).size(), 1);
    EXPECT_EQ(Of(findings, Kind::PeerPresence).first().nickName, QStringLiteral("小红"));

    EXPECT_EQ(PeerPort(findings, kChatPort).portState, PortState::Accepted);
    EXPECT_EQ(PeerPort(findings, kFileControlPort).portState, PortState::Accepted);
    // The data port listens only during a transfer.
    EXPECT_EQ(PeerPort(findings, kFileDataPort).portState, PortState::Refused);
    ASSERT_EQ(Of(findings, Kind::Handshake).size(), 1) << qPrintable(lines);
    const Finding handshake = Of(findings, Kind::Handshake).first();
    EXPECT_EQ(handshake.handshake, Finding::HandshakeResult::Completed);
    EXPECT_EQ(handshake.version, QStringLiteral("00 05"));
    EXPECT_TRUE(DoctorFindingLine(handshake).startsWith(QStringLiteral("[正常] ")));
    EXPECT_TRUE(DoctorFindingLine(handshake).contains(QStringLiteral("00 05")));
    EXPECT_EQ(Of(findings, Kind::RoundTrip).size(), 1);
    ASSERT_EQ(Of(findings, Kind::Subnet).size(), 1);
    EXPECT_TRUE(Of(findings, Kind::Subnet).first().sameSubnet);

    // The copy only saw a caller go away: it still takes the next one.
    EXPECT_EQ(PeerPort(RunDoctor(ConfigFor(kAnswererAddress)), kFileControlPort).portState,
              PortState::Accepted);

    // A peer that does not say it is a copy of this program may take any connection to its
    // data port for a transfer under way: that port is left alone.
    peer.receiver().ControlLink().SetAnnouncedFeatures(QString());
    const QList<Finding> plain = RunDoctor(ConfigFor(kAnswererAddress));
    ASSERT_EQ(Of(plain, Kind::Handshake).size(), 1);
    EXPECT_EQ(Of(plain, Kind::Handshake).first().handshake, Finding::HandshakeResult::Completed);
    EXPECT_EQ(PeerPort(plain, kFileDataPort).portState, PortState::NotTried);
    EXPECT_EQ(PeerPort(plain, kFileDataPort).verdict, Verdict::Ok);
}

TEST(Doctor, FindsThePeerUnreachableWhereNothingListens) {
    const QList<Finding> findings = RunDoctor(ConfigFor(QStringLiteral("127.0.0.4")));
    EXPECT_EQ(PeerPort(findings, kChatPort).portState, PortState::Refused);
    EXPECT_EQ(PeerPort(findings, kChatPort).verdict, Verdict::Error);
    EXPECT_EQ(PeerPort(findings, kFileControlPort).portState, PortState::Refused);
    EXPECT_EQ(PeerPort(findings, kFileControlPort).verdict, Verdict::Error);
    EXPECT_TRUE(Of(findings, Kind::Handshake).isEmpty());
    ASSERT_EQ(Of(findings, Kind::PeerPresence).size(), 1);
    EXPECT_FALSE(Of(findings, Kind::PeerPresence).first().answered);
    EXPECT_EQ(WorstVerdict(findings, true), Verdict::Error);
    EXPECT_NE(WorstVerdict(findings, false), Verdict::Error) << qPrintable(Lines(findings));
}

TEST(Doctor, NamesTheProgramThatHoldsAPort) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress(kCallerAddress), kFileDataPort));
    const QList<Finding> findings = RunDoctor(ConfigFor(QString()));
    bool named = false;
    for (const Finding& finding : Of(findings, Kind::PortUse)) {
        if (finding.port != kFileDataPort) {
            EXPECT_EQ(finding.portState, PortState::Free);
            continue;
        }
        named = true;
        EXPECT_EQ(finding.portState, PortState::HeldByOther);
        EXPECT_EQ(finding.verdict, Verdict::Error);
        EXPECT_EQ(finding.pid, QCoreApplication::applicationPid());
        EXPECT_EQ(finding.program, QStringLiteral("doctor_net_test"));
        EXPECT_TRUE(DoctorFindingLine(finding).contains(QStringLiteral("doctor_net_test")));
    }
    EXPECT_TRUE(named) << qPrintable(Lines(findings));
    EXPECT_TRUE(Of(findings, Kind::PeerPort).isEmpty());
}

TEST(Doctor, NamesAFirewallRuleThatDropsTheDataPort) {
    if (!g_sharedNetworkReason.empty())
        GTEST_SKIP() << "SKIPPED: " << g_sharedNetworkReason
                     << "; a firewall rule would reach beyond the test";
    const QStringList folders{QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")};
    QString nft = QStandardPaths::findExecutable(QStringLiteral("nft"));
    if (nft.isEmpty())
        nft = QStandardPaths::findExecutable(QStringLiteral("nft"), folders);
    QString iptables = QStandardPaths::findExecutable(QStringLiteral("iptables"));
    if (iptables.isEmpty())
        iptables = QStandardPaths::findExecutable(QStringLiteral("iptables"), folders);
    QString said;
    bool ruled = false;
    // Through iptables where there is one: on nftables its rule shows in both listings,
    // and it is still told once.
    if (!iptables.isEmpty()) {
        ruled = RunTool(iptables,
                        {QStringLiteral("-A"), QStringLiteral("INPUT"), QStringLiteral("-p"),
                         QStringLiteral("tcp"), QStringLiteral("--dport"), QStringLiteral("8511"),
                         QStringLiteral("-j"), QStringLiteral("DROP")},
                        &said);
    } else if (!nft.isEmpty()) {
        ruled =
            RunTool(nft,
                    {QStringLiteral("add"), QStringLiteral("table"), QStringLiteral("inet"),
                     QStringLiteral("doctortest")},
                    &said) &&
            RunTool(nft,
                    {QStringLiteral("add"), QStringLiteral("chain"), QStringLiteral("inet"),
                     QStringLiteral("doctortest"), QStringLiteral("input"),
                     QStringLiteral("{ type filter hook input priority 0 ; }")},
                    &said) &&
            RunTool(nft,
                    {QStringLiteral("add"), QStringLiteral("rule"), QStringLiteral("inet"),
                     QStringLiteral("doctortest"), QStringLiteral("input"), QStringLiteral("tcp"),
                     QStringLiteral("dport"), QStringLiteral("8511"), QStringLiteral("drop")},
                    &said);
    } else {
        GTEST_SKIP() << "SKIPPED: neither nft nor iptables is installed (scripts/setup.sh "
                        "installs them)";
    }
    if (!ruled)
        GTEST_SKIP() << "SKIPPED: no firewall rule could be added here: " << qPrintable(said);

    TestPeer peer(kAnswererAddress, QStringLiteral("小红"));
    ASSERT_TRUE(peer.Start());
    const QList<Finding> findings = RunDoctor(ConfigFor(kAnswererAddress));
    const QString lines = Lines(findings);
    const QList<Finding> drops = Of(findings, Kind::FirewallDrops);
    ASSERT_EQ(drops.size(), 1) << qPrintable(lines);
    EXPECT_EQ(drops.first().tool,
              iptables.isEmpty() ? QStringLiteral("nft") : QStringLiteral("iptables"));
    for (const Finding& drop : drops) {
        EXPECT_EQ(drop.port, kFileDataPort);
        EXPECT_FALSE(drop.udp);
        EXPECT_EQ(drop.verdict, Verdict::Error);
        EXPECT_TRUE(drop.rule.contains(QStringLiteral("8511"))) << qPrintable(drop.rule);
        EXPECT_TRUE(drop.rule.contains(QStringLiteral("drop"), Qt::CaseInsensitive));
    }
    // Dropped, not refused: the connection times out.
    EXPECT_EQ(PeerPort(findings, kFileDataPort).portState, PortState::TimedOut);
    EXPECT_EQ(PeerPort(findings, kFileDataPort).verdict, Verdict::Error);
    EXPECT_EQ(PeerPort(findings, kFileControlPort).portState, PortState::Accepted);

    if (!iptables.isEmpty()) {
        RunTool(iptables, {QStringLiteral("-D"), QStringLiteral("INPUT"), QStringLiteral("-p"),
                           QStringLiteral("tcp"), QStringLiteral("--dport"), QStringLiteral("8511"),
                           QStringLiteral("-j"), QStringLiteral("DROP")});
    } else {
        RunTool(nft, {QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"),
                      QStringLiteral("doctortest")});
    }
}

// A send that cannot reach its peer offers the doctor; the window runs it on that peer and
// lists each finding with its verdict.
TEST(DoctorWindow, OpensFromTheSendFailureAndListsTheFindings) {
    LoopbackPeer sender(kCallerAddress, QStringLiteral("小明"));
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    sender.session.appFolder = folder.path() + QLatin1Char('/');
    sender.session.localAddressList = {kCallerAddress};
    sender.session.presencePort = PresencePort();
    sender.session.presenceDestinations = PresenceDestinations(kCallerAddress);
    const QString path = folder.path() + QStringLiteral("/a.bin");
    ASSERT_TRUE(WriteFile(path, QByteArray("doctor")));

    SendWindow window(sender.session);
    window.ShowSendWindow();
    Find<QLineEdit>(&window, "txtFSInfo1")->setText(QStringLiteral("127.0.0.4"));
    Find<QLineEdit>(&window, "txtFSInfo2")->setText(path);
    sender.fake.messageBox->answers.enqueue(MessageAnswer::Action);
    window.SendClicked();
    ASSERT_TRUE(WaitUntil([&] { return !sender.fake.messageBox->shown.isEmpty(); }));
    EXPECT_EQ(sender.fake.messageBox->shown.front().style.actionButton, QStringLiteral("诊断..."));

    auto* doctor = window.findChild<DoctorWindow*>();
    ASSERT_NE(doctor, nullptr);
    EXPECT_TRUE(doctor->isVisible());
    EXPECT_EQ(doctor->windowTitle(), QStringLiteral("诊断"));
    EXPECT_EQ(doctor->peer(), QStringLiteral("127.0.0.4"));
    ASSERT_TRUE(WaitUntil([&] { return doctor->doctor().phase() == Doctor::Phase::Done; }, 15000));
    const auto* list = Find<QListWidget>(doctor, "lstFindings");
    ASSERT_EQ(list->count(), doctor->doctor().findings().size());
    QStringList items;
    for (int row = 0; row < list->count(); ++row)
        items << list->item(row)->text();
    EXPECT_TRUE(
        items.contains(DoctorFindingLine(PeerPort(doctor->doctor().findings(), kFileControlPort))))
        << qPrintable(items.join(QLatin1Char('\n')));
    EXPECT_TRUE(items.filter(QStringLiteral("[错误] ")).size() >= 2);
    EXPECT_TRUE(Find<QLabel>(doctor, "lblDoctorState")->text().contains(QStringLiteral("错误")));
    EXPECT_TRUE(RenderToPng(*doctor, QStringLiteral("doctor_window")));
}

// The command's exit status: 0 when all is well, 1 when the peer cannot be reached, 3 when a
// port here is held by another program.
TEST(DoctorCommand, ExitsByWhereTheProblemIs) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const auto run = [&](const QString& peer, QString* out = nullptr, const QStringList& more = {},
                         QString* err = nullptr) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/c"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/d"));
        environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TOLVEX_BINARY),
                      QStringList{QStringLiteral("doctor"), peer, QStringLiteral("--address"),
                                  kCallerAddress} +
                          more);
        // The program runs its own event loop; this one only waits on it.
        if (!WaitUntil([&] { return process.state() == QProcess::NotRunning; }, 30000))
            return -1;
        if (out)
            *out = QString::fromUtf8(process.readAllStandardOutput());
        if (err)
            *err = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };

    TestPeer peer(kAnswererAddress, QStringLiteral("小红"));
    ASSERT_TRUE(peer.Start());
    QString out;
    EXPECT_EQ(run(kAnswererAddress, &out), 0) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("[正常] "))) << qPrintable(out);
    EXPECT_FALSE(out.contains(QStringLiteral("[错误] "))) << qPrintable(out);

    EXPECT_EQ(run(QStringLiteral("127.0.0.4"), &out), 1) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("[错误] "))) << qPrintable(out);

    // --json: standard output only JSON lines, a finding event per finding with the sentence
    // and the data of its kind, then the end; the human lines go to standard error.
    QString err;
    EXPECT_EQ(run(QStringLiteral("127.0.0.4"), &out, {QStringLiteral("--json")}, &err), 1)
        << qPrintable(err);
    EXPECT_TRUE(err.contains(QStringLiteral("[错误] "))) << qPrintable(err);
    const auto parse = [](const QString& lines) {
        QList<QJsonObject> objects;
        for (const QString& text : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
            EXPECT_TRUE(document.isObject()) << qPrintable(error.errorString() + text);
            objects << document.object();
        }
        return objects;
    };
    QList<QJsonObject> events = parse(out);
    ASSERT_GE(events.size(), 2) << qPrintable(out);
    const QStringList kinds = {"local-address",    "several-addresses",   "port-use",
                               "firewall-drops",   "firewall-unreadable", "firewall-clear",
                               "presence-answers", "peer-presence",       "peer-port",
                               "handshake",        "round-trip",          "subnet"};
    const auto line = [](const QJsonObject& event) {
        return QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
    };
    int refusedPorts = 0;
    for (qsizetype i = 0; i + 1 < events.size(); ++i) {
        const QJsonObject& event = events[i];
        EXPECT_EQ(event.value("event").toString(), QStringLiteral("finding"));
        EXPECT_TRUE(kinds.contains(event.value("kind").toString())) << qPrintable(line(event));
        EXPECT_TRUE(
            QStringList({"ok", "warning", "error"}).contains(event.value("verdict").toString()))
            << qPrintable(line(event));
        EXPECT_FALSE(event.value("text").toString().isEmpty()) << qPrintable(line(event));
        const bool peerSide = event.value("side").toString() == QLatin1String("peer");
        EXPECT_TRUE(peerSide || event.value("side").toString() == QLatin1String("local"));
        EXPECT_EQ(event.contains("peer"), peerSide) << qPrintable(line(event));
        if (event.value("kind").toString() == QLatin1String("peer-port")) {
            EXPECT_EQ(event.value("peer").toString(), QStringLiteral("127.0.0.4"));
            EXPECT_EQ(event.value("protocol").toString(), QStringLiteral("tcp"));
            EXPECT_GT(event.value("port").toInt(), 0);
            EXPECT_FALSE(event.contains("rttMs")) << qPrintable(line(event));
            if (event.value("portState").toString() == QLatin1String("refused")) {
                EXPECT_EQ(event.value("error").toString(), QStringLiteral("connection-refused"));
                ++refusedPorts;
            }
        }
    }
    EXPECT_GE(refusedPorts, 1) << qPrintable(out);
    EXPECT_EQ(events.last().value("event").toString(), QStringLiteral("end"));
    EXPECT_EQ(events.last().value("outcome").toString(), QStringLiteral("peer-unreachable"));
    EXPECT_EQ(events.last().value("status").toInt(-1), 1);

    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress(kCallerAddress), kChatPort));
    EXPECT_EQ(run(kAnswererAddress, &out, {QStringLiteral("--json")}, &err), 3) << qPrintable(err);
    EXPECT_TRUE(err.contains(QStringLiteral("doctor_net_test"))) << qPrintable(err);
    events = parse(out);
    ASSERT_FALSE(events.isEmpty()) << qPrintable(out);
    const auto held = std::find_if(events.begin(), events.end(), [](const QJsonObject& event) {
        return event.value("kind").toString() == QLatin1String("port-use") &&
               event.value("port").toInt() == kChatPort;
    });
    ASSERT_NE(held, events.end()) << qPrintable(out);
    EXPECT_EQ(held->value("verdict").toString(), QStringLiteral("error"));
    EXPECT_EQ(held->value("side").toString(), QStringLiteral("local"));
    EXPECT_EQ(held->value("portState").toString(), QStringLiteral("held-by-other"));
    EXPECT_EQ(held->value("program").toString(), QStringLiteral("doctor_net_test"));
    EXPECT_EQ(held->value("pid").toInteger(), QCoreApplication::applicationPid());
    EXPECT_EQ(events.last().value("outcome").toString(), QStringLiteral("local-problem"));
    EXPECT_EQ(events.last().value("status").toInt(-1), 3);
}

}  // namespace
}  // namespace tvx::test

int main(int argc, char** argv) {
    // Before any thread starts: a namespace is entered by a process of one thread only.
    tvx::test::EnterPrivateNetwork();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TOLVEX_PRESENCE_PORT", QByteArray::number(tvx::test::PresencePort()));
    QApplication app(argc, argv);
    tvx::UseChineseLanguage(app);
    ::testing::InitGoogleTest(&argc, argv);
    if (!tvx::test::g_sharedNetworkReason.empty())
        std::printf("doctor_net_test: %s\n", tvx::test::g_sharedNetworkReason.c_str());
    return RUN_ALL_TESTS();
}
