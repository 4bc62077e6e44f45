#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QUdpSocket>
#include <atomic>
#include <memory>
#include <random>
#include <thread>

#include "address/AddressCode.h"
#include "presence/PresenceService.h"
#include "support/Loopback.h"

using namespace tvx;
using tvx::test::PresencePort;
using tvx::test::WaitUntil;

namespace {

const QStringList kTrio = {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3"),
                           QStringLiteral("127.0.0.4")};
const QString kStranger = QStringLiteral("127.0.0.9");
const PresencePorts kPorts{8510, 8511, 9170};

// Nothing in these tests may reach a real network: every address a service sends to, or is
// bound to, is a loopback address, and broadcasts are never heard. Nor may they hear a program
// running on the machine: the port is the test process's own.
void RequireLoopbackOnly(const PresenceConfig& config) {
    bool loopback = IsLoopbackAddress(config.localAddress) && !config.hearBroadcasts &&
                    config.peerPort == PresencePort() && config.port != kPresencePort;
    for (const QString& destination : config.destinations)
        loopback = loopback && IsLoopbackAddress(destination);
    if (!loopback)
        qFatal("presence test would leave the loopback network");
}

// One running copy: its identity, which the test changes, its service and what it reported.
struct Copy {
    explicit Copy(const QString& address, PresenceConfig config = {}) {
        identity.addressCode = EncodeAddressCode(address);
        identity.nickName = QStringLiteral("用户") + address.section('.', 3);
        identity.ports = kPorts;
        config.localAddress = address;
        if (config.port == kPresencePort)
            config.port = PresencePort();
        config.peerPort = PresencePort();
        if (config.destinations.isEmpty())
            config.destinations = kTrio;
        RequireLoopbackOnly(config);
        service = std::make_unique<PresenceService>(config, [this] { return identity; });
        RequireLoopbackOnly(service->config());
        QObject::connect(service.get(), &PresenceService::PeerAdded,
                         [this](const PresencePeer& peer) { added << peer.ipv4; });
        QObject::connect(service.get(), &PresenceService::PeerUpdated,
                         [this](const PresencePeer& peer) { updated << peer.ipv4; });
        QObject::connect(service.get(), &PresenceService::PeerRemoved,
                         [this](const PresencePeer& peer) { removed << peer.ipv4; });
    }

    std::optional<PresencePeer> Find(const QString& address) const {
        for (const PresencePeer& peer : service->Peers()) {
            if (peer.ipv4 == address)
                return peer;
        }
        return std::nullopt;
    }
    bool Lists(const QString& address) const { return Find(address).has_value(); }
    QStringList Listed() const {
        QStringList addresses;
        for (const PresencePeer& peer : service->Peers())
            addresses << peer.ipv4;
        return addresses;
    }

    PresenceIdentity identity;
    std::unique_ptr<PresenceService> service;
    QStringList added, updated, removed;
};

// A bare socket on a loopback address that sends whatever a test gives it.
struct Stranger {
    explicit Stranger(const QString& address = kStranger) {
        if (!IsLoopbackAddress(address))
            qFatal("presence test would leave the loopback network");
        bound = socket.bind(QHostAddress(address), PresencePort());
    }
    void Send(const QByteArray& datagram, const QString& to = kTrio[0]) {
        socket.writeDatagram(datagram, QHostAddress(to), PresencePort());
    }
    // Datagrams that arrive within the time.
    QList<QByteArray> Collect(int milliseconds) {
        QList<QByteArray> received;
        QElapsedTimer clock;
        clock.start();
        WaitUntil(
            [&] {
                while (socket.hasPendingDatagrams())
                    received << socket.receiveDatagram().data();
                return clock.elapsed() >= milliseconds;
            },
            milliseconds + 1000);
        return received;
    }
    QUdpSocket socket;
    bool bound = false;
};

QByteArray AnnounceOf(const QString& address, const QString& nickName = QStringLiteral("x")) {
    return BuildPresenceAnnounce(EncodeAddressCode(address), nickName, kPorts);
}

// Sends random datagrams to the copy on kTrio[0] as fast as the system takes them, from a
// thread of its own, so that they arrive while the copy reads: a stranger's script.
class Flood {
public:
    Flood(int count, unsigned seed) {
        m_thread = std::thread([this, count, seed] {
            const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in from{};
            from.sin_family = AF_INET;
            from.sin_addr.s_addr = inet_addr("127.0.0.9");  // kStranger
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = inet_addr("127.0.0.2");  // kTrio[0]
            to.sin_port = htons(PresencePort());
            if (sender >= 0 &&
                ::bind(sender, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0) {
                std::mt19937 random(seed);
                char bytes[1100];
                for (int sent = 0; sent < count; ++sent) {
                    const size_t size = random() % sizeof bytes;
                    for (size_t at = 0; at < size; ++at)
                        bytes[at] = char(random());
                    ::sendto(sender, bytes, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
                }
            }
            if (sender >= 0)
                ::close(sender);
            m_done = true;
        });
    }
    ~Flood() { m_thread.join(); }
    bool Done() const { return m_done; }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// Lets queued datagrams and the answers to them (up to 500 ms late) run their course.
void Settle(int milliseconds = 700) {
    QElapsedTimer clock;
    clock.start();
    WaitUntil([&] { return clock.elapsed() >= milliseconds; }, milliseconds + 1000);
}

}  // namespace

TEST(Presence, ThreeCopiesFindEachOtherAndAGoodbyeTakesOneOffAtOnce) {
    Copy a(kTrio[0]), b(kTrio[1]), c(kTrio[2]);
    ASSERT_TRUE(a.service->Start());
    ASSERT_TRUE(b.service->Start());
    ASSERT_TRUE(c.service->Start());
    ASSERT_TRUE(WaitUntil(
        [&] {
            return a.service->PeerCount() == 2 && b.service->PeerCount() == 2 &&
                   c.service->PeerCount() == 2;
        },
        1000));
    EXPECT_EQ(a.Listed(), (QStringList{kTrio[1], kTrio[2]}));
    EXPECT_EQ(b.Listed(), (QStringList{kTrio[0], kTrio[2]}));
    EXPECT_EQ(c.Listed(), (QStringList{kTrio[0], kTrio[1]}));
    const PresencePeer seen = *a.Find(kTrio[2]);
    EXPECT_EQ(seen.nickName, QStringLiteral("用户4"));
    EXPECT_EQ(seen.addressCode, c.identity.addressCode);
    EXPECT_EQ(ResolvePeerAddress(seen.addressCode), kTrio[2]);
    EXPECT_TRUE(seen.ports == kPorts);

    // The query of the last one started is answered by both others; nothing is listed twice.
    Settle();
    EXPECT_EQ(a.added.size(), 2);
    EXPECT_EQ(c.added.size(), 2);

    // Expiry is two and a half minutes: only the goodbye can take it off this soon.
    b.service->Stop();
    EXPECT_FALSE(b.service->IsRunning());
    ASSERT_TRUE(WaitUntil([&] { return !a.Lists(kTrio[1]) && !c.Lists(kTrio[1]); }, 500));
    EXPECT_EQ(a.removed, QStringList{kTrio[1]});
    EXPECT_EQ(a.Listed(), QStringList{kTrio[2]});
    EXPECT_TRUE(b.service->Peers().isEmpty());

    // Started again, it is found again.
    ASSERT_TRUE(b.service->Start());
    ASSERT_TRUE(WaitUntil([&] { return a.Lists(kTrio[1]) && c.Lists(kTrio[1]); }, 1000));
}

TEST(Presence, AKilledCopyLeavesAfterTheExpiryAndTheLivingStay) {
    PresenceConfig quick;
    // The expiry leaves room for a busy machine to hold the whole process still for a second
    // without the living ones missing each other's announcements.
    quick.expiryMs = 1600;
    quick.announceIntervalMs = 150;
    Copy a(kTrio[0], quick), b(kTrio[1], quick), c(kTrio[2], quick);
    for (Copy* copy : {&a, &b, &c})
        ASSERT_TRUE(copy->service->Start());
    ASSERT_TRUE(WaitUntil([&] { return a.Lists(kTrio[1]) && a.Lists(kTrio[2]); }, 1000));

    c.service.reset();  // no goodbye
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitUntil([&] { return !a.Lists(kTrio[2]) && !b.Lists(kTrio[2]); }, 6000));
    EXPECT_GE(clock.elapsed(), 800);  // it was not taken off before its time
    EXPECT_EQ(a.removed, QStringList{kTrio[2]});
    // Announcing every 150 ms, the other one outlives the expiry time.
    Settle(2000);
    EXPECT_TRUE(a.Lists(kTrio[1]));
    EXPECT_TRUE(b.Lists(kTrio[0]));
    EXPECT_EQ(a.removed.size(), 1);
}

TEST(Presence, ANewNicknameShowsOnTheNextAnnouncement) {
    PresenceConfig quick;
    quick.announceIntervalMs = 200;
    Copy a(kTrio[0], quick), b(kTrio[1], quick);
    ASSERT_TRUE(a.service->Start());
    ASSERT_TRUE(b.service->Start());
    ASSERT_TRUE(WaitUntil([&] { return a.Lists(kTrio[1]); }, 1000));
    EXPECT_TRUE(a.updated.isEmpty());  // announcing the same again changes nothing

    b.identity.nickName = QStringLiteral("新名字");
    ASSERT_TRUE(
        WaitUntil([&] { return a.Find(kTrio[1])->nickName == QStringLiteral("新名字"); }, 2000));
    EXPECT_EQ(a.updated, QStringList{kTrio[1]});
    EXPECT_EQ(a.added, QStringList{kTrio[1]});
}

TEST(Presence, ACopyThatIsNotDiscoverableListsOthersAndIsNeverListed) {
    PresenceConfig quick;
    quick.announceIntervalMs = 150;
    Copy a(kTrio[0], quick), b(kTrio[1], quick), hidden(kTrio[2], quick);
    hidden.identity.discoverable = false;
    ASSERT_TRUE(a.service->Start());
    ASSERT_TRUE(b.service->Start());
    ASSERT_TRUE(hidden.service->Start());
    // It hears the others' announcements and their answers to its query.
    ASSERT_TRUE(WaitUntil([&] { return hidden.service->PeerCount() == 2; }, 1000));
    // Several announcement rounds and every answer delay later, nobody has heard of it, not
    // even when asked directly.
    a.service->Query();
    Settle(1000);
    EXPECT_FALSE(a.added.contains(kTrio[2]));
    EXPECT_FALSE(b.added.contains(kTrio[2]));

    // Turned on, it shows; turned off again, it says goodbye.
    hidden.identity.discoverable = true;
    hidden.service->AnnounceNow();
    ASSERT_TRUE(WaitUntil([&] { return a.Lists(kTrio[2]) && b.Lists(kTrio[2]); }, 1000));
    hidden.identity.discoverable = false;
    hidden.service->AnnounceNow();
    ASSERT_TRUE(WaitUntil([&] { return !a.Lists(kTrio[2]) && !b.Lists(kTrio[2]); }, 1000));
    EXPECT_EQ(hidden.service->PeerCount(), 2);
}

TEST(Presence, AOneShotAskerOnAnyPortBesideARunningCopyHearsTheAnswers) {
    // b starts first, so a has not yet answered anyone from b's address (one answer per
    // address every five seconds, whatever the port).
    Copy a(kTrio[0]), b(kTrio[1]);
    ASSERT_TRUE(b.service->Start());
    ASSERT_TRUE(a.service->Start());
    PresenceConfig asking;
    asking.port = 0;
    Copy asker(kTrio[1], asking);  // on the address of a running copy, whose port is taken
    asker.identity.discoverable = false;
    ASSERT_TRUE(asker.service->Start());
    ASSERT_TRUE(WaitUntil([&] { return asker.Listed() == QStringList{kTrio[0]}; }, 1000));
    Settle();
    EXPECT_EQ(a.Listed(), QStringList{kTrio[1]});
    EXPECT_EQ(b.Listed(), QStringList{kTrio[0]});
}

TEST(Presence, HostileDatagramsChangeNothing) {
    Copy a(kTrio[0]), b(kTrio[1]);
    ASSERT_TRUE(a.service->Start());
    ASSERT_TRUE(b.service->Start());
    ASSERT_TRUE(WaitUntil([&] { return a.Lists(kTrio[1]); }, 1000));
    Settle();
    const PresencePeer before = *a.Find(kTrio[1]);
    a.added.clear();

    Stranger stranger;
    ASSERT_TRUE(stranger.bound);
    const QByteArray good = AnnounceOf(kStranger, QStringLiteral("坏人"));
    QByteArray wrongMagic = good, wrongVersion = good, oversized = good, badCode = good,
               badName = good;
    wrongMagic[0] = 'X';
    wrongVersion[4] = 2;
    oversized += QByteArray(kMaxPresenceDatagram + 1 - good.size(), 'x');
    badCode[8] = 'Z';
    badName.chop(1);
    badName += char(0xC3);
    const QList<QByteArray> hostile = {
        wrongMagic,
        wrongVersion,
        oversized,
        QByteArray(60000, 'x'),
        badCode,
        badName,
        good.left(20),
        good + 'x',
        // Announcements and goodbyes in someone else's name.
        AnnounceOf(QStringLiteral("127.0.0.5")),
        AnnounceOf(kTrio[1], QStringLiteral("冒名")),
        BuildPresenceGoodbye(EncodeAddressCode(kTrio[1])),
        BuildPresenceGoodbye(b.identity.addressCode),
    };
    for (const QByteArray& datagram : hostile)
        stranger.Send(datagram);
    // A good announcement last: once it is heard, everything before it has been read.
    stranger.Send(good);
    ASSERT_TRUE(WaitUntil([&] { return a.Lists(kStranger); }, 1000));

    EXPECT_EQ(a.added, QStringList{kStranger});
    EXPECT_TRUE(a.updated.isEmpty());
    EXPECT_TRUE(a.removed.isEmpty());
    const PresencePeer after = *a.Find(kTrio[1]);
    EXPECT_EQ(after.nickName, before.nickName);
    EXPECT_EQ(after.addressCode, before.addressCode);
    EXPECT_EQ(a.Listed(), (QStringList{kTrio[1], kStranger}));
}

TEST(Presence, TenThousandRandomDatagramsLeaveTheListAsItWas) {
    Copy a(kTrio[0]), b(kTrio[1]), c(kTrio[2]);
    for (Copy* copy : {&a, &b, &c})
        ASSERT_TRUE(copy->service->Start());
    ASSERT_TRUE(WaitUntil([&] { return a.service->PeerCount() == 2; }, 1000));
    Settle();
    const QStringList before = a.Listed();
    const int askersBefore = a.service->AnswerTableSize();  // the others' start queries
    a.added.clear();

    // Mutations start from datagrams in the name of an address that differs from the
    // stranger's in every hexadecimal digit, so a few changed bytes never make one its own.
    const QString elsewhere = QStringLiteral("10.20.30.40");
    const QList<QByteArray> seeds = {AnnounceOf(elsewhere), BuildPresenceQuery(),
                                     BuildPresenceGoodbye(EncodeAddressCode(elsewhere)),
                                     BuildPresenceGoodbye(b.identity.addressCode)};
    Stranger stranger;
    ASSERT_TRUE(stranger.bound);
    QRandomGenerator random(9171);
    for (int sent = 0; sent < 10000; ++sent) {
        QByteArray datagram;
        if (sent % 2 == 0) {
            datagram.resize(random.bounded(0, 1100));
            for (char& byte : datagram)
                byte = char(random.bounded(256));
        } else {
            datagram = seeds[random.bounded(int(seeds.size()))];
            for (int changes = random.bounded(0, 3); changes > 0; --changes)
                datagram[random.bounded(int(datagram.size()))] = char(random.bounded(256));
        }
        stranger.Send(datagram);
        // Let the peer read as it goes, so that the system's buffer drops nothing.
        if (sent % 50 == 0)
            QCoreApplication::processEvents();
    }
    stranger.Send(AnnounceOf(kStranger));
    ASSERT_TRUE(WaitUntil([&] { return a.Lists(kStranger); }, 5000));

    EXPECT_EQ(a.added, QStringList{kStranger});
    EXPECT_TRUE(a.updated.isEmpty());
    EXPECT_TRUE(a.removed.isEmpty());
    QStringList expected = before;
    expected << kStranger;
    EXPECT_EQ(a.Listed(), expected);
    // One source, one more remembered answer: nothing grew with the flood.
    EXPECT_EQ(a.service->AnswerTableSize(), askersBefore + 1);
}

TEST(Presence, TheTablesStayBoundedWhateverTheNumberOfSources) {
    Copy a(kTrio[0]);
    ASSERT_TRUE(a.service->Start());
    // 520 copies on 127.0.1.x and 127.0.2.x announce themselves; 500 are listed.
    for (int n = 0; n < 520; ++n) {
        const QString address = QStringLiteral("127.0.%1.%2").arg(1 + n / 250).arg(1 + n % 250);
        Stranger copy(address);
        ASSERT_TRUE(copy.bound) << qPrintable(address);
        copy.Send(AnnounceOf(address));
        if (n % 50 == 0)
            QCoreApplication::processEvents();
    }
    ASSERT_TRUE(WaitUntil([&] { return a.added.size() == PresenceService::kMaxPeers; }, 5000));
    Settle(300);
    EXPECT_EQ(a.service->PeerCount(), PresenceService::kMaxPeers);
    EXPECT_EQ(a.added.size(), PresenceService::kMaxPeers);

    // 1,100 askers within the answer gap: at most 1,024 are remembered (and answered).
    for (int n = 0; n < 1100; ++n) {
        Stranger asker(QStringLiteral("127.1.%1.%2").arg(n / 250).arg(1 + n % 250));
        ASSERT_TRUE(asker.bound);
        asker.Send(BuildPresenceQuery());
        if (n % 50 == 0)
            QCoreApplication::processEvents();
    }
    Settle(300);
    EXPECT_LE(a.service->AnswerTableSize(), PresenceService::kMaxAnswerSources);
    EXPECT_GE(a.service->AnswerTableSize(), PresenceService::kMaxAnswerSources - 10);
}

TEST(Presence, ASpoofedQueryIsAnsweredOncePerFiveSeconds) {
    Copy a(kTrio[0]);
    ASSERT_TRUE(a.service->Start());
    Stranger stranger;
    ASSERT_TRUE(stranger.bound);
    QElapsedTimer clock;
    clock.start();
    QList<QByteArray> answers;
    // Forty queries over two seconds from one source.
    for (int sent = 0; sent < 40; ++sent) {
        stranger.Send(BuildPresenceQuery());
        answers += stranger.Collect(50);
    }
    answers += stranger.Collect(700);
    ASSERT_LT(clock.elapsed(), 4500);  // still inside the gap, so one answer is the bound
    ASSERT_EQ(answers.size(), 1);
    const std::optional<PresenceMessage> answer = ParsePresenceDatagram(answers.first());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->kind, PresenceKind::Announce);
    EXPECT_EQ(answer->addressCode, a.identity.addressCode);
    EXPECT_EQ(answer->nickName, a.identity.nickName);
    // Nor does anyone else get more than the one answer of the copy's start.
    EXPECT_TRUE(a.service->Peers().isEmpty());
}

TEST(Presence, AFloodOfDatagramsLeavesTheNextQueryAnsweredAndTimersRunning) {
    PresenceConfig prompt;
    prompt.answerDelayMaxMs = 100;
    Copy a(kTrio[0], prompt);
    ASSERT_TRUE(a.service->Start());
    // Floods of random datagrams as fast as a script sends them, each followed by a query
    // from an honest asker (a new one each time, as one is answered once per five seconds).
    for (int round = 0; round < 8; ++round) {
        Stranger asker(QStringLiteral("127.0.0.%1").arg(10 + round));
        ASSERT_TRUE(asker.bound);
        int ticks = 0;
        QTimer timer;
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start();
        {
            Flood flood(2000, unsigned(round));
            ASSERT_TRUE(WaitUntil([&] { return flood.Done(); }, 30000));
        }
        timer.stop();
        // The system drops what arrives while the copy's queue is full, so the asker asks
        // again every tenth of a second, as long as the second after the flood lasts.
        QList<QByteArray> answers;
        QElapsedTimer sinceFlood;
        sinceFlood.start();
        qint64 lastAsked = -1000;
        WaitUntil(
            [&] {
                if (sinceFlood.elapsed() - lastAsked >= 100) {
                    asker.Send(BuildPresenceQuery());
                    lastAsked = sinceFlood.elapsed();
                }
                while (asker.socket.hasPendingDatagrams())
                    answers << asker.socket.receiveDatagram().data();
                return !answers.isEmpty();
            },
            1000);
        ASSERT_EQ(answers.size(), 1) << "after flood " << round;
        // Timers kept their turn while the copy read the flood.
        EXPECT_GT(ticks, 0) << "during flood " << round;
    }
}
