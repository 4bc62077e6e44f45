#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tvx {

// Several files and folders in one offer, between two copies that both speak it. The file
// receiver announces it in its verified reply's reserved field, which senders that do not know
// it ignore; only a sender that saw the announcement sends these messages, so a peer that does
// not announce it never receives one. docs/protocol.md describes every byte.

// The reserved field of this copy's verified reply: its feature words, separated by spaces.
QString OwnFeatureField();
// Whether the rest of a file receiver's verified reply (after 55 AA) announces batches.
bool AnnouncesBatches(const QString& verifiedRest);

// The batch codes, in the private-use area so that no file name or note is likely to hold one.
struct BatchCodes {
    static constexpr char16_t Offer = 0xE4B1;     // B1 E4: sender, the batch's totals and note
    static constexpr char16_t Entries = 0xE4B2;   // B2 E4: sender, part of the list
    static constexpr char16_t ListEnd = 0xE4B3;   // B3 E4: sender, the list is complete
    static constexpr char16_t Plan = 0xE4B4;      // B4 E4: receiver, what it already holds
    static constexpr char16_t Accepted = 0xE4B5;  // B5 E4: receiver, the stream may begin
    static constexpr char16_t Stopped = 0xE4B6;   // B6 E4: receiver, the batch cannot be taken
};

// Bounds a receiver holds a batch to.
constexpr qint64 kMaxBatchEntries = 100000;
constexpr int kMaxBatchDepth = 32;
constexpr qint64 kMaxBatchFileLength = qint64(1) << 40;  // 1 TiB per file
// The whole list's path text, in characters: far above any real tree, far below a memory risk.
constexpr qint64 kMaxBatchPathUnits = 8 * 1024 * 1024;
// What the builders put into one message; a receiver takes any count within the framing.
constexpr int kEntriesPerMessage = 512;
constexpr int kPlanItemsPerMessage = 2000;
constexpr int kMaxMessageUnits = 30000;

struct BatchHeader {
    qint64 entries = 0;  // folders + files
    qint64 folders = 0;
    qint64 files = 0;
    qint64 totalBytes = 0;  // sum of the files' lengths
    int key = 1;            // 1 to 254: every file byte on the data connection is XOR key
    QString note;
};
QString BuildBatchOffer(const BatchHeader& header);
// Nothing unless every number parses and they agree (folders + files = entries); counts above
// kMaxBatchEntries parse, for the receiver to refuse. The note is the rest of the payload and
// may hold separators.
std::optional<BatchHeader> ParseBatchOffer(const QString& payload);

struct BatchEntry {
    bool folder = false;
    qint64 size = 0;      // 0 for a folder, at most kMaxBatchFileLength
    qint64 modified = 0;  // seconds since 1970 UTC; 0 when unknown
    // Components joined by "/", as the sender's tree has them; on the wire '%', 03 04 and 02 05
    // inside a name are escaped, and an escaped "/" does not parse.
    QString path;
};
// The list in messages of at most kEntriesPerMessage entries and kMaxMessageUnits characters
// each (an entry that alone is longer goes in a message of its own).
QStringList BuildBatchEntries(const QList<BatchEntry>& entries);
// The entries of one message; nothing when any field does not parse. Whether a path may be
// written is the receiver's check.
std::optional<QList<BatchEntry>> ParseBatchEntries(const QString& payload);
QString BuildBatchListEnd();

// What the receiver already holds: entries first..last are complete there (not sent), or file
// `first` is held up to `offset` bytes and continues from there.
struct PlanItem {
    qint64 first = 0;
    qint64 last = 0;     // equal to first for a resumed file
    qint64 offset = -1;  // -1 for a complete range
};
QStringList BuildBatchPlan(const QList<PlanItem>& items);
// One plan message against a list of `entries` entries; items must ascend beyond `after`
// (the last index an earlier item covered, -1 at first) without overlapping. Nothing when not.
std::optional<QList<PlanItem>> ParseBatchPlan(const QString& payload, qint64 entries, qint64 after);
QString BuildBatchAccepted();

enum class BatchStopReason {
    BadList,      // the list does not parse or does not match its totals
    TooMany,      // more than kMaxBatchEntries entries
    BadName,      // detail: the entry's index
    Twice,        // a path twice (or a file where a folder must be); detail: the index
    TooDeep,      // detail: the index
    NoSpace,      // needed and available bytes
    WriteFailed,  // detail: the index of the file that could not be written
};
struct BatchStop {
    BatchStopReason reason = BatchStopReason::BadList;
    qint64 index = -1;
    qint64 needed = 0;
    qint64 available = 0;
};
QString BuildBatchStopped(const BatchStop& stop);
// An unknown reason word counts as BadList; numbers that do not parse are left at their defaults.
BatchStop ParseBatchStopped(const QString& payload);

// ---- The data connection of a batch: records of a nine-byte header and a payload ----

constexpr int kRecordHeaderBytes = 9;
constexpr qint64 kMaxRecordPayload = 1024 * 1024;
enum class RecordType : quint8 { Data = 1, End = 2, Skip = 3 };
struct RecordHeader {
    RecordType type = RecordType::Data;
    quint32 index = 0;   // the entry in list order
    quint32 length = 0;  // payload bytes: 1 to kMaxRecordPayload for Data, 0 otherwise
};
void WriteRecordHeader(char* out, const RecordHeader& header);
// Nothing when the type is unknown or the length does not suit it.
std::optional<RecordHeader> ReadRecordHeader(const char* bytes);

}  // namespace tvx
