#include "platform/AutoStart.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include "platform/DesktopEntry.h"

namespace tvx {

namespace {

// Quotes a path for the Exec key of a desktop entry.
QString QuoteExec(const QString& command) {
    QString quoted = command;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    quoted.replace(QLatin1Char('`'), QStringLiteral("\\`"));
    quoted.replace(QLatin1Char('$'), QStringLiteral("\\$"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString UnquoteExec(const QString& value) {
    if (value.size() < 2 || !value.startsWith(QLatin1Char('"')) ||
        !value.endsWith(QLatin1Char('"')))
        return value;
    QString result;
    QString inner = value.mid(1, value.size() - 2);
    for (int i = 0; i < inner.size(); ++i) {
        if (inner[i] == QLatin1Char('\\') && i + 1 < inner.size())
            ++i;
        result += inner[i];
    }
    return result;
}

}  // namespace

XdgAutoStartList::XdgAutoStartList()
    : m_folder(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/autostart")) {}

QString XdgAutoStartList::EntryPath(const QString& name) const {
    return m_folder + QLatin1Char('/') + name + QStringLiteral(".desktop");
}

bool XdgAutoStartList::Write(const QString& name, const QString& command) {
    if (!QDir().mkpath(m_folder))
        return false;
    QSaveFile file(EntryPath(name));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Named and drawn as the installed entry, so the session's start-up list shows the same.
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=") + DesktopEntryName() +
                   QStringLiteral("\nComment=") + DesktopEntryComment() +
                   QStringLiteral("\nIcon=") + DesktopEntryIcon() + QStringLiteral("\nExec=") +
                   QuoteExec(command) + QStringLiteral("\nX-GNOME-Autostart-enabled=true\n");
    file.write(text.toUtf8());
    return file.commit();
}

bool XdgAutoStartList::Remove(const QString& name) {
    QFile file(EntryPath(name));
    return !file.exists() || file.remove();
}

QString XdgAutoStartList::Read(const QString& name) {
    QFile file(EntryPath(name));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("Exec="))
            return UnquoteExec(QString::fromUtf8(line.mid(5)).trimmed());
    }
    return QString();
}

}  // namespace tvx
