#pragma once

#include <QString>

namespace tvx {

// The desktop's list of programs started at log-in, one named entry per program.
// Each entry holds the text of the command that starts it.
class AutoStartList {
public:
    virtual ~AutoStartList() = default;
    virtual bool Write(const QString& name, const QString& command) = 0;
    virtual bool Remove(const QString& name) = 0;
    // The command of the entry, or an empty text when it is missing or unreadable.
    virtual QString Read(const QString& name) = 0;
};

// XDG autostart: one NAME.desktop file per entry in the given folder
// (by default $XDG_CONFIG_HOME/autostart).
class XdgAutoStartList : public AutoStartList {
public:
    XdgAutoStartList();
    explicit XdgAutoStartList(const QString& folder) : m_folder(folder) {}
    bool Write(const QString& name, const QString& command) override;
    bool Remove(const QString& name) override;
    QString Read(const QString& name) override;
    QString Folder() const { return m_folder; }

private:
    QString EntryPath(const QString& name) const;
    QString m_folder;
};

}  // namespace tvx
