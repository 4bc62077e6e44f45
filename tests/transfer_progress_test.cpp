#include <gtest/gtest.h>

#include "transfer/TransferProgress.h"

using namespace tvx;

TEST(TransferProgress, StartsWithDashesAndTheResumedShare) {
    TransferProgress fresh;
    fresh.Start(1000, 0);
    EXPECT_EQ(fresh.PercentText(), QStringLiteral("0%"));
    EXPECT_EQ(fresh.BarWidth(), 1);
    EXPECT_EQ(fresh.SpeedText(), QStringLiteral("-"));
    EXPECT_EQ(fresh.RemainingText(), QStringLiteral("-"));

    TransferProgress resumed;
    resumed.Start(1000, 500);
    EXPECT_EQ(resumed.PercentText(), QStringLiteral("50%"));
    EXPECT_EQ(resumed.BarWidth(), 139);
    resumed.SetPosition(1000);
    EXPECT_EQ(resumed.PercentText(), QStringLiteral("100%"));
    EXPECT_EQ(resumed.BarWidth(), TransferProgress::kBarWidth);
    EXPECT_EQ(TransferProgress::PercentText(0.445), QStringLiteral("45%"));
    EXPECT_EQ(TransferProgress::PercentText(0.444), QStringLiteral("44%"));
}

TEST(TransferProgress, SpeedCountsOnlyThisTransfersBytes) {
    TransferProgress progress;
    progress.Start(100 * 1024, 50 * 1024);
    progress.SetPosition(60 * 1024);
    progress.Tick();
    // The resumed half is not counted as speed.
    EXPECT_EQ(progress.SpeedText(), QStringLiteral("10 KB/S"));
    EXPECT_EQ(progress.BytesText(), QStringLiteral("60 KB"));
    // 40 KB left at 10 KB a tick.
    EXPECT_EQ(progress.RemainingText(), QStringLiteral("4 秒"));
    progress.Tick();
    EXPECT_EQ(progress.SpeedText(), QStringLiteral("0 字节/S"));
    // The average halves: 5 KB a tick, 8 seconds.
    EXPECT_EQ(progress.RemainingText(), QStringLiteral("8 秒"));
}

TEST(TransferProgress, SenderRoundsReceiverTruncates) {
    // 5 bytes left at 2 bytes a tick: the sender rounds 2.5 up, the receiver divides whole
    // numbers.
    TransferProgress sender(TransferProgress::Estimate::RoundedSeconds);
    TransferProgress receiver(TransferProgress::Estimate::WholeBytesPerTick);
    for (TransferProgress* progress : {&sender, &receiver}) {
        progress->Start(7, 0);
        progress->SetPosition(2);
        progress->Tick();
    }
    EXPECT_EQ(sender.RemainingText(), QStringLiteral("3 秒"));
    EXPECT_EQ(receiver.RemainingText(), QStringLiteral("2 秒"));

    // Below a whole byte a tick the receiver keeps "-"; the sender still estimates.
    for (TransferProgress* progress : {&sender, &receiver}) {
        progress->Start(100, 0);
        progress->Tick();
        progress->SetPosition(1);
        progress->Tick();
    }
    EXPECT_EQ(sender.RemainingText(), QStringLiteral("3 分 18 秒"));
    EXPECT_EQ(receiver.RemainingText(), QStringLiteral("-"));
}

TEST(TransferProgress, TwentySilentTicksInARowStall) {
    TransferProgress progress;
    progress.Start(1000, 0);
    for (int tick = 1; tick < TransferProgress::kStallLimit; ++tick)
        EXPECT_FALSE(progress.Tick());
    // One byte in between starts the count again.
    progress.SetPosition(1);
    EXPECT_FALSE(progress.Tick());
    EXPECT_EQ(progress.StallTicks(), 0);
    for (int tick = 1; tick < TransferProgress::kStallLimit; ++tick)
        EXPECT_FALSE(progress.Tick());
    EXPECT_TRUE(progress.Tick());
    progress.Reset();
    EXPECT_EQ(progress.StallTicks(), 0);
    EXPECT_EQ(progress.SpeedText(), QStringLiteral("-"));
}

TEST(TransferProgress, FilesBeyondTwoGigabytesDoNotWrap) {
    TransferProgress progress;
    const qint64 total = qint64(5) * 1024 * 1024 * 1024;
    progress.Start(total, 0);
    progress.SetPosition(qint64(3) * 1024 * 1024 * 1024);
    progress.Tick();
    EXPECT_EQ(progress.PercentText(), QStringLiteral("60%"));
    EXPECT_EQ(progress.BytesText(), QStringLiteral("2.0 GB"));
    EXPECT_EQ(progress.SpeedText(), QStringLiteral("2.0 GB/S"));
    EXPECT_EQ(progress.RemainingText(), QStringLiteral("1 秒"));
}
