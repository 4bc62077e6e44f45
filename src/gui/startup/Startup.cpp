#include "startup/Startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "address/AddressCode.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/Windows.h"
#include "presence/PresenceService.h"
#include "session/Session.h"
#include "session/SessionLinkContext.h"
#include "startup/AddressChoiceDialog.h"
#include "startup/LocalAddress.h"

namespace tvx {

bool InstanceLock::Acquire(const QString& folder) {
    QDir().mkpath(folder);
    m_lock = std::make_unique<QLockFile>(folder + QStringLiteral("/Kestrane.lock"));
    // A lock left by a copy that died is taken over (QLockFile checks the process).
    if (m_lock->tryLock(0))
        return true;
    m_lock.reset();
    return false;
}

void InstanceLock::Release() {
    m_lock.reset();
}

QString ChooseAddressWithDialog(Session& session, const QStringList& addresses) {
    AddressChoiceDialog dialog(session.messageBox(), addresses);
    CenterForm(session.display, &dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.ChosenAddress() : QString();
}

namespace {

// Fills the usable address list from the platform's table; reports and fails when it cannot.
StartupOutcome FindLocalAddresses(Session& session) {
    QList<Ipv4Bytes> table;
    QString error;
    if (!session.system().AddressTable(table, error)) {
        ShowErrorWithDetail(session.messageBox(), nullptr,
                            QStringLiteral("Tolvex获得本地IP地址时发生错误"), error);
        return StartupOutcome::AddressError;
    }
    session.localAddressList = UsableAddresses(table);
    return StartupOutcome::Running;
}

}  // namespace

StartupOutcome RunStartup(Session& session, const StartupOptions& options, InstanceLock& lock,
                          const AddressChooser& chooser) {
    if (!lock.Acquire(session.store().Folder())) {
        ShowMessage(session.messageBox(), nullptr, QStringLiteral("Tolvex已经运行。"),
                    MessageKind::Warning, false);
        return StartupOutcome::AlreadyRunning;
    }

    // The screen is read first so that the address choice can be centred.
    ScreenMetrics metrics = CaptureScreenMetrics(*session.platform.screen);
    session.display.screen = metrics;

    if (!options.address.isEmpty()) {
        session.localAddressList = QStringList{options.address};
    } else {
        StartupOutcome found = FindLocalAddresses(session);
        if (found != StartupOutcome::Running)
            return found;
    }

    if (session.localAddressList.isEmpty()) {
        ShowMessage(session.messageBox(), nullptr,
                    QStringLiteral(
                        "因未能获得可用IP地址,Tolvex无法运行。\r\n\r\n-请检查当前网络状况是否正常"),
                    MessageKind::Error, false);
        return StartupOutcome::NoAddress;
    }
    if (session.localAddressList.size() == 1) {
        session.localAddress = session.localAddressList.first();
    } else {
        session.localAddress = chooser(session, session.localAddressList);
        if (session.localAddress.isEmpty())
            return StartupOutcome::UserExit;
    }

    session.localAddressCode = EncodeAddressCode(session.localAddress);
    session.presenceDestinations = PresenceDestinations(session.localAddress);
    session.presencePort = PresencePortSetting();

    session.display.twipsPerPixelX = TwipsPerPixel(metrics.logicalDpiX);
    session.display.twipsPerPixelY = TwipsPerPixel(metrics.logicalDpiY);

    session.personalInfo = LoadPersonalInfo(session.store(), session.system());

    // The data files live in the user's data folder unless another folder was given.
    QString folder = options.dataDir.isEmpty() ? session.system().DataFolder()
                                               : QFileInfo(options.dataDir).absoluteFilePath();
    QDir().mkpath(folder);
    session.appFolder = WithTrailingSlash(folder);
    session.executablePath = QCoreApplication::applicationFilePath();
    QString securityError;
    if (!LoadSecurity(session, &securityError))
        qWarning("tolvex: no key pair, connections stay unencrypted: %s", qPrintable(securityError));
    return StartupOutcome::Running;
}

}  // namespace tvx
