#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <utility>

#include "protocol/BatchMessages.h"

namespace tvx {

// A batch's list as it arrives from the sender, held to the bounds, and checked once complete:
// every path is relative, at most kMaxBatchDepth levels deep, each component a name the single
// file rules accept (no empty, ".", ".." or "\" component, control characters as "_", shortened
// to fit the file system), no path twice and no file where a folder has to be.
class BatchList {
public:
    explicit BatchList(const BatchHeader& header) : m_header(header) {}

    // One message's entries; a stop when they go beyond what the offer announced or the bounds.
    std::optional<BatchStop> Add(QList<BatchEntry> entries);
    // The list is complete: checks it against its totals and the path rules, and turns every
    // path into the names it will have on disk. A stop when it cannot be taken.
    std::optional<BatchStop> Finish();

    const BatchHeader& header() const { return m_header; }
    const QList<BatchEntry>& entries() const { return m_entries; }
    // The first components, in list order, as they will be named on disk.
    const QStringList& topNames() const { return m_topNames; }
    // The same list always gives the same identity; a resumed batch is known by it.
    QString Identity() const;
    // The entries leave the list (for the job that writes them).
    QList<BatchEntry> TakeEntries() { return std::exchange(m_entries, {}); }

private:
    BatchHeader m_header;
    QList<BatchEntry> m_entries;
    QStringList m_topNames;
    qint64 m_pathUnits = 0;
};

// What a batch accepted into a folder is to do: where each item goes, which files come and
// from where. Made once at the acceptance, read by the writing thread.
struct BatchJob {
    QString folder;             // the chosen folder, ending in "/"
    QStringList targets;        // the top names as they stand in the folder
    QList<BatchEntry> entries;  // paths relative to the folder, with the targets applied
    QList<qint64> start;        // per entry: where its bytes begin; -1 when none come
    qint64 filesThere = 0;      // complete before, from a cut send of the same batch
    qint64 bytesThere = 0;      // held before (complete files and resumed parts)
    qint64 bytesToCome = 0;
    qint64 filesToCome = 0;
    QString journalPath;   // marks the batch as begun here until it completes
    QList<PlanItem> plan;  // what the sender is told
};

// Prepares the job in `folder`, taking the list's entries: a batch begun there before (its journal
// in `journalFolder`) keeps its targets and continues; otherwise a top name that stands in the
// folder takes a numbered name, or is merged into when `replace`. Nothing is followed through a
// symbolic link below the folder. Fails with NoSpace when the bytes to come do not fit, WriteFailed
// when the folder cannot be used; the journal is written only on success.
struct BatchPreparation {
    std::shared_ptr<BatchJob> job;
    std::optional<BatchStop> stop;
    QString error;  // the system's reason for WriteFailed
};
BatchPreparation PrepareBatch(BatchList& list, const QString& folder, bool replace,
                              const QString& journalFolder);

// The batch is complete: its journal goes.
void FinishBatchJournal(const BatchJob& job);

}  // namespace tvx
