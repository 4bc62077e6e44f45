#pragma once

#include <QString>

namespace tvx {

// The per-user store of named text values, scoped to the program and its one section.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored text, or an empty text when the key is missing.
    virtual QString Read(const QString& key) = 0;
    // False when the store could not keep the value.
    virtual bool Write(const QString& key, const QString& value) = 0;
    // The folder that holds this user's store; the single-instance lock lives there too.
    virtual QString Folder() const = 0;
};

// INI file under the user's configuration folder: Kestrane/Kestrane.ini, group "Settings".
class IniSettingsStore : public SettingsStore {
public:
    IniSettingsStore();
    explicit IniSettingsStore(const QString& iniPath);
    QString Read(const QString& key) override;
    bool Write(const QString& key, const QString& value) override;
    QString Folder() const override;
    QString FilePath() const { return m_path; }

private:
    QString m_path;
};

}  // namespace tvx
