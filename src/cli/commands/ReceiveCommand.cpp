// tolvex receive: a receiver without a window that takes every offer, a file or a batch of
// files and folders, into one folder.
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "commands/Commands.h"
#include "commands/EventNames.h"
#include "commands/JsonOutput.h"
#include "commands/TerminalOutput.h"
#include "common/Format.h"
#include "common/Handshake.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "platform/Headless.h"
#include "session/Session.h"
#include "texts/BatchTexts.h"
#include "texts/ReceiveTexts.h"
#include "texts/SecurityTexts.h"
#include "transfer/FileReceiveEngine.h"
#include "transfer/ReceiveRules.h"

namespace tvx {

namespace {

// The exit status an outcome ends the command with.
int ReceiveStatus(ReceiveOutcome::Kind kind) {
    switch (kind) {
        case ReceiveOutcome::Kind::ListenerFailed:
            return StatusNetwork;
        case ReceiveOutcome::Kind::AutoSaveFolderMissing:
            return StatusLocalFile;
        default:
            return StatusDone;
    }
}

// Takes the waiting offer as the user of the receiving page would with the folder's path for
// the name: a temporary file shorter than the offer is resumed, anything else starts afresh.
// With overwrite an existing file is replaced once the new one is complete.
void AcceptOffer(FileReceiveEngine& engine, TerminalOutput& output, quint64 offer,
                 const QString& folder, bool overwrite) {
    if (!engine.OfferWaits(offer))
        return;
    engine.StopWaiting();
    engine.ChooseTarget(offer, WithTrailingSlash(folder) + engine.SaveName());
    if (engine.HeldBytes() == FileReceiveEngine::Held::Resumable) {
        output.Message(HeldShareText(double(engine.HeldLength()) / double(engine.Offer().length)) +
                       QStringLiteral(",继续接收剩余字节。"));
    }
    engine.Accept(offer, FileReceiveEngine::Start::AfterHeldBytes, overwrite);
}

// What ends a transfer, as against a notice of one that goes on (or has ended well).
bool EndsTransfer(ReceiveOutcome::Kind kind) {
    using Kind = ReceiveOutcome::Kind;
    return kind != Kind::HistoryNotWritten && kind != Kind::ReplaceFailedRenamed &&
           kind != Kind::TempFileNotReplaced;
}

// An outcome's name and data as event fields.
QJsonObject OutcomeFields(const ReceiveOutcome& outcome) {
    using Kind = ReceiveOutcome::Kind;
    QJsonObject fields{{QStringLiteral("outcome"), OutcomeName(outcome.kind)}};
    if (!outcome.path.isEmpty())
        fields.insert(QStringLiteral("path"), outcome.path);
    if (!outcome.systemError.isEmpty())
        fields.insert(QStringLiteral("systemError"), outcome.systemError);
    if (outcome.socketError != SocketError::None)
        fields.insert(QStringLiteral("error"), SocketErrorName(outcome.socketError));
    if (!outcome.peerName.isEmpty())
        fields.insert(QStringLiteral("nick"), outcome.peerName);
    if (outcome.kind == Kind::BatchRefused || outcome.kind == Kind::NoSpace) {
        fields.insert(QStringLiteral("stop"), BatchStopName(outcome.stop.reason));
        fields.insert(QStringLiteral("needed"), outcome.stop.needed);
        fields.insert(QStringLiteral("available"), outcome.stop.available);
    }
    return fields;
}

}  // namespace

int RunReceiveCommand(CommandContext& context, const CommandRequest& request) {
    TerminalOutput& output = context.output;
    Session& session = context.session;
    const QString folder = request.folder.isEmpty() ? QDir::currentPath()
                                                    : QFileInfo(request.folder).absoluteFilePath();
    if (!FolderExists(folder)) {
        ReceiveOutcome missing;
        missing.kind = ReceiveOutcome::Kind::AutoSaveFolderMissing;
        missing.path = folder;
        output.Message(ReceiveMessage(missing).text);
        QJsonObject fields = OutcomeFields(missing);
        fields.insert(QStringLiteral("status"), ReceiveStatus(missing.kind));
        context.json.Emit(QStringLiteral("end"), fields);
        return ReceiveStatus(missing.kind);
    }
    // Every offer is decided here, at once, whatever the desktop's automatic receiving says.
    session.settings.autoRecvFile = false;
    session.settings.existFile = request.overwrite;
    if (request.codeGiven)
        session.settings.passWord1 = request.code.isEmpty() ? QString() : Digest(request.code);

    FileReceiveEngine engine(session);
    engine.SetCompletionPauseMs(0);
    TerminalProgress progress(output);
    const JsonEvents& json = context.json;
    JsonProgress jsonProgress(json);

    CommandLoop loop(StatusDone, [&] { progress.End(); });
    // The command's end, told once.
    const auto finish = [&](QJsonObject fields, int status) {
        if (loop.finished())
            return;
        fields.insert(QStringLiteral("status"), status);
        json.Emit(QStringLiteral("end"), fields);
        loop.Finish(status);
    };
    // The sender of the transfer under way.
    const auto peerFields = [&](QJsonObject fields) {
        fields.insert(QStringLiteral("peer"), engine.ControlLink().remoteAddress());
        fields.insert(QStringLiteral("tvx"), engine.Identity().value(0));
        fields.insert(QStringLiteral("nick"), engine.PeerNickName());
        return fields;
    };
    const auto transferEnd = [&](QJsonObject fields) {
        json.Emit(QStringLiteral("transfer-end"), peerFields(fields));
    };

    QObject::connect(&engine, &FileReceiveEngine::Reported, &loop,
                     [&](const ReceiveOutcome& outcome) {
                         if (outcome.kind != ReceiveOutcome::Kind::HistoryNotWritten)
                             progress.End();
                         output.Message(ReceiveMessage(outcome).text);
                         // The command receives on after a failed transfer; only the end of
                         // its listener ends it.
                         if (outcome.kind == ReceiveOutcome::Kind::ListenerFailed)
                             finish(OutcomeFields(outcome), ReceiveStatus(outcome.kind));
                         else if (EndsTransfer(outcome.kind))
                             transferEnd(OutcomeFields(outcome));
                         else
                             json.Emit(QStringLiteral("warning"), OutcomeFields(outcome));
                     });
    // The offer as a script sees it: a single file is a batch of one.
    const auto offerEvent = [&](bool batch, const QStringList& names, qint64 folders, qint64 files,
                                qint64 bytes, const QString& note) {
        json.Emit(
            QStringLiteral("offer"),
            peerFields(QJsonObject{{QStringLiteral("batch"), batch},
                                   {QStringLiteral("names"), QJsonArray::fromStringList(names)},
                                   {QStringLiteral("folders"), folders},
                                   {QStringLiteral("count"), files},
                                   {QStringLiteral("bytes"), bytes},
                                   {QStringLiteral("note"), note}}));
    };
    const auto decide = [&](quint64 offer) {
        AcceptOffer(engine, output, offer, folder, request.overwrite);
    };
    QObject::connect(
        &engine, &FileReceiveEngine::OfferWaiting, &loop,
        [&](const QString& nickName, const QString& fileName, qint64 length) {
            output.Message(OfferArrivedText(session.system().Now()) + QStringLiteral(": ") +
                           nickName + QStringLiteral(" \"") + fileName + QStringLiteral("\" ") +
                           FormatSizeWithBytes(qint32(length)));
            output.Message(EncryptionLine(engine.Encrypted(), engine.PeerFingerprint()));
            if (!TrimSpaces(engine.Offer().note).isEmpty())
                output.Message(QStringLiteral("附言:") + engine.Offer().note);
            offerEvent(false, {fileName}, 0, 1, length, engine.Offer().note);
            // Decided once the engine has finished putting the offer up.
            QTimer::singleShot(0, &engine, [&, offer = engine.OfferKey()] { decide(offer); });
        });
    // A batch is asked once and taken whole into the folder, its tree kept.
    QObject::connect(
        &engine, &FileReceiveEngine::BatchOfferWaiting, &loop, [&](const BatchSummary& summary) {
            output.Message(OfferArrivedText(session.system().Now()) + QStringLiteral(": ") +
                           summary.nickName + QLatin1Char(' ') +
                           BatchSummaryLine(summary.folders, summary.files, summary.totalBytes));
            output.Message(BatchTopNamesLine(summary.topNames));
            output.Message(EncryptionLine(engine.Encrypted(), engine.PeerFingerprint()));
            if (!TrimSpaces(summary.note).isEmpty())
                output.Message(QStringLiteral("附言:") + summary.note);
            offerEvent(true, summary.topNames, summary.folders, summary.files, summary.totalBytes,
                       summary.note);
            QTimer::singleShot(0, &engine, [&, offer = engine.OfferKey()] {
                if (!engine.OfferWaits(offer))
                    return;
                engine.StopWaiting();
                engine.AcceptBatch(offer, folder);
            });
        });
    const auto update = [&](const TransferProgress& p) {
        if (engine.BatchOffered()) {
            progress.Update(p, engine.batchProgress());
            jsonProgress.Update(p, engine.batchProgress());
        } else {
            progress.Update(p);
            jsonProgress.Update(p);
        }
    };
    QObject::connect(&engine, &FileReceiveEngine::ReceivingStarted, &loop, [&] {
        const QJsonArray files =
            engine.BatchOffered()
                ? FileList(engine.batchEntries())
                : QJsonArray{FileObject(engine.Offer().fileName, engine.Offer().length)};
        json.Emit(
            QStringLiteral("started"),
            peerFields(QJsonObject{{QStringLiteral("files"), files},
                                   {QStringLiteral("count"), files.size()},
                                   {QStringLiteral("bytes"), engine.Progress().Total()},
                                   {QStringLiteral("position"), engine.Progress().Position()}}));
        jsonProgress.Begin(engine.Progress().Position());
        if (engine.BatchOffered())
            progress.BeginBatch(engine.batchProgress());
        else
            progress.Begin(engine.Offer().fileName);
        update(engine.Progress());
    });
    QObject::connect(&engine, &FileReceiveEngine::ProgressChanged, &loop, update);
    QObject::connect(&engine, &FileReceiveEngine::SpeedMeasured, &loop, update);
    QObject::connect(&engine, &FileReceiveEngine::BatchFileDone, &loop,
                     [&](const QString& path, qint64 size, const QString& savedPath) {
                         QJsonObject fields = FileObject(path, size);
                         fields.insert(QStringLiteral("path"), savedPath);
                         json.Emit(QStringLiteral("file-done"), fields);
                     });
    QObject::connect(
        &engine, &FileReceiveEngine::BatchReceived, &loop,
        [&](const QString& where, const QStringList&, qint64 files, qint64, bool) {
            progress.End();
            transferEnd(QJsonObject{{QStringLiteral("outcome"), QStringLiteral("done")},
                                    {QStringLiteral("path"), where},
                                    {QStringLiteral("count"), files},
                                    {QStringLiteral("bytes"), engine.batchSummary().totalBytes}});
            output.Message(BatchReceivedLine(engine.PeerNickName(), files,
                                             engine.batchSummary().totalBytes, where));
        });
    QObject::connect(
        &engine, &FileReceiveEngine::Received, &loop,
        [&](const QString& targetPath, qint64 elapsedSeconds, bool) {
            progress.End();
            QJsonObject file = FileObject(engine.Offer().fileName, engine.Offer().length);
            file.insert(QStringLiteral("path"), targetPath);
            json.Emit(QStringLiteral("file-done"), file);
            transferEnd(QJsonObject{{QStringLiteral("outcome"), QStringLiteral("done")},
                                    {QStringLiteral("path"), targetPath},
                                    {QStringLiteral("count"), 1},
                                    {QStringLiteral("bytes"), engine.Offer().length}});
            output.Message(
                ReceivedText(engine.PeerNickName(), targetPath,
                             session.system().Now().time().toString(QStringLiteral("H:mm:ss")),
                             elapsedSeconds, QStringLiteral("\r\n")));
        });
    QObject::connect(
        &engine, &FileReceiveEngine::SenderCancelled, &loop,
        [&](const QString& note, double ratio) {
            progress.End();
            transferEnd(QJsonObject{
                {QStringLiteral("outcome"), OutcomeName(ReceiveOutcome::Kind::SenderCancelled)},
                {QStringLiteral("note"), note},
                {QStringLiteral("share"), ratio}});
            output.Message(
                SenderCancelledLine(engine.PeerNickName(), engine.Offer().fileName, ratio));
            output.Message(QStringLiteral("取消附言:") + NoteOrNone(note));
        });
    QObject::connect(&context.stop, &StopSignals::StopRequested, &loop, [&] {
        if (loop.finished())
            return;
        // The temporary file of a transfer under way stays for a later resume, and the user
        // is told where it is.
        const bool wasReceiving = progress.Active();
        const QString done = engine.Progress().PercentText();
        progress.Update(engine.Progress());
        const QString held = engine.TargetPath() + QStringLiteral(".tvx");
        const bool batch = engine.BatchOffered();
        const qint64 files = engine.batchSummary().files;
        engine.Shutdown();
        progress.End();
        if (wasReceiving && batch) {
            // The complete files and the partial one stay where they are.
            output.Message(QStringLiteral("已停止接收 ") + GroupThousands(files) +
                           QStringLiteral(" 个文件,目前已接收 ") + done + QStringLiteral(" 。") +
                           QStringLiteral("\r\n") +
                           QStringLiteral("再次接收同一批文件时将从中断处继续。"));
        } else if (wasReceiving && FileExists(held)) {
            output.Message(QStringLiteral("已停止接收文件\"") + engine.Offer().fileName +
                           QStringLiteral("\",目前已接收 ") + done + QStringLiteral(" 。") +
                           QStringLiteral("\r\n") + QStringLiteral("临时文件已保留:") + held +
                           QStringLiteral("\r\n") +
                           QStringLiteral("再次接收同一文件时将从中断处继续。"));
        }
        finish(QJsonObject{{QStringLiteral("outcome"), QStringLiteral("stopped")}}, StatusDone);
    });

    QObject::connect(&engine, &FileReceiveEngine::CallerRejected, &loop,
                     [&](LinkRefusal refusal, const QString& address) {
                         output.Message(CallerRejectedText(refusal, address));
                         json.Emit(QStringLiteral("rejected"),
                                   QJsonObject{{QStringLiteral("peer"), address},
                                               {QStringLiteral("refusal"), RefusalName(refusal)}});
                         if (!TrustFlagHint(refusal).isEmpty())
                             output.Message(TrustFlagHint(refusal));
                     });
    if (!engine.StartFileListener()) {
        finish(QJsonObject{{QStringLiteral("outcome"),
                            OutcomeName(ReceiveOutcome::Kind::ListenerFailed)}},
               ReceiveStatus(ReceiveOutcome::Kind::ListenerFailed));
        return ReceiveStatus(ReceiveOutcome::Kind::ListenerFailed);
    }
    output.Message(QStringLiteral("Tolvex ") + session.localAddress + QStringLiteral(" (") +
                   session.localAddressCode + QStringLiteral(") 正在等待接收文件,保存到 ") +
                   folder);
    output.Message(
        OwnFingerprintLine(session.identity ? session.identity->fingerprint() : QByteArray()));
    json.Emit(QStringLiteral("listening"),
              QJsonObject{{QStringLiteral("address"), session.localAddress},
                          {QStringLiteral("tvx"), session.localAddressCode},
                          {QStringLiteral("folder"), folder}});
    return loop.Run();
}

}  // namespace tvx
