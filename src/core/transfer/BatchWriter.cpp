#include "transfer/BatchWriter.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

#include "protocol/PeerMessages.h"

namespace tvx {

namespace {

constexpr qint64 kReadBytes = 2 * 1024 * 1024;
constexpr qint64 kWriteSlice = 512 * 1024;
constexpr qint64 kNoticeMs = 20;

}  // namespace

BatchWriter::BatchWriter(std::shared_ptr<const BatchJob> job, DescriptorLease lease,
                         QByteArray taken, int key, std::function<void()> notify)
    : m_job(std::move(job)),
      m_lease(std::move(lease)),
      m_descriptor(m_lease.descriptor()),
      m_key(key),
      m_buffer(size_t(kReadBytes)),
      m_worker(std::move(notify)) {
    m_worker.Start([this, taken = std::move(taken)] { Run(taken); });
}

BatchWriter::~BatchWriter() {
    m_worker.Stop();
    CloseFile();
}

template <typename Change>
void BatchWriter::Update(Change change, bool tell) {
    m_worker.Update(
        [&](Report& r) {
            r.received = m_received;
            r.filesDone = m_filesDone;
            r.current = m_open >= 0 ? m_open : m_expected >= 0 ? m_expected : m_last;
            change(r);
        },
        tell);
}

void BatchWriter::Run(const QByteArray& taken) {
    if (!m_tree.Open(m_job->folder)) {
        Fail(-1, errno);
        return;
    }
    if (!MakeFolders())
        return;
    m_expected = NextToCome(-1);
    if (m_expected < 0) {
        Update([](Report& r) { r.finished = true; });
        return;
    }
    Update([](Report&) {});
    if (!taken.isEmpty()) {
        QByteArray copy = taken;
        if (!Take(copy.data(), copy.size()))
            return;
    }
    while (!m_worker.stopping()) {
        const ssize_t n = m_lease.Receive(m_buffer.data(), m_buffer.size());
        if (n > 0) {
            if (!Take(m_buffer.data(), n))
                return;
            continue;
        }
        if (n == 0) {
            CloseFile();
            Update([](Report& r) { r.closed = true; });
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            const int failure = errno;
            CloseFile();
            Update([failure](Report& r) { r.readError = failure; });
            return;
        }
        m_worker.WaitReady(m_descriptor, POLLIN, 100);
    }
}

// Every folder of the batch, empty ones too, before the first file.
bool BatchWriter::MakeFolders() {
    for (qsizetype i = 0; i < m_job->entries.size(); ++i) {
        const BatchEntry& entry = m_job->entries[i];
        if (entry.folder && m_tree.Folder(entry.path, true) < 0)
            return Fail(i, errno);
    }
    return true;
}

qint64 BatchWriter::NextToCome(qint64 after) const {
    for (qint64 i = after + 1; i < m_job->start.size(); ++i) {
        if (m_job->start[i] >= 0)
            return i;
    }
    return -1;
}

bool BatchWriter::Take(char* bytes, qint64 count) {
    while (count > 0) {
        if (m_payloadLeft > 0) {
            const qint64 part = qMin(count, m_payloadLeft);
            if (!WritePayload(bytes, part))
                return false;
            m_payloadLeft -= part;
            bytes += part;
            count -= part;
            continue;
        }
        const int part = int(qMin<qint64>(count, kRecordHeaderBytes - m_headerFilled));
        memcpy(m_header + m_headerFilled, bytes, size_t(part));
        m_headerFilled += part;
        bytes += part;
        count -= part;
        if (m_headerFilled < kRecordHeaderBytes)
            break;
        m_headerFilled = 0;
        const std::optional<RecordHeader> header = ReadRecordHeader(m_header);
        if (!header || !OnHeader(*header))
            return false;
        if (m_expected < 0 && m_open < 0) {
            Update([](Report& r) { r.finished = true; });
            return false;
        }
    }
    const qint64 now = SteadyMs();
    if (now - m_lastNotice >= kNoticeMs) {
        m_lastNotice = now;
        Update([](Report&) {});
    }
    return true;
}

bool BatchWriter::OnHeader(const RecordHeader& header) {
    const qint64 index = qint64(header.index);
    if (index != m_open && (m_open >= 0 || index != m_expected))
        return Broken();
    switch (header.type) {
        case RecordType::Data: {
            if (m_open < 0 && !OpenFile(index))
                return false;
            if (qint64(header.length) > m_job->entries[index].size - m_written)
                return Broken();
            m_payloadLeft = header.length;
            return true;
        }
        case RecordType::End:
            if (m_open < 0 && !OpenFile(index))
                return false;
            if (m_written != m_job->entries[index].size)
                return Broken();
            if (!FinishFile())
                return false;
            m_expected = NextToCome(index);
            return true;
        case RecordType::Skip: {
            DropFile();
            m_worker.Update([index](Report& r) { r.skipped.append(index); }, false);
            m_expected = NextToCome(index);
            return true;
        }
    }
    return Broken();
}

bool BatchWriter::OpenFile(qint64 index) {
    const BatchEntry& entry = m_job->entries[index];
    const qsizetype slash = entry.path.lastIndexOf(QLatin1Char('/'));
    m_folder = m_tree.Folder(slash < 0 ? QString() : entry.path.left(slash), true);
    if (m_folder < 0)
        return Fail(index, errno);
    m_name = FolderTree::Name(entry.path.mid(slash + 1));
    const QByteArray temp = m_name + QByteArrayLiteral(".tvx");
    const qint64 start = m_job->start[index];
    m_file =
        ::openat(m_folder, temp.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (m_file < 0)
        return Fail(index, errno);
    // Cut only what is there beyond the start: a file truncated to nothing makes some file
    // systems (ext4) write it out at its close, which stalls a stream of files.
    struct stat info;
    if (::fstat(m_file, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < start ||
        (info.st_size != start && ::ftruncate(m_file, start) != 0) ||
        ::lseek(m_file, start, SEEK_SET) != start)
        return Fail(index, errno ? errno : EIO);
    m_open = index;
    m_written = start;
    return true;
}

bool BatchWriter::WritePayload(char* bytes, qint64 count) {
    ScrambleBytes(bytes, count, m_key);
    for (qint64 done = 0; done < count;) {
        const ssize_t n = ::write(m_file, bytes + done, size_t(qMin(kWriteSlice, count - done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail(m_open, n < 0 ? errno : ENOSPC);
        done += n;
    }
    m_written += count;
    m_received += count;
    return true;
}

bool BatchWriter::FinishFile() {
    const BatchEntry& entry = m_job->entries[m_open];
    if (entry.modified > 0) {
        const timespec times[2] = {{0, UTIME_OMIT}, {time_t(entry.modified), 0}};
        ::futimens(m_file, times);
    }
    const int failure = ::close(m_file) != 0 ? errno : 0;
    m_file = -1;
    const QByteArray temp = m_name + QByteArrayLiteral(".tvx");
    if (failure != 0 || ::renameat(m_folder, temp.constData(), m_folder, m_name.constData()) != 0) {
        const qint64 index = m_open;
        m_open = -1;
        return Fail(index, failure ? failure : errno);
    }
    m_last = m_open;
    m_open = -1;
    ++m_filesDone;
    return true;
}

// The sender could not read the file: what came of it in this run goes.
void BatchWriter::DropFile() {
    if (m_open < 0)
        return;
    CloseFile();
    const QByteArray temp = m_name + QByteArrayLiteral(".tvx");
    ::unlinkat(m_folder, temp.constData(), 0);
}

void BatchWriter::CloseFile() {
    if (m_file >= 0)
        ::close(m_file);
    m_file = -1;
    m_open = -1;
    m_payloadLeft = 0;
}

bool BatchWriter::Fail(qint64 index, int error) {
    CloseFile();
    const QString reason = QString::fromLocal8Bit(std::strerror(error));
    Update([&](Report& r) {
        r.writeFailed = true;
        r.writeError = reason;
        r.failedIndex = index;
    });
    return false;
}

bool BatchWriter::Broken() {
    CloseFile();
    Update([](Report& r) { r.broken = true; });
    return false;
}

}  // namespace tvx
