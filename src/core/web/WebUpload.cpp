#include "web/WebUpload.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

bool WebUpload::PartBegins(const MultipartReader::Part& part) {
    if (!part.isFile)
        return true;
    name = ReceivedFileName(SafeOfferName(part.fileName));
    if (name.isEmpty())
        name = QStringLiteral("file");
    written = 0;
    // A fresh name of our own (NewOnly), written straight through (Unbuffered).
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_file.setFileName(WithTrailingSlash(m_folder) + QLatin1String(kWebTempPrefix) +
                           QString::fromLatin1(RandomHex(6)));
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return true;
        if (!m_file.exists())
            break;
    }
    error = m_file.errorString();
    return false;
}

bool WebUpload::PartData(const char* data, std::size_t size) {
    if (!m_file.isOpen())
        return true;  // a form field: dropped
    if (m_file.write(data, qint64(size)) != qint64(size)) {
        error = m_file.errorString();
        return false;
    }
    written += qint64(size);
    return true;
}

bool WebUpload::PartEnds() {
    if (!m_file.isOpen())
        return true;
    m_file.close();
    if (m_file.error() != QFileDevice::NoError) {
        error = m_file.errorString();
        m_file.remove();
        return false;
    }
    QString target = WithTrailingSlash(m_folder) + FitFileName(name, FileNameLimit(m_folder));
    bool renamed = false;
    QString reason;
    if (m_replace) {
        // One rename replaces the existing file, which stays whole until the new one is.
        renamed = std::rename(QFile::encodeName(m_file.fileName()).constData(),
                              QFile::encodeName(target).constData()) == 0;
        if (!renamed)
            reason = QString::fromLocal8Bit(std::strerror(errno));
    } else {
        // QFile never renames onto an existing name: when another upload or a receiver took
        // this one meanwhile, the next number is tried.
        for (int attempt = 0; attempt < 100 && !renamed; ++attempt) {
            target = NumberedTargetPath(target);
            renamed = m_file.rename(target);
            if (!renamed && !QFileInfo::exists(target))
                break;
        }
        reason = m_file.errorString();
    }
    if (!renamed) {
        error = reason;
        m_file.remove();
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
    if (!m_file.isOpen())
        return false;
    m_file.close();
    m_file.remove();
    return true;
}

}  // namespace tvx
