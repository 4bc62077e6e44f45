#include "commands/CommandLine.h"

#include <QCommandLineOption>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

#include "address/AddressCode.h"
#include "commands/Commands.h"
#include "commands/JsonOutput.h"
#include "commands/TerminalOutput.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "platform/Headless.h"
#include "presence/PresenceService.h"
#include "records/AddressFiles.h"
#include "records/PersonalInfo.h"
#include "records/Settings.h"
#include "session/Session.h"
#include "session/SessionLinkContext.h"
#include "startup/ArgumentParser.h"
#include "startup/Language.h"
#include "startup/LocalAddress.h"

#ifndef TOLVEX_VERSION
#define TOLVEX_VERSION "0"
#endif

namespace tvx {

namespace {

using Kind = CommandRequest::Kind;
using Word = ArgumentParser::Word;

// The options each command takes besides the start-up ones.
QList<QCommandLineOption> OptionsOf(Kind kind) {
    const QCommandLineOption code(QStringLiteral("code"), QString(), QStringLiteral("CODE"));
    const QList<QCommandLineOption> trust = {
        QCommandLineOption(QStringLiteral("require-encryption")),
        QCommandLineOption(QStringLiteral("accept-new-identity")),
        QCommandLineOption(QStringLiteral("allow-plain"))};
    const QCommandLineOption json(QStringLiteral("json"));
    switch (kind) {
        case Kind::Send:
            return QList<QCommandLineOption>{
                       QCommandLineOption(QStringLiteral("note"), QString(),
                                          QStringLiteral("TEXT")),
                       code,
                       QCommandLineOption(QStringLiteral("retry"), QString(), QStringLiteral("N")),
                       json} +
                   trust;
        case Kind::Receive:
            return QList<QCommandLineOption>{
                       QCommandLineOption(QStringLiteral("to"), QString(), QStringLiteral("DIR")),
                       code, QCommandLineOption(QStringLiteral("overwrite")), json} +
                   trust;
        case Kind::Chat:
            return QList<QCommandLineOption>{code, json} + trust;
        case Kind::Peers:
            return {
                QCommandLineOption(QStringLiteral("wait"), QString(), QStringLiteral("SECONDS")),
                json};
        case Kind::Web:
            return {QCommandLineOption(QStringLiteral("to"), QString(), QStringLiteral("DIR")),
                    QCommandLineOption(QStringLiteral("share"), QString(), QStringLiteral("FILE")),
                    QCommandLineOption(QStringLiteral("port"), QString(), QStringLiteral("N")),
                    json};
        case Kind::Doctor:
            return {json};
        default:
            return {};
    }
}

Kind KindOf(const QString& word) {
    if (word == QLatin1String("send"))
        return Kind::Send;
    if (word == QLatin1String("receive"))
        return Kind::Receive;
    if (word == QLatin1String("chat"))
        return Kind::Chat;
    if (word == QLatin1String("peers"))
        return Kind::Peers;
    if (word == QLatin1String("web"))
        return Kind::Web;
    if (word == QLatin1String("doctor"))
        return Kind::Doctor;
    return Kind::Desktop;
}

// The fewest and the most arguments a command takes; send takes any number of paths.
std::pair<int, int> PositionalCounts(Kind kind) {
    switch (kind) {
        case Kind::Send:
            return {2, std::numeric_limits<int>::max()};
        case Kind::Web:  // further files to offer, after --share FILE
            return {0, std::numeric_limits<int>::max()};
        case Kind::Chat:
            return {1, 1};
        case Kind::Doctor:
            return {0, 1};
        default:
            return {0, 0};
    }
}

// A command word: neither an option nor a word with a dash ("-" alone is one).
bool IsCommandWord(const Word& word) {
    return !word.text.startsWith(QLatin1Char('-')) || word.text == QLatin1String("-");
}

bool TakeOption(const QString& name, const QString& value, CommandRequest& request,
                QString& error) {
    if (name == QLatin1String("note")) {
        request.note = value;
        request.note.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        request.note.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    } else if (name == QLatin1String("code")) {
        request.code = value;
        request.codeGiven = true;
    } else if (name == QLatin1String("retry")) {
        bool ok = false;
        request.retries = value.toInt(&ok);
        if (!ok || request.retries < 0 || request.retries > 999) {
            error = QStringLiteral("--retry needs a whole number from 0 to 999");
            return false;
        }
    } else if (name == QLatin1String("to")) {
        if (value.isEmpty()) {
            error = QStringLiteral("--to needs a folder");
            return false;
        }
        request.folder = value;
    } else if (name == QLatin1String("wait")) {
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 3600) {
            error = QStringLiteral("--wait needs a number of seconds from 0 to 3600");
            return false;
        }
        request.waitMs = int(seconds * 1000);
    } else if (name == QLatin1String("share")) {
        if (value.isEmpty()) {
            error = QStringLiteral("--share needs a file");
            return false;
        }
        request.shares << value;
    } else if (name == QLatin1String("port")) {
        bool ok = false;
        request.port = value.toInt(&ok);
        if (!ok || request.port < 1 || request.port > 65535) {
            error = QStringLiteral("--port needs a port number from 1 to 65535");
            return false;
        }
    }
    return true;
}

// The values of the command's own options, each checked; the last one counts.
bool ReadCommandOptions(const ArgumentParser& parser, CommandRequest& request, QString& error) {
    for (const QCommandLineOption& option : OptionsOf(request.kind)) {
        const QString name = option.names().constFirst();
        for (const QString& value : parser.Values(name)) {
            if (!TakeOption(name, value, request, error))
                return false;
        }
    }
    request.overwrite = request.kind == Kind::Receive && parser.IsSet(QStringLiteral("overwrite"));
    const bool connects =
        request.kind == Kind::Send || request.kind == Kind::Receive || request.kind == Kind::Chat;
    request.requireEncryption = connects && parser.IsSet(QStringLiteral("require-encryption"));
    request.acceptNewIdentity = connects && parser.IsSet(QStringLiteral("accept-new-identity"));
    request.allowPlain = connects && parser.IsSet(QStringLiteral("allow-plain"));
    const bool reports = connects || request.kind == Kind::Peers || request.kind == Kind::Web ||
                         request.kind == Kind::Doctor;
    request.json = reports && parser.IsSet(QStringLiteral("json"));
    return true;
}

// A lone "--" among a command's words is an unknown option, not the end of the options.
bool HoldsDoubleDash(const QList<Word>& words) {
    return std::any_of(words.begin(), words.end(),
                       [](const Word& word) { return word.text == QLatin1String("--"); });
}

bool IsStartupOption(const QString& dashed) {
    const QList<QCommandLineOption> options = StartupOptionList();
    return std::any_of(options.begin(), options.end(), [&](const QCommandLineOption& option) {
        return QStringLiteral("--") + option.names().constFirst() == dashed;
    });
}

// The desktop program takes options only.
bool ParseDesktopOptions(const QStringList& arguments, StartupOptions& options, QString& error) {
    const auto check = [](const QStringList& beginning, QString& mistake) {
        ArgumentParser parser(StartupOptionList());
        parser.Parse(beginning);
        if (parser.HasUnknownOption() || !parser.Words().isEmpty()) {
            mistake = QStringLiteral("unknown option: ") + beginning.last();
            return false;
        }
        StartupOptions read;
        return ReadStartupOptions(parser, read, mistake);
    };
    if (!FindFirstMistake(arguments, check, error))
        return false;
    ArgumentParser parser(StartupOptionList());
    parser.Parse(arguments);
    if (!parser.MissingValue().isEmpty()) {
        error = parser.MissingValue() + QStringLiteral(" needs a value");
        return false;
    }
    return ReadStartupOptions(parser, options, error);
}

// A command's arguments, named by the word at `word`; as always, the command's own options are
// checked before the start-up options, and the number of arguments last.
bool ParseCommand(const QStringList& arguments, const Word& word, CommandRequest& request,
                  QString& error) {
    const Kind kind = request.kind;
    const QList<QCommandLineOption> options = OptionsOf(kind) + StartupOptionList();
    const auto commandCheck = [&](const QStringList& beginning, QString& mistake) {
        ArgumentParser parser(options);
        parser.Parse(beginning);
        if (parser.HasUnknownOption() || HoldsDoubleDash(parser.Words())) {
            mistake = QStringLiteral("unknown option for ") + word.text + QStringLiteral(": ") +
                      beginning.last();
            return false;
        }
        if (parser.HasFlagWithValue()) {
            mistake = beginning.last().section(QLatin1Char('='), 0, 0) +
                      QStringLiteral(" takes no value");
            return false;
        }
        CommandRequest read;
        read.kind = kind;
        return ReadCommandOptions(parser, read, mistake);
    };
    const auto startupCheck = [&](const QStringList& beginning, QString& mistake) {
        ArgumentParser parser(options);
        parser.Parse(beginning);
        StartupOptions read;
        return ReadStartupOptions(parser, read, mistake);
    };
    if (!FindFirstMistake(arguments, commandCheck, error))
        return false;

    ArgumentParser parser(options);
    parser.Parse(arguments);
    const QString missing = parser.MissingValue();
    if (!missing.isEmpty() && !IsStartupOption(missing)) {
        error = missing + QStringLiteral(" needs a value");
        return false;
    }
    ReadCommandOptions(parser, request, error);  // checked above
    if (!FindFirstMistake(arguments, startupCheck, error))
        return false;
    if (!missing.isEmpty()) {
        error = missing + QStringLiteral(" needs a value");
        return false;
    }
    ReadStartupOptions(parser, request.startup, error);  // checked above

    // The command word is no argument, unless an option before it took it for its value.
    QStringList positional;
    for (const Word& found : parser.Words()) {
        if (found.index != word.index)
            positional << found.text;
    }
    const auto [fewest, most] = PositionalCounts(kind);
    if (positional.size() < fewest || positional.size() > most) {
        error = word.text +
                (kind == Kind::Send     ? QStringLiteral(" needs ADDRESS PATH...")
                 : kind == Kind::Chat   ? QStringLiteral(" needs ADDRESS")
                 : kind == Kind::Doctor ? QStringLiteral(" takes at most ADDRESS")
                                        : QStringLiteral(" takes no arguments")) +
                QStringLiteral(" (see tolvex --help)");
        return false;
    }
    if (kind == Kind::Send) {
        request.peerAddress = positional[0];
        request.paths = positional.mid(1);
    } else if (kind == Kind::Chat || (kind == Kind::Doctor && !positional.isEmpty())) {
        request.peerAddress = positional[0];
    } else if (kind == Kind::Web) {
        request.shares += positional;
    }
    return true;
}

}  // namespace

bool ParseCommandLine(const QStringList& arguments, CommandRequest& request, QString& error) {
    request = CommandRequest();
    // Help and version win wherever they stand, even where an option waits for its value.
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

    // The command word is the first word that is no start-up option's value.
    ArgumentParser startup(StartupOptionList());
    startup.Parse(arguments);
    const QList<Word> words = startup.Words();
    const auto word = std::find_if(words.begin(), words.end(), IsCommandWord);
    if (word == words.end())
        return ParseDesktopOptions(arguments, request.startup, error);
    request.kind = KindOf(word->text);
    if (request.kind == Kind::Desktop) {
        error = QStringLiteral("unknown command: ") + word->text +
                QStringLiteral(" (see tolvex --help)");
        return false;
    }
    return ParseCommand(arguments, *word, request, error);
}

QString HelpText() {
    return QStringLiteral(
        "Usage: tolvex [--address A] [--data-dir DIR]\n"
        "       tolvex COMMAND [options]\n"
        "\n"
        "Without a command the desktop program starts.\n"
        "\n"
        "Commands (no display needed):\n"
        "  send ADDRESS PATH... [--note TEXT] [--code CODE] [--retry N] [--json]\n"
        "      Send files and folders to the copy at ADDRESS (IPv4 or TVX address) in one\n"
        "      offer, resuming where an earlier send stopped. Folders keep their tree with\n"
        "      another Tolvex copy; other peers get the files one by one. Links, devices and\n"
        "      unreadable files are skipped (exit status 4 when any was). --retry N tries N\n"
        "      more times when no connection.\n"
        "  receive [--to DIR] [--code CODE] [--overwrite] [--json]\n"
        "      Receive files and folders on ports 8510/8511 into DIR (default: the current\n"
        "      folder) until interrupted; existing names get a number unless --overwrite.\n"
        "  chat ADDRESS [--code CODE] [--json]\n"
        "      Invite the copy at ADDRESS to a chat; each line of input is sent, the peer's\n"
        "      lines are printed with their time; end of input leaves the chat.\n"
        "  peers [--wait SECONDS] [--json]\n"
        "      Ask the copies on the network and print nickname, TVX address and IPv4\n"
        "      address of each one that answers within SECONDS (default 2).\n"
        "  web [--to DIR] [--share FILE...] [--port N] [--json]\n"
        "      Serve a page on http://ADDRESS:8530/ (or port N) for browsers without Tolvex,\n"
        "      such as a phone's, until interrupted: it prints the address, its QR code and a\n"
        "      six-digit code to type there. Files sent from the page arrive in DIR (default:\n"
        "      the automatic-receiving folder, else the current folder); the shared files can\n"
        "      be downloaded. Only computers of the local subnet are served. The page is plain\n"
        "      HTTP: others on the network can read what is sent; use it on a trusted one.\n"
        "  doctor [ADDRESS] [--json]\n"
        "      Look at why peers are not found or reached: the local address, whether ports\n"
        "      8510, 8511, 9170 and the presence port are free, the firewall's rules, a\n"
        "      presence query; with ADDRESS also the peer's answer, ports, handshake and\n"
        "      version, round-trip time and subnet. One line per finding on standard output:\n"
        "      [正常], [警告] or [错误] and what to do. Exit status 0 when nothing is wrong\n"
        "      (warnings allowed), 1 when the peer cannot be reached, 3 on a problem on this\n"
        "      computer (also when the peer cannot be reached either).\n"
        "\n"
        "Encryption (send, receive, chat): two Tolvex copies talk over TLS 1.3; the first\n"
        "contact pins the peer's certificate, whose fingerprint code is printed.\n"
        "  --require-encryption   refuse peers that cannot encrypt, both ways\n"
        "  --accept-new-identity  take a known peer's new certificate and pin it\n"
        "  --allow-plain          let a known peer that no longer encrypts go on unencrypted\n"
        "\n"
        "Scripts (send, receive, chat, peers, web, doctor):\n"
        "  --json          standard output carries only JSON lines, one event per line with\n"
        "                  \"event\", \"time\" and its fields (see JSON OUTPUT in tolvex(1));\n"
        "                  messages and progress stay on standard error\n"
        "\n"
        "Options for every command:\n"
        "  --address A     the local IPv4 address to use\n"
        "  --data-dir DIR  the folder of the history log, the block list and the keys\n"
        "  --help          show this text\n"
        "  --version       show the version\n"
        "\n"
        "Exit status: 0 done; 1 refused, cancelled or stopped by the peer; 2 bad usage or a\n"
        "bad address; 3 network failure (no connection, time-out, port in use, connection\n"
        "lost); 4 a local file error, or a send that skipped some of the chosen files.\n");
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
    // The doctor takes the first address and says which one it took and how to choose.
    if (session.localAddressList.size() > 1 && request.kind != Kind::Doctor) {
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
    // What the user agreed to for this run, both as caller and as answerer.
    session.settings.requireEncryption |= request.requireEncryption;
    session.acceptChangedIdentity = request.acceptNewIdentity;
    session.allowPlainFromPinned = request.allowPlain;

    const QString folder = options.dataDir.isEmpty()
                               ? session.system().DataFolder()
                               : QFileInfo(options.dataDir).absoluteFilePath();
    // The history log goes there; peers and doctor only ask and print, and leave the disk
    // alone.
    const bool looksOnly = request.kind == Kind::Peers || request.kind == Kind::Doctor;
    if (!looksOnly)
        QDir().mkpath(folder);
    session.appFolder = WithTrailingSlash(folder);
    session.executablePath = QCoreApplication::applicationFilePath();
    session.blockList = ReadBlockListFile(session.appFolder + kBlockListFileName).entries;
    QString securityError;
    if (!looksOnly && request.kind != Kind::Web && !LoadSecurity(session, &securityError)) {
        std::fprintf(stderr, "tolvex: no key pair, connections stay unencrypted: %s\n",
                     qPrintable(securityError));
    }
    return true;
}

}  // namespace

int RunCommand(const CommandRequest& request, int argc, char** argv,
               const ServiceDiscoveryFactory& discovery) {
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
    output.SetJson(request.json);
    auto platform =
        CreateHeadlessPlatform([&output](const QString& text) { output.Message(text); }, discovery);
    Session session(*platform);
    int status = StatusDone;
    if (!PrepareSession(session, request, output, status))
        return status;

    StopSignals stop;
    const JsonEvents json(output, request.json, [&session] { return session.system().Now(); });
    CommandContext context{session, output, stop, json};
    switch (request.kind) {
        case Kind::Send:
            return RunSendCommand(context, request);
        case Kind::Receive:
            return RunReceiveCommand(context, request);
        case Kind::Chat:
            return RunChatCommand(context, request);
        case Kind::Peers:
            return RunPeersCommand(context, request);
        case Kind::Web:
            return RunWebCommand(context, request);
        case Kind::Doctor:
            return RunDoctorCommand(context, request);
        default:
            return StatusUsage;
    }
}

}  // namespace tvx
