#pragma once

#include <QList>
#include <functional>
#include <memory>

#include "common/PageBuffer.h"
#include "common/ReportingWorker.h"
#include "platform/Socket.h"
#include "transfer/BatchSelection.h"

namespace tvx {

// Sends a batch's files on its data connection, on a thread of its own: each file that is to
// go, in list order, from where the receiver holds it, as records of up to 1 MiB. Records are
// gathered into large sends, so a thousand small files cost a few system calls, not thousands.
// A file that cannot be opened or read whole (gone, shortened, a link put in its place) is
// skipped with a Skip record and the batch goes on.
class BatchStreamer {
public:
    struct Report {
        qint64 sent = 0;       // file bytes that went out in this run
        qint64 filesDone = 0;  // files that went out whole or were skipped
        qint64 current = -1;   // the entry on its way
        bool done = false;     // everything went out
        bool peerClosed = false;
        int sendError = 0;
        QList<qint64> unreadable;
    };

    // `start`: per entry where its bytes begin, -1 for entries that do not go.
    BatchStreamer(std::shared_ptr<const BatchSelection> selection, QList<qint64> start,
                  DescriptorLease lease, int key, std::function<void()> notify);

    void Stop() { m_worker.Stop(); }
    Report Snapshot() const { return m_worker.Snapshot(); }

private:
    void Run();
    // Reads one file into records; false when the connection failed.
    bool SendFile(qint64 index);
    bool Flush();
    void Record(RecordType type, qint64 index, qint64 length);
    template <typename Change>
    void Update(Change change, bool tell = true);

    const std::shared_ptr<const BatchSelection> m_selection;
    const QList<qint64> m_start;
    DescriptorLease m_lease;
    const int m_descriptor;
    const int m_key;
    PageBuffer m_buffer;
    PageBuffer m_slice;  // where the file's bytes are read first
    qint64 m_filled = 0;
    qint64 m_pendingBytes = 0;  // file bytes in the buffer
    qint64 m_pendingFiles = 0;
    qint64 m_sent = 0;
    qint64 m_filesDone = 0;
    qint64 m_current = -1;
    qint64 m_lastNotice = 0;
    ReportingWorker<Report> m_worker;  // last: it stops the thread before the rest goes
};

}  // namespace tvx
