#include "transfer/BatchStreamer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

#include "platform/SocketErrors.h"
#include "protocol/PeerMessages.h"

namespace tvx {

namespace {

// Records gather up to this much before they go in one send; the buffer holds one more
// whole record behind it.
constexpr qint64 kGather = 1024 * 1024;
constexpr qint64 kBufferBytes = kGather + kRecordHeaderBytes + kMaxRecordPayload;
constexpr qint64 kNoticeMs = 20;
constexpr qint64 kSliceBytes = 128 * 1024;

}  // namespace

BatchStreamer::BatchStreamer(std::shared_ptr<const BatchSelection> selection, QList<qint64> start,
                             DescriptorLease lease, int key, std::function<void()> notify)
    : m_selection(std::move(selection)),
      m_start(std::move(start)),
      m_lease(std::move(lease)),
      m_descriptor(m_lease.descriptor()),
      m_key(key),
      m_buffer(size_t(kBufferBytes)),
      m_slice(size_t(kSliceBytes)),
      m_worker(std::move(notify)) {
    m_worker.Start([this] { Run(); });
}

template <typename Change>
void BatchStreamer::Update(Change change, bool tell) {
    m_worker.Update(
        [&](Report& r) {
            r.sent = m_sent;
            r.filesDone = m_filesDone;
            r.current = m_current;
            change(r);
        },
        tell);
}

void BatchStreamer::Run() {
    for (qint64 i = 0; i < m_start.size(); ++i) {
        if (m_start[i] < 0)
            continue;
        m_current = i;
        if (!SendFile(i))
            return;
        if (m_worker.stopping())
            return;
    }
    if (!Flush())
        return;
    Update([](Report& r) { r.done = true; });
}

void BatchStreamer::Record(RecordType type, qint64 index, qint64 length) {
    WriteRecordHeader(m_buffer.data() + m_filled,
                      RecordHeader{type, quint32(index), quint32(length)});
    m_filled += kRecordHeaderBytes + length;
}

bool BatchStreamer::SendFile(qint64 index) {
    const BatchEntry& entry = m_selection->entries()[index];
    const QByteArray path = QFile::encodeName(m_selection->LocalPath(index));
    const int file = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    qint64 position = m_start[index];
    bool readable = file >= 0 && ::fstat(file, &info) == 0 && S_ISREG(info.st_mode) &&
                    ::lseek(file, position, SEEK_SET) == position;
    while (readable && position < entry.size) {
        if (kBufferBytes - m_filled < kRecordHeaderBytes + 1 && !Flush()) {
            ::close(file);
            return false;
        }
        const qint64 room = kBufferBytes - m_filled - kRecordHeaderBytes;
        const qint64 want = qMin(qMin(entry.size - position, kMaxRecordPayload), room);
        char* payload = m_buffer.data() + m_filled + kRecordHeaderBytes;
        qint64 got = 0;
        // The file is read into a page-aligned slice and copied behind the record's header:
        // the system copies into an unaligned buffer several times slower on some processors.
        // The copy is scrambled while it is still in the cache.
        while (got < want) {
            const ssize_t n =
                ::read(file, m_slice.data(), size_t(qMin<qint64>(want - got, kSliceBytes)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            memcpy(payload + got, m_slice.data(), size_t(n));
            ScrambleBytes(payload + got, n, m_key);
            got += n;
        }
        if (got > 0) {
            Record(RecordType::Data, index, got);
            position += got;
            m_pendingBytes += got;
        }
        if (got < want)
            readable = false;  // shortened or failing: what went is dropped at the receiver
        else if (m_filled >= kGather && !Flush()) {
            ::close(file);
            return false;
        }
    }
    if (file >= 0)
        ::close(file);
    if (kBufferBytes - m_filled < kRecordHeaderBytes && !Flush())
        return false;
    Record(readable ? RecordType::End : RecordType::Skip, index, 0);
    ++m_pendingFiles;
    if (!readable)
        m_worker.Update([index](Report& r) { r.unreadable.append(index); }, false);
    const qint64 now = SteadyMs();
    if (m_filled >= kGather || now - m_lastNotice >= kNoticeMs) {
        m_lastNotice = now;
        return Flush();
    }
    return true;
}

bool BatchStreamer::Flush() {
    qint64 done = 0;
    while (done < m_filled) {
        if (m_worker.stopping())
            return false;
        const ssize_t n =
            m_lease.Transmit(m_buffer.data() + done, size_t(m_filled - done), MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_worker.WaitReady(m_descriptor, POLLOUT, 100);
            continue;
        }
        const int failure = errno;
        const bool closed = IsConnectionReset(failure);
        Update([&](Report& r) {
            r.peerClosed = closed;
            r.sendError = closed ? 0 : failure;
        });
        return false;
    }
    m_filled = 0;
    m_sent += m_pendingBytes;
    m_filesDone += m_pendingFiles;
    m_pendingBytes = 0;
    m_pendingFiles = 0;
    Update([](Report&) {});
    return true;
}

}  // namespace tvx
