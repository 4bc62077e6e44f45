#include "platform/DesktopPlatform.h"

#include "platform/AvahiDiscovery.h"
#include "platform/DBusNotifications.h"
#include "platform/Tray.h"

namespace tvx {

std::unique_ptr<Platform> CreateDesktopPlatform() {
    auto platform = std::make_unique<Platform>();
    platform->messageBox = std::make_unique<QtMessageBoxService>();
    platform->dialogs = std::make_unique<QtDialogService>();
    platform->shell = std::make_unique<DesktopShellService>();
    platform->settings = std::make_unique<IniSettingsStore>();
    platform->autoStart = std::make_unique<XdgAutoStartList>();
    platform->system = std::make_unique<HostSystemInfo>();
    platform->screen = std::make_unique<QtScreenService>();
    platform->tray = std::make_unique<DesktopTrayIcon>();
    platform->notifications = std::make_unique<DBusNotificationService>();
    platform->discovery = std::make_unique<AvahiServiceDiscovery>();
    return platform;
}

}  // namespace tvx
