// tolvex send: one file to a running copy, with the send window's messages on standard error.
#include <QFileInfo>

#include "commands/Commands.h"
#include "commands/TerminalOutput.h"
#include "common/Messages.h"
#include "platform/Headless.h"
#include "protocol/PeerMessages.h"
#include "session/Session.h"
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

}  // namespace

int RunSendCommand(CommandContext& context, const CommandRequest& request) {
    TerminalOutput& output = context.output;
    const QString peer = CheckCommandAddress(context, request.peerAddress);
    if (peer.isEmpty())
        return StatusUsage;
    const FileProblem problem = FileSendEngine::CheckFile(request.filePath);
    if (problem != FileProblem::None) {
        output.Message(FileProblemMessage(problem, request.filePath).text);
        return StatusLocalFile;
    }

    FileSendEngine engine(context.session);
    // The half-second pauses let the eye follow the send window's steps; a terminal keeps
    // every line, so a script's sends do not wait for them.
    engine.SetPauseMs(0);
    engine.SetRetryPolicy(request.retries > 0, request.retries + 1);
    TerminalProgress progress(output);

    CommandLoop loop(StatusNetwork, [&] { progress.End(); });

    QObject::connect(&engine, &FileSendEngine::StepChanged, &loop, [&](int step) {
        if (step == 1) {
            output.Message(SendConnectingLine(engine.request().shownAddress));
        } else if (step == 3) {
            output.Message(SendWaitingForAnswerLine());
        }
    });
    QObject::connect(&engine, &FileSendEngine::Retrying, &loop,
                     [&](int attempt) { output.Message(SendTriedLine(attempt)); });
    QObject::connect(&engine, &FileSendEngine::SendingStarted, &loop, [&] {
        progress.Begin(engine.fileName());
        progress.Update(engine.progress());
    });
    QObject::connect(&engine, &FileSendEngine::ProgressChanged, &loop,
                     [&] { progress.Update(engine.progress()); });
    QObject::connect(&engine, &FileSendEngine::SpeedTicked, &loop,
                     [&] { progress.Update(engine.progress()); });
    // A history log that cannot be written does not stop the transfer.
    QObject::connect(&engine, &FileSendEngine::LogWriteFailed, &loop,
                     [&](const QString& warning) { output.Message(warning); });
    QObject::connect(&engine, &FileSendEngine::Ended, &loop, [&](const SendOutcome& outcome) {
        // This side's own cancel is reported where it is made.
        if (loop.finished() || outcome.kind == SendOutcome::Kind::Cancelled)
            return;
        progress.End();
        const int status = FailureStatus(outcome);
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
        }
        loop.Finish(status);
    });
    QObject::connect(&context.stop, &StopSignals::StopRequested, &loop, [&] {
        // Said after the bar, with how far the bytes had come.
        const bool wasSending = engine.sending();
        const QString done = engine.progress().PercentText();
        progress.Update(engine.progress());
        if (!engine.CancelSending(QString()))
            engine.Cancel();
        progress.End();
        QString line = QStringLiteral("已取消发送文件\"") + QFileInfo(request.filePath).fileName() +
                       QLatin1Char('"');
        if (wasSending)
            line += QStringLiteral(",目前已发送 ") + done + QStringLiteral(" ");
        output.Message(line + QStringLiteral("。"));
        loop.Finish(StatusRefused);
    });

    FileSendEngine::Request send;
    send.peerAddress = peer;
    send.shownAddress = request.peerAddress.toUpper();
    send.typedAddress = request.peerAddress;
    send.filePath = request.filePath;
    send.note = request.note;
    send.verificationCode = request.code;
    engine.Start(send);
    return loop.Run();
}

}  // namespace tvx
