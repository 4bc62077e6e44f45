#pragma once

#include <QString>

class QWidget;

namespace tvx {

// One entry of a file dialog's filter list: what the user reads and the name pattern.
struct FileFilter {
    QString description;  // e.g. "所有文件 (*.*)"
    QString pattern;      // e.g. "*.*"
};

// Flags of the file dialogs, as the callers pass them.
enum FileDialogFlag {
    DialogReadOnly = 0x1,
    DialogOverwritePrompt = 0x2,
    DialogHideReadOnly = 0x4,
    DialogNoChangeDir = 0x8,
    DialogPathMustExist = 0x800,
    DialogFileMustExist = 0x1000,
    DialogShareAware = 0x4000,
};

// File, folder and colour dialogs. Tests replace them with scripted answers.
class DialogService {
public:
    virtual ~DialogService() = default;
    // Full path of the chosen file, or empty when the user cancels.
    virtual QString OpenFile(QWidget* owner, const QString& title, const FileFilter& filter,
                             int flags) = 0;
    virtual QString SaveFile(QWidget* owner, const QString& title, const QString& proposedName,
                             const FileFilter& filter, int flags) = 0;
    // The chosen folder, or empty when the user cancels.
    virtual QString BrowseFolder(QWidget* owner, const QString& title) = 0;
    // Colour as 0x00BBGGRR; false when the user cancels.
    virtual bool ChooseColor(QWidget* owner, quint32& colorBgr) = 0;
};

// Qt's own dialogs (not the desktop's), so that they speak the program's language. Each file
// dialog opens in the folder last used with it in this run, the home folder at first.
class QtDialogService : public DialogService {
public:
    QString OpenFile(QWidget* owner, const QString& title, const FileFilter& filter,
                     int flags) override;
    QString SaveFile(QWidget* owner, const QString& title, const QString& proposedName,
                     const FileFilter& filter, int flags) override;
    QString BrowseFolder(QWidget* owner, const QString& title) override;
    bool ChooseColor(QWidget* owner, quint32& colorBgr) override;

private:
    QString m_openFolder;
    QString m_saveFolder;
};

}  // namespace tvx
