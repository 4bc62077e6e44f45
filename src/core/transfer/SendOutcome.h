#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

#include "platform/Socket.h"
#include "protocol/BatchMessages.h"
#include "protocol/PeerLink.h"

namespace tvx {

// Why a file cannot be sent as it stands.
enum class FileProblem {
    None,
    NotChosen,  // the path is blank
    Missing,
    Empty,
    TooLarge,  // above the protocol's 2 GiB - 1
};

// How one send ended, with what a front end needs to tell the user.
struct SendOutcome {
    enum class Kind {
        Completed,       // the receiver has the whole file
        Refused,         // the receiver's user said no; note
        AutoRefused,     // the receiver refused by itself; note
        PeerCancelled,   // the receiver stopped it at `sent` of `size`; note
        Cancelled,       // this side stopped it (or started anew)
        Dropped,         // the connection ended without a word
        LinkRefused,     // turned away in the handshake: refusal, note
        ProtocolBroken,  // the receiver sent what it should not have
        HandshakeTimedOut,
        NetworkError,   // error
        FileProblem,    // fileProblem: the file changed between two attempts
        ReadFailed,     // the file could not be read on: systemError
        RetriesUsedUp,  // attempts
        Stalled,        // nothing went out for too long
        BatchStopped,   // the receiving program could not take the batch: stop
    };

    Kind kind = Kind::Cancelled;
    QString peer;      // the address as shown
    QString fileName;  // without folder
    QString filePath;
    QString note;  // the peer's note or block note as sent
    LinkRefusal refusal = LinkRefusal::WrongCode;
    // The connection ran inside TLS; the peer's certificate (SHA-256). LinkRefused with
    // IdentityChanged: the certificate shown and the one pinned before.
    bool encrypted = false;
    QByteArray peerFingerprint;
    QByteArray pinnedFingerprint;
    SocketError error = SocketError::None;
    tvx::FileProblem fileProblem = tvx::FileProblem::None;
    QString systemError;
    qint64 sent = 0;  // bytes the receiver held at the end
    qint64 size = 0;
    int attempts = 0;
    QTime finishedAt;    // Completed: the local time
    qint64 seconds = 0;  // Completed: how long the bytes took

    // A batch (several files or folders). sent and size then count the whole batch's bytes.
    bool batch = false;
    bool oneByOne = false;  // the peer took the files as single offers, one after another
    qint64 files = 0;       // files in the batch
    qint64 filesDone = 0;   // of which the receiver holds (also those it already had)
    qint64 filesThere = 0;  // of which it already had from an earlier, cut send
    QStringList skipped;    // paths on this computer that did not go (links, unreadable...)
    QStringList refused;    // one by one: files the peer's user refused
    BatchStop stop;         // BatchStopped: why
};

// Where a batch stands, for the windows and the command line.
struct BatchProgress {
    qint64 filesDone = 0;  // files complete (at the receiver: written; also those already there)
    qint64 filesTotal = 0;
    QString currentPath;  // the file on its way, relative to the batch
    qint64 currentSize = 0;
};

// Names the files of a batch as a count of finished ones grows. The files that come (no
// folders, and none whose start is -1) finish in list order, so the count says which.
class BatchDoneFiles {
public:
    void Reset() { m_next = m_counted = 0; }
    // The entries finished since the last call, `count` in this run in all (those that could
    // not be read included: they end in turn too).
    QList<qint64> Advance(const QList<BatchEntry>& entries, const QList<qint64>& start,
                          qint64 count) {
        QList<qint64> done;
        while (m_counted < count && m_next < entries.size() && m_next < start.size()) {
            const qint64 i = m_next++;
            if (entries[i].folder || start[i] < 0)
                continue;
            ++m_counted;
            done << i;
        }
        return done;
    }

private:
    qint64 m_next = 0;
    qint64 m_counted = 0;
};

}  // namespace tvx
