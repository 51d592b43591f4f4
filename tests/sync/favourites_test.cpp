#include "syncfixture.h"

#include "support/webservicetest.h"
#include "sync/favouriteservice.h"
#include "sync/getfavouriterequestmanager.h"
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

class Favourites : public FavouriteWorkersTest {
protected:
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

// The value of larger magnitude wins; a tie the service did not take from this request keeps
// the local value.
TEST_F(Favourites, ASetFavouriteReplyIsMergedByMagnitude)
{
    struct Case {
        qint64 local;
        qint64 server;
        qint64 after;
        bool favouriteRowKept;
    };
    const std::vector<Case> cases = {
        {100, -100, 100, true}, {100, 200, 200, true},  {200, 100, 200, true},
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
    // Captured here: its size is measured, so its body is this device's to upload.
    row->setFile_size(QVariant(double(text.toUtf8().size())));
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

namespace {

webtest::Outcome pullFavourites()
{
    return webtest::send(std::make_shared<GetFavouriteRequestManager>());
}

TEST_F(Favourites, APullAppliesTheThreeArraysAndIgnoresHostileIds)
{
    // Local state: a favourite the server deleted, one unfavourited later elsewhere, one
    // unfavourited earlier, one with a tie, and a bystander.
    auto deleted = favouritedClip(QStringLiteral("deleted on the server"), 101, 100);
    auto unfav = favouritedClip(QStringLiteral("unfavourited later"), 102, 0);
    auto kept = favouritedClip(QStringLiteral("favourited later here"), 103, 100);
    auto tie = favouritedClip(QStringLiteral("a tie"), 104, 100);
    auto bystander = favouritedClip(QStringLiteral("bystander"), 105, 100);
    const QString deletedHash = *deleted->file_hash();

    const QString secret = QStringLiteral("new favourite under our key");
    const QString plain = QStringLiteral("%PDF new plain favourite");
    auto clipJson = [](const QString& hash, qint64 id, const QString& type, qint64 favourite) {
        return QJsonObject{{QStringLiteral("file_hash"), hash},     {QStringLiteral("history_id"), id},
                           {QStringLiteral("file_id"), id + 1000},  {QStringLiteral("file_ready"), 1},
                           {QStringLiteral("type"), type},          {QStringLiteral("timestamp"), 1700001000},
                           {QStringLiteral("favourite"), favourite}, {QStringLiteral("device_name"), QStringLiteral("other")}};
    };
    QJsonObject ours = clipJson(md5HexOfString(secret), 201, QStringLiteral("text_txt+enc"), 1700001000);
    ours.insert(QStringLiteral("key_hash"), keyHash());
    ours.insert(QStringLiteral("content"), encrypt(secret));
    QJsonObject foreign = clipJson(md5HexOfString(QStringLiteral("foreign")), 202, QStringLiteral("text_txt+enc"), 1700001000);
    foreign.insert(QStringLiteral("key_hash"), makePair(QStringLiteral("1111")).keyHash());
    foreign.insert(QStringLiteral("content"), QStringLiteral("AAAA"));
    QJsonObject unkeyedEnc = clipJson(md5HexOfString(QStringLiteral("unkeyed")), 203, QStringLiteral("text_txt+enc"), 1700001000);
    unkeyedEnc.insert(QStringLiteral("content"), QStringLiteral("unkeyed"));
    QJsonObject open = clipJson(md5HexOfString(plain), 204, QStringLiteral("file_pdf+zip"), 1700001000);
    open.insert(QStringLiteral("content"), plain);
    QJsonObject hostile = clipJson(QStringLiteral("../../etc/passwd"), 205, QStringLiteral("text_txt"), 1700001000);
    hostile.insert(QStringLiteral("content"), QStringLiteral("x"));

    const QJsonObject reply{
        {QStringLiteral("code"), 0},
        {QStringLiteral("cipher"), cipher()},
        {QStringLiteral("delfavourites"),
         QJsonArray{QJsonObject{{QStringLiteral("history_id"), 101}},
                    QJsonObject{{QStringLiteral("history_id"), QStringLiteral("105 or 1=1")}},
                    QJsonObject{{QStringLiteral("history_id"), -105}}, QJsonObject{{QStringLiteral("history_id"), 105.5}}}},
        {QStringLiteral("unfavourites"),
         QJsonArray{QJsonObject{{QStringLiteral("history_id"), 102}, {QStringLiteral("favourite"), -5}},
                    QJsonObject{{QStringLiteral("history_id"), 103}, {QStringLiteral("favourite"), -50}}}},
        {QStringLiteral("histories"),
         QJsonArray{clipJson(*tie->file_hash(), 104, QStringLiteral("text_txt+enc"), -100), ours, foreign, unkeyedEnc,
                    open, hostile}},
    };
    server.setFault("/get_favourite/", webdouble::Fault::rawBody(json(reply).toStdString()));
    const webtest::Outcome outcome = pullFavourites();
    EXPECT_FALSE(outcome.error.has_value());

    EXPECT_FALSE(rowOf(deletedHash));
    EXPECT_FALSE(rowOf(deletedHash, QString(ClipCategory::Favourite)));
    EXPECT_FALSE(QFile::exists(bodyPath(deletedHash)));
    ASSERT_TRUE(rowOf(*bystander->file_hash(), QString(ClipCategory::Favourite)));

    EXPECT_FALSE(rowOf(*unfav->file_hash(), QString(ClipCategory::Favourite)));
    EXPECT_EQ(rowOf(*unfav->file_hash())->favourite().toLongLong(), 0);
    ASSERT_TRUE(rowOf(*kept->file_hash(), QString(ClipCategory::Favourite)));
    EXPECT_EQ(rowOf(*tie->file_hash(), QString(ClipCategory::Favourite))->favourite().toLongLong(), 100);

    auto added = rowOf(md5HexOfString(secret), QString(ClipCategory::Favourite));
    ASSERT_TRUE(added);
    EXPECT_EQ(added->content(), secret);
    EXPECT_FALSE(rowOf(md5HexOfString(QStringLiteral("foreign")), QString(ClipCategory::Favourite)));
    EXPECT_FALSE(rowOf(md5HexOfString(QStringLiteral("unkeyed")), QString(ClipCategory::Favourite)));
    auto openRow = rowOf(md5HexOfString(plain), QString(ClipCategory::Favourite));
    ASSERT_TRUE(openRow);
    EXPECT_EQ(openRow->content(), plain);
    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw, QStringLiteral("file_hash like '%passwd%'")), 0);

    // The request reported the favourites this device knows.
    const auto sent = server.requestsTo("/get_favourite/");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(sent[0].body)).object().contains(QStringLiteral("favourites")));
}

// A new favourite row takes its kind and its encryption from this device: beside the clip's
// history row it is kept as that row is, and a clip that came under a key is "enc" whatever
// the service's type says.
TEST_F(Favourites, ANewFavouriteRowTakesThisDevicesTypeNotTheServices)
{
    const QString beside = QStringLiteral("held here as encrypted text");
    addTextClip(beside, 100, 301);  // type "text_txt+enc"
    const QString alone = QStringLiteral("only a favourite here");
    auto element = [this](const QString& text, qint64 id, const QString& type) {
        return QJsonObject{{QStringLiteral("file_hash"), md5HexOfString(text)},
                           {QStringLiteral("history_id"), id},
                           {QStringLiteral("file_id"), id + 1000},
                           {QStringLiteral("file_ready"), 1},
                           {QStringLiteral("type"), type},
                           {QStringLiteral("timestamp"), 1700001000},
                           {QStringLiteral("favourite"), 1700001000},
                           {QStringLiteral("key_hash"), keyHash()},
                           {QStringLiteral("content"), encrypt(text)}};
    };
    const QJsonObject reply{{QStringLiteral("code"), 0},
                            {QStringLiteral("cipher"), cipher()},
                            {QStringLiteral("histories"),
                             QJsonArray{element(beside, 301, QStringLiteral("file_txt")),
                                        element(alone, 302, QStringLiteral("text_txt"))}}};
    server.setFault("/get_favourite/", webdouble::Fault::rawBody(json(reply).toStdString()));
    EXPECT_FALSE(pullFavourites().error.has_value());

    const auto besideRow = rowOf(md5HexOfString(beside), QString(ClipCategory::Favourite));
    ASSERT_TRUE(besideRow);
    EXPECT_EQ(besideRow->type(), QStringLiteral("text_txt+enc"));
    EXPECT_EQ(besideRow->content(), beside);
    const auto aloneRow = rowOf(md5HexOfString(alone), QString(ClipCategory::Favourite));
    ASSERT_TRUE(aloneRow);
    EXPECT_EQ(aloneRow->type(), QStringLiteral("text_txt+enc"));
    EXPECT_EQ(aloneRow->content(), alone);
}

// The favourites clean-up to 60 removes only favourites the service holds.
TEST_F(Favourites, TheFavouritesCleanUpKeepsEveryOldFavouriteTheServiceLacks)
{
    const OldClip oldest[] = {
        {"a secret favourite", 0, "secert = 1", true},
        {"a favourite still to send", 7, "change_timestamp = 9", true},
        {"a favourite never posted", 0, "", true},
        {"held by the service", 8, "", false},
    };
    addOldClips(oldest, QString(ClipCategory::Favourite));
    for (int i = 0; i < 60; ++i)
        addTextClip(QStringLiteral("newer favourite %1").arg(i), 1000 + i, 400 + i, QString(ClipCategory::Favourite));
    {
        // The pending favourite's send, which the pull starts, finds it on the service.
        auto lock = server.lock();
        webdouble::ClipRoutes::StoredClip stored;
        stored.history = {{QStringLiteral("file_hash"), md5HexOfString(QStringLiteral("a favourite still to send"))},
                          {QStringLiteral("history_id"), 7}, {QStringLiteral("favourite"), 0}};
        server.clipRoutes().state().accounts[userId].clips[7] = stored;
    }
    server.setFault("/get_favourite/", webdouble::Fault::rawBody(R"({"code": 0})"));
    EXPECT_FALSE(pullFavourites().error.has_value());
    for (const auto& row : oldest)
        EXPECT_EQ(bool(rowOf(md5HexOfString(QString::fromLatin1(row.name)), QString(ClipCategory::Favourite))), row.kept)
            << row.name;
    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw, QStringLiteral("category = 'favourite'")), 63);
}

TEST_F(Favourites, APullWithNoFavouritesSendsAnEmptyMap)
{
    pullFavourites();
    const auto sent = server.requestsTo("/get_favourite/");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].body, R"({"favourites":{}})");
}

}  // namespace

// A favourite and an unfavouring of one clip in the same second tie. The service's answer
// takes the tie only when it is what this request sent (this device's own unfavouring, which
// the rows here wait for); a same-second decision the service kept instead never undoes the
// user's choice here.
TEST_F(Favourites, ASameSecondTieGoesToTheServiceOnlyWhenItAnswersWhatWasSent)
{
    struct Case {
        const char* name;
        qint64 local;
        qint64 sent;
        qint64 server;
        qint64 after;
        bool favouriteRowKept;
    };
    const std::vector<Case> cases = {
        {"favourited here, the service kept its unfavouring", 100, 100, -100, 100, true},
        {"unfavoured here, the service took it", 100, -100, -100, 0, false},
        {"unfavoured here, the service kept its favourite", 100, -100, 100, 100, true},
    };
    qint64 id = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString text = QStringLiteral("same second %1").arg(id);
        const QString hash = md5HexOfString(text);
        const HistoryModelPtr clip = favouritedClip(text, id, c.local);
        const HistoryModelPtr request = clip->copy();
        request->setFavourite(QVariant(c.sent));
        answerWith(hash, id, c.server);
        const SetAnswer answer = set(request);
        EXPECT_FALSE(answer.error.has_value());
        EXPECT_EQ(rowOf(hash)->favourite().toLongLong(), c.after);
        const HistoryModelPtr favouriteRow = rowOf(hash, QString(ClipCategory::Favourite));
        EXPECT_EQ(favouriteRow != nullptr, c.favouriteRowKept);
        if (favouriteRow) {
            EXPECT_EQ(favouriteRow->favourite().toLongLong(), c.after);
        }
        ++id;
    }
}
