#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "support/mainqueue.h"
#include "support/testenv.h"

#include <QObject>

#include <gtest/gtest.h>

TEST(NotificationCenter, ObserversRunOnTheMainThreadWhenPostedFromAQueue)
{
    auto& center = NotificationCenter::defaultCenter();
    int calls = 0;
    bool onMain = false;
    QVariant object;
    const auto token = center.addObserver(QStringLiteral("DATA_CHANGED"), nullptr, [&](const Notification& n) {
        ++calls;
        onMain = dispatch::isMainThread();
        object = n.object;
    });
    center.addObserver(QStringLiteral("OTHER"), nullptr, [&](const Notification&) { calls += 100; });

    SerialQueue queue(QStringLiteral("poster"));
    queue.sync([&] { center.post(QStringLiteral("DATA_CHANGED"), QStringLiteral("payload")); });
    EXPECT_EQ(calls, 0);  // not yet: delivered by the main loop
    ASSERT_TRUE(testenv::waitUntil([&] { return calls == 1; }));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(object.toString(), QStringLiteral("payload"));

    center.removeObserver(token);
    center.post(QStringLiteral("DATA_CHANGED"));
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, PostOnMainArrivesAfterTheCallReturns)
{
    auto& center = NotificationCenter::defaultCenter();
    int calls = 0;
    const auto token =
        center.addObserver(QStringLiteral("USER_LOGINED"), nullptr, [&](const Notification&) { ++calls; });
    center.postOnMain(QStringLiteral("USER_LOGINED"));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(testenv::waitUntil([&] { return calls == 1; }));
    center.post(QStringLiteral("USER_LOGINED"));  // from the main thread: delivered at once
    EXPECT_EQ(calls, 2);
    // Gone with the test: a later post must not reach this test's counter.
    center.removeObserver(token);
}

TEST(NotificationCenter, ObserverEndsWithItsOwner)
{
    auto& center = NotificationCenter::defaultCenter();
    int calls = 0;
    auto owner = std::make_unique<QObject>();
    center.addObserver(QStringLiteral("ZERO_CHANGED"), owner.get(), [&](const Notification&) { ++calls; });
    center.post(QStringLiteral("ZERO_CHANGED"));
    EXPECT_EQ(calls, 1);
    owner.reset();
    center.post(QStringLiteral("ZERO_CHANGED"));
    EXPECT_EQ(calls, 1);
}
