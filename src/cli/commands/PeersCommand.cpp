// tolvex peers: asks the copies on the network and lists those that answer.
#include <QEventLoop>
#include <QTimer>

#include "commands/Commands.h"
#include "commands/JsonOutput.h"
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
        context.json.Emit(QStringLiteral("end"),
                          QJsonObject{{QStringLiteral("outcome"), QStringLiteral("network-error")},
                                      {QStringLiteral("status"), StatusNetwork}});
        return StatusNetwork;
    }

    QEventLoop loop;
    QTimer::singleShot(request.waitMs, &loop, [&] { loop.exit(StatusDone); });
    QObject::connect(&context.stop, &StopSignals::StopRequested, &loop,
                     [&] { loop.exit(StatusDone); });
    loop.exec();

    const JsonEvents& json = context.json;
    const QList<PresencePeer> peers = presence.Peers();
    for (const PresencePeer& peer : peers) {
        if (json.on()) {
            json.Emit(
                QStringLiteral("peer"),
                QJsonObject{{QStringLiteral("address"), peer.ipv4},
                            {QStringLiteral("tvx"), peer.addressCode},
                            {QStringLiteral("nick"), peer.nickName},
                            {QStringLiteral("ports"),
                             QJsonObject{{QStringLiteral("fileControl"), peer.ports.fileControl},
                                         {QStringLiteral("fileData"), peer.ports.fileData},
                                         {QStringLiteral("chat"), peer.ports.chat}}}});
            continue;
        }
        QString nickName = peer.nickName;
        for (QChar& ch : nickName) {
            if (ch == QLatin1Char('\t') || ch == QLatin1Char('\n') || ch == QLatin1Char('\r'))
                ch = QLatin1Char(' ');
        }
        context.output.Result(nickName + QLatin1Char('\t') + peer.addressCode + QLatin1Char('\t') +
                              peer.ipv4);
    }
    presence.Stop();
    json.Emit(QStringLiteral("end"),
              QJsonObject{{QStringLiteral("outcome"), QStringLiteral("done")},
                          {QStringLiteral("status"), StatusDone},
                          {QStringLiteral("count"), peers.size()}});
    return StatusDone;
}

}  // namespace tvx
