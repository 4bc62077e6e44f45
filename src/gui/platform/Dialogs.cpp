#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "platform/DesktopPlatform.h"

namespace tvx {

namespace {

// "*.*" means every file to the user; on this platform names need not hold a dot.
QString QtFilter(const FileFilter& filter) {
    QString pattern = filter.pattern == QLatin1String("*.*") ? QStringLiteral("*") : filter.pattern;
    QString label = filter.description;
    int open = label.indexOf(QLatin1Char('('));
    if (open > 0)
        label = label.left(open).trimmed();
    return label + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

// The folder a dialog opens in: the one last used, else the home folder.
QString StartFolder(const QString& lastFolder) {
    return lastFolder.isEmpty() || !QFileInfo(lastFolder).isDir() ? QDir::homePath() : lastFolder;
}

// Remembers the chosen path's folder; the path is returned unchanged.
QString Remember(const QString& chosen, QString& lastFolder) {
    if (!chosen.isEmpty())
        lastFolder = QFileInfo(chosen).absolutePath();
    return chosen;
}

}  // namespace

QString QtDialogService::OpenFile(QWidget* owner, const QString& title, const FileFilter& filter,
                                  DialogOptions /*options*/) {
    // The dialog always requires an existing file; read-only boxes do not exist here.
    const QString chosen =
        QFileDialog::getOpenFileName(owner, title, StartFolder(m_openFolder), QtFilter(filter),
                                     nullptr, QFileDialog::DontUseNativeDialog);
    return QDir::toNativeSeparators(Remember(chosen, m_openFolder));
}

QStringList QtDialogService::OpenFiles(QWidget* owner, const QString& title,
                                       const FileFilter& filter, DialogOptions /*options*/) {
    QStringList chosen =
        QFileDialog::getOpenFileNames(owner, title, StartFolder(m_openFolder), QtFilter(filter),
                                      nullptr, QFileDialog::DontUseNativeDialog);
    if (!chosen.isEmpty())
        Remember(chosen.front(), m_openFolder);
    for (QString& path : chosen)
        path = QDir::toNativeSeparators(path);
    return chosen;
}

QString QtDialogService::SaveFile(QWidget* owner, const QString& title, const QString& proposedName,
                                  const FileFilter& filter, DialogOptions options) {
    QFileDialog::Options qtOptions = QFileDialog::DontUseNativeDialog;
    if (!options.testFlag(DialogOption::OverwritePrompt))
        qtOptions |= QFileDialog::DontConfirmOverwrite;
    const QString proposed = QDir(StartFolder(m_saveFolder)).filePath(proposedName);
    const QString chosen =
        QFileDialog::getSaveFileName(owner, title, proposed, QtFilter(filter), nullptr, qtOptions);
    return Remember(chosen, m_saveFolder);
}

QString QtDialogService::BrowseFolder(QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(
        owner, title, QString(), QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
}

bool QtDialogService::ChooseColor(QWidget* owner, quint32& colorBgr) {
    QColor initial(colorBgr & 0xFF, (colorBgr >> 8) & 0xFF, (colorBgr >> 16) & 0xFF);
    QColor chosen = QColorDialog::getColor(initial, owner);
    if (!chosen.isValid())
        return false;
    colorBgr =
        quint32(chosen.red()) | (quint32(chosen.green()) << 8) | (quint32(chosen.blue()) << 16);
    return true;
}

}  // namespace tvx
