#include "syncfixture.h"

#include "app/menuservices.h"
#include "support/mainqueue.h"

#include <gtest/gtest.h>

using namespace synctest;

namespace {

class HistoryWorker : public SyncTest {
protected:
    HistoryService& worker() { return HistoryService::sharedInstance(); }

    HistoryModelPtr pending(const QString& text, qint64 timestamp, qint64 historyId = 0)
    {
        auto clip = addTextClip(text, timestamp, historyId);
        clip->increase_change_count();
        return clip;
    }
    qint64 pendingCount()
    {
        RawDb raw(dbPath());
        return countRows(raw, QStringLiteral("change_timestamp > 0"));
    }
    // The file hashes the server received on "/push/", in order, with their methods.
    QStringList pushed()
    {
        QStringList out;
        for (const auto& request : server.requestsTo("/push/")) {
            const QJsonObject history = QJsonDocument::fromJson(QByteArray::fromStdString(request.body))
                                            .object()
                                            .value(QStringLiteral("history"))
                                            .toObject();
            out << QString::fromStdString(request.method) + u' ' + history.value(QStringLiteral("file_hash")).toString();
        }
        return out;
    }
    bool idleWith(qint64 pendingLeft)
    {
        return testenv::waitUntil([&] { return !worker().isRunning() && pendingCount() == pendingLeft; });
    }
};

QString hashOfText(const char* text)
{
    return md5HexOfString(QString::fromLatin1(text));
}

QString posted(const char* text)
{
    return QStringLiteral("POST ") + hashOfText(text);
}

QString put(const char* text)
{
    return QStringLiteral("PUT ") + hashOfText(text);
}

}  // namespace

TEST_F(HistoryWorker, PushesEveryPendingClipNewestFirstOneAtATime)
{
    pending(QStringLiteral("old"), 100);
    pending(QStringLiteral("middle"), 200, 0);
    pending(QStringLiteral("new"), 300);
    // The middle clip is on the server already: it is put, not posted.
    {
        auto out = std::make_shared<PushResult>();
        PushClipsManager::sharedInstance().Post(rowOf(hashOfText("middle")), record(out));
        ASSERT_FALSE(wait(out).error);
        server.clearRequests();
    }
    server.setFault("/push/", webdouble::Fault::delayed(std::chrono::milliseconds(200)));
    worker().process();
    worker().process();
    EXPECT_TRUE(worker().isRunning());
    ASSERT_TRUE(testenv::waitUntil([&] { return pushed().size() == 1; }));
    worker().process();

    ASSERT_TRUE(idleWith(0));
    EXPECT_EQ(pushed(), (QStringList{posted("new"), put("middle"),
                                     posted("old")}));
    EXPECT_EQ(serverClips().size(), 3u);
}

TEST_F(HistoryWorker, ATransportErrorParksTheWorkerUntilTheNextTrigger)
{
    pending(QStringLiteral("first"), 100);
    pending(QStringLiteral("second"), 200);
    server.setFault("/push/", webdouble::Fault::status(500));
    worker().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return pushed().size() == 1 && !worker().isRunning(); }));
    EXPECT_EQ(pendingCount(), 2);

    server.clearFaults();
    worker().process();
    ASSERT_TRUE(idleWith(0));
    EXPECT_EQ(pushed(), (QStringList{posted("second"), posted("second"),
                                     posted("first")}));
}

TEST_F(HistoryWorker, AClipTheServerRefusesIsPassedOverAndTriedAgainOnTheNextTrigger)
{
    pending(QStringLiteral("first"), 100);
    pending(QStringLiteral("refused"), 200);
    {
        auto lock = server.lock();
        server.clipRoutes().state().refusedPosts[hashOfText("refused")] = 7;
    }
    worker().process();
    ASSERT_TRUE(idleWith(1));
    EXPECT_EQ(pushed(), (QStringList{posted("refused"), posted("first")}));
    EXPECT_TRUE(rowOf(hashOfText("refused"))->change_timestamp().toLongLong() > 0);

    {
        auto lock = server.lock();
        server.clipRoutes().state().refusedPosts.clear();
    }
    worker().process();
    ASSERT_TRUE(idleWith(0));
    EXPECT_EQ(pushed().size(), 3);
    EXPECT_EQ(pushed().last(), posted("refused"));
}

TEST_F(HistoryWorker, AClipChangedWhileInFlightIsPushedAgain)
{
    pending(QStringLiteral("busy"), 100);
    server.setFault("/push/", webdouble::Fault::delayed(std::chrono::milliseconds(300)));
    worker().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return pushed().size() == 1; }));
    // A new change, in a later second than the one being sent.
    RawDb raw(dbPath());
    ASSERT_TRUE(raw.exec(QStringLiteral("update History set change_timestamp = change_timestamp + 5")));

    ASSERT_TRUE(idleWith(0));
    EXPECT_EQ(pushed(), (QStringList{posted("busy"), put("busy")}));
}

TEST_F(HistoryWorker, APostStillInFlightKeepsThePendingMark)
{
    const auto clip = pending(QStringLiteral("favourite worker's"), 100);
    server.setFault("/push/", webdouble::Fault::delayed(std::chrono::milliseconds(300)));
    auto other = std::make_shared<PushResult>();
    PushClipsManager::sharedInstance().Post(clip, record(other));
    worker().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return !worker().isRunning(); }));
    ASSERT_FALSE(wait(other).error);
    // The worker's post was refused as in flight: the change is still there to send.
    EXPECT_EQ(pendingCount(), 1);

    server.clearFaults();
    worker().process();
    ASSERT_TRUE(idleWith(0));
}

TEST_F(HistoryWorker, NothingIsSentAfterLogoutOrBehindAClipOfAnotherKind)
{
    auto odd = pending(QStringLiteral("odd kind"), 300);
    odd->setType(QStringLiteral("color_rgb"));
    odd->save();
    pending(QStringLiteral("waits"), 100);
    worker().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return !worker().isRunning(); }));
    // Idle with nothing in flight, and every completion queued has run.
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_FALSE(worker().isRunning());
    EXPECT_TRUE(server.requestsTo("/push/").empty());

    RawDb raw(dbPath());
    ASSERT_TRUE(raw.exec(QStringLiteral("delete from History where type = 'color_rgb'")));
    worker().setIsRunningForTesting(true);
    ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
    worker().process();
    EXPECT_FALSE(worker().isRunning());
    EXPECT_TRUE(server.requestsTo("/push/").empty());
}

TEST_F(HistoryWorker, TheMenusPullAndDeleteWorkAgainstTheServer)
{
    // Another device's clip on the server.
    const QString text = QStringLiteral("from the phone");
    auto phone = addTextClip(text, 500);
    {
        auto out = std::make_shared<PushResult>();
        PushClipsManager::sharedInstance().Post(phone, record(out));
        ASSERT_FALSE(wait(out).error);
    }
    DBKeeper::deleteClipItem(phone->file_hash());
    ClipFileManager::sharedInstance().deleteFilesWithHistoryArray({phone});
    ASSERT_FALSE(rowOf(*phone->file_hash()));

    const MenuServices services = MenuServices::standard();
    bool pulled = false;
    services.pullHistory([&] { pulled = true; });
    ASSERT_TRUE(testenv::waitUntil([&] { return pulled; }));
    const auto row = rowOf(*phone->file_hash());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->content(), text);
    EXPECT_EQ(ClipFileManager::sharedInstance().getStringWithMd5(*phone->file_hash()), text);

    bool deleted = false;
    services.deleteClip(row, [&] { deleted = true; });
    ASSERT_TRUE(testenv::waitUntil([&] { return deleted; }));
    EXPECT_TRUE(testenv::waitUntil([&] { return serverClips().empty(); }));
    EXPECT_FALSE(rowOf(*phone->file_hash()));
}
