#include <gtest/gtest.h>

#include <QCheckBox>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include "common/RetryScheduleBox.h"
#include "support/Clicks.h"

// The retry count and the schedule boxes that the send and the chat invitation windows share:
// what typing does to the boxes, the values the windows read, and the schedule's due time.
namespace tvx::test {
namespace {

class RetryScheduleBoxTest : public ::testing::Test {
protected:
    QTime now{9, 0, 10};
    RetryScheduleBox box{RetryScheduleBox::Arrangement::OneRow, [this] { return now; }};
    QSpinBox* count = Find<QSpinBox>(&box, "txtAutoTryNum");
    QSpinBox* hour = Find<QSpinBox>(&box, "txtTime1");
    QSpinBox* minute = Find<QSpinBox>(&box, "txtTime2");
};

// Replaces the box's text by typing, as the user would after selecting it.
void Type(QSpinBox* box, const QString& keys) {
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, keys);
}

TEST_F(RetryScheduleBoxTest, CountBoxTakesDigitsWithinTwoTo999) {
    box.show();
    EXPECT_EQ(box.retryLimit(), 99);
    EXPECT_FALSE(count->isVisible());
    QSignalSpy changed(&box, &RetryScheduleBox::RetryChanged);
    const QPoint scheduleAt = Find<QCheckBox>(&box, "chkUseTime")->pos();
    Find<QCheckBox>(&box, "chkAutoTry")->click();
    EXPECT_TRUE(box.autoRetry());
    EXPECT_TRUE(count->isVisible());
    EXPECT_TRUE(count->isAncestorOf(box.focusWidget()));
    // On one row the count box had its room: "定时发送在" stays where the pointer may be.
    QApplication::processEvents();
    EXPECT_EQ(Find<QCheckBox>(&box, "chkUseTime")->pos(), scheduleAt);

    Type(count, QStringLiteral("+5x-"));
    EXPECT_EQ(count->text(), QStringLiteral("5"));
    EXPECT_EQ(box.retryLimit(), 5);
    // "1" and "0" are not counts: the value stays, and the box shows it again when left.
    for (const QString& invalid : {QStringLiteral("1"), QStringLiteral("0"), QString()}) {
        Type(count, invalid);
        EXPECT_EQ(box.retryLimit(), 5);
        count->interpretText();
        EXPECT_EQ(count->text(), QStringLiteral("5"));
    }
    Type(count, QStringLiteral("1000"));
    EXPECT_EQ(count->text(), QStringLiteral("100"));
    EXPECT_EQ(box.retryLimit(), 100);
    // The tick and each count that was taken: 5 and 100 (10 on the way).
    EXPECT_EQ(changed.count(), 4);
}

TEST_F(RetryScheduleBoxTest, TickingTheScheduleFillsAMinuteBeforeNowAndIsDueAtTheChosenTime) {
    Type(hour, QStringLiteral("24"));
    EXPECT_EQ(hour->value(), 2);
    minute->setValue(30);
    QSignalSpy toggled(&box, &RetryScheduleBox::ScheduleToggled);
    // At minute 0 the minute box cannot go back a minute; it keeps its value.
    Find<QCheckBox>(&box, "chkUseTime")->click();
    EXPECT_TRUE(box.scheduled());
    EXPECT_EQ(hour->value(), 9);
    EXPECT_EQ(minute->value(), 30);
    EXPECT_TRUE(hour->isAncestorOf(box.focusWidget()));
    EXPECT_FALSE(box.IsDue());
    now = QTime(9, 30, 59);
    EXPECT_TRUE(box.IsDue());
    now = QTime(10, 30, 0);
    EXPECT_FALSE(box.IsDue());

    box.ClearSchedule();
    EXPECT_FALSE(box.scheduled());
    EXPECT_FALSE(minute->isVisibleTo(&box));
    EXPECT_EQ(toggled.count(), 2);
    Find<QCheckBox>(&box, "chkUseTime")->click();
    EXPECT_EQ(minute->value(), 29);
    EXPECT_TRUE(minute->isVisibleTo(&box));
}

}  // namespace
}  // namespace tvx::test
