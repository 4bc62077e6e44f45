#include "transfer/BatchReception.h"

#include <sys/statvfs.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <cstring>

#include "common/Paths.h"
#include "platform/FileSystem.h"
#include "transfer/FolderTree.h"
#include "transfer/ReceiveRules.h"

namespace tvx {

namespace {

constexpr qsizetype kKeptJournals = 100;

BatchStop Stop(BatchStopReason reason, qint64 index = -1) {
    BatchStop stop;
    stop.reason = reason;
    stop.index = index;
    return stop;
}

bool UnsafeComponent(const QString& component) {
    return component.isEmpty() || component == QLatin1String(".") ||
           component == QLatin1String("..") || component.contains(QLatin1Char('\\')) ||
           component.contains(QChar(0));
}

// What a path's first component is called here: the top name, or its target. An unchanged
// path stays shared with the list, which matters for a list of 100,000 entries.
QString Retopped(const QString& path, const QString& top, const QString& target) {
    return target == top ? path : target + path.mid(top.size());
}

}  // namespace

std::optional<BatchStop> BatchList::Add(QList<BatchEntry> entries) {
    if (m_entries.size() + entries.size() > m_header.entries) {
        return Stop(m_entries.size() + entries.size() > kMaxBatchEntries
                        ? BatchStopReason::TooMany
                        : BatchStopReason::BadList);
    }
    for (const BatchEntry& entry : entries)
        m_pathUnits += entry.path.size();
    if (m_pathUnits > kMaxBatchPathUnits)
        return Stop(BatchStopReason::BadList);
    m_entries.append(std::move(entries));
    return std::nullopt;
}

std::optional<BatchStop> BatchList::Finish() {
    if (m_entries.size() != m_header.entries)
        return Stop(BatchStopReason::BadList);
    // Each path as it will be written: bit 0 a folder, bit 1 listed itself (not only implied
    // by what lies below it).
    QHash<QString, quint8> seen;
    seen.reserve(m_entries.size());
    qint64 folders = 0;
    qint64 total = 0;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        BatchEntry& entry = m_entries[i];
        const QStringList components = entry.path.split(QLatin1Char('/'));
        if (components.size() > kMaxBatchDepth)
            return Stop(BatchStopReason::TooDeep, i);
        QString path;
        for (qsizetype k = 0; k < components.size(); ++k) {
            if (UnsafeComponent(components[k]))
                return Stop(BatchStopReason::BadName, i);
            const QString name = FitFileName(ReceivedFileName(components[k]), 255);
            path = k == 0 ? name : path + QLatin1Char('/') + name;
            const bool last = k + 1 == components.size();
            quint8& mark = seen[path];
            if (!last) {
                if (mark != 0 && !(mark & 1))
                    return Stop(BatchStopReason::Twice, i);  // a file where a folder must be
                mark |= 1;
                continue;
            }
            if ((mark & 2) || (mark != 0 && !entry.folder))
                return Stop(BatchStopReason::Twice, i);
            mark |= quint8(2 | (entry.folder ? 1 : 0));
        }
        if (components.size() == 1)
            m_topNames.append(path);
        entry.path = path;
        folders += entry.folder ? 1 : 0;
        total += entry.size;
    }
    // Every item lies under a top item the list names itself.
    for (const BatchEntry& entry : m_entries) {
        const QString top = entry.path.section(QLatin1Char('/'), 0, 0);
        if (!(seen.value(top) & 2))
            return Stop(BatchStopReason::BadList);
    }
    if (folders != m_header.folders || total != m_header.totalBytes)
        return Stop(BatchStopReason::BadList);
    return std::nullopt;
}

QString BatchList::Identity() const {
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (const BatchEntry& entry : m_entries) {
        const QString line = QStringLiteral("%1:%2:%3:%4\n")
                                 .arg(entry.folder ? 'D' : 'F')
                                 .arg(entry.size)
                                 .arg(entry.modified)
                                 .arg(entry.path);
        hash.addData(line.toUtf8());
    }
    return QString::fromLatin1(hash.result().toHex());
}

BatchPreparation PrepareBatch(BatchList& list, const QString& folder, bool replace,
                              const QString& journalFolder) {
    BatchPreparation result;
    auto job = std::make_shared<BatchJob>();
    job->folder = WithTrailingSlash(folder);
    FolderTree tree;
    if (!tree.Open(job->folder)) {
        result.stop = Stop(BatchStopReason::WriteFailed);
        result.error = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    const int root = tree.Folder(QString(), false);
    job->journalPath =
        WithTrailingSlash(journalFolder) + QStringLiteral("batch-") + list.Identity();

    // A journal for this very list in this very folder: the batch was cut here and continues.
    QHash<QString, QString> earlier;
    QFile journal(job->journalPath);
    if (journal.open(QIODevice::ReadOnly)) {
        const QStringList lines = QString::fromUtf8(journal.read(4 * 1024 * 1024))
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (!lines.isEmpty() && lines.front() == job->folder) {
            for (const QString& line : lines.mid(1)) {
                const QString top = line.section(QLatin1Char('\t'), 0, 0);
                const QString target = line.section(QLatin1Char('\t'), 1);
                if (list.topNames().contains(top) && !UnsafeComponent(target) &&
                    !target.contains(QLatin1Char('/')))
                    earlier.insert(top, target);
            }
        }
        journal.close();
    }
    const bool resumed = earlier.size() == list.topNames().size();

    // Where each top item goes.
    using Kind = FolderTree::EntryKind;
    const int limit = FileNameLimit(job->folder);
    QHash<QString, QString> targetOf;
    QHash<QString, bool> topIsFolder;
    for (const BatchEntry& entry : list.entries()) {
        if (!entry.path.contains(QLatin1Char('/')))
            topIsFolder.insert(entry.path, entry.folder);
    }
    for (const QString& top : list.topNames()) {
        QString target = top;
        if (resumed) {
            target = earlier.value(top);
        } else {
            const bool isFolder = topIsFolder.value(top);
            auto free = [&](const QString& name) {
                return FolderTree::Kind(root, FolderTree::Name(name)) == Kind::None &&
                       (isFolder ||
                        FolderTree::Kind(root, FolderTree::Name(name + QStringLiteral(".tvx"))) ==
                            Kind::None);
            };
            const Kind standing = FolderTree::Kind(root, FolderTree::Name(top));
            const bool merge = replace && standing == (isFolder ? Kind::Folder : Kind::File);
            if (!merge && !free(top)) {
                for (int n = 1; !free(target) || target.isEmpty(); ++n)
                    target = FitMarkedName(top, QStringLiteral("(%1)").arg(n), limit);
            }
        }
        targetOf.insert(top, target);
        job->targets.append(target);
    }

    // What comes, and from where.
    // The entries move into the job: a list of 100,000 is not held twice.
    job->entries = list.TakeEntries();
    job->start.reserve(job->entries.size());
    for (BatchEntry& entry : job->entries) {
        const QString top = entry.path.section(QLatin1Char('/'), 0, 0);
        entry.path = Retopped(entry.path, top, targetOf.value(top));
        qint64 start = entry.folder ? -1 : 0;
        if (!entry.folder && resumed) {
            const int slash = int(entry.path.lastIndexOf(QLatin1Char('/')));
            const int parent = tree.Folder(slash < 0 ? QString() : entry.path.left(slash), false);
            const QString name = entry.path.mid(slash + 1);
            qint64 size = -1;
            qint64 held = -1;
            if (parent >= 0 &&
                FolderTree::Kind(parent, FolderTree::Name(name), &size) == Kind::File &&
                size == entry.size) {
                start = -1;
                ++job->filesThere;
                job->bytesThere += size;
            } else if (parent >= 0 &&
                       FolderTree::Kind(parent, FolderTree::Name(name + QStringLiteral(".tvx")),
                                        &held) == Kind::File &&
                       held > 0 && held < entry.size) {
                start = held;
                job->bytesThere += held;
            }
        }
        if (start >= 0) {
            ++job->filesToCome;
            job->bytesToCome += entry.size - start;
        }
        job->start.append(start);
    }

    struct statvfs space;
    if (::fstatvfs(root, &space) == 0) {
        const qint64 available = qint64(space.f_bavail) * qint64(space.f_frsize);
        if (job->bytesToCome > available) {
            BatchStop stop = Stop(BatchStopReason::NoSpace);
            stop.needed = job->bytesToCome;
            stop.available = available;
            result.stop = stop;
            return result;
        }
    }

    // The plan: runs of entries of which nothing comes (with at least one file among them),
    // and the files that continue.
    for (qsizetype i = 0; i < job->entries.size(); ++i) {
        if (job->start[i] > 0) {
            job->plan.append({i, i, job->start[i]});
            continue;
        }
        if (job->start[i] == 0)
            continue;
        qsizetype last = i;
        bool file = false;
        while (last < job->entries.size() && job->start[last] < 0)
            file |= !job->entries[last++].folder;
        if (file)
            job->plan.append({i, last - 1, -1});
        i = last - 1;
    }

    // Journals of batches that were never finished are kept for a while, not for ever.
    QDir().mkpath(journalFolder);
    const QFileInfoList journals =
        QDir(journalFolder).entryInfoList({QStringLiteral("batch-*")}, QDir::Files, QDir::Time);
    for (qsizetype k = kKeptJournals; k < journals.size(); ++k)
        QFile::remove(journals[k].filePath());
    QSaveFile out(job->journalPath);
    if (out.open(QIODevice::WriteOnly)) {
        QString text = job->folder + QLatin1Char('\n');
        for (qsizetype t = 0; t < list.topNames().size(); ++t)
            text += list.topNames()[t] + QLatin1Char('\t') + job->targets[t] + QLatin1Char('\n');
        out.write(text.toUtf8());
        out.commit();
    }
    result.job = job;
    return result;
}

void FinishBatchJournal(const BatchJob& job) {
    QFile::remove(job.journalPath);
}

}  // namespace tvx
