// tolvex web: the page for browsers without Tolvex, served until interrupted.
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "commands/Commands.h"
#include "commands/EventNames.h"
#include "commands/JsonOutput.h"
#include "commands/TerminalOutput.h"
#include "common/Paths.h"
#include "platform/Headless.h"
#include "session/Session.h"
#include "texts/WebTexts.h"
#include "web/QrCode.h"
#include "web/WebServer.h"

namespace tvx {

int RunWebCommand(CommandContext& context, const CommandRequest& request) {
    TerminalOutput& output = context.output;
    Session& session = context.session;
    QString folder = QFileInfo(request.folder).absoluteFilePath();
    if (request.folder.isEmpty()) {
        folder = session.settings.autoRecvFile && FolderExists(session.settings.autoSavePath)
                     ? session.settings.autoSavePath
                     : QDir::currentPath();
    }
    const JsonEvents& json = context.json;
    const auto endEvent = [&](const QString& outcome, int status) {
        json.Emit(QStringLiteral("end"), QJsonObject{{QStringLiteral("outcome"), outcome},
                                                     {QStringLiteral("status"), status}});
        return status;
    };
    WebServer server(session);
    for (const QString& path : request.shares) {
        if (server.Share(path) == 0) {
            output.Message(QStringLiteral("无法提供下载,不是可读的文件:") + path);
            return endEvent(QStringLiteral("file-problem"), StatusLocalFile);
        }
    }
    const quint16 port = request.port > 0 ? quint16(request.port) : WebServer::kDefaultPort;
    const WebServer::StartFailure failure = server.Start(folder, port);
    if (failure != WebServer::StartFailure::None) {
        output.Message(WebStartFailureText(failure, port, folder));
        return endEvent(StartFailureName(failure), failure == WebServer::StartFailure::FolderMissing
                                                       ? StatusLocalFile
                                                       : StatusNetwork);
    }

    CommandLoop loop(StatusDone);
    QObject::connect(&server, &WebServer::Happened, &loop, [&](const WebEvent& event) {
        output.Message(WebEventLine(event));
        QJsonObject fields{{QStringLiteral("address"), event.address}};
        if (event.kind != WebEvent::Kind::AddressLockedOut) {
            fields.insert(QStringLiteral("name"), event.name);
            fields.insert(QStringLiteral("size"), event.size);
        }
        if (event.kind == WebEvent::Kind::Arrived || event.kind == WebEvent::Kind::UploadFailed)
            fields.insert(QStringLiteral("path"), event.path);
        if (event.kind == WebEvent::Kind::UploadFailed)
            fields.insert(QStringLiteral("systemError"), event.systemError);
        json.Emit(EventName(event.kind), fields);
    });
    QObject::connect(&context.stop, &StopSignals::StopRequested, &loop, [&] {
        if (loop.finished())
            return;
        server.Stop();
        endEvent(QStringLiteral("stopped"), StatusDone);
        loop.Finish(StatusDone);
    });

    output.Result(QStringLiteral("网页地址:") + server.Url());
    // On a terminal the code is drawn in colours of its own, so that it reads whatever the
    // terminal's own colours are; piped, it stays plain text.
    // With --json it goes to standard error with the other human lines.
    const int pictureStream = json.on() ? STDERR_FILENO : STDOUT_FILENO;
    output.Picture(QrHalfBlocks(EncodeQr(server.Url().toUtf8()), 2, ::isatty(pictureStream) == 1));
    output.Result(QStringLiteral("代码:") + server.Code());
    output.Message(QStringLiteral("收到的文件保存到 ") + folder);
    for (const WebShare& share : server.Shares())
        output.Message(QStringLiteral("提供下载:") + share.path);
    output.Message(WebPlainHttpNote());
    output.Message(QStringLiteral("按 Ctrl+C 停止。"));
    QJsonArray shares;
    for (const WebShare& share : server.Shares())
        shares.append(share.path);
    json.Emit(QStringLiteral("serving"), QJsonObject{{QStringLiteral("url"), server.Url()},
                                                     {QStringLiteral("code"), server.Code()},
                                                     {QStringLiteral("folder"), folder},
                                                     {QStringLiteral("shares"), shares}});
    return loop.Run();
}

}  // namespace tvx
