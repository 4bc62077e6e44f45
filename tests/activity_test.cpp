#include "session/Activity.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

using namespace tvx;

TEST(Activity, AnnouncesEveryChangeAndOnlyChanges) {
    Activity activity;
    QSignalSpy changed(&activity, &Activity::Changed);
    QSignalSpy waiting(&activity, &Activity::WaitingChanged);

    activity.SetSendWindowSending(true);
    activity.SetSendWindowSending(true);
    activity.SetMainWindowReceiving(true);
    activity.SetInviteWindowChatting(true);
    activity.SetAcceptWindowChatting(true);
    EXPECT_EQ(changed.count(), 4);
    EXPECT_TRUE(activity.sendWindowSending());
    EXPECT_TRUE(activity.mainWindowReceiving());
    EXPECT_TRUE(activity.chatting());
    // Running work is not something that waits for the user.
    EXPECT_FALSE(activity.waiting());
    EXPECT_EQ(waiting.count(), 0);

    activity.SetInviteWindowChatting(false);
    EXPECT_TRUE(activity.chatting());
    activity.SetAcceptWindowChatting(false);
    EXPECT_FALSE(activity.chatting());
    activity.SetSendWindowSending(false);
    activity.SetSendWindowSending(false);
    EXPECT_EQ(changed.count(), 7);
    EXPECT_FALSE(activity.sendWindowSending());
}

TEST(Activity, WaitingChangesWithTheFirstAndTheLastThingThatWaits) {
    Activity activity;
    QSignalSpy changed(&activity, &Activity::Changed);
    QSignalSpy waiting(&activity, &Activity::WaitingChanged);

    activity.SetOfferWaiting(true);
    ASSERT_EQ(waiting.count(), 1);
    EXPECT_TRUE(waiting.takeFirst().at(0).toBool());
    // A second waiting thing, and the first one answered: something still waits.
    activity.SetInvitationWaiting(true);
    activity.SetOfferWaiting(false);
    EXPECT_TRUE(activity.waiting());
    EXPECT_TRUE(activity.invitationWaiting());
    EXPECT_EQ(waiting.count(), 0);

    // The listener reads the new state when it is told: Changed comes first.
    QList<bool> seen;
    QObject::connect(&activity, &Activity::WaitingChanged, &activity,
                     [&](bool now) { seen << now << activity.waiting(); });
    activity.SetInvitationWaiting(false);
    EXPECT_EQ(seen, (QList<bool>{false, false}));
    ASSERT_EQ(waiting.count(), 1);
    EXPECT_FALSE(waiting.takeFirst().at(0).toBool());
    EXPECT_EQ(changed.count(), 4);
}
