#pragma once

#include <QString>

#include "platform/Dialogs.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"

class QWidget;

namespace tvx {

struct Session;

// The help page shipped with the program: share/tolvex/help/index.html beside the installed
// program's bin folder, or, for a copy run from its build folder, under that folder. The
// installed place when neither exists (the caller then says the file is missing).
QString HelpPagePath(const Session& session);

// Opens a file with its associated program; false when none took it or the shell failed.
bool OpenWithShell(ShellService& shell, const QString& path);

// Opens a file, folder or page with its associated program; when none takes it, warns that
// there is no associated program. False then.
bool OpenOrWarn(ShellService& shell, MessageBoxService& box, QWidget* owner, const QString& path);

// Opens the file, telling the user when it is missing or has no associated program.
void OpenFileChecked(ShellService& shell, MessageBoxService& box, QWidget* owner,
                     const QString& path);

// Type name told by the file's name, or "未知类型".
QString GetFileTypeName(ShellService& shell, const QString& path);

// The file to send or to open: a full path, or empty when cancelled.
QString ChooseOpenFile(DialogService& dialogs, QWidget* owner);

// Where to save: anyType chooses every file, otherwise RTF files only.
QString ChooseSaveFile(DialogService& dialogs, QWidget* owner, const QString& proposedName,
                       bool anyType);

// Opens the help page (HelpPagePath), or tells the user it is missing. The tray menu's help
// entry and the about page's link both open it.
void OpenHelpPage(const Session& session, QWidget* owner);

extern const FileFilter kAllFilesFilter;
extern const FileFilter kRtfFilter;
constexpr DialogOptions kOpenFileOptions =
    DialogOption::HideReadOnly | DialogOption::KeepCurrentFolder | DialogOption::PathMustExist |
    DialogOption::FileMustExist | DialogOption::ShareAware;
constexpr DialogOptions kSaveFileOptions =
    DialogOption::OverwritePrompt | DialogOption::HideReadOnly | DialogOption::KeepCurrentFolder |
    DialogOption::PathMustExist;

}  // namespace tvx
