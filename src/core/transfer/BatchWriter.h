#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

#include "common/PageBuffer.h"
#include "common/ReportingWorker.h"
#include "platform/Socket.h"
#include "transfer/BatchReception.h"
#include "transfer/FolderTree.h"

namespace tvx {

// Receives a batch's data connection on a thread of its own: reads the records, unscrambles
// each file's bytes into its temporary file (name + ".tvx") below the chosen folder and renames
// it once whole. Folders are made first, empty ones too. Records must come as the job says:
// the files that come, in list order, each from its start to its length; anything else ends
// the thread as a broken stream. A file the sender could not read is dropped.
class BatchWriter {
public:
    struct Report {
        qint64 received = 0;    // file bytes that came in this run
        qint64 filesDone = 0;   // files complete in this run (also those the sender skipped)
        qint64 current = -1;    // the entry whose bytes come now
        bool finished = false;  // every file that was to come is complete
        bool closed = false;    // the sender closed before that
        bool broken = false;    // the stream broke the rules
        int readError = 0;
        bool writeFailed = false;
        QString writeError;
        qint64 failedIndex = -1;
        QList<qint64> skipped;  // entries the sender could not read
    };

    // `taken`: bytes read before the thread began. `notify` only posts.
    BatchWriter(std::shared_ptr<const BatchJob> job, DescriptorLease lease, QByteArray taken,
                int key, std::function<void()> notify);
    ~BatchWriter();

    void Stop() { m_worker.Stop(); }
    Report Snapshot() const { return m_worker.Snapshot(); }

private:
    void Run(const QByteArray& taken);
    bool MakeFolders();
    // Handles `count` bytes at `bytes`; false when the thread is to end.
    bool Take(char* bytes, qint64 count);
    bool OnHeader(const RecordHeader& header);
    bool OpenFile(qint64 index);
    bool WritePayload(char* bytes, qint64 count);
    bool FinishFile();
    void DropFile();
    void CloseFile();
    qint64 NextToCome(qint64 after) const;
    bool Fail(qint64 index, int error);
    bool Broken();
    template <typename Change>
    void Update(Change change, bool tell = true);

    const std::shared_ptr<const BatchJob> m_job;
    DescriptorLease m_lease;
    const int m_descriptor;
    const int m_key;
    FolderTree m_tree;
    PageBuffer m_buffer;
    char m_header[kRecordHeaderBytes];
    int m_headerFilled = 0;
    qint64 m_payloadLeft = 0;  // of the Data record being read
    qint64 m_expected = -1;    // the next entry that is to come
    qint64 m_open = -1;        // the entry whose file is open
    qint64 m_last = -1;        // the entry completed last
    int m_file = -1;
    int m_folder = -1;     // where the open file lies (the tree's descriptor)
    QByteArray m_name;     // its final name there
    qint64 m_written = 0;  // its bytes so far, from its start
    qint64 m_received = 0;
    qint64 m_filesDone = 0;
    qint64 m_lastNotice = 0;
    ReportingWorker<Report> m_worker;  // last: it stops the thread before the rest goes
};

}  // namespace tvx
