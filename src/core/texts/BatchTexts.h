#pragma once

#include <QString>
#include <QStringList>

#include "texts/UserMessage.h"
#include "transfer/BatchSelection.h"
#include "transfer/SendOutcome.h"

namespace tvx {

struct BatchSummary;
struct ReceiveOutcome;

// A size of any length: "2.3 GB", as FormatSize shows sizes below 2 GB, with "TB" above.
QString BatchSizeText(qint64 bytes);
// "3 个文件夹, 1,204 个文件, 共 2.3 GB" (no folder part when there are none).
QString BatchSummaryLine(qint64 folders, qint64 files, qint64 totalBytes);
// The top names, "、"-separated; after `shown` of them "等 N 项".
QString BatchTopNamesLine(const QStringList& names, int shown = 5);
// "文件 12/1,204: Photos/a.jpg" for the file on its way.
QString BatchFileLine(const BatchProgress& progress);
// Told once when a peer takes files only one at a time.
QString OneByOneNotice(qint64 files);
// Why an item the user chose does not go, as a line: "path (符号链接, 未发送)".
QString SkippedPathLine(const SkippedPath& skipped);
// Said at the end of a send where some chosen files did not go: the heading and one line each
// (at most `shown`, then "... 等 N 项").
QString SkippedFilesText(const QStringList& paths, int shown = 20);

// Why the receiving program turned a batch away or stopped it, as the sender's user reads it.
QString BatchStopText(const BatchStop& stop);
// Why a batch from a peer was turned away here, as the receiving user reads it.
UserMessage BatchRefusedHereMessage(const ReceiveOutcome& outcome);
// A batch was received: "已从 NICK 接收 N 个文件 (共 SIZE) 到 FOLDER".
QString BatchReceivedLine(const QString& peerName, qint64 files, qint64 totalBytes,
                          const QString& folder);

// The send window's list of what does not go: one SkippedPathLine a line (at most `shown`,
// then "... 等 N 项").
QString SkippedPathsText(const QList<SkippedPath>& skipped, int shown = 50);
// Nothing the user chose can go (everything was skipped).
UserMessage NothingToSendMessage();
// The desktop notice of a batch offer: "NICK 发来 3 个文件夹, 1,204 个文件, 共 2.3 GB".
QString BatchOfferNotice(const BatchSummary& summary);
// Asked when the user closes the folder dialog of a batch offer without a choice.
QString RefuseBatchQuestion(qint64 files);

}  // namespace tvx
