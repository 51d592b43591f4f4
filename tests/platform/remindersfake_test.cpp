#include "platform/dispatch.h"
#include "platform/fake/remindersfake.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

#include <atomic>

TEST(RemindersFake, AccessCompletesOffTheCallerAndSavesAsTold)
{
    auto fake = std::make_shared<RemindersFake>();
    Reminders::setFactory([fake] { return fake; });
    auto store = Reminders::create();
    EXPECT_EQ(store, fake);

    fake->accessGranted = false;
    fake->accessError = QStringLiteral("denied");
    std::atomic<int> done{0};
    std::atomic<bool> granted{true};
    std::atomic<bool> onMain{true};
    store->requestAccessToReminders([&](bool ok, const QString& error) {
        granted = ok;
        onMain = dispatch::isMainThread();
        EXPECT_EQ(error, QStringLiteral("denied"));
        ++done;
    });
    ASSERT_TRUE(testenv::waitUntil([&] { return done == 1; }));
    EXPECT_FALSE(granted);
    EXPECT_FALSE(onMain);
    EXPECT_EQ(fake->accessRequests(), 1);

    Reminder r;
    r.listIdentifier = store->defaultListForNewReminders()->identifier;
    r.title = QStringLiteral("t");
    EXPECT_TRUE(store->saveReminder(r).saved);
    fake->saveError = QStringLiteral("disk full");
    const ReminderSaveResult failed = store->saveReminder(r);
    EXPECT_FALSE(failed.saved);
    EXPECT_EQ(failed.error, QStringLiteral("disk full"));
    fake->saveError.clear();
    fake->defaultList.reset();
    EXPECT_FALSE(store->defaultListForNewReminders());
    EXPECT_FALSE(store->saveReminder(r).saved);
    EXPECT_EQ(fake->saved().size(), 1);
    Reminders::setFactory(nullptr);
}
