#pragma once

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringList>
#include <string>

namespace tvx::test {

// Everything under `root`, one sorted line per entry with its path relative to `root`: a
// folder as "path/", a file as "path size digest", anything else (a link, a pipe) as
// "path ?". Two trees are the same, names, bytes, empty folders and all, exactly when their
// listings are; as a string, a failed comparison shows the lines that differ.
inline std::string TreeListing(const QString& root) {
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = base.relativeFilePath(path);
        struct stat info;
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
            lines << relative + QStringLiteral(" <gone>");
        } else if (S_ISDIR(info.st_mode)) {
            lines << relative + QLatin1Char('/');
        } else if (S_ISREG(info.st_mode)) {
            QFile file(path);
            QCryptographicHash hash(QCryptographicHash::Sha1);
            const bool read = file.open(QIODevice::ReadOnly) && hash.addData(&file);
            lines << relative + QLatin1Char(' ') + QString::number(info.st_size) +
                         QLatin1Char(' ') +
                         (read ? QString::fromLatin1(hash.result().toHex()) : QStringLiteral("?"));
        } else {
            lines << relative + QStringLiteral(" ?");
        }
    }
    lines.sort();
    return lines.join(QLatin1Char('\n')).toStdString();
}

}  // namespace tvx::test
