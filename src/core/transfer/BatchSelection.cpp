#include "transfer/BatchSelection.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <string>
#include <vector>

#include "common/Paths.h"

namespace tvx {

namespace {

// A name as the file system stores it that turns into text and back unchanged; others could
// not be opened again from their text.
bool RoundTrips(const QByteArray& bytes, const QString& name) {
    return QFile::encodeName(name) == bytes;
}

qint64 ModifiedSeconds(const struct stat& info) {
    return qMax<qint64>(0, qint64(info.st_mtim.tv_sec));
}

}  // namespace

BatchSelection BatchSelection::Scan(const QStringList& chosenPaths) {
    BatchSelection selection;
    for (QString path : chosenPaths) {
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        // A chosen item that is a link stands for what it points to, as a single chosen file
        // does; below a chosen folder no link is followed.
        const QFileInfo chosen(path);
        if (chosen.isSymLink() && !chosen.canonicalFilePath().isEmpty())
            path = chosen.canonicalFilePath();
        const QString name = FileNameOf(path);
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
            selection.Skip(path, SkippedPath::Why::Unreadable);
            continue;
        }
        if (selection.m_topNames.contains(name)) {
            selection.Skip(path, SkippedPath::Why::SameName);
            continue;
        }
        selection.m_bases.append(FolderOf(path));
        const qsizetype before = selection.m_entries.size();
        selection.Walk(path, name, int(selection.m_bases.size() - 1), 1);
        if (selection.m_entries.size() > before)
            selection.m_topNames.append(name);
    }
    return selection;
}

void BatchSelection::Walk(const QString& localPath, const QString& relativePath, int base,
                          int depth) {
    const QByteArray encoded = QFile::encodeName(localPath);
    struct stat info;
    if (::lstat(encoded.constData(), &info) != 0) {
        Skip(localPath, SkippedPath::Why::Unreadable);
        return;
    }
    if (S_ISLNK(info.st_mode)) {
        Skip(localPath, SkippedPath::Why::Link);
        return;
    }
    if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
        Skip(localPath, SkippedPath::Why::NotRegular);
        return;
    }
    if (depth > kMaxBatchDepth) {
        Skip(localPath, SkippedPath::Why::TooDeep);
        return;
    }
    if (m_entries.size() >= kMaxBatchEntries) {
        Skip(localPath, SkippedPath::Why::TooMany);
        return;
    }
    if (S_ISREG(info.st_mode)) {
        if (info.st_size > kMaxBatchFileLength) {
            Skip(localPath, SkippedPath::Why::TooLarge);
            return;
        }
        if (::access(encoded.constData(), R_OK) != 0) {
            Skip(localPath, SkippedPath::Why::Unreadable);
            return;
        }
        m_entries.append({false, qint64(info.st_size), ModifiedSeconds(info), relativePath});
        m_baseOf.append(base);
        ++m_files;
        m_totalBytes += info.st_size;
        return;
    }

    DIR* folder = ::opendir(encoded.constData());
    if (!folder) {
        Skip(localPath, SkippedPath::Why::Unreadable);
        return;
    }
    m_entries.append({true, 0, ModifiedSeconds(info), relativePath});
    m_baseOf.append(base);
    ++m_folders;
    std::vector<std::string> names;
    while (const dirent* item = ::readdir(folder)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(folder);
    std::sort(names.begin(), names.end());
    for (const std::string& bytes : names) {
        const QByteArray raw(bytes.data(), qsizetype(bytes.size()));
        const QString name = QFile::decodeName(raw);
        const QString childPath = localPath + QLatin1Char('/') + name;
        if (!RoundTrips(raw, name)) {
            Skip(childPath, SkippedPath::Why::Unreadable);
            continue;
        }
        Walk(childPath, relativePath + QLatin1Char('/') + name, base, depth + 1);
    }
}

QString BatchSelection::LocalPath(qsizetype index) const {
    return m_bases.value(m_baseOf.value(index)) + m_entries.value(index).path;
}

void BatchSelection::MarkUnreadable(qsizetype index) {
    Skip(LocalPath(index), SkippedPath::Why::Unreadable);
}

}  // namespace tvx
