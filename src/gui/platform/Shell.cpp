#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "platform/DesktopPlatform.h"

namespace tvx {

namespace {

// Asks the desktop which program opens this type; true when it cannot tell.
bool HasAssociatedProgram(const QString& path) {
    QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return true;
    QString mime = QMimeDatabase().mimeTypeForFile(path).name();
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), mime});
    if (!query.waitForFinished(3000))
        return true;
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

}  // namespace

bool DesktopShellService::Open(const QString& path) {
    // A link such as "mailto:" goes to the program that handles its scheme.
    if (path.startsWith(QLatin1String("mailto:")) || path.startsWith(QLatin1String("http://")) ||
        path.startsWith(QLatin1String("https://"))) {
        return QDesktopServices::openUrl(QUrl(path));
    }
    return HasAssociatedProgram(path) && QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

namespace {

// The type that the name says (its extension, or a well-known whole name such as README);
// the file need not exist. An invalid type when the name says nothing.
QMimeType TypeOfName(const QString& path) {
    QMimeType mime = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    return mime.isDefault() ? QMimeType() : mime;
}

}  // namespace

QString DesktopShellService::TypeName(const QString& path) {
    // The comment follows the default locale, which the program sets to Chinese.
    QMimeType mime = TypeOfName(path);
    return mime.isValid() ? mime.comment() : QString();
}

QStringList DesktopShellService::IconNames(const QString& path) {
    QMimeType mime = TypeOfName(path);
    if (!mime.isValid())
        return {};
    return {mime.iconName(), mime.genericIconName()};
}

void DesktopShellService::SetClipboardText(const QString& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(text);
}

QString DesktopShellService::ClipboardText() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->text() : QString();
}

}  // namespace tvx
