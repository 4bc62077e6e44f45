// Chat benchmark: two peers in one process, the inviter on 127.0.0.2 and the responder on
// 127.0.0.3, talking through the real conversation objects on the fixed chat port.
//
//   1. Ping-pong: the inviter sends a text, the responder answers it at once, the next text
//      goes when the answer is in. Prints the round trip's median and 99th percentile.
//   2. One way: the inviter sends texts as fast as it can; the time runs until the last one is
//      in at the responder. Prints texts per second.
// Both check that every text arrived, in order, none lost and none merged with another.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "address/AddressCode.h"
#include "chat/ChatInviter.h"
#include "chat/ChatResponder.h"
#include "common/Messages.h"
#include "platform/Platform.h"
#include "session/Session.h"
#include "texts/ReceiveTexts.h"
#include "texts/SendTexts.h"

namespace tvx {
namespace {

const QString kInviterAddress = QStringLiteral("127.0.0.2");
const QString kResponderAddress = QStringLiteral("127.0.0.3");
const QString kStyle = QStringLiteral("FF8000101") + QStringLiteral("12");

// Nothing here should ask the user anything; if it does, say so and answer OK.
class PrintingMessageBox : public MessageBoxService {
public:
    MessageAnswer Show(QWidget*, const QString& text, const QString&, MessageStyle) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return MessageAnswer::Ok;
    }
};

// One running copy without a desktop: settings in a throw-away file, the machine's clock.
struct BenchPeer {
    BenchPeer(const QString& address, const QString& nickName) : session(MakePlatform()) {
        session.localAddress = address;
        session.localAddressCode = EncodeAddressCode(address);
        session.personalInfo.nickName = nickName;
    }
    Platform& MakePlatform() {
        platform.messageBox = std::make_unique<PrintingMessageBox>();
        platform.settings = std::make_unique<IniSettingsStore>(
            settingsFolder.filePath(QStringLiteral("Kestrane.ini")));
        platform.system = std::make_unique<HostSystemInfo>();
        return platform;
    }
    QTemporaryDir settingsFolder;  // a throw-away settings file: the user's own stay untouched
    Platform platform;
    Session session;
};

bool RunUntil(const std::function<bool()>& done, int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

double Percentile(std::vector<qint64> sorted, double fraction) {
    if (sorted.empty())
        return 0;
    std::sort(sorted.begin(), sorted.end());
    const size_t at = std::min(sorted.size() - 1, size_t(fraction * double(sorted.size())));
    return double(sorted[at]) / 1000.0;  // microseconds
}

QString Numbered(const QString& word, int k) {
    return kStyle + word + QString::number(k);
}

}  // namespace
}  // namespace tvx

int main(int argc, char** argv) {
    using namespace tvx;
    QCoreApplication app(argc, argv);
    int pings = 2000;
    int flood = 20000;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--pings") && i + 1 < args.size()) {
            pings = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--texts") && i + 1 < args.size()) {
            flood = args[++i].toInt();
        } else {
            std::fprintf(stderr, "usage: tolvex_chat_bench [--pings N] [--texts N]\n");
            return 2;
        }
    }

    BenchPeer inviting(kInviterAddress, QStringLiteral("甲"));
    BenchPeer answering(kResponderAddress, QStringLiteral("乙"));
    answering.platform.settings->Write(QStringLiteral("AutoChat"), QStringLiteral("1"));
    ChatInviter inviter(inviting.session);
    ChatResponder responder(answering.session);
    inviter.SetPauseMs(0);
    QObject::connect(&inviter, &ChatInviter::Failed, &inviter, [](const InviteFailure& failure) {
        std::fprintf(stderr, "inviter: %s\n", qPrintable(InviteFailureMessage(failure).text));
    });
    QObject::connect(&responder, &ChatResponder::ListenerFailed, &responder, [](SocketError error) {
        std::fprintf(stderr, "responder: %s\n", qPrintable(ListenerFailureMessage(error).text));
    });
    if (!responder.Load())
        return 1;

    ChatInviter::Request request;
    request.peerAddress = kResponderAddress;
    request.shownAddress = kResponderAddress;
    inviter.StartInvitation(request);
    if (!RunUntil([&] { return inviter.chatting() && responder.chatting(); }, 10000)) {
        std::fprintf(stderr, "chat_bench: the chat did not open\n");
        return 1;
    }

    // ---- Ping-pong ----
    std::vector<qint64> roundTrips;
    roundTrips.reserve(size_t(pings));
    QElapsedTimer clock;
    int sent = 0;
    int answered = 0;
    bool pingOrder = true;
    auto sendPing = [&] {
        clock.start();
        inviter.SendChatText(Numbered(QStringLiteral("ping "), sent));
        ++sent;
    };
    QObject::connect(
        &responder, &ChatResponder::TextReceived, &responder, [&](const QString& text) {
            if (answered < pings && sent <= pings)
                responder.SendChatText(text.left(11) + QStringLiteral("pong") + text.mid(11 + 4));
        });
    QObject::connect(&inviter, &ChatInviter::TextReceived, &inviter, [&](const QString& text) {
        roundTrips.push_back(clock.nsecsElapsed());
        if (text != Numbered(QStringLiteral("pong "), answered))
            pingOrder = false;
        ++answered;
        if (sent < pings)
            sendPing();
    });
    sendPing();
    const bool pingDone = RunUntil([&] { return answered >= pings; }, 120000);
    std::printf(
        "ping-pong: %d texts, round trip median %.0f us, 99th percentile %.0f us, "
        "max %.0f us; %s\n",
        answered, Percentile(roundTrips, 0.5), Percentile(roundTrips, 0.99),
        Percentile(roundTrips, 1.0),
        pingDone && pingOrder ? "all in order, none lost or merged" : "NOT ALL IN ORDER");
    std::fflush(stdout);

    // ---- One way, as fast as the sender goes ----
    QObject::disconnect(&responder, &ChatResponder::TextReceived, nullptr, nullptr);
    int received = 0;
    bool floodOrder = true;
    QObject::connect(&responder, &ChatResponder::TextReceived, &responder,
                     [&](const QString& text) {
                         if (text != Numbered(QStringLiteral("text "), received))
                             floodOrder = false;
                         ++received;
                     });
    QElapsedTimer floodClock;
    floodClock.start();
    for (int k = 0; k < flood; ++k)
        inviter.SendChatText(Numbered(QStringLiteral("text "), k));
    const qint64 queuedNs = floodClock.nsecsElapsed();
    const bool floodDone = RunUntil([&] { return received >= flood; }, 120000);
    const double seconds = double(floodClock.nsecsElapsed()) / 1e9;
    std::printf("one way: %d of %d texts in %.3f s (queued in %.3f s), %.0f texts/s; %s\n",
                received, flood, seconds, double(queuedNs) / 1e9, received / seconds,
                floodDone && floodOrder && received == flood ? "all in order, none lost or merged"
                                                             : "NOT ALL IN ORDER");

    inviter.Leave();
    RunUntil([&] { return !inviter.chatting(); }, 5000);
    responder.Shutdown();
    return pingDone && pingOrder && floodDone && floodOrder ? 0 : 1;
}
