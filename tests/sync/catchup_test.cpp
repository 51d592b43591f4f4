#include "syncfixture.h"

#include "platform/userdefaults.h"
#include "store/defaultskeys.h"
#include "sync/catchupmanager.h"
#include "sync/pullclipmanager.h"

#include <QDateTime>

#include <gtest/gtest.h>

using namespace synctest;

namespace {

CatchUpManager& catchUp()
{
    return CatchUpManager::sharedInstance();
}

// The catch-up pull against the double, without a broker.
class CatchUp : public SyncTest {
protected:
    // A clip another device of the account posted: on the server, encrypted with the key.
    QString serverHolds(const QString& text, qint64 historyId)
    {
        const QString hash = md5HexOfString(text);
        auto lock = server.lock();
        webdouble::ClipRoutes::StoredClip stored;
        stored.history = {{QStringLiteral("file_hash"), hash},
                          {QStringLiteral("type"), QStringLiteral("text_txt+enc")},
                          {QStringLiteral("key_hash"), keyHash()},
                          {QStringLiteral("timestamp"), QDateTime::currentSecsSinceEpoch()},
                          {QStringLiteral("history_id"), historyId},
                          {QStringLiteral("file_id"), historyId},
                          {QStringLiteral("file_ready"), 1},
                          {QStringLiteral("favourite"), 0},
                          {QStringLiteral("device_name"), QStringLiteral("laptop")},
                          {QStringLiteral("content"), encrypt(text)}};
        server.clipRoutes().touch(stored);
        server.clipRoutes().state().accounts[userId].clips[historyId] = stored;
        return hash;
    }
    size_t pulls() const { return server.requestsTo("/pull/").size(); }
};

}  // namespace

// A new device shows the account's history as soon as its key is unlocked, without a pull by
// hand; the same key installed again (a PIN change) does not pull again.
TEST_F(CatchUp, AKeyThatBecomesUsablePullsTheAccountsHistory)
{
    const QString text = QStringLiteral("posted by the laptop");
    const QString hash = serverHolds(text, 500);
    zm().cleanKeyDatas();
    drainMainQueue();
    catchUp().observeKeyChanges();
    ASSERT_EQ(pulls(), 0u);

    install(pair, kPin);
    ASSERT_TRUE(testenv::waitUntil([&] { return rowOf(hash) && !catchUp().isPulling(); }));
    EXPECT_EQ(pulls(), 1u);
    EXPECT_EQ(rowOf(hash)->content(), text);
    EXPECT_EQ(ClipFileManager::sharedInstance().getStringWithMd5(hash), text);
    // The server still holds the clip, as posted.
    EXPECT_EQ(serverClips()[500].history.value(QStringLiteral("file_hash")).toString(), hash);

    install(pair, kPin);
    drainMainQueue();
    EXPECT_FALSE(catchUp().isPulling());
    EXPECT_EQ(pulls(), 1u);
}

// One pull at a time; what is asked for while one runs gets one more pull after it, and every
// caller hears of a pull that started after it asked.
TEST_F(CatchUp, RequestsDuringAPullShareOneMorePullAfterIt)
{
    server.setFault("/pull/", webdouble::Fault::delayed(std::chrono::milliseconds(300)));
    std::vector<int> done;
    catchUp().pull([&] { done.push_back(1); });
    EXPECT_TRUE(catchUp().isPulling());
    catchUp().pull([&] { done.push_back(2); });
    catchUp().pull([&] { done.push_back(3); });
    ASSERT_TRUE(testenv::waitUntil([&] { return done.size() == 3; }));
    EXPECT_EQ(done, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(catchUp().isPulling());
    server.clearFaults();
    EXPECT_EQ(pulls(), 2u);
}

// No pull may be sent (no key): the callers are still answered, and nothing is left running.
TEST_F(CatchUp, AGatedPullStillAnswersItsCallers)
{
    zm().cleanKeyDatas();
    drainMainQueue();
    bool done = false;
    catchUp().pull([&] { done = true; });
    ASSERT_TRUE(testenv::waitUntil([&] { return done; }));
    EXPECT_FALSE(catchUp().isPulling());
    EXPECT_EQ(pulls(), 0u);
}

namespace {
using PullBookmark = CatchUp;
}

// Logout takes the local history; the next login (here the same account) must pull it again
// from the start, not from where the last login stopped.
TEST_F(PullBookmark, AfterALogoutTheNextLoginPullsTheServersHistoryAgain)
{
    const QString text = QStringLiteral("kept on the server");
    const QString hash = serverHolds(text, 501);
    ASSERT_TRUE(send(std::make_shared<PullClipManager>()).result.isValid());
    ASSERT_TRUE(rowOf(hash));
    ASSERT_TRUE(UserDefaults::standard().contains(DefaultsKey::LastPullRequestTime));

    ConfigureManager& account = ConfigureManager::sharedInstance();
    account.setLoginUserToken(std::nullopt);
    drainMainQueue();
    EXPECT_FALSE(rowOf(hash));
    EXPECT_FALSE(UserDefaults::standard().contains(DefaultsKey::LastPullRequestTime));

    account.setLoginUserId(QString::number(userId));
    account.setLoginUserToken(server.issueToken(kEmail));
    drainMainQueue();
    if (zm().state() == 0)
        install(pair, kPin);
    ASSERT_TRUE(send(std::make_shared<PullClipManager>()).result.isValid());
    const auto pulls = server.requestsTo("/pull/");
    ASSERT_EQ(pulls.size(), 2u);
    EXPECT_TRUE(QString::fromStdString(pulls.back().query).contains(QStringLiteral("&last_request_timestamp=0")))
        << pulls.back().query;
    ASSERT_TRUE(rowOf(hash));
    EXPECT_EQ(rowOf(hash)->content(), text);
    EXPECT_EQ(serverClips().size(), 1u);
}

// Whether the last pull reached the service, for the menu to tell the user.
TEST_F(CatchUp, ThePullKnowsWhenTheServiceDidNotAnswer)
{
    for (const bool down : {true, false, true}) {
        SCOPED_TRACE(down);
        if (down)
            server.setFault("/pull/", webdouble::Fault::status(503));
        else
            server.clearFaults();
        bool done = false;
        catchUp().pull([&] { done = true; });
        ASSERT_TRUE(testenv::waitUntil([&] { return done; }));
        EXPECT_EQ(catchUp().lastPullFailed(), down);
    }
}
