#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "protocol/BatchMessages.h"

namespace tvx {

// A file or folder of the user's choice that does not go, and why.
struct SkippedPath {
    enum class Why {
        Link,        // a symbolic link: not followed
        NotRegular,  // a device, socket or pipe
        Unreadable,  // could not be opened or listed, or its name does not survive a round trip
        TooLarge,    // above what the peer takes in one file
        SameName,    // a second chosen item with the name of an earlier one
        TooDeep,     // more folder levels than a receiver takes
        TooMany,     // beyond the entries a batch may hold
    };
    QString path;  // as on this computer
    Why why = Why::Unreadable;
};

// What the user chose to send, walked once: every folder and regular file under the chosen
// items, in the order they go (a folder before what it holds, names in order), with the paths
// relative to the folder each chosen item stands in.
class BatchSelection {
public:
    // Walks the chosen files and folders. A chosen item that is a link is followed; links below
    // a chosen folder are listed as skipped, never followed.
    static BatchSelection Scan(const QStringList& chosenPaths);

    const QList<BatchEntry>& entries() const { return m_entries; }
    // The entry's file on this computer.
    QString LocalPath(qsizetype index) const;
    qint64 folders() const { return m_folders; }
    qint64 files() const { return m_files; }
    qint64 totalBytes() const { return m_totalBytes; }
    // The chosen items that go, as their names stand at the top of the batch.
    const QStringList& topNames() const { return m_topNames; }
    const QList<SkippedPath>& skipped() const { return m_skipped; }
    bool isEmpty() const { return m_entries.isEmpty(); }
    // One regular file and nothing else: it goes as a plain single-file offer.
    bool isSingleFile() const { return m_entries.size() == 1 && !m_entries.front().folder; }

    // Records a file that could not be read when its turn came.
    void MarkUnreadable(qsizetype index);

private:
    void Walk(const QString& localPath, const QString& relativePath, int base, int depth);
    void Skip(const QString& path, SkippedPath::Why why) { m_skipped.append({path, why}); }

    QList<BatchEntry> m_entries;
    QList<int> m_baseOf;  // per entry: the folder its top item stands in
    QStringList m_bases;
    QStringList m_topNames;
    QList<SkippedPath> m_skipped;
    qint64 m_folders = 0;
    qint64 m_files = 0;
    qint64 m_totalBytes = 0;
};

}  // namespace tvx
