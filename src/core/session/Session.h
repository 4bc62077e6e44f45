#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "common/Display.h"
#include "platform/Platform.h"
#include "protocol/PresenceMessages.h"
#include "protocol/WrongCodeLimit.h"
#include "records/PersonalInfo.h"
#include "records/Settings.h"
#include "security/KnownPeers.h"
#include "security/TlsIdentity.h"
#include "session/Activity.h"
#include "session/SessionLinkContext.h"

namespace tvx {

class PresenceService;

// The values one running copy shares between its windows. Two sessions in one process are
// two independent peers, which is how the tests run a sender and a receiver side by side.
struct Session {
    explicit Session(Platform& services) : platform(services) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    MessageBoxService& messageBox() const { return *platform.messageBox; }
    DialogService& dialogs() const { return *platform.dialogs; }
    ShellService& shell() const { return *platform.shell; }
    SettingsStore& store() const { return *platform.settings; }
    AutoStartList& autoStart() const { return *platform.autoStart; }
    SystemInfo& system() const { return *platform.system; }
    TrayIcon& tray() const { return *platform.tray; }
    NotificationService& notifications() const { return *platform.notifications; }

    Platform& platform;

    QString appFolder;       // data files live here; always ends in "/"
    QString executablePath;  // what the start-up list runs
    DisplayMetrics display;

    QStringList localAddressList;  // usable local addresses, in the address table's order
    QString localAddress;
    QString localAddressCode;
    // Where presence announcements and queries go: the one place that decides it. Start-up
    // fills it from the local address; tests set loopback addresses.
    QStringList presenceDestinations;
    // The presence port the copies of this run listen on; tests give theirs a port of its own.
    quint16 presencePort = kPresencePort;
    // The copies found on the network, for the windows that list them; owned by the main
    // window from its load step on, null before and after.
    PresenceService* presence = nullptr;

    PersonalInfo personalInfo;
    SettingsRecord settings;

    // Blocked peers as the user typed them (dotted or TVX), in list order. Entries are
    // resolved at each check, so a TVX entry keeps blocking the address it stands for.
    QStringList blockList;

    // Wrong verification codes per caller address, for the file and chat answerers alike.
    WrongCodeLimit wrongCodes;

    // This copy's key and certificate (null: the plain wire only) and the peers met encrypted.
    // Start-up loads both from the data folder (LoadSecurity).
    std::unique_ptr<TlsIdentity> identity;
    KnownPeers knownPeers;
    // What the user agreed to ahead on the command line: a known peer's new certificate, a
    // known peer's plain wire.
    bool acceptChangedIdentity = false;
    bool allowPlainFromPinned = false;

    // What the links read of this copy: address, card, stored codes, block list.
    SessionLinkContext linkContext{*this};

    // What is going on now and what waits for the user.
    Activity activity;

    int autoReceivedCount = 0;  // files received automatically since the tip was last closed
};

}  // namespace tvx
