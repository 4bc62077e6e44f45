// Parsing of the command words and their options, and the progress line's text.
#include <gtest/gtest.h>

#include "commands/CommandLine.h"
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
    EXPECT_EQ(request.filePath, "a b.txt");
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

    ASSERT_TRUE(ParseCommandLine({"peers"}, request, error));
    EXPECT_EQ(request.waitMs, 2000);
    ASSERT_TRUE(ParseCommandLine({"peers", "--wait", "0.5"}, request, error));
    EXPECT_EQ(request.waitMs, 500);

    // No command word: the desktop program, whose options are checked as before.
    ASSERT_TRUE(ParseCommandLine({"--address", "127.0.0.2", "--data-dir", "send"}, request, error));
    EXPECT_EQ(request.kind, Kind::Desktop);
    ASSERT_TRUE(ParseCommandLine({"--frobnicate"}, request, error));
    EXPECT_EQ(request.kind, Kind::Desktop);
    ASSERT_TRUE(ParseCommandLine({"chat", "--help"}, request, error));
    EXPECT_EQ(request.kind, Kind::Help);

    const QList<QStringList> wrong = {
        {"send", "127.0.0.3"},
        {"send", "127.0.0.3", "f", "extra"},
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
}

}  // namespace
}  // namespace tvx
