#pragma once

#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>

#include "session/Session.h"
#include "startup/Options.h"

namespace tvx {

// Holds the per-user lock that keeps a second copy from starting.
class InstanceLock {
public:
    // False when another running copy already holds the lock in this folder.
    bool Acquire(const QString& folder);
    void Release();

private:
    std::unique_ptr<QLockFile> m_lock;
};

enum class StartupOutcome {
    Running,         // ready for the main window
    AlreadyRunning,  // another copy holds the lock
    NoAddress,       // no usable local address
    AddressError,    // the address table could not be read
    UserExit,        // the user left the address choice
};

// The address choice: given the usable addresses, the chosen one, or empty to exit.
using AddressChooser = std::function<QString(Session&, const QStringList&)>;
QString ChooseAddressWithDialog(Session& session, const QStringList& addresses);

// The start-up steps up to loading the main window: the single-copy test, the local address
// and its TVX address, the screen metrics and the personal-info card.
StartupOutcome RunStartup(Session& session, const StartupOptions& options, InstanceLock& lock,
                          const AddressChooser& chooser = ChooseAddressWithDialog);

}  // namespace tvx
