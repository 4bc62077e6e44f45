#include "common/ShellRoutines.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "common/Messages.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "session/Session.h"

namespace tvx {

const FileFilter kAllFilesFilter{QStringLiteral("所有文件 (*.*)"), QStringLiteral("*.*")};
const FileFilter kRtfFilter{QStringLiteral("RTF 格式 (*.rtf)"), QStringLiteral("*.rtf")};

QString HelpPagePath(const Session& session) {
    const QString program = session.executablePath.isEmpty()
                                ? QCoreApplication::applicationFilePath()
                                : session.executablePath;
    const QDir folder = QFileInfo(program).absoluteDir();
    const QString page = QStringLiteral("share/tolvex/help/index.html");
    const QString installed = QDir::cleanPath(folder.filePath(QStringLiteral("../") + page));
    const QString buildTree = QDir::cleanPath(folder.filePath(page));
    if (!FileExists(installed) && FileExists(buildTree))
        return buildTree;
    return installed;
}

bool OpenWithShell(ShellService& shell, const QString& path) {
    try {
        return shell.Open(path);
    } catch (...) {
        return false;
    }
}

bool OpenOrWarn(ShellService& shell, MessageBoxService& box, QWidget* owner, const QString& path) {
    if (OpenWithShell(shell, path))
        return true;
    ShowMessage(box, owner, QStringLiteral("无法打开文件:没有与该文件关联的程序。"),
                MessageKind::Warning, false);
    return false;
}

void OpenFileChecked(ShellService& shell, MessageBoxService& box, QWidget* owner,
                     const QString& path) {
    if (!FileExists(path)) {
        ShowMessage(box, owner, QStringLiteral("打开文件失败:文件不存在。"), MessageKind::Error,
                    false);
        return;
    }
    OpenOrWarn(shell, box, owner, path);
}

void OpenHelpPage(const Session& session, QWidget* owner) {
    const QString help = HelpPagePath(session);
    if (FileExists(help))
        OpenOrWarn(session.shell(), session.messageBox(), owner, help);
    else
        ShowMessage(session.messageBox(), owner, QStringLiteral("帮助文件不存在。"),
                    MessageKind::Warning, false);
}

QString GetFileTypeName(ShellService& shell, const QString& path) {
    QString name = CutAtNul(shell.TypeName(path)).left(80);
    return name.isEmpty() ? QStringLiteral("未知类型") : name;
}

QString ChooseOpenFile(DialogService& dialogs, QWidget* owner) {
    return CutAtNul(
        dialogs.OpenFile(owner, QStringLiteral("选择文件"), kAllFilesFilter, kOpenFileOptions));
}

QString ChooseSaveFile(DialogService& dialogs, QWidget* owner, const QString& proposedName,
                       bool anyType) {
    return CutAtNul(dialogs.SaveFile(owner, QStringLiteral("保存"), proposedName,
                                     anyType ? kAllFilesFilter : kRtfFilter, kSaveFileOptions));
}

}  // namespace tvx
