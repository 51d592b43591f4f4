#include "syncfixture.h"

#include "sync/favouriteservice.h"
#include "sync/fileservice.h"
#include "sync/setfavouriterequestmanager.h"

#include <gtest/gtest.h>

using namespace synctest;

namespace {

struct SetAnswer {
    bool called = false;
    HistoryModelPtr result;
    std::optional<RequestError> error;
};

class Favourites : public SyncTest {
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        FavouriteService::sharedInstance().resetForTesting();
        FileService::sharedInstance().resetForTesting();
    }
    void TearDown() override
    {
        EXPECT_TRUE(testenv::waitUntil([] {
            return !FavouriteService::sharedInstance().isRunning() && !FileService::sharedInstance().isRunning();
        }));
        FavouriteService::sharedInstance().resetForTesting();
        FileService::sharedInstance().resetForTesting();
        SyncTest::TearDown();
    }

    std::shared_ptr<SetAnswer> start(const HistoryModelPtr& clip)
    {
        auto out = std::make_shared<SetAnswer>();
        SetFavouriteRequestManager::sharedInstance().setFavourite(
            clip, [out](const HistoryModelPtr& result, const std::optional<RequestError>& error) {
                out->called = true;
                out->result = result;
                out->error = error;
            });
        return out;
    }
    SetAnswer set(const HistoryModelPtr& clip)
    {
        auto out = start(clip);
        EXPECT_TRUE(testenv::waitUntil([&] { return out->called; }, std::chrono::seconds(20)));
        return *out;
    }
    // A clip the server knows, favourited here with value L (history row and favourite copy).
    HistoryModelPtr favouritedClip(const QString& text, qint64 historyId, qint64 local)
    {
        addTextClip(text, 1700000000 + historyId, historyId);
        addTextClip(text, 1700000000 + historyId, historyId, QString(ClipCategory::Favourite));
        DBKeeper::setFavourite(QVariant(local), md5HexOfString(text));
        return rowOf(md5HexOfString(text));
    }
    void answerWith(const QString& hash, qint64 historyId, qint64 favourite)
    {
        const QJsonObject history{{QStringLiteral("file_hash"), hash},
                                  {QStringLiteral("history_id"), historyId},
                                  {QStringLiteral("file_id"), historyId + 1000},
                                  {QStringLiteral("file_ready"), 1},
                                  {QStringLiteral("favourite"), favourite}};
        server.setFault("/set_favourite/",
                        webdouble::Fault::rawBody(json({{QStringLiteral("code"), 0}, {QStringLiteral("history"), history}})
                                                      .toStdString()));
    }
};

// The value of larger magnitude wins; a tie goes to the server's answer.
TEST_F(Favourites, ASetFavouriteReplyIsMergedByMagnitude)
{
    struct Case {
        qint64 local;
        qint64 server;
        qint64 after;
        bool favouriteRowKept;
    };
    const std::vector<Case> cases = {
        {100, -100, 0, false}, {100, 200, 200, true},  {200, 100, 200, true},
        {100, -50, 100, true}, {100, -300, 0, false}, {100, 0, 100, true},
    };
    qint64 id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.local << " vs " << c.server);
        const QString text = QStringLiteral("favourite %1").arg(id);
        const QString hash = md5HexOfString(text);
        auto clip = favouritedClip(text, id, c.local);
        answerWith(hash, id, c.server);
        server.clearRequests();
        const SetAnswer answer = set(clip);
        EXPECT_FALSE(answer.error.has_value());
        ASSERT_TRUE(answer.result);
        EXPECT_EQ(rowOf(hash)->favourite().toLongLong(), c.after);
        EXPECT_EQ(rowOf(hash, QString(ClipCategory::Favourite)) != nullptr, c.favouriteRowKept);
        if (c.favouriteRowKept) {
            EXPECT_EQ(rowOf(hash, QString(ClipCategory::Favourite))->favourite().toLongLong(), c.after);
        }
        // No plaintext on this path.
        const auto sent = server.requestsTo("/set_favourite/");
        ASSERT_EQ(sent.size(), 1u);
        const QJsonObject history = QJsonDocument::fromJson(QByteArray::fromStdString(sent[0].body))
                                        .object()
                                        .value(QStringLiteral("history"))
                                        .toObject();
        EXPECT_EQ(history.value(QStringLiteral("file_hash")).toString(), hash);
        EXPECT_FALSE(history.contains(QStringLiteral("content")));
        EXPECT_FALSE(QString::fromStdString(sent[0].body).contains(text));
        ++id;
    }
}

TEST_F(Favourites, AClipTheServerLostStaysHere)
{
    const QString text = QStringLiteral("kept although the server lost it");
    const QString hash = md5HexOfString(text);
    auto clip = favouritedClip(text, 5, 100);
    server.setFault("/set_favourite/", webdouble::Fault::replyCode(-4));
    const SetAnswer answer = set(clip);
    EXPECT_FALSE(answer.result);
    ASSERT_TRUE(rowOf(hash));
    ASSERT_TRUE(rowOf(hash, QString(ClipCategory::Favourite)));
    EXPECT_EQ(rowOf(hash)->history_id().toLongLong(), 0);
    EXPECT_EQ(rowOf(hash, QString(ClipCategory::Favourite))->favourite().toLongLong(), 100);
}

TEST_F(Favourites, RefusedCallsSendNothing)
{
    struct Case {
        const char* name;
        std::function<void(HistoryModel&)> change;
        bool sent;
    };
    const std::vector<Case> cases = {
        {"at the size limit", [](HistoryModel& c) { c.setFile_size(QVariant(5767168.0)); }, true},
        {"a byte larger", [](HistoryModel& c) { c.setFile_size(QVariant(5767169.0)); }, false},
        {"secret", [](HistoryModel& c) { c.setSecert(QVariant(true)); }, false},
        {"unknown to the server", [](HistoryModel& c) { c.setHistory_id(QVariant(0)); }, false},
    };
    qint64 id = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto clip = favouritedClip(QStringLiteral("refusal %1").arg(id), id, 100);
        c.change(*clip);
        server.clearRequests();
        const SetAnswer answer = set(clip);
        EXPECT_FALSE(answer.error.has_value());
        EXPECT_EQ(server.requestsTo("/set_favourite/").size(), c.sent ? 1u : 0u);
        ++id;
    }

    // A second call while the first is in flight completes at once and sends nothing.
    auto clip = favouritedClip(QStringLiteral("in flight"), 40, 100);
    server.setFault("/set_favourite/", webdouble::Fault::delayed(std::chrono::milliseconds(300)));
    server.clearRequests();
    auto first = start(clip);
    auto second = start(clip);
    ASSERT_TRUE(testenv::waitUntil([&] { return second->called; }));
    EXPECT_FALSE(first->called);
    EXPECT_FALSE(second->result);
    ASSERT_TRUE(testenv::waitUntil([&] { return first->called; }, std::chrono::seconds(20)));
    EXPECT_EQ(server.requestsTo("/set_favourite/").size(), 1u);
}

// A new favourite goes up as a post, its pending mark is cleared, and the file worker then
// sends its body.
TEST_F(Favourites, TheWorkerPostsANewFavouriteThenItsBodyMoves)
{
    const QString text = QStringLiteral("a new favourite");
    const QString hash = md5HexOfString(text);
    auto row = addTextClip(text, 1700000900, 0, QString(ClipCategory::Favourite));
    row->setKey_hash(keyHash());
    row->setFavourite(QVariant(1700000900));
    row->save();
    row->increase_change_count();

    FavouriteService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([&] {
        auto lock = server.lock();
        for (const auto& [key, body] : server.fileRoutes().state().bodies)
            if (key.endsWith(hash))
                return true;
        return false;
    }, std::chrono::seconds(20)));
    ASSERT_TRUE(testenv::waitUntil([] {
        return !FavouriteService::sharedInstance().isRunning() && !FileService::sharedInstance().isRunning();
    }));
    auto stored = rowOf(hash, QString(ClipCategory::Favourite));
    ASSERT_TRUE(stored);
    EXPECT_GT(stored->history_id().toLongLong(), 0);
    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw, QStringLiteral("change_timestamp > 0")), 0);
    EXPECT_EQ(server.requestsTo("/push/").size(), 1u);
}

}  // namespace
