#pragma once

#include <memory>

#include "platform/AutoStart.h"
#include "platform/Dialogs.h"
#include "platform/MessageBox.h"
#include "platform/Notifications.h"
#include "platform/Screen.h"
#include "platform/ServiceDiscovery.h"
#include "platform/SettingsStore.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "platform/TrayIcon.h"

namespace tvx {

// Every platform service the program uses. The desktop set is made by CreateDesktopPlatform()
// (gui), the command line's by CreateHeadlessPlatform() (cli); tests fill the members with
// scripted stand-ins.
struct Platform {
    std::unique_ptr<MessageBoxService> messageBox;
    std::unique_ptr<DialogService> dialogs;
    std::unique_ptr<ShellService> shell;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<AutoStartList> autoStart;
    std::unique_ptr<SystemInfo> system;
    std::unique_ptr<ScreenService> screen;
    std::unique_ptr<TrayIcon> tray;
    std::unique_ptr<NotificationService> notifications;
    // Null where there is none (the tests' platforms): presence runs on datagrams alone.
    std::unique_ptr<ServiceDiscovery> discovery;
};

}  // namespace tvx
