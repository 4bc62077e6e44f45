#include "platform/Dialogs.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>

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

}  // namespace

QString QtDialogService::OpenFile(QWidget* owner, const QString& title, const FileFilter& filter,
                                  int /*flags*/) {
    // The dialog always requires an existing file; read-only boxes do not exist here.
    return QDir::toNativeSeparators(
        QFileDialog::getOpenFileName(owner, title, QString(), QtFilter(filter)));
}

QString QtDialogService::SaveFile(QWidget* owner, const QString& title, const QString& proposedName,
                                  const FileFilter& filter, int flags) {
    QFileDialog::Options options;
    if (!(flags & DialogOverwritePrompt))
        options |= QFileDialog::DontConfirmOverwrite;
    return QFileDialog::getSaveFileName(owner, title, proposedName, QtFilter(filter), nullptr,
                                        options);
}

QString QtDialogService::BrowseFolder(QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(owner, title);
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
