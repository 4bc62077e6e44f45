#include "commands/CommandLine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "address/AddressCode.h"
#include "commands/Commands.h"
#include "commands/TerminalOutput.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "platform/Headless.h"
#include "presence/PresenceService.h"
#include "records/AddressFiles.h"
#include "records/PersonalInfo.h"
#include "records/Settings.h"
#include "session/Session.h"
#include "startup/Language.h"
#include "startup/LocalAddress.h"

#ifndef TOLVEX_VERSION
#define TOLVEX_VERSION "0"
#endif

namespace tvx {

namespace {

using Kind = CommandRequest::Kind;

bool IsGlobalOption(const QString& name) {
    return name == QLatin1String("--address") || name == QLatin1String("--data-dir");
}

// The options each command takes besides the global ones, and whether they carry a value.
struct OptionSpec {
    const char* name;
    bool hasValue;
};

QList<OptionSpec> OptionsOf(Kind kind) {
    switch (kind) {
        case Kind::Send:
            return {{"--note", true}, {"--code", true}, {"--retry", true}};
        case Kind::Receive:
            return {{"--to", true}, {"--code", true}, {"--overwrite", false}};
        case Kind::Chat:
            return {{"--code", true}};
        case Kind::Peers:
            return {{"--wait", true}};
        default:
            return {};
    }
}

int PositionalCount(Kind kind) {
    switch (kind) {
        case Kind::Send:
            return 2;
        case Kind::Chat:
            return 1;
        default:
            return 0;
    }
}

QString CommandName(Kind kind) {
    switch (kind) {
        case Kind::Send:
            return QStringLiteral("send");
        case Kind::Receive:
            return QStringLiteral("receive");
        case Kind::Chat:
            return QStringLiteral("chat");
        default:
            return QStringLiteral("peers");
    }
}

// The command word: the first argument that is neither an option nor a global option's value.
int FindCommandWord(const QStringList& arguments) {
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (IsGlobalOption(argument)) {
            ++i;
            continue;
        }
        if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-"))
            return i;
    }
    return -1;
}

bool TakeOption(Kind kind, const QString& name, const QString& value, CommandRequest& request,
                QString& error) {
    if (name == QLatin1String("--note")) {
        request.note = value;
        request.note.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        request.note.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    } else if (name == QLatin1String("--code")) {
        request.code = value;
        request.codeGiven = true;
    } else if (name == QLatin1String("--retry")) {
        bool ok = false;
        request.retries = value.toInt(&ok);
        if (!ok || request.retries < 0 || request.retries > 999) {
            error = QStringLiteral("--retry needs a whole number from 0 to 999");
            return false;
        }
    } else if (name == QLatin1String("--to")) {
        if (value.isEmpty()) {
            error = QStringLiteral("--to needs a folder");
            return false;
        }
        request.folder = value;
    } else if (name == QLatin1String("--overwrite")) {
        request.overwrite = true;
    } else if (name == QLatin1String("--wait")) {
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 3600) {
            error = QStringLiteral("--wait needs a number of seconds from 0 to 3600");
            return false;
        }
        request.waitMs = int(seconds * 1000);
    } else {
        error =
            QStringLiteral("unknown option for ") + CommandName(kind) + QStringLiteral(": ") + name;
        return false;
    }
    return true;
}

}  // namespace

bool ParseCommandLine(const QStringList& arguments, CommandRequest& request, QString& error) {
    request = CommandRequest();
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            request.kind = Kind::Help;
            return true;
        }
        if (argument == QLatin1String("--version")) {
            request.kind = Kind::Version;
            return true;
        }
    }
    const int word = FindCommandWord(arguments);
    if (word < 0)
        return true;  // the desktop program
    const QString& command = arguments[word];
    if (command == QLatin1String("send")) {
        request.kind = Kind::Send;
    } else if (command == QLatin1String("receive")) {
        request.kind = Kind::Receive;
    } else if (command == QLatin1String("chat")) {
        request.kind = Kind::Chat;
    } else if (command == QLatin1String("peers")) {
        request.kind = Kind::Peers;
    } else {
        error =
            QStringLiteral("unknown command: ") + command + QStringLiteral(" (see tolvex --help)");
        return false;
    }

    QStringList global;
    QStringList positional;
    const QList<OptionSpec> specs = OptionsOf(request.kind);
    for (int i = 0; i < arguments.size(); ++i) {
        if (i == word)
            continue;
        const QString& argument = arguments[i];
        if (!argument.startsWith(QLatin1String("--"))) {
            positional << argument;
            continue;
        }
        const int equals = argument.indexOf(QLatin1Char('='));
        const QString name = equals > 0 ? argument.left(equals) : argument;
        if (IsGlobalOption(name)) {
            global << argument;
            if (equals < 0 && i + 1 < arguments.size())
                global << arguments[++i];
            continue;
        }
        const auto spec = std::find_if(specs.begin(), specs.end(), [&](const OptionSpec& s) {
            return name == QLatin1String(s.name);
        });
        if (spec == specs.end()) {
            error = QStringLiteral("unknown option for ") + CommandName(request.kind) +
                    QStringLiteral(": ") + argument;
            return false;
        }
        QString value;
        if (spec->hasValue) {
            if (equals > 0) {
                value = argument.mid(equals + 1);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                error = name + QStringLiteral(" needs a value");
                return false;
            }
        } else if (equals > 0) {
            error = name + QStringLiteral(" takes no value");
            return false;
        }
        if (!TakeOption(request.kind, name, value, request, error))
            return false;
    }
    if (!ParseOptions(global, request.startup, error))
        return false;

    const int wanted = PositionalCount(request.kind);
    if (positional.size() != wanted) {
        error = CommandName(request.kind) +
                (request.kind == Kind::Send   ? QStringLiteral(" needs ADDRESS FILE")
                 : request.kind == Kind::Chat ? QStringLiteral(" needs ADDRESS")
                                              : QStringLiteral(" takes no arguments")) +
                QStringLiteral(" (see tolvex --help)");
        return false;
    }
    if (request.kind == Kind::Send) {
        request.peerAddress = positional[0];
        request.filePath = positional[1];
    } else if (request.kind == Kind::Chat) {
        request.peerAddress = positional[0];
    }
    return true;
}

QString HelpText() {
    return QStringLiteral(
        "Usage: tolvex [--address A] [--data-dir DIR]\n"
        "       tolvex COMMAND [options]\n"
        "\n"
        "Without a command the desktop program starts.\n"
        "\n"
        "Commands (no display needed):\n"
        "  send ADDRESS FILE [--note TEXT] [--code CODE] [--retry N]\n"
        "      Send FILE to the copy at ADDRESS (IPv4 or TVX address), resuming where the\n"
        "      peer's temporary file ends. --retry N tries N more times when no connection.\n"
        "  receive [--to DIR] [--code CODE] [--overwrite]\n"
        "      Receive files on ports 8510/8511 into DIR (default: the current folder) until\n"
        "      interrupted; existing names get a number unless --overwrite.\n"
        "  chat ADDRESS [--code CODE]\n"
        "      Invite the copy at ADDRESS to a chat; each line of input is sent, the peer's\n"
        "      lines are printed with their time; end of input leaves the chat.\n"
        "  peers [--wait SECONDS]\n"
        "      Ask the copies on the network and print nickname, TVX address and IPv4\n"
        "      address of each one that answers within SECONDS (default 2).\n"
        "\n"
        "Options for every command:\n"
        "  --address A     the local IPv4 address to use\n"
        "  --data-dir DIR  the folder of the history log and the block list\n"
        "  --help          show this text\n"
        "  --version       show the version\n"
        "\n"
        "Exit status: 0 done; 1 refused, cancelled or stopped by the peer; 2 bad usage or a\n"
        "bad address; 3 network failure (no connection, time-out, port in use, connection\n"
        "lost); 4 a local file error.\n");
}

QString VersionText() {
    return QStringLiteral("tolvex ") + QStringLiteral(TOLVEX_VERSION);
}

QString BadAddressMessage(const QString& typed) {
    return QStringLiteral("无效的IP或TVX地址:") + typed;
}

QString CheckCommandAddress(CommandContext& context, const QString& typed) {
    const QString peer = ResolvePeerAddress(typed);
    if (typed.isEmpty()) {
        context.output.Message(QStringLiteral("必须输入对方IP或TVX地址。"));
    } else if (peer.isEmpty()) {
        context.output.Message(BadAddressMessage(typed));
    } else if (peer == ResolvePeerAddress(context.session.localAddress)) {
        context.output.Message(QStringLiteral("目标地址不能为本地地址:") + typed);
    } else {
        return peer;
    }
    return QString();
}

namespace {

// The start-up steps a command needs: the local address (given, or the only usable one), its
// TVX address, the card, the settings and the block list, and the data folder. No lock: a
// command runs beside the desktop program.
bool PrepareSession(Session& session, const CommandRequest& request, TerminalOutput& output,
                    int& status) {
    const StartupOptions& options = request.startup;
    if (!options.address.isEmpty()) {
        session.localAddressList = QStringList{options.address};
    } else {
        QList<Ipv4Bytes> table;
        QString error;
        if (!session.system().AddressTable(table, error)) {
            output.Message(QStringLiteral("Tolvex获得本地IP地址时发生错误:\r\n\r\n") + error);
            status = StatusNetwork;
            return false;
        }
        session.localAddressList = UsableAddresses(table);
    }
    if (session.localAddressList.isEmpty()) {
        output.Message(QStringLiteral(
            "因未能获得可用IP地址,Tolvex无法运行。\r\n\r\n-请检查当前网络状况是否正常"));
        status = StatusNetwork;
        return false;
    }
    if (session.localAddressList.size() > 1) {
        output.Message(QStringLiteral("tolvex: several local addresses (") +
                       session.localAddressList.join(QStringLiteral(", ")) +
                       QStringLiteral("); choose one with --address"));
        status = StatusUsage;
        return false;
    }
    session.localAddress = session.localAddressList.first();
    session.localAddressCode = EncodeAddressCode(session.localAddress);
    session.presenceDestinations = PresenceDestinations(session.localAddress);
    session.presencePort = PresencePortSetting();
    session.personalInfo = LoadPersonalInfo(session.store(), session.system());
    LoadMainSettings(session.store(), session.settings);
    LoadChatSettings(session.store(), session.settings);

    const QString folder = options.dataDir.isEmpty()
                               ? session.system().DataFolder()
                               : QFileInfo(options.dataDir).absoluteFilePath();
    // The history log goes there; peers only asks and prints, and leaves the disk alone.
    if (request.kind != Kind::Peers)
        QDir().mkpath(folder);
    session.appFolder = WithTrailingSlash(folder);
    session.executablePath = QCoreApplication::applicationFilePath();
    session.blockList = ReadBlockListFile(session.appFolder + kBlockListFileName).entries;
    return true;
}

}  // namespace

int RunCommand(const CommandRequest& request, int argc, char** argv) {
    Q_UNUSED(argc);
    if (request.kind == Kind::Help) {
        std::fputs(HelpText().toLocal8Bit().constData(), stdout);
        return StatusDone;
    }
    if (request.kind == Kind::Version) {
        std::fputs((VersionText() + QLatin1Char('\n')).toLocal8Bit().constData(), stdout);
        return StatusDone;
    }

    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    UseChineseLanguage(app);
    TerminalOutput output;
    auto platform =
        CreateHeadlessPlatform([&output](const QString& text) { output.Message(text); });
    Session session(*platform);
    int status = StatusDone;
    if (!PrepareSession(session, request, output, status))
        return status;

    StopSignals stop;
    CommandContext context{session, output, stop};
    switch (request.kind) {
        case Kind::Send:
            return RunSendCommand(context, request);
        case Kind::Receive:
            return RunReceiveCommand(context, request);
        case Kind::Chat:
            return RunChatCommand(context, request);
        case Kind::Peers:
            return RunPeersCommand(context, request);
        default:
            return StatusUsage;
    }
}

}  // namespace tvx
