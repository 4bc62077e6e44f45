#include "common/Paths.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace tvx {

bool FileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool FolderExists(const QString& path) {
    if (!path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1String("//")))
        return false;
    QFileInfo info(path);
    return info.exists() && info.isDir();
}

bool DeleteFileIfExists(const QString& path) {
    if (!FileExists(path))
        return true;
    return QFile::remove(path);
}

QString FileNameOf(const QString& path) {
    int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString FolderOf(const QString& path) {
    int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString BaseNameOf(const QString& path) {
    QString name = FileNameOf(path);
    int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

QString ExtensionOf(const QString& path) {
    QString name = FileNameOf(path);
    int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot <= 0 ? QString() : name.mid(dot);
}

QString FileTimeText(const QString& path) {
    QFileInfo info(path);
    if (!info.exists())
        return QString();
    return info.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString WithTrailingSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

}  // namespace tvx
