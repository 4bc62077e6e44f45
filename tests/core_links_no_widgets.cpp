// Builds against the core library alone, with neither Qt Widgets nor Qt Gui on its link line:
// any widget or GUI symbol that the engines, the links or the records reach for fails the
// link. At run time the engines come up under a plain core application and the conversation
// objects' links are where they should be before anything connects.

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

#include "chat/ChatInviter.h"
#include "chat/ChatResponder.h"
#include "platform/Platform.h"
#include "presence/PresenceService.h"
#include "session/Session.h"
#include "transfer/FileReceiveEngine.h"
#include "transfer/FileSendEngine.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    tvx::Platform platform;
    platform.settings =
        std::make_unique<tvx::IniSettingsStore>(folder.filePath(QStringLiteral("Tolvex.ini")));
    platform.system = std::make_unique<tvx::HostSystemInfo>();
    tvx::Session session(platform);
    session.localAddress = QStringLiteral("127.0.0.1");
    session.appFolder = folder.path() + QLatin1Char('/');

    tvx::FileSendEngine sender(session);
    tvx::FileReceiveEngine receiver(session);
    tvx::ChatInviter inviter(session);
    tvx::ChatResponder responder(session);
    tvx::PresenceService presence(tvx::PresenceConfig{}, [] { return tvx::PresenceIdentity{}; });

    const bool idle = sender.phase() == tvx::FileSendEngine::Phase::Idle &&
                      sender.link().state() == tvx::PeerLink::State::Idle &&
                      inviter.link().state() == tvx::PeerLink::State::Idle &&
                      responder.link().state() == tvx::PeerLink::State::Idle &&
                      receiver.ControlLink().state() == tvx::PeerLink::State::Idle &&
                      !session.activity.sendWindowSending() && !session.activity.waiting();
    if (!idle) {
        std::fprintf(stderr, "core_links_no_widgets: an engine did not start idle\n");
        return 1;
    }
    return 0;
}
