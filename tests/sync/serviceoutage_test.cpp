#include "syncfixture.h"

#include "platform/fake/usernotificationsfake.h"
#include "sync/serviceoutage.h"

#include <gtest/gtest.h>

using namespace synctest;

namespace {

// Copies made while the service does not answer: the user is told once per outage.
class ServiceOutageTest : public SyncTest {
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        UserNotifications::setCurrent(notifications);
    }
    void TearDown() override
    {
        SyncTest::TearDown();
        UserNotifications::setCurrent(nullptr);
    }
    // A copy: a pending row, and the trigger a capture gives the worker.
    void copy(const QString& text)
    {
        auto clip = addTextClip(text, ++time);
        clip->increase_change_count();
        HistoryService::sharedInstance().process();
    }
    size_t posts() const { return server.requestsTo("/push/").size(); }
    bool idleAfter(size_t sent)
    {
        return testenv::waitUntil([&] { return posts() >= sent && !HistoryService::sharedInstance().isRunning(); });
    }

    std::shared_ptr<UserNotificationsFake> notifications = std::make_shared<UserNotificationsFake>();
    qint64 time = 1000;
};

}  // namespace

TEST_F(ServiceOutageTest, AnOutageIsToldOnceAndANewOneAfterASendGotThrough)
{
    int copies = 0;
    for (int outage = 1; outage <= 2; ++outage) {
        SCOPED_TRACE(outage);
        server.setFault("/push/", webdouble::Fault::status(502));
        // Every copy and every retry fails: one notification per outage, in words.
        for (int i = 0; i < 3; ++i) {
            const size_t before = posts();
            copy(QStringLiteral("copy %1").arg(++copies));
            ASSERT_TRUE(idleAfter(before + 1));
        }
        ASSERT_EQ(notifications->count(), outage);
        EXPECT_EQ(notifications->delivered().last().title, QStringLiteral("无法连接同步服务"));
        EXPECT_FALSE(notifications->delivered().last().informativeText.isEmpty());
        EXPECT_TRUE(ServiceOutage::sharedInstance().isDown());

        // The service answers again: the pending copies go, and nothing more is said.
        server.clearFaults();
        HistoryService::sharedInstance().process();
        ASSERT_TRUE(testenv::waitUntil([&] {
            return serverClips().size() == size_t(copies) && !HistoryService::sharedInstance().isRunning();
        }));
        EXPECT_FALSE(ServiceOutage::sharedInstance().isDown());
        EXPECT_EQ(notifications->count(), outage);
    }
}

// A refusal is an answer: the service is there, and nothing is said of an outage.
TEST_F(ServiceOutageTest, ARefusalIsNoOutage)
{
    server.setFault("/push/", webdouble::Fault::replyCode(1));
    copy(QStringLiteral("refused"));
    ASSERT_TRUE(idleAfter(1));
    EXPECT_FALSE(ServiceOutage::sharedInstance().isDown());
    EXPECT_EQ(notifications->count(), 0);
}
