#include "syncfixture.h"

#include "store/tombstones.h"
#include "sync/pullclipmanager.h"

#include <gtest/gtest.h>

using namespace synctest;

namespace {

// A delete made here is kept (its tombstone) until the service confirms it; these tests end
// with what the service holds, what this device holds and what it still owes.
class OutboxDeletes : public FavouriteWorkersTest {
protected:
    HistoryService& worker() { return HistoryService::sharedInstance(); }
    PushClipsManager& push() { return PushClipsManager::sharedInstance(); }

    // A copy, as the capture leaves it: pending, never pushed.
    HistoryModelPtr copied(const QString& text)
    {
        auto clip = addTextClip(text, 100);
        clip->increase_change_count();
        return clip;
    }
    QSet<QString> serverHashes()
    {
        QSet<QString> hashes;
        for (const auto& [id, clip] : serverClips())
            hashes.insert(clip.history.value(QStringLiteral("file_hash")).toString());
        return hashes;
    }
    qint64 serverIdOf(const QString& hash)
    {
        for (const auto& [id, clip] : serverClips())
            if (clip.history.value(QStringLiteral("file_hash")).toString() == hash)
                return id;
        return 0;
    }
    std::vector<std::string> deletesSent()
    {
        std::vector<std::string> queries;
        for (const auto& request : server.requestsTo("/push/"))
            if (request.method == "DELETE")
                queries.push_back(request.query.substr(request.query.find("&history_id=")));
        return queries;
    }
    void del(const HistoryModelPtr& clip)
    {
        auto out = std::make_shared<PushResult>();
        push().Del(clip, record(out));
        ASSERT_FALSE(wait(out).error);
    }
    void pull()
    {
        ASSERT_FALSE(send(std::make_shared<PullClipManager>()).error);
        drainMainQueue();
    }
    // Nothing owed, nothing held here, nothing on the service.
    void expectGoneEverywhere(const QString& hash)
    {
        EXPECT_TRUE(testenv::waitUntil([&] { return !serverHashes().contains(hash); })) << "the service keeps it";
        EXPECT_TRUE(testenv::waitUntil([&] { return Tombstones::all().empty() && !worker().isRunning(); }));
        pull();
        EXPECT_FALSE(rowOf(hash)) << "a pull brought it back";
        EXPECT_FALSE(serverHashes().contains(hash));
    }
};

}  // namespace

// The menu's copy of a clip is made before its post answers (no server id yet); deleting it
// from that copy still deletes the clip the service now holds.
TEST_F(OutboxDeletes, AMenuDeleteRightAfterACopyReachesTheService)
{
    const auto clip = copied(QStringLiteral("copied a password by mistake"));
    const QString hash = *clip->file_hash();
    const HistoryModelPtr menuCopy = clip->copy();
    worker().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return serverHashes().contains(hash) && !worker().isRunning(); }));
    ASSERT_GT(rowOf(hash)->history_id().toLongLong(), 0);
    ASSERT_EQ(menuCopy->history_id().toLongLong(), 0);

    del(menuCopy);
    EXPECT_FALSE(rowOf(hash));
    expectGoneEverywhere(hash);
    EXPECT_EQ(deletesSent().size(), 1u);
}

// A delete the service did not confirm stays owed: the clip is gone here at once, the service
// keeps it, and the next trigger sends the delete again until the service takes it.
TEST_F(OutboxDeletes, ADeleteTheServiceDidNotConfirmIsSentAgainOnTheNextTrigger)
{
    struct Case {
        const char* name;
        webdouble::Fault fault;
    };
    const std::vector<Case> cases{
        {"unavailable", webdouble::Fault::rawBody("", 503)},
        {"not JSON", webdouble::Fault::rawBody("<html>bad gateway</html>")},
        {"refused with a code", webdouble::Fault::rawBody(R"({"code":9})")},
        {"no code", webdouble::Fault::rawBody(R"({"msg":"deleted"})")},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto clip = addTextClip(QStringLiteral("owed %1").arg(++n), 100);
        const QString hash = *clip->file_hash();
        auto posted = std::make_shared<PushResult>();
        push().Post(clip, record(posted));
        ASSERT_FALSE(wait(posted).error);
        const qint64 id = serverIdOf(hash);
        ASSERT_GT(id, 0);

        webdouble::Fault fault = c.fault;
        fault.times = 1;
        server.setFault("/push/", fault, "DELETE");
        const size_t before = deletesSent().size();
        del(rowOf(hash));
        ASSERT_TRUE(testenv::waitUntil([&] { return deletesSent().size() == before + 1 && !worker().isRunning(); }));
        EXPECT_FALSE(rowOf(hash));
        EXPECT_TRUE(serverHashes().contains(hash));
        ASSERT_EQ(Tombstones::all().size(), 1u);
        EXPECT_EQ(Tombstones::all()[0].historyId, id);
        // Nor does a pull bring it back meanwhile.
        pull();
        EXPECT_FALSE(rowOf(hash));

        // Any outside trigger (the pull above was one) sends it again.
        worker().process();
        expectGoneEverywhere(hash);
        EXPECT_EQ(deletesSent().back(), "&history_id=" + std::to_string(id));
    }
}

// The post reached the service but its reply was lost (a proxy's 502): the clip deleted here
// has no server id. The next pull names it: it is not brought back, and it is deleted there.
TEST_F(OutboxDeletes, AClipWhosePostReplyWasLostIsDeletedOnceAPullNamesIt)
{
    const auto clip = copied(QStringLiteral("stored, but the reply was lost"));
    const QString hash = *clip->file_hash();
    webdouble::Fault lost = webdouble::Fault::status(502);
    lost.times = 1;
    server.setFault("/push/", lost, "POST");
    worker().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return serverHashes().contains(hash) && !worker().isRunning(); }));
    ASSERT_EQ(rowOf(hash)->history_id().toLongLong(), 0);

    del(rowOf(hash));
    ASSERT_EQ(Tombstones::all().size(), 1u);
    EXPECT_EQ(Tombstones::all()[0].historyId, 0);
    EXPECT_TRUE(deletesSent().empty());

    pull();
    EXPECT_FALSE(rowOf(hash));
    expectGoneEverywhere(hash);
    EXPECT_EQ(deletesSent().size(), 1u);
}

// Another device re-posted the clip after the service lost it, under a new id; this device still
// has the old one. Its delete meets "no longer here" (-10): that settles the old id (nothing is
// sent for it again, the worker goes on), and the pull that names the new id deletes that one.
TEST_F(OutboxDeletes, AClipRePostedElsewhereUnderANewIdIsDeletedUnderTheIdTheServiceHasNow)
{
    const auto clip = addTextClip(QStringLiteral("re-posted by the laptop"), 100);
    const QString hash = *clip->file_hash();
    auto posted = std::make_shared<PushResult>();
    push().Post(clip, record(posted));
    ASSERT_FALSE(wait(posted).error);
    const qint64 oldId = rowOf(hash)->history_id().toLongLong();
    qint64 newId = 0;
    {
        auto lock = server.lock();
        newId = server.clipRoutes().repostUnderNewId(userId, hash);
    }
    ASSERT_GT(newId, oldId);

    // A copy made after the delete still goes up: a -10 does not park the worker.
    del(rowOf(hash));
    const auto later = copied(QStringLiteral("a later copy"));
    worker().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return serverHashes().contains(*later->file_hash()) && !worker().isRunning(); }));
    EXPECT_EQ(deletesSent(), (std::vector<std::string>{"&history_id=" + std::to_string(oldId)}));
    worker().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return !worker().isRunning(); }));
    EXPECT_EQ(deletesSent().size(), 1u);
    EXPECT_TRUE(serverHashes().contains(hash));

    pull();
    EXPECT_FALSE(rowOf(hash));
    expectGoneEverywhere(hash);
    EXPECT_EQ(deletesSent().back(), "&history_id=" + std::to_string(newId));
    EXPECT_EQ(serverHashes(), QSet<QString>{*later->file_hash()});
}

// A clip copied again before its delete went is wanted again: the delete is dropped unsent.
TEST_F(OutboxDeletes, AClipCopiedAgainBeforeItsDeleteWentStaysOnTheService)
{
    const auto clip = addTextClip(QStringLiteral("wanted after all"), 100);
    const QString hash = *clip->file_hash();
    auto posted = std::make_shared<PushResult>();
    push().Post(clip, record(posted));
    ASSERT_FALSE(wait(posted).error);
    zm().cleanKeyDatas();
    drainMainQueue();
    del(rowOf(hash));
    ASSERT_EQ(Tombstones::all().size(), 1u);

    install(pair, kPin);
    copied(QStringLiteral("wanted after all"));
    worker().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return Tombstones::all().empty() && !worker().isRunning(); }));
    EXPECT_TRUE(deletesSent().empty());
    EXPECT_TRUE(serverHashes().contains(hash));
    EXPECT_TRUE(rowOf(hash));
}
