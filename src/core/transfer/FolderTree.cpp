#include "transfer/FolderTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QStringList>
#include <cerrno>

namespace tvx {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

FolderTree::~FolderTree() {
    CloseLast();
    if (m_root >= 0)
        ::close(m_root);
}

QByteArray FolderTree::Name(const QString& name) {
    return QFile::encodeName(name);
}

bool FolderTree::Open(const QString& root) {
    CloseLast();
    if (m_root >= 0)
        ::close(m_root);
    m_root = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_root >= 0;
}

void FolderTree::CloseLast() {
    if (m_last >= 0)
        ::close(m_last);
    m_last = -1;
    m_lastPath.clear();
}

int FolderTree::Folder(const QString& relative, bool create) {
    if (m_root < 0) {
        errno = EBADF;
        return -1;
    }
    if (relative.isEmpty())
        return m_root;
    if (m_last >= 0 && relative == m_lastPath)
        return m_last;
    CloseLast();
    int current = m_root;
    for (const QString& component : relative.split(QLatin1Char('/'))) {
        const QByteArray name = Name(component);
        int next = ::openat(current, name.constData(), kFolderFlags);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(current, name.constData(), 0777) != 0 && errno != EEXIST) {
                const int failure = errno;
                if (current != m_root)
                    ::close(current);
                errno = failure;
                return -1;
            }
            next = ::openat(current, name.constData(), kFolderFlags);
        }
        const int failure = errno;
        if (current != m_root)
            ::close(current);
        if (next < 0) {
            errno = failure;
            return -1;
        }
        current = next;
    }
    m_last = current;
    m_lastPath = relative;
    return m_last;
}

FolderTree::EntryKind FolderTree::Kind(int folder, const QByteArray& name, qint64* size) {
    struct stat info;
    if (::fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? EntryKind::None : EntryKind::Other;
    if (S_ISREG(info.st_mode)) {
        if (size)
            *size = info.st_size;
        return EntryKind::File;
    }
    return S_ISDIR(info.st_mode) ? EntryKind::Folder : EntryKind::Other;
}

}  // namespace tvx
