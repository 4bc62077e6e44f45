// tolvex send: files and folders to a running copy, with the send window's messages on
// standard error.
#include <QDir>
#include <QFileInfo>
#include <memory>
#include <utility>

#include "commands/Commands.h"
#include "commands/EventNames.h"
#include "commands/JsonOutput.h"
#include "commands/TerminalOutput.h"
#include "common/Format.h"
#include "common/Messages.h"
#include "platform/Headless.h"
#include "protocol/PeerMessages.h"
#include "session/Session.h"
#include "texts/BatchTexts.h"
#include "texts/SecurityTexts.h"
#include "texts/SendTexts.h"
#include "transfer/FileSendEngine.h"

namespace tvx {

namespace {

// The status a failed send ends the command with, from what failed.
int FailureStatus(const SendOutcome& outcome) {
    using Kind = SendOutcome::Kind;
    switch (outcome.kind) {
        case Kind::Completed:
            return StatusDone;
        case Kind::Refused:
        case Kind::AutoRefused:
        case Kind::PeerCancelled:
        case Kind::LinkRefused:
        case Kind::BatchStopped:
            return StatusRefused;
        case Kind::FileProblem:
        case Kind::ReadFailed:
            return StatusLocalFile;
        case Kind::NetworkError:
            return ClassifyCallerError(outcome.error) == CallerFailure::BadAddress ? StatusUsage
                                                                                   : StatusNetwork;
        default:
            return StatusNetwork;
    }
}

// Walks the chosen files and folders, the typed paths made absolute so that "." and "../x" go
// under their real names, and says what goes and what does not. A link the user names is
// followed, as for a single file; the walk follows none inside a folder. Null, after the
// reason, when a typed path is missing or nothing can go.
std::shared_ptr<const BatchSelection> ScanChosen(TerminalOutput& output, const QStringList& typed) {
    QStringList chosen;
    for (const QString& path : typed) {
        const QFileInfo info(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
        if (!info.exists()) {
            output.Message(FileProblemMessage(FileProblem::Missing, path).text);
            return nullptr;
        }
        chosen << info.filePath();
    }
    auto selection = std::make_shared<const BatchSelection>(BatchSelection::Scan(chosen));
    output.Message(
        BatchSummaryLine(selection->folders(), selection->files(), selection->totalBytes()));
    for (const SkippedPath& skipped : selection->skipped())
        output.Message(SkippedPathLine(skipped));
    if (selection->isEmpty())
        return nullptr;
    return selection;
}

// The "end" event's fields: the outcome, its data and the exit status.
QJsonObject EndFields(const SendOutcome& outcome, int status) {
    using Kind = SendOutcome::Kind;
    QJsonObject fields{{QStringLiteral("outcome"), OutcomeName(outcome.kind)},
                       {QStringLiteral("status"), status},
                       {QStringLiteral("sent"), outcome.sent},
                       {QStringLiteral("size"), outcome.size}};
    if (!outcome.fileName.isEmpty())
        fields.insert(QStringLiteral("file"), outcome.fileName);
    if (outcome.kind == Kind::Refused || outcome.kind == Kind::AutoRefused ||
        outcome.kind == Kind::PeerCancelled || outcome.kind == Kind::LinkRefused)
        fields.insert(QStringLiteral("note"), outcome.note);
    if (outcome.kind == Kind::LinkRefused)
        fields.insert(QStringLiteral("refusal"), RefusalName(outcome.refusal));
    if (outcome.error != SocketError::None)
        fields.insert(QStringLiteral("error"), SocketErrorName(outcome.error));
    if (outcome.kind == Kind::FileProblem)
        fields.insert(QStringLiteral("problem"), FileProblemName(outcome.fileProblem));
    if (!outcome.systemError.isEmpty())
        fields.insert(QStringLiteral("systemError"), outcome.systemError);
    if (outcome.attempts > 0)
        fields.insert(QStringLiteral("attempts"), outcome.attempts);
    if (outcome.kind == Kind::BatchStopped)
        fields.insert(QStringLiteral("stop"), BatchStopName(outcome.stop.reason));
    if (outcome.batch) {
        fields.insert(QStringLiteral("files"), outcome.files);
        fields.insert(QStringLiteral("filesDone"), outcome.filesDone);
        fields.insert(QStringLiteral("skipped"), QJsonArray::fromStringList(outcome.skipped));
        fields.insert(QStringLiteral("refused"), QJsonArray::fromStringList(outcome.refused));
    }
    return fields;
}

// An end without an outcome of the engine: a bad address, a file that cannot go, Ctrl+C.
int EmitEnd(const JsonEvents& json, const QString& outcome, int status) {
    json.Emit(QStringLiteral("end"), QJsonObject{{QStringLiteral("outcome"), outcome},
                                                 {QStringLiteral("status"), status}});
    return status;
}

}  // namespace

int RunSendCommand(CommandContext& context, const CommandRequest& request) {
    TerminalOutput& output = context.output;
    const JsonEvents& json = context.json;
    const QString peer = CheckCommandAddress(context, request.peerAddress);
    if (peer.isEmpty())
        return EmitEnd(json, QStringLiteral("bad-address"), StatusUsage);
    // One plain file goes as it always has; anything else is walked first.
    std::shared_ptr<const BatchSelection> batch;
    const QString& firstPath = request.paths.constFirst();
    if (request.paths.size() == 1 && !QFileInfo(firstPath).isDir()) {
        const FileProblem problem = FileSendEngine::CheckFile(firstPath);
        if (problem != FileProblem::None) {
            output.Message(FileProblemMessage(problem, firstPath).text);
            return EmitEnd(json, OutcomeName(SendOutcome::Kind::FileProblem), StatusLocalFile);
        }
    } else {
        batch = ScanChosen(output, request.paths);
        if (!batch)
            return EmitEnd(json, OutcomeName(SendOutcome::Kind::FileProblem), StatusLocalFile);
    }

    FileSendEngine engine(context.session);
    // The half-second pauses let the eye follow the send window's steps; a terminal keeps
    // every line, so a script's sends do not wait for them.
    engine.SetPauseMs(0);
    engine.SetRetryPolicy(request.retries > 0, request.retries + 1);
    TerminalProgress progress(output);
    JsonProgress jsonProgress(json);
    bool started = false;

    CommandLoop loop(StatusNetwork, [&] { progress.End(); });

    QObject::connect(&engine, &FileSendEngine::StepChanged, &loop, [&](int step) {
        if (step == 1) {
            output.Message(SendConnectingLine(engine.request().shownAddress));
        } else if (step == 2) {
            output.Message(EncryptionLine(engine.encrypted(), engine.peerFingerprint()));
        } else if (step == 3) {
            output.Message(SendWaitingForAnswerLine());
        }
    });
    QObject::connect(&engine, &FileSendEngine::Retrying, &loop,
                     [&](int attempt) { output.Message(SendTriedLine(attempt)); });
    const auto update = [&] {
        if (batch) {
            progress.Update(engine.progress(), engine.batchProgress());
            jsonProgress.Update(engine.progress(), engine.batchProgress());
        } else {
            progress.Update(engine.progress());
            jsonProgress.Update(engine.progress());
        }
    };
    QObject::connect(&engine, &FileSendEngine::SendingStarted, &loop, [&] {
        // Once per send; a retry or the next file sent one by one goes on with it.
        if (!std::exchange(started, true)) {
            const QJsonArray files =
                batch ? FileList(batch->entries())
                      : QJsonArray{FileObject(engine.fileName(), engine.progress().Total())};
            json.Emit(QStringLiteral("started"),
                      QJsonObject{{QStringLiteral("peer"), peer},
                                  {QStringLiteral("files"), files},
                                  {QStringLiteral("count"), files.size()},
                                  {QStringLiteral("bytes"),
                                   batch ? batch->totalBytes() : engine.progress().Total()}});
            jsonProgress.Begin(engine.progress().Position());
        }
        if (batch)
            progress.BeginBatch(engine.batchProgress());
        else
            progress.Begin(engine.fileName());
        update();
    });
    QObject::connect(&engine, &FileSendEngine::ProgressChanged, &loop, update);
    QObject::connect(&engine, &FileSendEngine::SpeedTicked, &loop, update);
    QObject::connect(&engine, &FileSendEngine::FileDone, &loop,
                     [&](const QString& path, qint64 size) {
                         json.Emit(QStringLiteral("file-done"), FileObject(path, size));
                     });
    bool oneByOneTold = false;
    QObject::connect(&engine, &FileSendEngine::OneByOne, &loop, [&](qint64 files) {
        if (!std::exchange(oneByOneTold, true))
            output.Message(OneByOneNotice(files));
    });
    // A history log that cannot be written does not stop the transfer.
    QObject::connect(&engine, &FileSendEngine::LogWriteFailed, &loop,
                     [&](const QString& warning) { output.Message(warning); });
    QObject::connect(&engine, &FileSendEngine::Ended, &loop, [&](const SendOutcome& outcome) {
        // This side's own cancel is reported where it is made.
        if (loop.finished() || outcome.kind == SendOutcome::Kind::Cancelled)
            return;
        progress.End();
        int status = FailureStatus(outcome);
        const QString line = SendOutcomeLine(outcome);
        if (!line.isEmpty()) {
            output.Message(line);
            if (status != StatusDone)
                output.Message(QStringLiteral("附言:") + SendOutcomeNote(outcome));
        } else if (status == StatusUsage) {
            output.Message(BadAddressMessage(request.peerAddress));
        } else {
            // The link may give up without a word (a handshake that goes wrong).
            const UserMessage message = SendFailureMessage(outcome);
            output.Message(message.isEmpty() ? ConnectionBrokenText() : message.text);
            if (outcome.kind == SendOutcome::Kind::LinkRefused &&
                !TrustFlagHint(outcome.refusal).isEmpty())
                output.Message(TrustFlagHint(outcome.refusal));
        }
        // The rest went; what did not is named once more at the end.
        if (!outcome.skipped.isEmpty()) {
            output.Message(SkippedFilesText(outcome.skipped));
            if (status == StatusDone)
                status = StatusLocalFile;
        }
        if (outcome.kind == SendOutcome::Kind::Completed && !batch)
            json.Emit(QStringLiteral("file-done"), FileObject(outcome.fileName, outcome.size));
        json.Emit(QStringLiteral("end"), EndFields(outcome, status));
        loop.Finish(status);
    });
    QObject::connect(&context.stop, &StopSignals::StopRequested, &loop, [&] {
        // A second signal (timeout(1) signals the child and then its group) changes nothing.
        if (loop.finished())
            return;
        // Said after the bar, with how far the bytes had come.
        const bool wasSending = engine.sending();
        const QString done = engine.progress().PercentText();
        progress.Update(engine.progress());
        if (!engine.CancelSending(QString()))
            engine.Cancel();
        progress.End();
        QString line = batch ? QStringLiteral("已取消发送 ") + GroupThousands(batch->files()) +
                                   QStringLiteral(" 个文件")
                             : QStringLiteral("已取消发送文件\"") +
                                   QFileInfo(firstPath).fileName() + QLatin1Char('"');
        if (wasSending)
            line += QStringLiteral(",目前已发送 ") + done + QStringLiteral(" ");
        output.Message(line + QStringLiteral("。"));
        EmitEnd(json, OutcomeName(SendOutcome::Kind::Cancelled), StatusRefused);
        loop.Finish(StatusRefused);
    });

    FileSendEngine::Request send;
    send.peerAddress = peer;
    send.shownAddress = request.peerAddress.toUpper();
    send.typedAddress = request.peerAddress;
    if (batch)
        send.batch = batch;
    else
        send.filePath = firstPath;
    send.note = request.note;
    send.verificationCode = request.code;
    engine.Start(send);
    return loop.Run();
}

}  // namespace tvx
