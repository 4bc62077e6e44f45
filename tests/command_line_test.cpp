// Parsing of the command words and their options, and the progress line's text.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QStringDecoder>

#include "commands/CommandLine.h"
#include "commands/JsonOutput.h"
#include "commands/TerminalOutput.h"

namespace tvx {
namespace {

using Kind = CommandRequest::Kind;

TEST(CommandLineParsing, CommandsTakeTheirOptionsAnywhereAndTheDesktopKeepsItsOwn) {
    CommandRequest request;
    QString error;

    ASSERT_TRUE(ParseCommandLine({"--address", "127.0.0.2", "send", "ABCDEFGHIJ", "a b.txt",
                                  "--retry=3", "--note", "第一行\n第二行", "--data-dir=/tmp/d"},
                                 request, error))
        << qPrintable(error);
    EXPECT_EQ(request.kind, Kind::Send);
    EXPECT_EQ(request.startup.address, "127.0.0.2");
    EXPECT_EQ(request.startup.dataDir, "/tmp/d");
    EXPECT_EQ(request.peerAddress, "ABCDEFGHIJ");
    EXPECT_EQ(request.paths, QStringList{"a b.txt"});
    EXPECT_EQ(request.retries, 3);
    EXPECT_EQ(request.note, QStringLiteral("第一行\r\n第二行"));
    EXPECT_FALSE(request.codeGiven);

    ASSERT_TRUE(
        ParseCommandLine({"receive", "--overwrite", "--to", "in", "--code", ""}, request, error));
    EXPECT_EQ(request.kind, Kind::Receive);
    EXPECT_TRUE(request.overwrite);
    EXPECT_EQ(request.folder, "in");
    EXPECT_TRUE(request.codeGiven);
    EXPECT_TRUE(request.code.isEmpty());
    EXPECT_FALSE(request.requireEncryption || request.acceptNewIdentity || request.allowPlain);
    ASSERT_TRUE(
        ParseCommandLine({"chat", "x", "--allow-plain", "--require-encryption"}, request, error));
    EXPECT_TRUE(request.requireEncryption && request.allowPlain && !request.acceptNewIdentity);
    EXPECT_FALSE(ParseCommandLine({"peers", "--allow-plain"}, request, error));

    ASSERT_TRUE(ParseCommandLine({"peers"}, request, error));
    EXPECT_EQ(request.waitMs, 2000);
    ASSERT_TRUE(ParseCommandLine({"peers", "--wait", "0.5"}, request, error));
    EXPECT_EQ(request.waitMs, 500);

    // doctor: this computer alone, or with one peer.
    ASSERT_TRUE(ParseCommandLine({"doctor"}, request, error));
    EXPECT_EQ(request.kind, CommandRequest::Kind::Doctor);
    EXPECT_TRUE(request.peerAddress.isEmpty());
    ASSERT_TRUE(
        ParseCommandLine({"doctor", "--address", "127.0.0.2", "127.0.0.3"}, request, error));
    EXPECT_EQ(request.peerAddress, QStringLiteral("127.0.0.3"));
    EXPECT_EQ(request.startup.address, QStringLiteral("127.0.0.2"));

    // web: the files after --share and further words are all offered.
    ASSERT_TRUE(ParseCommandLine(
        {"web", "--share", "a", "b", "--port=9000", "--share=c", "--to", "in"}, request, error));
    EXPECT_EQ(request.kind, CommandRequest::Kind::Web);
    EXPECT_EQ(request.shares, (QStringList{"a", "c", "b"}));
    EXPECT_EQ(request.port, 9000);
    EXPECT_EQ(request.folder, QStringLiteral("in"));

    // A word with one dash is an argument; the command word is found past the start-up
    // options' values, also one that reads like a command.
    ASSERT_TRUE(ParseCommandLine(
        {"--data-dir", "chat", "--address=127.0.0.2", "send", "127.0.0.3", "-a.txt"}, request,
        error))
        << qPrintable(error);
    EXPECT_EQ(request.kind, Kind::Send);
    EXPECT_EQ(request.startup.dataDir, "chat");
    EXPECT_EQ(request.peerAddress, "127.0.0.3");
    EXPECT_EQ(request.paths, QStringList{"-a.txt"});

    // Several files and folders, options among them.
    ASSERT_TRUE(
        ParseCommandLine({"send", "127.0.0.3", "a", "--code", "x", "b/", "-c"}, request, error))
        << qPrintable(error);
    EXPECT_EQ(request.paths, (QStringList{"a", "b/", "-c"}));

    // No command word: the desktop program with its options.
    ASSERT_TRUE(
        ParseCommandLine({"--address", "127.000.0.2", "--data-dir", "send"}, request, error));
    EXPECT_EQ(request.kind, Kind::Desktop);
    EXPECT_EQ(request.startup.address, "127.0.0.2");
    EXPECT_EQ(request.startup.dataDir, "send");
    ASSERT_TRUE(ParseCommandLine({}, request, error));
    EXPECT_EQ(request.kind, Kind::Desktop);
    EXPECT_TRUE(request.startup.address.isEmpty());
    // Help wins wherever it stands, also where an option waits for its value.
    ASSERT_TRUE(ParseCommandLine({"send", "127.0.0.3", "f", "--note", "--help"}, request, error));
    EXPECT_EQ(request.kind, Kind::Help);

    // --json for the six commands that report, nothing else.
    for (const QStringList& arguments :
         {QStringList{"send", "127.0.0.3", "f", "--json"}, QStringList{"--json", "receive"},
          QStringList{"chat", "127.0.0.3", "--json"}, QStringList{"peers", "--json"},
          QStringList{"web", "--json"}, QStringList{"doctor", "127.0.0.3", "--json"}}) {
        ASSERT_TRUE(ParseCommandLine(arguments, request, error)) << qPrintable(error);
        EXPECT_TRUE(request.json) << qPrintable(arguments.join(' '));
    }
    ASSERT_TRUE(ParseCommandLine({"peers"}, request, error));
    EXPECT_FALSE(request.json);
    EXPECT_FALSE(ParseCommandLine({"--json"}, request, error));
    EXPECT_FALSE(ParseCommandLine({"peers", "--json=1"}, request, error));

    const QList<QStringList> wrong = {
        {"send", "127.0.0.3"},
        {"send", "127.0.0.3", "f", "--retry", "-1"},
        {"send", "127.0.0.3", "f", "--retry"},
        {"chat", "127.0.0.3", "--note", "x"},
        {"receive", "--overwrite=1"},
        {"peers", "--wait", "forever"},
        {"peers", "--address", "300.0.0.1"},
        {"transfer", "x"},
    };
    for (const QStringList& arguments : wrong) {
        error.clear();
        EXPECT_FALSE(ParseCommandLine(arguments, request, error))
            << qPrintable(arguments.join(' '));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(error.contains(QLatin1Char('\n')));
    }
}

// Each mistake is named in one line, in the words these lines have always used.
TEST(CommandLineParsing, NamesEachMistakeExactly) {
    const QList<QPair<QStringList, QString>> cases = {
        {{"transfer", "x"}, "unknown command: transfer (see tolvex --help)"},
        {{"send", "127.0.0.3", "f", "--to", "d"}, "unknown option for send: --to"},
        {{"receive", "--bogus=1"}, "unknown option for receive: --bogus=1"},
        {{"send", "127.0.0.3", "f", "--"}, "unknown option for send: --"},
        {{"send", "127.0.0.3", "f", "--retry"}, "--retry needs a value"},
        {{"receive", "--overwrite=1"}, "--overwrite takes no value"},
        {{"send", "127.0.0.3", "f", "--retry", "1000"},
         "--retry needs a whole number from 0 to 999"},
        {{"receive", "--to="}, "--to needs a folder"},
        {{"peers", "--wait", "forever"}, "--wait needs a number of seconds from 0 to 3600"},
        {{"peers", "--address", "300.0.0.1"},
         "invalid --address value: 300.0.0.1 (expected a dotted IPv4 address such as 127.0.0.2)"},
        {{"peers", "--data-dir"}, "--data-dir needs a value"},
        {{"peers", "--data-dir="}, "--data-dir needs a folder"},
        {{"send", "127.0.0.3"}, "send needs ADDRESS PATH... (see tolvex --help)"},
        {{"chat"}, "chat needs ADDRESS (see tolvex --help)"},
        {{"peers", "x"}, "peers takes no arguments (see tolvex --help)"},
        {{"doctor", "a", "b"}, "doctor takes at most ADDRESS (see tolvex --help)"},
        {{"doctor", "--code", "1"}, "unknown option for doctor: --code"},
        {{"web", "--port", "0"}, "--port needs a port number from 1 to 65535"},
        {{"web", "--code", "1"}, "unknown option for web: --code"},
        // Of several mistakes the first is named, the command's own options before the start-up
        // ones; a value that reads like an option is no option.
        {{"send", "127.0.0.3", "f", "--retry", "-1", "--bogus"},
         "--retry needs a whole number from 0 to 999"},
        {{"peers", "--data-dir=", "--bogus"}, "unknown option for peers: --bogus"},
        {{"chat", "127.0.0.3", "--code", "--note=x", "--note"}, "unknown option for chat: --note"},
        {{"--data-dir=", "-x"}, "--data-dir needs a folder"},
        // Without a command word: the desktop program's options.
        {{"--frobnicate=1"}, "unknown option: --frobnicate=1"},
        {{"-x"}, "unknown option: -x"},
        {{"--"}, "unknown option: --"},
        {{"--address"}, "--address needs a value"},
        {{"--address", "NVSSWFDSEN"},
         "invalid --address value: NVSSWFDSEN (expected a dotted IPv4 address such as 127.0.0.2)"},
    };
    for (const auto& [arguments, expected] : cases) {
        CommandRequest request;
        QString error;
        EXPECT_FALSE(ParseCommandLine(arguments, request, error))
            << qPrintable(arguments.join(' '));
        EXPECT_EQ(error, expected) << qPrintable(arguments.join(' '));
    }
}

// A peer's text in a JSON line: one line of valid UTF-8 that parses back to the text, with no
// byte a terminal would act on, whatever the text holds.
TEST(JsonLine, KeepsAPeersTextOneLineOfPlainTextThatParsesBack) {
    const QString text = QStringLiteral("\"q\" \\ \x01\x1b[31m\t\r\n\x7f") + QChar(0x85) +
                         QChar(0x9b) + QChar(0x202e) + QStringLiteral("evil") + QChar(0x2028) +
                         QChar(0x2029) + QChar(0x200b) + QChar(0xfeff) +
                         QString::fromUcs4(U"\U000E0041\U0001F600") + QStringLiteral("中文");
    const QChar lone[] = {QChar(0xd800), QLatin1Char('x'), QChar(0xdc00)};
    const QByteArray line =
        JsonLine(QJsonObject{{"text", text}, {"lone", QString(lone, 3)}, {"n", 1}});

    ASSERT_TRUE(line.endsWith('\n'));
    const QByteArray body = line.chopped(1);
    EXPECT_FALSE(body.contains('\n'));
    for (const char byte : body)
        EXPECT_TRUE(uchar(byte) >= 0x20 && uchar(byte) != 0x7f) << int(uchar(byte));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(body);
    EXPECT_FALSE(utf8.hasError());
    for (const char32_t code : decoded.toUcs4()) {
        EXPECT_NE(QChar::category(code), QChar::Other_Control) << int(code);
        EXPECT_NE(QChar::category(code), QChar::Other_Format) << int(code);
        EXPECT_TRUE(code != 0x2028 && code != 0x2029);
    }
    // Astral characters stay whole, the ordinary ones unescaped.
    EXPECT_TRUE(body.contains("\\udb40\\udc41")) << body.constData();
    EXPECT_TRUE(decoded.contains(QString::fromUcs4(U"\U0001F600") + QStringLiteral("中文")));

    QJsonParseError parse;
    const QJsonObject back = QJsonDocument::fromJson(body, &parse).object();
    ASSERT_EQ(parse.error, QJsonParseError::NoError) << body.constData();
    EXPECT_EQ(back.value("text").toString(), text);
    EXPECT_EQ(back.value("lone").toString(),
              QString(QChar(0xfffd)) + QLatin1Char('x') + QChar(0xfffd));
    EXPECT_EQ(back.value("n").toInt(), 1);
}

TEST(TerminalProgressLine, ShowsPercentBytesOfTheTotalSpeedAndTimeLeftButNoneWhenStalled) {
    TransferProgress progress;
    progress.Start(4 * 1024 * 1024, 0);
    EXPECT_EQ(TerminalProgress::BarLine(QStringLiteral("a.bin"), progress),
              QStringLiteral("a.bin [------------------------]   0%  0 字节 / 4.0 MB  -  剩余 -"));
    progress.SetPosition(1024 * 1024);
    progress.Tick();
    EXPECT_EQ(TerminalProgress::BarLine(QStringLiteral("a.bin"), progress),
              QStringLiteral("a.bin [######------------------]  25%  1.0 MB / 4.0 MB  1.0 MB/S  "
                             "剩余 3 秒"));
    progress.SetPosition(4 * 1024 * 1024);
    EXPECT_TRUE(
        TerminalProgress::BarLine(QString(40, QLatin1Char('x')) + QStringLiteral(".bin"), progress)
            .startsWith(QStringLiteral("xxxxxxxxxxx...xxxxxx.bin [####################"
                                       "####] 100%  4.0 MB / 4.0 MB  1.0 MB/S  剩余 0 秒")));
    EXPECT_EQ(TerminalProgress::SummaryLine(QStringLiteral("a.bin"), progress, 2500),
              QStringLiteral("a.bin  100%  4.0 MB / 4.0 MB  用时 2 秒"));

    // Seconds without a byte: the estimate from the average would be made up.
    progress.Start(4 * 1024 * 1024, 0);
    progress.SetPosition(1024 * 1024);
    progress.Tick();
    for (int tick = 1; tick < TerminalProgress::kStalledTicks; ++tick) {
        progress.Tick();
        EXPECT_TRUE(TerminalProgress::BarLine(QStringLiteral("a.bin"), progress)
                        .endsWith(QStringLiteral("剩余 ") + progress.RemainingText()));
    }
    progress.Tick();
    EXPECT_TRUE(TerminalProgress::BarLine(QStringLiteral("a.bin"), progress)
                    .endsWith(QStringLiteral("1.0 MB / 4.0 MB  0 字节/S  剩余 -")))
        << qPrintable(TerminalProgress::BarLine(QStringLiteral("a.bin"), progress));
    progress.SetPosition(2 * 1024 * 1024);
    progress.Tick();
    EXPECT_TRUE(TerminalProgress::BarLine(QStringLiteral("a.bin"), progress)
                    .endsWith(QStringLiteral("剩余 ") + progress.RemainingText()));
    EXPECT_NE(progress.RemainingText(), QStringLiteral("-"));

    // A batch: the count and the file on its way, shortened as a name is, and bytes past 2 GB.
    TransferProgress batch;
    batch.Start(qint64(3) << 30, 0);
    batch.SetPosition(qint64(5) << 29);
    const BatchProgress files{1999, 2000,
                              QStringLiteral("照片/2026/春节/一个很长很长很长的名字.jpg"), 100};
    EXPECT_EQ(TerminalProgress::BatchBarLine(files, batch),
              QStringLiteral("文件 2,000/2,000: 照片/2026/春节/...长很长的名字.jpg "
                             "[####################----]  83%  2.5 GB / 3.0 GB  -  剩余 -"));
}

}  // namespace
}  // namespace tvx
