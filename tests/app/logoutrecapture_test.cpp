// The clip on the pasteboard at logout starts the empty history, but it was copied under the
// ended login: the next account to log in never receives it.

#include "sync/syncfixture.h"

#include "app/clipcontroller.h"
#include "platform/fake/pasteboardfake.h"
#include "platform/notificationcenter.h"
#include "platform/pasteboard.h"
#include "store/notificationnames.h"
#include "sync/fileservice.h"

#include <gtest/gtest.h>

using namespace synctest;

namespace {

class LogoutRecapture : public SyncTest {
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        Pasteboard::setGeneral(std::make_shared<PasteboardFake>());
        ClipController::sharedInstance().resetForTests();
        Pasteboard::setGeneral(pasteboard);
        ClipController::sharedInstance().setPollInterval(std::chrono::hours(1));
    }
    void TearDown() override
    {
        ClipController::sharedInstance().resetForTests();
        EXPECT_TRUE(testenv::waitUntil([] { return !FileService::sharedInstance().isRunning(); }));
        SyncTest::TearDown();
    }

    std::shared_ptr<PasteboardFake> pasteboard = std::make_shared<PasteboardFake>();
};

}  // namespace

TEST_F(LogoutRecapture, TheClipRecapturedAtLogoutGoesToNoAccount)
{
    ClipController& watcher = ClipController::sharedInstance();
    const QString text = QStringLiteral("on the pasteboard at logout");
    pasteboard->offer({{QStringLiteral("text/plain"), text.toUtf8()}});
    watcher.seekClipboard();
    watcher.waitForCaptures();
    RawDb raw(dbPath());
    ASSERT_EQ(countRows(raw), 1);
    ASSERT_TRUE(testenv::waitUntil([] { return !HistoryService::sharedInstance().isRunning(); }));

    bool loggedOut = false;
    QObject owner;
    NotificationCenter::defaultCenter().addObserver(NotificationName::UserLogouted, &owner,
                                                    [&](const Notification&) { loggedOut = true; });
    ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
    ASSERT_TRUE(testenv::waitUntil([&] { return loggedOut; }));
    watcher.waitForCaptures();
    drainMainQueue();
    ASSERT_EQ(countRows(raw), 1);
    EXPECT_EQ(countRows(raw, QStringLiteral("change_timestamp > 0")), 0);

    server.clearRequests();
    const QString email = QStringLiteral("other@example.com");
    const qint64 other = server.addAccount(email, QStringLiteral("pw2"));
    ConfigureManager::sharedInstance().setLogin(server.issueToken(email), QString::number(other), email);
    drainMainQueue();
    install(makePair(kPin, QByteArrayLiteral("other")), kPin);
    HistoryService::sharedInstance().process();
    FileService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([] {
        return !HistoryService::sharedInstance().isRunning() && !FileService::sharedInstance().isRunning();
    }));
    drainMainQueue();
    {
        auto lock = server.lock();
        EXPECT_TRUE(server.clipRoutes().state().accounts[other].clips.empty());
    }
    EXPECT_TRUE(server.requestsTo("/push/").empty());
    // Still the first clip of this machine's history.
    EXPECT_TRUE(rowOf(md5HexOfString(text)));
}
