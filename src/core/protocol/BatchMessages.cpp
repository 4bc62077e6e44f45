#include "protocol/BatchMessages.h"

#include <QtEndian>

#include "protocol/Codes.h"
#include "protocol/PeerMessages.h"
#include "protocol/Wire.h"

namespace tvx {

namespace {

using B = BatchCodes;

const QString kBatchFeature = QStringLiteral("batch/1");

// The separator, the terminator and the escape mark itself never travel inside a path.
bool NeedsEscape(char16_t unit) {
    return unit == u'%' || unit == ProtocolCodes::Separator || unit == ProtocolCodes::Terminator;
}

QString EscapePath(const QString& path) {
    QString out;
    out.reserve(path.size());
    for (const QChar c : path) {
        if (NeedsEscape(c.unicode()))
            out += QStringLiteral("%%1").arg(uint(c.unicode()), 4, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

std::optional<QString> Unescape(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('%')) {
            out += text[i];
            continue;
        }
        if (i + 4 >= text.size())
            return std::nullopt;
        uint unit = 0;
        for (int k = 1; k <= 4; ++k) {
            const char16_t c = text[i + k].unicode();
            uint digit;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            else
                return std::nullopt;
            unit = unit * 16 + digit;
        }
        out += QChar(char16_t(unit));
        i += 4;
    }
    return out;
}

QString EntryText(const BatchEntry& entry) {
    return QStringLiteral("%1:%2:%3:%4")
        .arg(entry.folder ? QLatin1Char('D') : QLatin1Char('F'))
        .arg(entry.folder ? 0 : entry.size)
        .arg(entry.modified)
        .arg(EscapePath(entry.path));
}

std::optional<BatchEntry> ParseEntry(QStringView field) {
    // kind:size:modified:path, the path being everything after the third colon.
    qsizetype colons[3];
    qsizetype from = 0;
    for (qsizetype& colon : colons) {
        colon = field.indexOf(QLatin1Char(':'), from);
        if (colon < 0)
            return std::nullopt;
        from = colon + 1;
    }
    const QStringView kind = field.left(colons[0]);
    if (kind != QLatin1String("F") && kind != QLatin1String("D"))
        return std::nullopt;
    const auto size =
        ParseDecimal(field.mid(colons[0] + 1, colons[1] - colons[0] - 1), kMaxBatchFileLength);
    const auto modified =
        ParseDecimal(field.mid(colons[1] + 1, colons[2] - colons[1] - 1), kMaxBatchFileLength);
    const QStringView path = field.mid(colons[2] + 1);
    if (!size || !modified || path.isEmpty())
        return std::nullopt;
    BatchEntry entry;
    entry.folder = kind == QLatin1String("D");
    if (entry.folder && *size != 0)
        return std::nullopt;
    entry.size = *size;
    entry.modified = *modified;
    // Split at "/" before unescaping: an escaped "/" inside a component is no separator.
    QStringList components;
    for (const QStringView part : path.split(QLatin1Char('/'))) {
        const std::optional<QString> name = Unescape(part);
        if (!name || name->contains(QLatin1Char('/')))
            return std::nullopt;
        components.append(*name);
    }
    entry.path = components.join(QLatin1Char('/'));
    return entry;
}

// Joins the texts into messages of at most `perMessage` fields and about kMaxMessageUnits
// characters.
QStringList Pack(char16_t code, const QStringList& fields, int perMessage) {
    QStringList messages;
    QStringList current;
    qsizetype units = 0;
    for (const QString& field : fields) {
        if (!current.isEmpty() &&
            (current.size() == perMessage || units + field.size() + 1 > kMaxMessageUnits)) {
            messages.append(MessageBody(code, JoinFields(current)));
            current.clear();
            units = 0;
        }
        current.append(field);
        units += field.size() + 1;
    }
    if (!current.isEmpty())
        messages.append(MessageBody(code, JoinFields(current)));
    return messages;
}

const char* const kReasonWords[] = {"list", "count", "name", "twice", "depth", "space", "write"};

}  // namespace

QString OwnFeatureField() {
    return kBatchFeature;
}

bool AnnouncesBatches(const QString& verifiedRest) {
    const QStringList fields = SplitFields(verifiedRest);
    if (fields.size() < 2)
        return false;
    return fields[1].split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(kBatchFeature);
}

QString BuildBatchOffer(const BatchHeader& header) {
    return MessageBody(
        B::Offer, JoinFields({QString::number(header.entries), QString::number(header.folders),
                              QString::number(header.files), QString::number(header.totalBytes),
                              QString::number(header.key), header.note}));
}

std::optional<BatchHeader> ParseBatchOffer(const QString& payload) {
    const QStringList fields = SplitFields(payload);
    if (fields.size() < 6)
        return std::nullopt;
    // Counts above the bound parse, so that the receiver can say why it refuses them.
    constexpr qint64 kCountLimit = 999999999;
    const auto entries = ParseDecimal(fields[0], kCountLimit);
    const auto folders = ParseDecimal(fields[1], kCountLimit);
    const auto files = ParseDecimal(fields[2], kCountLimit);
    const auto total = ParseDecimal(fields[3], kMaxBatchEntries * kMaxBatchFileLength);
    const auto key = ParseDecimal(fields[4], 254);
    if (!entries || !folders || !files || !total || !key || *key < 1 ||
        *folders + *files != *entries || *entries == 0)
        return std::nullopt;
    BatchHeader header;
    header.entries = *entries;
    header.folders = *folders;
    header.files = *files;
    header.totalBytes = *total;
    header.key = int(*key);
    header.note = JoinFields(fields.mid(5));
    return header;
}

QStringList BuildBatchEntries(const QList<BatchEntry>& entries) {
    QStringList fields;
    fields.reserve(entries.size());
    for (const BatchEntry& entry : entries)
        fields.append(EntryText(entry));
    return Pack(B::Entries, fields, kEntriesPerMessage);
}

std::optional<QList<BatchEntry>> ParseBatchEntries(const QString& payload) {
    QList<BatchEntry> entries;
    for (const QStringView field : QStringView(payload).split(QChar(ProtocolCodes::Separator))) {
        std::optional<BatchEntry> entry = ParseEntry(field);
        if (!entry)
            return std::nullopt;
        entries.append(std::move(*entry));
    }
    return entries;
}

QString BuildBatchListEnd() {
    return MessageBody(B::ListEnd);
}

QStringList BuildBatchPlan(const QList<PlanItem>& items) {
    QStringList fields;
    fields.reserve(items.size());
    for (const PlanItem& item : items) {
        fields.append(item.offset < 0 ? QStringLiteral("%1-%2").arg(item.first).arg(item.last)
                                      : QStringLiteral("%1+%2").arg(item.first).arg(item.offset));
    }
    return Pack(B::Plan, fields, kPlanItemsPerMessage);
}

std::optional<QList<PlanItem>> ParseBatchPlan(const QString& payload, qint64 entries,
                                              qint64 after) {
    QList<PlanItem> items;
    for (const QStringView field : QStringView(payload).split(QChar(ProtocolCodes::Separator))) {
        const qsizetype dash = field.indexOf(QLatin1Char('-'));
        const qsizetype plus = field.indexOf(QLatin1Char('+'));
        const qsizetype mark = dash >= 0 ? dash : plus;
        if (mark < 0 || (dash >= 0 && plus >= 0))
            return std::nullopt;
        const auto first = ParseDecimal(field.left(mark), entries - 1);
        const auto second =
            ParseDecimal(field.mid(mark + 1), dash >= 0 ? entries - 1 : kMaxBatchFileLength);
        if (!first || !second || *first <= after)
            return std::nullopt;
        PlanItem item;
        item.first = *first;
        if (dash >= 0) {
            if (*second < *first)
                return std::nullopt;
            item.last = *second;
        } else {
            if (*second == 0)
                return std::nullopt;
            item.last = *first;
            item.offset = *second;
        }
        after = item.last;
        items.append(item);
    }
    return items;
}

QString BuildBatchAccepted() {
    return MessageBody(B::Accepted);
}

QString BuildBatchStopped(const BatchStop& stop) {
    QStringList fields{QLatin1String(kReasonWords[int(stop.reason)])};
    if (stop.reason == BatchStopReason::NoSpace)
        fields << QString::number(stop.needed) << QString::number(stop.available);
    else if (stop.index >= 0)
        fields << QString::number(stop.index);
    return MessageBody(B::Stopped, JoinFields(fields));
}

BatchStop ParseBatchStopped(const QString& payload) {
    const QStringList fields = SplitFields(payload);
    BatchStop stop;
    for (int i = 0; i < int(std::size(kReasonWords)); ++i) {
        if (fields.value(0) == QLatin1String(kReasonWords[i]))
            stop.reason = BatchStopReason(i);
    }
    constexpr qint64 kLimit = 999999999999999999;
    if (stop.reason == BatchStopReason::NoSpace) {
        stop.needed = ParseDecimal(fields.value(1), kLimit).value_or(0);
        stop.available = ParseDecimal(fields.value(2), kLimit).value_or(0);
    } else {
        stop.index = ParseDecimal(fields.value(1), kLimit).value_or(-1);
    }
    return stop;
}

void WriteRecordHeader(char* out, const RecordHeader& header) {
    out[0] = char(header.type);
    qToBigEndian<quint32>(header.index, out + 1);
    qToBigEndian<quint32>(header.length, out + 5);
}

std::optional<RecordHeader> ReadRecordHeader(const char* bytes) {
    RecordHeader header;
    const quint8 type = quint8(bytes[0]);
    header.index = qFromBigEndian<quint32>(bytes + 1);
    header.length = qFromBigEndian<quint32>(bytes + 5);
    switch (type) {
        case quint8(RecordType::Data):
            if (header.length == 0 || header.length > kMaxRecordPayload)
                return std::nullopt;
            break;
        case quint8(RecordType::End):
        case quint8(RecordType::Skip):
            if (header.length != 0)
                return std::nullopt;
            break;
        default:
            return std::nullopt;
    }
    header.type = RecordType(type);
    return header;
}

}  // namespace tvx
