#pragma once

#include <QFlags>
#include <QString>
#include <QStringList>

class QWidget;

namespace tvx {

// One entry of a file dialog's filter list: what the user reads and the name pattern.
struct FileFilter {
    QString description;  // e.g. "所有文件 (*.*)"
    QString pattern;      // e.g. "*.*"
};

// What a file dialog asks of the user's choice.
enum class DialogOption {
    OverwritePrompt = 0x1,     // ask before an existing file is replaced
    FileMustExist = 0x2,       // only an existing file can be chosen
    PathMustExist = 0x4,       // only a name in an existing folder can be chosen
    HideReadOnly = 0x8,        // no "open read-only" box
    KeepCurrentFolder = 0x10,  // choosing leaves the program's current folder as it was
    ShareAware = 0x20,         // a file that another program holds open can be chosen
};
Q_DECLARE_FLAGS(DialogOptions, DialogOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(DialogOptions)

// File, folder and colour dialogs. Tests replace them with scripted answers.
class DialogService {
public:
    virtual ~DialogService() = default;
    // Full path of the chosen file, or empty when the user cancels.
    virtual QString OpenFile(QWidget* owner, const QString& title, const FileFilter& filter,
                             DialogOptions options) = 0;
    // Full paths of the chosen files (one or more), or none when the user cancels.
    virtual QStringList OpenFiles(QWidget* owner, const QString& title, const FileFilter& filter,
                                  DialogOptions options) = 0;
    virtual QString SaveFile(QWidget* owner, const QString& title, const QString& proposedName,
                             const FileFilter& filter, DialogOptions options) = 0;
    // The chosen folder, or empty when the user cancels.
    virtual QString BrowseFolder(QWidget* owner, const QString& title) = 0;
    // Colour as 0x00BBGGRR; false when the user cancels.
    virtual bool ChooseColor(QWidget* owner, quint32& colorBgr) = 0;
};

}  // namespace tvx
