// tolvex peers: asks the copies on the network and lists those that answer.
#include <QEventLoop>
#include <QTimer>

#include "commands/Commands.h"
#include "commands/TerminalOutput.h"
#include "platform/Headless.h"
#include "presence/PresenceService.h"
#include "session/Session.h"

namespace tvx {

int RunPeersCommand(CommandContext& context, const CommandRequest& request) {
    Session& session = context.session;
    // A free port of its own, so that it runs beside a copy that holds the presence port on
    // the same address; the answers come back to that port. It never announces itself.
    PresenceConfig config;
    config.localAddress = session.localAddress;
    config.destinations = session.presenceDestinations;
    config.port = 0;
    config.peerPort = session.presencePort;
    const QString addressCode = session.localAddressCode;
    const QString nickName = session.personalInfo.nickName;
    PresenceService presence(config, [addressCode, nickName] {
        PresenceIdentity self;
        self.addressCode = addressCode;
        self.nickName = nickName;
        self.discoverable = false;
        return self;
    });
    // Copies found through the desktop's service discovery are listed too, except on a
    // loopback address, whose copies are on this machine only.
    if (!IsLoopbackAddress(session.localAddress))
        presence.UseServiceDiscovery(session.platform.discovery.get());
    if (!presence.Start()) {
        context.output.Message(QStringLiteral("错误:Tolvex无法初始化网络。"));
        return StatusNetwork;
    }

    QEventLoop loop;
    QTimer::singleShot(request.waitMs, &loop, [&] { loop.exit(StatusDone); });
    QObject::connect(&context.stop, &StopSignals::StopRequested, &loop,
                     [&] { loop.exit(StatusDone); });
    loop.exec();

    for (const PresencePeer& peer : presence.Peers()) {
        QString nickName = peer.nickName;
        for (QChar& ch : nickName) {
            if (ch == QLatin1Char('\t') || ch == QLatin1Char('\n') || ch == QLatin1Char('\r'))
                ch = QLatin1Char(' ');
        }
        context.output.Result(nickName + QLatin1Char('\t') + peer.addressCode + QLatin1Char('\t') +
                              peer.ipv4);
    }
    presence.Stop();
    return StatusDone;
}

}  // namespace tvx
