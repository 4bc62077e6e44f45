#include "platform/DBusNotifications.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QVariantMap>

#include "platform/DesktopEntry.h"

namespace tvx {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// True when a notification service runs on the bus or would be started for a call.
bool ServiceAvailable(const QDBusConnection& bus) {
    QDBusConnectionInterface* daemon = bus.interface();
    if (!daemon)
        return false;
    if (daemon->isServiceRegistered(kService).value())
        return true;
    return daemon->activatableServiceNames().value().contains(kService);
}

// The icon file under a share folder, as installed from data/icons and as the build copies it.
QString IconUnder(const QDir& prefix) {
    return QDir::cleanPath(prefix.filePath(QStringLiteral("share/icons/hicolor/128x128/apps/") +
                                           DesktopEntryIcon() + QStringLiteral(".png")));
}

}  // namespace

DBusNotificationService::DBusNotificationService(const QString& programPath) {
    const QString program =
        programPath.isEmpty() ? QCoreApplication::applicationFilePath() : programPath;
    const QDir folder = QFileInfo(program).absoluteDir();
    // Installed (PREFIX/bin/tolvex): the theme knows the icon by the desktop entry's name.
    // Run from the build folder: nothing does, so the file itself goes as the icon. The file
    // goes as the image too, for services that look names up in a few fixed folders only.
    const QString installed = IconUnder(QDir(folder.filePath(QStringLiteral(".."))));
    const QString buildTree = IconUnder(folder);
    m_appIcon = DesktopEntryIcon();
    if (QFileInfo(installed).isFile()) {
        m_imagePath = QUrl::fromLocalFile(installed).toString();
    } else if (QFileInfo(buildTree).isFile()) {
        m_imagePath = QUrl::fromLocalFile(buildTree).toString();
        m_appIcon = m_imagePath;
    }
}

bool DBusNotificationService::Notify(NotifyKind kind, const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !ServiceAvailable(bus))
        return false;
    if (!m_listening) {
        QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                          QStringLiteral("GetCapabilities"));
        QDBusReply<QStringList> capabilities = bus.call(ask, QDBus::Block, 1000);
        m_bodyMarkup =
            capabilities.isValid() && capabilities.value().contains(QStringLiteral("body-markup"));
        m_listening = bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"),
                                  this, SLOT(OnActionInvoked(uint, QString))) &&
                      bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"),
                                  this, SLOT(OnClosed(uint, uint)));
    }

    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), DesktopEntryId());
    if (!m_imagePath.isEmpty())
        hints.insert(QStringLiteral("image-path"), m_imagePath);
    hints.insert(QStringLiteral("category"),
                 kind == NotifyKind::AutoReceived || kind == NotifyKind::WebArrived
                     ? QStringLiteral("transfer.complete")
                 : kind == NotifyKind::CallerRejected ? QStringLiteral("network.error")
                                                      : QStringLiteral("transfer"));
    // A refused caller's notice only tells; there is nothing to open.
    const QStringList actions =
        kind == NotifyKind::CallerRejected
            ? QStringList()
            : QStringList{QStringLiteral("default"), QStringLiteral("打开")};
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << DesktopEntryName() << uint(0) << m_appIcon << summary
         << (m_bodyMarkup ? body.toHtmlEscaped() : body) << actions << hints << int(-1);
    // Asynchronous: the user-interface thread never waits for the desktop.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, kind](QDBusPendingCallWatcher* finished) {
                QDBusPendingReply<uint> reply = *finished;
                if (!reply.isError())
                    m_shown.insert(reply.value(), kind);
                finished->deleteLater();
            });
    return true;
}

void DBusNotificationService::Withdraw(NotifyKind kind) {
    for (auto shown = m_shown.begin(); shown != m_shown.end();) {
        if (shown.value() != kind) {
            ++shown;
            continue;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                           QStringLiteral("CloseNotification"));
        call << shown.key();
        QDBusConnection::sessionBus().send(call);
        shown = m_shown.erase(shown);
    }
}

void DBusNotificationService::OnActionInvoked(uint id, const QString& action) {
    auto found = m_shown.constFind(id);
    if (found == m_shown.constEnd() || action != QLatin1String("default"))
        return;
    emit Activated(found.value());
}

void DBusNotificationService::OnClosed(uint id, uint /*reason*/) {
    m_shown.remove(id);
}

}  // namespace tvx
