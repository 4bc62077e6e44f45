#include "texts/BatchTexts.h"

#include "common/Format.h"
#include "transfer/FileReceiveEngine.h"

namespace tvx {

namespace {

QString OneDecimal(qint64 bytes, qint64 unit) {
    return QString::number(double(bytes) / double(unit), 'f', 1);
}

// Closes a list cut after some of its items.
QString MoreItemsLine(qint64 items) {
    return QStringLiteral("... 等 ") + GroupThousands(items) + QStringLiteral(" 项");
}

}  // namespace

QString BatchSizeText(qint64 bytes) {
    constexpr qint64 kGiB = qint64(1) << 30;
    if (bytes < 2 * kGiB - 1)
        return FormatSize(qint32(qMax<qint64>(bytes, 0)));
    if (bytes < 1024 * kGiB)
        return OneDecimal(bytes, kGiB) + QStringLiteral(" GB");
    return OneDecimal(bytes, 1024 * kGiB) + QStringLiteral(" TB");
}

QString BatchSummaryLine(qint64 folders, qint64 files, qint64 totalBytes) {
    QString line;
    if (folders > 0)
        line = GroupThousands(folders) + QStringLiteral(" 个文件夹, ");
    return line + GroupThousands(files) + QStringLiteral(" 个文件, 共 ") +
           BatchSizeText(totalBytes);
}

QString BatchTopNamesLine(const QStringList& names, int shown) {
    QString line = names.mid(0, shown).join(QStringLiteral("、"));
    if (names.size() > shown)
        line += QStringLiteral(" 等 ") + GroupThousands(names.size()) + QStringLiteral(" 项");
    return line;
}

QString BatchFileLine(const BatchProgress& progress) {
    const qint64 number = qMin(progress.filesDone + 1, progress.filesTotal);
    return QStringLiteral("文件 ") + GroupThousands(number) + QLatin1Char('/') +
           GroupThousands(progress.filesTotal) + QStringLiteral(": ") + progress.currentPath;
}

QString OneByOneNotice(qint64 files) {
    return QStringLiteral("对方不支持一次接收多个文件, ") + GroupThousands(files) +
           QStringLiteral(" 个文件将逐个发送(不含文件夹结构), 对方会逐个确认。");
}

QString SkippedPathLine(const SkippedPath& skipped) {
    QString why;
    switch (skipped.why) {
        case SkippedPath::Why::Link:
            why = QStringLiteral("符号链接");
            break;
        case SkippedPath::Why::NotRegular:
            why = QStringLiteral("不是普通文件");
            break;
        case SkippedPath::Why::Unreadable:
            why = QStringLiteral("无法读取");
            break;
        case SkippedPath::Why::TooLarge:
            why = QStringLiteral("文件太大");
            break;
        case SkippedPath::Why::SameName:
            why = QStringLiteral("与另一项同名");
            break;
        case SkippedPath::Why::TooDeep:
            why = QStringLiteral("文件夹层次太深");
            break;
        case SkippedPath::Why::TooMany:
            why = QStringLiteral("超过 100,000 项");
            break;
    }
    return skipped.path + QStringLiteral(" (") + why + QStringLiteral(", 未发送)");
}

QString SkippedFilesText(const QStringList& paths, int shown) {
    QString text =
        QStringLiteral("下列 ") + GroupThousands(paths.size()) + QStringLiteral(" 项未发送:");
    for (const QString& path : paths.mid(0, shown))
        text += QStringLiteral("\r\n") + path;
    if (paths.size() > shown)
        text += QStringLiteral("\r\n") + MoreItemsLine(paths.size());
    return text;
}

QString BatchStopText(const BatchStop& stop) {
    switch (stop.reason) {
        case BatchStopReason::NoSpace:
            return QStringLiteral("对方磁盘空间不足: 需要 ") + BatchSizeText(stop.needed) +
                   QStringLiteral(", 可用 ") + BatchSizeText(stop.available) + QStringLiteral("。");
        case BatchStopReason::TooMany:
            return QStringLiteral("对方拒绝接收: 一次最多发送 100,000 项。");
        case BatchStopReason::TooDeep:
            return QStringLiteral("对方拒绝接收: 文件夹层次超过 32 层。");
        case BatchStopReason::BadName:
            return QStringLiteral("对方拒绝接收: 有文件名无法使用。");
        case BatchStopReason::Twice:
            return QStringLiteral("对方拒绝接收: 有文件名重复。");
        case BatchStopReason::WriteFailed:
            return QStringLiteral("对方写入文件时发生错误, 发送已停止。");
        case BatchStopReason::BadList:
            break;
    }
    return QStringLiteral("对方拒绝接收: 文件列表有误。");
}

UserMessage BatchRefusedHereMessage(const ReceiveOutcome& outcome) {
    const BatchStop& stop = outcome.stop;
    if (outcome.kind == ReceiveOutcome::Kind::NoSpace) {
        return UserMessage{MessageKind::Error,
                           QStringLiteral("无法接收: 磁盘空间不足。需要 ") +
                               BatchSizeText(stop.needed) + QStringLiteral(", 可用 ") +
                               BatchSizeText(stop.available) + QStringLiteral("。\r\n\r\n") +
                               outcome.path,
                           false};
    }
    QString why;
    switch (stop.reason) {
        case BatchStopReason::TooMany:
            why = QStringLiteral("超过 100,000 项");
            break;
        case BatchStopReason::TooDeep:
            why = QStringLiteral("文件夹层次超过 32 层");
            break;
        case BatchStopReason::BadName:
            why = QStringLiteral("含有不安全的文件名或路径");
            break;
        case BatchStopReason::Twice:
            why = QStringLiteral("含有重复的文件名");
            break;
        default:
            why = QStringLiteral("文件列表有误");
            break;
    }
    return UserMessage{MessageKind::Warning,
                       QStringLiteral("已拒绝 ") + outcome.peerName +
                           QStringLiteral(" 发送的一批文件: ") + why + QStringLiteral("。"),
                       false};
}

QString BatchReceivedLine(const QString& peerName, qint64 files, qint64 totalBytes,
                          const QString& folder) {
    return QStringLiteral("已从 ") + peerName + QStringLiteral(" 接收 ") + GroupThousands(files) +
           QStringLiteral(" 个文件 (共 ") + BatchSizeText(totalBytes) + QStringLiteral(") 到 ") +
           folder;
}

QString SkippedPathsText(const QList<SkippedPath>& skipped, int shown) {
    QStringList lines;
    for (const SkippedPath& item : skipped.mid(0, shown))
        lines.append(SkippedPathLine(item));
    if (skipped.size() > shown)
        lines.append(MoreItemsLine(skipped.size()));
    return lines.join(QStringLiteral("\r\n"));
}

UserMessage NothingToSendMessage() {
    return UserMessage{MessageKind::Warning, QStringLiteral("选择的文件和文件夹都不能发送。"),
                       false};
}

QString BatchOfferNotice(const BatchSummary& summary) {
    return summary.nickName + QStringLiteral(" 发来 ") +
           BatchSummaryLine(summary.folders, summary.files, summary.totalBytes);
}

QString RefuseBatchQuestion(qint64 files) {
    return QStringLiteral("确实要拒收这 ") + GroupThousands(files) + QStringLiteral(" 个文件么？");
}

}  // namespace tvx
