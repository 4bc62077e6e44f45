#include "platform/SettingsStore.h"

#include <QFileInfo>
#include <QSettings>

namespace tvx {

namespace {

const char kOrganisation[] = "Kestrane";
const char kApplication[] = "Kestrane";
const char kGroup[] = "Settings";

QString DefaultIniPath() {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QLatin1String(kOrganisation),
                       QLatin1String(kApplication));
    return settings.fileName();
}

}  // namespace

IniSettingsStore::IniSettingsStore() : m_path(DefaultIniPath()) {}

IniSettingsStore::IniSettingsStore(const QString& iniPath) : m_path(iniPath) {}

QString IniSettingsStore::Read(const QString& key) {
    QSettings settings(m_path, QSettings::IniFormat);
    settings.beginGroup(QLatin1String(kGroup));
    return settings.value(key).toString();
}

bool IniSettingsStore::Write(const QString& key, const QString& value) {
    QSettings settings(m_path, QSettings::IniFormat);
    settings.beginGroup(QLatin1String(kGroup));
    settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString IniSettingsStore::Folder() const {
    return QFileInfo(m_path).absolutePath();
}

}  // namespace tvx
