// tolvex send: one file to a running copy, with the send window's messages on standard error.
#include <QFileInfo>
#include <QTimer>

#include "commands/Commands.h"
#include "commands/TerminalOutput.h"
#include "common/Messages.h"
#include "platform/Headless.h"
#include "protocol/PeerMessages.h"
#include "session/Session.h"
#include "transfer/FileSendEngine.h"

namespace tvx {

namespace {

// The engine reports every failure as a text; the status follows from what failed.
int FailureStatus(const QString& filePath, const QString& text) {
    MessageKind kind = MessageKind::None;
    if (!FileSendEngine::FileProblem(filePath, &kind).isEmpty() ||
        text.contains(QStringLiteral("读取文件时发生错误")))
        return StatusLocalFile;
    if (text == QStringLiteral("无效的IP或TVX地址,请重新输入。"))
        return StatusUsage;
    return StatusNetwork;
}

}  // namespace

int RunSendCommand(CommandContext& context, const CommandRequest& request) {
    TerminalOutput& output = context.output;
    const QString peer = CheckCommandAddress(context, request.peerAddress);
    if (peer.isEmpty())
        return StatusUsage;
    MessageKind kind = MessageKind::None;
    const QString problem = FileSendEngine::FileProblem(request.filePath, &kind);
    if (!problem.isEmpty()) {
        output.Message(problem);
        return StatusLocalFile;
    }

    FileSendEngine engine(context.session);
    // The half-second pauses let the eye follow the send window's steps; a terminal keeps
    // every line, so a script's sends do not wait for them.
    engine.SetPauseMs(0);
    engine.SetRetryPolicy(request.retries > 0, request.retries + 1);
    TerminalProgress progress(output);

    CommandLoop loop(StatusNetwork, [&] { progress.End(); });

    // The refusals of the handshake come as signals and are written here.
    QObject::connect(&engine, &FileSendEngine::Refused, &loop, [&](const QString& text) {
        output.Message(text);
        loop.Finish(StatusRefused);
    });
    QObject::connect(&engine, &FileSendEngine::ConnectionBroken, &loop, [&](const QString& text) {
        output.Message(text);
        loop.Finish(StatusNetwork);
    });
    QObject::connect(&engine, &FileSendEngine::StepChanged, &loop, [&](int step) {
        if (step == 1) {
            output.Message(QStringLiteral("正在连接用户 ") + engine.request().shownAddress +
                           QStringLiteral(" ..."));
        } else if (step == 3) {
            output.Message(QStringLiteral("对方已收到请求,正在等待其回应..."));
        }
    });
    QObject::connect(&engine, &FileSendEngine::StatusLine, &loop, [&](const QString& text) {
        if (text.startsWith(QStringLiteral("(已尝试连接")))
            output.Message(text);
    });
    QObject::connect(&engine, &FileSendEngine::SendingStarted, &loop, [&] {
        progress.Begin(engine.fileName());
        progress.Update(engine.progress());
    });
    QObject::connect(&engine, &FileSendEngine::ProgressChanged, &loop,
                     [&] { progress.Update(engine.progress()); });
    QObject::connect(&engine, &FileSendEngine::SpeedTicked, &loop,
                     [&] { progress.Update(engine.progress()); });
    QObject::connect(&engine, &FileSendEngine::Outcome, &loop,
                     [&](int page, const QString& line, const QString& note) {
                         progress.End();
                         output.Message(line);
                         if (page != FileSendEngine::PageFinished) {
                             output.Message(QStringLiteral("附言:") + note);
                             loop.Finish(StatusRefused);
                         } else {
                             loop.Finish(StatusDone);
                         }
                     });
    QObject::connect(
        &engine, &FileSendEngine::Failure, &loop, [&](MessageKind, const QString& text, bool) {
            // A history log that cannot be written does not stop the transfer.
            if (engine.phase() != FileSendEngine::Phase::Idle) {
                output.Message(text);
                return;
            }
            progress.End();
            const int status = FailureStatus(request.filePath, text);
            output.Message(status == StatusUsage ? BadAddressMessage(request.peerAddress) : text);
            loop.Finish(status);
        });
    // The link may give up without a word (a handshake that goes wrong); the engine then
    // only returns to its input page.
    QObject::connect(&engine, &FileSendEngine::PageChanged, &loop, [&](int page) {
        if (page != FileSendEngine::PageInput)
            return;
        QTimer::singleShot(0, &loop, [&] {
            if (!loop.finished() && engine.phase() == FileSendEngine::Phase::Idle) {
                output.Message(ConnectionBrokenMessage());
                loop.Finish(StatusNetwork);
            }
        });
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
