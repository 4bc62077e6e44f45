// Service discovery: the TXT records as a stranger may send them, the one list that presence
// keeps of copies heard by datagrams and found by discovery, and publishing and browsing
// through a private avahi-daemon on a private system bus. main() moves the process into
// network and mount namespaces of its own first, so that nothing leaves the machine and no
// daemon of the machine is reached.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <memory>

#include "address/AddressCode.h"
#include "platform/AvahiDiscovery.h"
#include "presence/PresenceService.h"
#include "protocol/DnsSdRecords.h"
#include "support/Wait.h"

namespace {

using namespace tvx;
using tvx::test::WaitUntil;

// Why the daemons cannot run here; empty when they can.
QString g_noDaemon;
class Daemons;
Daemons* g_daemons = nullptr;

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Own network and mount namespaces: a user namespace first where not root. Loopback up with
// multicast, as mDNS needs; a fresh /run for the daemon's pid file and socket.
QString EnterNamespaces() {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    int flags = CLONE_NEWNET | CLONE_NEWNS;
    if (uid != 0)
        flags |= CLONE_NEWUSER;
    if (unshare(flags) != 0)
        return QStringLiteral("cannot make a private network namespace (unshare: %1)")
            .arg(QString::fromLocal8Bit(strerror(errno)));
    if (uid != 0) {
        if (!WriteFile(QStringLiteral("/proc/self/setgroups"), "deny") ||
            !WriteFile(QStringLiteral("/proc/self/uid_map"),
                       QByteArray("0 ") + QByteArray::number(uid) + " 1") ||
            !WriteFile(QStringLiteral("/proc/self/gid_map"),
                       QByteArray("0 ") + QByteArray::number(gid) + " 1"))
            return QStringLiteral("cannot map this user into a user namespace");
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0 ||
        mkdir("/run/avahi-daemon", 0755) != 0)
        return QStringLiteral("cannot give the daemon a /run of its own");
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up =
        fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
        (request.ifr_flags |= IFF_UP | IFF_MULTICAST, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (fd >= 0)
        close(fd);
    return up ? QString() : QStringLiteral("cannot bring the loopback interface up");
}

// A dbus-daemon of the system kind without service directories and an avahi-daemon on it that
// knows only the loopback interface, for the whole run.
class Daemons : public ::testing::Environment {
public:
    void SetUp() override {
        if (!g_noDaemon.isEmpty())
            return;
        g_noDaemon = Start();
    }
    void TearDown() override {
        for (QProcess* process : {m_avahi.get(), m_bus.get()}) {
            if (process && process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000))
                    process->kill();
                process->waitForFinished(5000);
            }
        }
    }

private:
    QString Start() {
        const QString dbusDaemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        const QString avahiDaemon = QStandardPaths::findExecutable(
            QStringLiteral("avahi-daemon"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        if (dbusDaemon.isEmpty() || avahiDaemon.isEmpty())
            return QStringLiteral(
                "dbus-daemon or avahi-daemon is not installed "
                "(scripts/setup.sh installs them)");
        if (!m_dir.isValid())
            return QStringLiteral("no temporary folder");
        const QString socket = m_dir.filePath(QStringLiteral("system_bus_socket"));
        const QString busConfig = m_dir.filePath(QStringLiteral("bus.conf"));
        const QString avahiConfig = m_dir.filePath(QStringLiteral("avahi.conf"));
        WriteFile(busConfig,
                  "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                  "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                  "<busconfig><type>system</type><listen>unix:path=" +
                      socket.toUtf8() +
                      "</listen><auth>EXTERNAL</auth>"
                      "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                      "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                      "</policy></busconfig>\n");
        WriteFile(avahiConfig,
                  "[server]\nhost-name=tolvex-test\nuse-ipv4=yes\nuse-ipv6=no\n"
                  "allow-interfaces=lo\nenable-dbus=yes\nratelimit-interval-usec=0\n"
                  "[wide-area]\nenable-wide-area=no\n"
                  "[publish]\npublish-hinfo=no\npublish-workstation=no\n");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + socket.toUtf8());

        m_bus = std::make_unique<QProcess>();
        m_bus->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_bus->start(dbusDaemon, {QStringLiteral("--config-file=") + busConfig,
                                  QStringLiteral("--nofork"), QStringLiteral("--nopidfile")});
        if (!m_bus->waitForStarted(5000) ||
            !WaitUntil([&] { return QFile::exists(socket); }, 10000))
            return QStringLiteral("the private dbus-daemon did not start");
        m_avahiDaemon = avahiDaemon;
        m_avahiConfig = avahiConfig;
        return StartAvahi();
    }

public:
    // Ends avahi-daemon as a stop of its service would.
    void StopAvahi() {
        m_avahi->terminate();
        if (!m_avahi->waitForFinished(5000))
            m_avahi->kill();
        m_avahi->waitForFinished(5000);
    }
    // Starts it and waits until it runs; why not, when it does not.
    QString StartAvahi() {
        const QString avahiDaemon = m_avahiDaemon;
        const QString avahiConfig = m_avahiConfig;
        m_avahi = std::make_unique<QProcess>();
        m_avahi->setProcessChannelMode(QProcess::MergedChannels);
        m_avahi->start(avahiDaemon,
                       {QStringLiteral("--no-drop-root"), QStringLiteral("--no-chroot"),
                        QStringLiteral("--no-rlimits"), QStringLiteral("-f"), avahiConfig});
        if (!m_avahi->waitForStarted(5000))
            return QStringLiteral("avahi-daemon did not start");
        // Running: it has joined the group on lo and registered its host name.
        const bool running = WaitUntil(
            [&] {
                if (m_avahi->state() == QProcess::NotRunning)
                    return true;
                QDBusMessage ask = QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.Avahi"), QStringLiteral("/"),
                    QStringLiteral("org.freedesktop.Avahi.Server"), QStringLiteral("GetState"));
                const QDBusMessage reply =
                    QDBusConnection::systemBus().call(ask, QDBus::Block, 500);
                return reply.type() == QDBusMessage::ReplyMessage &&
                       reply.arguments().value(0).toInt() == 2;
            },
            15000);
        if (!running || m_avahi->state() == QProcess::NotRunning)
            return QStringLiteral("avahi-daemon did not come up: ") +
                   QString::fromLocal8Bit(m_avahi->readAll()).simplified().left(300);
        return QString();
    }

    QTemporaryDir m_dir;
    QString m_avahiDaemon;
    QString m_avahiConfig;
    std::unique_ptr<QProcess> m_bus;
    std::unique_ptr<QProcess> m_avahi;
};

// Stands in for the desktop's discovery: the test says what is found and lost.
class ScriptedDiscovery : public ServiceDiscovery {
public:
    void Publish(const DnsSdRecord& self) override { published = self; }
    void Withdraw() override { published.reset(); }
    void Browse() override { browsing = true; }
    void StopBrowsing() override { browsing = false; }
    void Find(const QString& ipv4, const QString& nickName) {
        emit PeerFound({ipv4, {EncodeAddressCode(ipv4), nickName, {8510, 8511, 9170}}});
    }

    std::optional<DnsSdRecord> published;
    bool browsing = false;
};

QList<QByteArray> Txt(std::initializer_list<const char*> strings) {
    QList<QByteArray> list;
    for (const char* string : strings)
        list << QByteArray(string);
    return list;
}

TEST(DnsSdRecords, BuildParseAndHostileStrings) {
    // What a copy publishes reads back as itself, the nickname cut at a whole character.
    const DnsSdRecord self{
        QStringLiteral("NVSSWFDSEN"), QStringLiteral("小李"), {8510, 8511, 9170}};
    const QList<QByteArray> built = BuildDnsSdTxt(self);
    EXPECT_EQ(built, Txt({"txtvers=1", "tvx=NVSSWFDSEN", "nick=\xE5\xB0\x8F\xE6\x9D\x8E",
                          "ports=8510,8511,9170"}));
    EXPECT_EQ(ParseDnsSdTxt(built), self);
    const DnsSdRecord longName{self.addressCode, QString(60, QChar(0x674E)) + QChar(0x1b),
                               self.ports};
    const std::optional<DnsSdRecord> cut = ParseDnsSdTxt(BuildDnsSdTxt(longName));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->nickName, QString(50, QChar(0x674E)));

    // Keys in any case, the first of a repeated key, unknown keys, flags and odd keys ignored.
    const std::optional<DnsSdRecord> loose =
        ParseDnsSdTxt(Txt({"flag", "=x", "\xE9\x94\xAE=1", "other=1", "TVX=NVSSWFDSEN",
                           "tvx=EEEEEEEEEE", "Ports=0,0,9170", "ports=1,2,3"}));
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->addressCode, QStringLiteral("NVSSWFDSEN"));
    EXPECT_EQ(loose->nickName, QString());
    EXPECT_EQ(loose->ports, (PresencePorts{0, 0, 9170}));

    const QByteArray ok = "tvx=NVSSWFDSEN";
    const QByteArray ports = "ports=8510,8511,9170";
    const QList<QList<QByteArray>> refused = {
        {},
        {ok},
        {ports},
        {"txtvers=2", ok, ports},
        {"tvx=nvsswfdsen", ports},
        {"tvx=NVSSWFDSENE", ports},
        {"tvx=NVSSWFDSE1", ports},
        {ok, "ports=8510,8511"},
        {ok, "ports=8510,8511,9170,9171"},
        {ok, "ports=8510,8511,65536"},
        {ok, "ports=+8510,8511,9170"},
        {ok, "ports=008510,8511,9170"},
        {ok, "ports=8510,,9170"},
        {ok, ports, "nick=\xC0\xAF"},
        {ok, ports, "nick=\xE5\xB0"},
        {ok, ports, "nick=a\x1b[2Jb"},
        {ok, ports, "nick=\xE2\x80\xA8"},
        {ok, ports, "nick=" + QByteArray(151, 'a')},
        {ok, ports, "x=" + QByteArray(254, 'a')},
        QList<QByteArray>(kMaxDnsSdTxtRecords - 1, "x=1") << ok << ports,
    };
    for (const QList<QByteArray>& strings : refused)
        EXPECT_FALSE(ParseDnsSdTxt(strings)) << strings.join(' ').toStdString();
    EXPECT_TRUE(ParseDnsSdTxt({ok, ports, "x=" + QByteArray(253, 'a')}));

    // The instance name: one DNS label, whole characters, never empty.
    EXPECT_EQ(DnsSdInstanceName(QStringLiteral(" 小\x1b李 "), self.addressCode),
              QStringLiteral("小 李"));
    EXPECT_EQ(DnsSdInstanceName(QString(30, QChar(0x674E)), self.addressCode),
              QString(21, QChar(0x674E)));
    EXPECT_EQ(DnsSdInstanceName(QStringLiteral("\t "), self.addressCode),
              QStringLiteral("Tolvex NVSSWFDSEN"));
}

// One list: a copy heard both ways shows as its datagrams say, and goes only when both ways
// have lost it; what is published follows the card and the Discoverable setting.
TEST(PresenceMerge, HeardAndFoundAreOnePeer) {
    const QString self = QStringLiteral("127.0.0.2");
    const QString other = QStringLiteral("127.0.0.3");
    PresenceConfig config;
    config.localAddress = self;
    config.port = 29171;
    config.answerDelayMaxMs = 0;
    PresenceIdentity identity{
        EncodeAddressCode(self), QStringLiteral("本机"), true, {8510, 8511, 9170}};
    PresenceService presence(config, [&identity] { return identity; });
    ScriptedDiscovery discovery;
    presence.UseServiceDiscovery(&discovery);
    QSignalSpy added(&presence, &PresenceService::PeerAdded);
    QSignalSpy updated(&presence, &PresenceService::PeerUpdated);
    QSignalSpy removed(&presence, &PresenceService::PeerRemoved);
    ASSERT_TRUE(presence.Start());
    EXPECT_TRUE(discovery.browsing);
    ASSERT_TRUE(discovery.published);
    EXPECT_EQ(DecodeAddressCode(discovery.published->addressCode), self);
    EXPECT_EQ(discovery.published->nickName, QStringLiteral("本机"));

    // Found only: listed once. Ourselves and a record whose TVX address is not its own: never.
    discovery.Find(other, QStringLiteral("甲"));
    discovery.Find(self, QStringLiteral("我"));
    emit discovery.PeerFound(
        {QStringLiteral("127.0.0.4"), {EncodeAddressCode(other), QStringLiteral("乙"), {}}});
    ASSERT_EQ(added.size(), 1);
    EXPECT_EQ(presence.PeerCount(), 1);
    EXPECT_EQ(presence.Peers().value(0).nickName, QStringLiteral("甲"));

    // Then heard: the datagram's record wins, as one update.
    QUdpSocket sender;
    ASSERT_TRUE(sender.bind(QHostAddress(other), 0));
    sender.writeDatagram(
        BuildPresenceAnnounce(EncodeAddressCode(other), QStringLiteral("乙"), {8510, 8511, 9170}),
        QHostAddress(self), config.port);
    ASSERT_TRUE(WaitUntil([&] { return updated.size() == 1; }));
    EXPECT_EQ(updated.at(0).at(0).value<PresencePeer>().nickName, QStringLiteral("乙"));
    EXPECT_EQ(presence.PeerCount(), 1);

    // Lost by discovery, still heard: nothing changes for the views.
    emit discovery.PeerLost(other);
    discovery.Find(other, QStringLiteral("甲"));
    EXPECT_EQ(added.size() + updated.size() + removed.size(), 2);
    EXPECT_EQ(presence.Peers().value(0).nickName, QStringLiteral("乙"));

    // A goodbye by datagram while discovery still has it: back to discovery's record.
    sender.writeDatagram(BuildPresenceGoodbye(EncodeAddressCode(other)), QHostAddress(self),
                         config.port);
    ASSERT_TRUE(WaitUntil([&] { return updated.size() == 2; }));
    EXPECT_EQ(removed.size(), 0);
    EXPECT_EQ(presence.Peers().value(0).nickName, QStringLiteral("甲"));
    emit discovery.PeerLost(other);
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(presence.PeerCount(), 0);

    // A new nickname is published again; Discoverable off withdraws; a stop lists nobody.
    identity.nickName = QStringLiteral("新名");
    presence.AnnounceNow();
    ASSERT_TRUE(discovery.published);
    EXPECT_EQ(discovery.published->nickName, QStringLiteral("新名"));
    identity.discoverable = false;
    presence.AnnounceNow();
    EXPECT_FALSE(discovery.published);
    discovery.Find(other, QStringLiteral("甲"));
    ASSERT_EQ(added.size(), 2);
    identity.discoverable = true;
    presence.AnnounceNow();
    ASSERT_TRUE(discovery.published);
    presence.Stop();
    EXPECT_FALSE(discovery.published);
    EXPECT_FALSE(discovery.browsing);
    EXPECT_EQ(removed.size(), 2);
    EXPECT_TRUE(presence.Peers().isEmpty());
}

// Copy A publishes through the daemon, avahi-browse shows it with its records, copy B finds it
// in its one list, and A turning Discoverable off makes B lose it.
TEST(AvahiBus, PublishBrowseAndWithdraw) {
    if (!g_noDaemon.isEmpty())
        GTEST_SKIP() << "SKIPPED: " << g_noDaemon.toStdString();

    const QString addressA = QStringLiteral("127.0.0.1");
    const QString codeA = EncodeAddressCode(addressA);
    PresenceConfig configA;
    configA.localAddress = addressA;
    configA.port = 0;
    PresenceIdentity identityA{codeA, QStringLiteral("小李 \"A\""), true, {8510, 8511, 9170}};
    AvahiServiceDiscovery discoveryA;
    PresenceService presenceA(configA, [&identityA] { return identityA; });
    presenceA.UseServiceDiscovery(&discoveryA);
    ASSERT_TRUE(presenceA.Start());
    ASSERT_TRUE(WaitUntil([&] { return !discoveryA.EstablishedName().isEmpty(); }, 15000));
    EXPECT_EQ(discoveryA.EstablishedName(), QStringLiteral("小李 \"A\""));

    const QString browse = QStandardPaths::findExecutable(QStringLiteral("avahi-browse"));
    if (!browse.isEmpty()) {
        QProcess lister;
        lister.start(browse, {QStringLiteral("-rpt"), QString::fromLatin1(kDnsSdServiceType)});
        ASSERT_TRUE(lister.waitForFinished(15000));
        const QString listed = QString::fromUtf8(lister.readAllStandardOutput());
        EXPECT_TRUE(listed.contains(QStringLiteral(";127.0.0.1;8510;")) &&
                    listed.contains(QStringLiteral("\"tvx=") + codeA + QLatin1Char('"')) &&
                    listed.contains(QStringLiteral("\"ports=8510,8511,9170\"")) &&
                    listed.contains(QStringLiteral("\"txtvers=1\"")))
            << listed.toStdString();
    } else {
        std::printf("avahi-browse is not installed: its listing is not checked\n");
    }

    PresenceConfig configB;
    configB.localAddress = QStringLiteral("127.0.0.2");
    configB.port = 0;
    AvahiServiceDiscovery discoveryB;
    PresenceService presenceB(configB, [] { return PresenceIdentity{}; });
    presenceB.UseServiceDiscovery(&discoveryB);
    QSignalSpy removed(&presenceB, &PresenceService::PeerRemoved);
    ASSERT_TRUE(presenceB.Start());
    ASSERT_TRUE(WaitUntil([&] { return presenceB.PeerCount() == 1; }, 15000));
    const PresencePeer found = presenceB.Peers().constFirst();
    EXPECT_EQ(found.ipv4, addressA);
    EXPECT_EQ(found.addressCode, codeA);
    EXPECT_EQ(found.nickName, identityA.nickName);
    EXPECT_EQ(found.ports, identityA.ports);

    identityA.discoverable = false;
    presenceA.AnnounceNow();
    ASSERT_TRUE(WaitUntil([&] { return removed.size() == 1; }, 15000));
    EXPECT_EQ(presenceB.PeerCount(), 0);
    presenceB.Stop();
    presenceA.Stop();
}

// Two copies asking for one name: the second takes the daemon's alternative. The daemon
// leaving takes the found copies with it; when it comes back, both are published and found
// again without being asked.
TEST(AvahiBus, NameTakenAndDaemonRestarting) {
    if (!g_noDaemon.isEmpty())
        GTEST_SKIP() << "SKIPPED: " << g_noDaemon.toStdString();

    const DnsSdRecord first{
        EncodeAddressCode(QStringLiteral("127.0.0.1")), QStringLiteral("同名"), {8520, 8521, 9180}};
    const DnsSdRecord second{
        EncodeAddressCode(QStringLiteral("127.0.0.1")), QStringLiteral("同名"), {8530, 8531, 9190}};
    AvahiServiceDiscovery one;
    AvahiServiceDiscovery two;
    AvahiServiceDiscovery browser;
    QList<DnsSdRecord> found;
    int lost = 0;
    QObject::connect(&browser, &ServiceDiscovery::PeerFound,
                     [&found](const DiscoveredPeer& peer) { found << peer.record; });
    QObject::connect(&browser, &ServiceDiscovery::PeerLost, [&lost] { ++lost; });
    one.Publish(first);
    ASSERT_TRUE(WaitUntil([&] { return !one.EstablishedName().isEmpty(); }, 15000));
    two.Publish(second);
    ASSERT_TRUE(WaitUntil([&] { return !two.EstablishedName().isEmpty(); }, 15000));
    EXPECT_EQ(one.EstablishedName(), QStringLiteral("同名"));
    EXPECT_EQ(two.EstablishedName(), QStringLiteral("同名 #2"));
    browser.Browse();
    ASSERT_TRUE(WaitUntil([&] { return found.size() == 2; }, 15000));
    EXPECT_TRUE(found.contains(first) && found.contains(second));

    g_daemons->StopAvahi();
    ASSERT_TRUE(WaitUntil([&] { return lost == 1; }, 15000));
    EXPECT_TRUE(one.EstablishedName().isEmpty());
    found.clear();
    const QString again = g_daemons->StartAvahi();
    ASSERT_TRUE(again.isEmpty()) << again.toStdString();
    ASSERT_TRUE(WaitUntil([&] { return found.size() >= 2; }, 20000));
    EXPECT_TRUE(found.contains(first) && found.contains(second));
    EXPECT_FALSE(one.EstablishedName().isEmpty());
    EXPECT_FALSE(two.EstablishedName().isEmpty());
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread starts: a namespace can only be entered by a single-threaded process.
    g_noDaemon = EnterNamespaces();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    g_daemons = new Daemons;
    ::testing::AddGlobalTestEnvironment(g_daemons);
    return RUN_ALL_TESTS();
}
