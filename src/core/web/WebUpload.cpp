#include "web/WebUpload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QJsonObject>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>

#include "common/Paths.h"
#include "platform/FileSystem.h"
#include "transfer/ReceiveRules.h"

namespace tvx {

QByteArray RandomHex(int bytes) {
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(raw.data()),
                                         reinterpret_cast<quint32*>(raw.data() + bytes));
    return raw.toHex();
}

namespace {

// rename() that never replaces: EEXIST when something stands at `to`.
bool RenameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: check, then rename (a race here only loses a name).
    struct stat info {};
    if (::lstat(to.constData(), &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

}  // namespace

bool WebUpload::PartBegins(const MultipartReader::Part& part) {
    if (!part.isFile)
        return true;
    name = ReceivedFileName(SafeOfferName(part.fileName));
    if (name.isEmpty())
        name = QStringLiteral("file");
    written = 0;
    // A fresh name of our own, made with the usual permissions (mkstemp would make it 0600).
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_tempPath = QFile::encodeName(WithTrailingSlash(m_folder) + QLatin1String(kWebTempPrefix) +
                                       QString::fromLatin1(RandomHex(6)));
        m_fd = ::open(m_tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    errorNumber = errno;
    return false;
}

bool WebUpload::PartData(const char* data, std::size_t size) {
    if (m_fd < 0)
        return true;  // a form field: dropped
    while (size > 0) {
        const ssize_t done = ::write(m_fd, data, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            errorNumber = done < 0 ? errno : ENOSPC;
            return false;
        }
        data += done;
        size -= std::size_t(done);
        written += done;
    }
    return true;
}

bool WebUpload::PartEnds() {
    if (m_fd < 0)
        return true;
    const int closed = ::close(m_fd);
    m_fd = -1;
    if (closed != 0) {
        errorNumber = errno;
        ::unlink(m_tempPath.constData());
        return false;
    }
    const QString folder = WithTrailingSlash(m_folder);
    QString target = folder + FitFileName(name, FileNameLimit(m_folder));
    bool renamed = false;
    if (m_replace) {
        renamed = ::rename(m_tempPath.constData(), QFile::encodeName(target).constData()) == 0;
    } else {
        // Another upload or a receiver may take the same name meanwhile: try the next number.
        for (int attempt = 0; attempt < 100 && !renamed; ++attempt) {
            target = NumberedTargetPath(target);
            renamed = RenameNoReplace(m_tempPath, QFile::encodeName(target));
            if (!renamed && errno != EEXIST)
                break;
        }
    }
    if (!renamed) {
        errorNumber = errno;
        ::unlink(m_tempPath.constData());
        return false;
    }
    const QString savedName = FileNameOf(target);
    saved.append(QJsonObject{{QStringLiteral("name"), savedName},
                             {QStringLiteral("size"), double(written)}});
    WebEvent event;
    event.kind = WebEvent::Kind::Arrived;
    event.name = savedName;
    event.path = target;
    event.size = written;
    event.address = m_address;
    m_report(event);
    name.clear();
    return true;
}

bool WebUpload::Abort() {
    if (m_fd < 0)
        return false;
    ::close(m_fd);
    m_fd = -1;
    ::unlink(m_tempPath.constData());
    return true;
}

}  // namespace tvx
