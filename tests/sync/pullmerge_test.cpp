#include "syncfixture.h"

#include "platform/userdefaults.h"
#include "store/defaultskeys.h"
#include "store/notificationnames.h"
#include "sync/pullclipmanager.h"

#include <QDateTime>
#include <QDir>

#include <functional>
#include <optional>

#include <gtest/gtest.h>

using namespace synctest;

namespace {

class PullMerge : public SyncTest {
protected:
    // One pull over HTTP that the server answers with this reply.
    QVariant merge(const QJsonObject& reply) { return pullAnswered(json(reply)).result; }
    Sent pullAnswered(const QByteArray& body)
    {
        server.setFault("/pull/", webdouble::Fault::rawBody(body.toStdString()));
        const Sent sent = send(std::make_shared<PullClipManager>());
        server.clearFaults();
        return sent;
    }
    std::string lastPullQuery()
    {
        const auto pulls = server.requestsTo("/pull/");
        return pulls.empty() ? std::string() : pulls.back().query;
    }
    QJsonObject reply(const QJsonArray& histories = {}) const
    {
        return {{QStringLiteral("code"), 0},
                {QStringLiteral("cipher"), cipher()},
                {QStringLiteral("request_timestamp"), 1700000000},
                {QStringLiteral("histories"), histories}};
    }
    // A new clip of the current key, as another device posted it.
    QJsonObject encryptedElement(const QString& text, qint64 historyId, qint64 timestamp = 1000)
    {
        return {{QStringLiteral("file_hash"), md5HexOfString(text)},
                {QStringLiteral("history_id"), historyId},
                {QStringLiteral("file_id"), historyId + 1000},
                {QStringLiteral("file_ready"), 1},
                {QStringLiteral("device_name"), QStringLiteral("laptop")},
                {QStringLiteral("type"), QStringLiteral("text_txt+enc")},
                {QStringLiteral("key_hash"), keyHash()},
                {QStringLiteral("timestamp"), timestamp},
                {QStringLiteral("favourite"), 0},
                {QStringLiteral("content"), encrypt(text)}};
    }
    static QString bookmark()
    {
        return UserDefaults::standard().string(DefaultsKey::LastPullRequestTime).value_or(QStringLiteral("absent"));
    }
};

}  // namespace

TEST_F(PullMerge, TheBookmarkIsSentAndAdvancesToTheServersTime)
{
    const auto first = send(std::make_shared<PullClipManager>());
    ASSERT_TRUE(first.result.isValid());
    EXPECT_TRUE(QString::fromStdString(lastPullQuery()).endsWith(QStringLiteral("&last_request_timestamp=0")))
        << lastPullQuery();
    EXPECT_NE(lastPullQuery().find("&user_token=" + token.toStdString() + "&"), std::string::npos);
    const QString stamp = first.result.toMap().value(QStringLiteral("request_timestamp")).toString();
    ASSERT_NE(stamp.toLongLong(), 0);
    EXPECT_EQ(bookmark(), stamp);

    auto next = std::make_shared<PullClipManager>();
    EXPECT_EQ(next->last_request_timestamp, stamp);
    next->limitCount = 5;
    send(next);
    EXPECT_TRUE(QString::fromStdString(lastPullQuery())
                    .endsWith(QStringLiteral("&last_request_timestamp=%1&count=5").arg(stamp)))
        << lastPullQuery();
}

TEST_F(PullMerge, WithoutAKeyNothingIsSent)
{
    zm().cleanKeyDatas();
    drainMainQueue();
    const auto sent = send(std::make_shared<PullClipManager>());
    EXPECT_FALSE(sent.result.isValid());
    EXPECT_EQ(sent.status, RequestManager::kNoStatus);
    EXPECT_FALSE(sent.error);
    EXPECT_TRUE(server.requestsTo("/pull/").empty());
}

TEST_F(PullMerge, AFailedReplyChangesNothingNotEvenTheCleanUp)
{
    for (int i = 0; i < 75; ++i)
        addTextClip(QStringLiteral("clip %1").arg(i), 100 + i, 100 + i);
    QJsonObject failed = reply({encryptedElement(QStringLiteral("new"), 9)});
    failed[QStringLiteral("code")] = 1;
    failed[QStringLiteral("clear_all_ts")] = 99999;
    EXPECT_FALSE(merge(failed).isValid());
    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw), 75);
    EXPECT_EQ(bookmark(), QStringLiteral("absent"));

    // A reply that is not JSON runs only the clean-up.
    EXPECT_FALSE(pullAnswered("<html>").result.isValid());
    EXPECT_EQ(countRows(raw), 60);
    EXPECT_EQ(bookmark(), QStringLiteral("absent"));
}

TEST_F(PullMerge, AnExistingClipTakesTheServersStateButKeepsItsContentAndNewerTime)
{
    const auto local = addTextClip(QStringLiteral("mine"), 500);
    DBKeeper::setFavourite(QVariant(qint64(7)), local->file_hash());
    QJsonObject e{{QStringLiteral("file_hash"), *local->file_hash()},
                  {QStringLiteral("history_id"), 31},
                  {QStringLiteral("file_id"), 32},
                  {QStringLiteral("file_ready"), 1},
                  {QStringLiteral("type"), QStringLiteral("text_txt+enc")},
                  {QStringLiteral("key_hash"), keyHash()},
                  {QStringLiteral("timestamp"), 400},
                  {QStringLiteral("content"), QStringLiteral("server's")},
                  {QStringLiteral("file_name"), QString()}};
    merge(reply({e}));
    auto row = rowOf(*local->file_hash());
    ASSERT_TRUE(row);
    EXPECT_EQ(row->timestamp().toLongLong(), 500);
    EXPECT_EQ(row->history_id().toLongLong(), 31);
    EXPECT_EQ(row->file_id().toLongLong(), 32);
    EXPECT_EQ(row->key_hash(), keyHash());
    EXPECT_EQ(row->content(), QStringLiteral("mine"));
    // Keys the element does not carry keep the local values.
    EXPECT_EQ(row->device_name(), local->device_name());
    EXPECT_EQ(row->favourite().toLongLong(), 7);

    e[QStringLiteral("timestamp")] = 600;
    merge(reply({e}));
    EXPECT_EQ(rowOf(*local->file_hash())->timestamp().toLongLong(), 600);
}

TEST_F(PullMerge, TheFavouriteOfLargerMagnitudeWins)
{
    struct Case {
        qint64 local;
        qint64 server;
        qint64 expected;
        bool copyKept;
    };
    const Case cases[] = {
        {100, -200, 0, false},
        {-300, 200, -300, true},
        {0, 300, 300, true},
        {200, -200, 200, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.local << " vs " << c.server);
        const QString text = QStringLiteral("fav %1").arg(n++);
        const auto local = addTextClip(text, 100, 40 + n);
        addTextClip(text, 100, 40 + n, QString(ClipCategory::Favourite));
        DBKeeper::setFavourite(QVariant(c.local), local->file_hash());
        merge(reply({QJsonObject{{QStringLiteral("file_hash"), *local->file_hash()},
                                 {QStringLiteral("favourite"), c.server}}}));
        EXPECT_EQ(rowOf(*local->file_hash())->favourite().toLongLong(), c.expected);
        EXPECT_EQ(rowOf(*local->file_hash(), QString(ClipCategory::Favourite)) != nullptr, c.copyKept);
    }
}

TEST_F(PullMerge, NewClipsAreStoredOnlyWhenTheirContentCanBeRead)
{
    const TestPair other = makePair(QStringLiteral("9999"));
    QJsonObject otherKey = encryptedElement(QStringLiteral("other key"), 12);
    otherKey[QStringLiteral("key_hash")] = other.keyHash();
    QJsonObject plain{{QStringLiteral("file_hash"), md5HexOfString(QStringLiteral("plain text"))},
                      {QStringLiteral("history_id"), 13},
                      {QStringLiteral("file_id"), 1013},
                      {QStringLiteral("file_ready"), 1},
                      {QStringLiteral("type"), QStringLiteral("text_txt")},
                      {QStringLiteral("timestamp"), 1000},
                      {QStringLiteral("content"), QStringLiteral("plain text")}};
    QJsonObject encWithoutKey = plain;
    encWithoutKey[QStringLiteral("file_hash")] = md5HexOfString(QStringLiteral("enc no key"));
    encWithoutKey[QStringLiteral("history_id")] = 14;
    encWithoutKey[QStringLiteral("type")] = QStringLiteral("text_txt+enc");
    QJsonObject broken = encryptedElement(QStringLiteral("broken"), 15);
    broken[QStringLiteral("content")] = QString::fromLatin1(QByteArray(80, 'x').toBase64());
    QJsonObject wrongDigest = encryptedElement(QStringLiteral("summary"), 16);
    wrongDigest[QStringLiteral("file_hash")] = md5HexOfString(QStringLiteral("the whole text"));

    merge(reply({encryptedElement(QStringLiteral("secret words"), 11), otherKey, plain, encWithoutKey, broken,
                 wrongDigest}));

    const auto mine = rowOf(md5HexOfString(QStringLiteral("secret words")));
    ASSERT_TRUE(mine);
    EXPECT_EQ(mine->content(), QStringLiteral("secret words"));
    EXPECT_EQ(mine->history_id().toLongLong(), 11);
    EXPECT_EQ(mine->device_name(), QStringLiteral("laptop"));
    EXPECT_EQ(mine->local_file_ok().toInt(), 1);
    EXPECT_EQ(ClipFileManager::sharedInstance().getStringWithMd5(*mine->file_hash()), QStringLiteral("secret words"));

    const auto asSent = rowOf(md5HexOfString(QStringLiteral("plain text")));
    ASSERT_TRUE(asSent);
    EXPECT_EQ(asSent->content(), QStringLiteral("plain text"));

    EXPECT_FALSE(rowOf(md5HexOfString(QStringLiteral("other key"))));
    EXPECT_FALSE(rowOf(md5HexOfString(QStringLiteral("enc no key"))));
    EXPECT_FALSE(rowOf(md5HexOfString(QStringLiteral("broken"))));
    // Stored without a body; it stays because its body is on the server.
    const auto noBody = rowOf(md5HexOfString(QStringLiteral("the whole text")));
    ASSERT_TRUE(noBody);
    EXPECT_EQ(noBody->local_file_ok().toInt(), 0);
    EXPECT_FALSE(QFile::exists(bodyPath(*noBody->file_hash())));
    EXPECT_EQ(bookmark(), QStringLiteral("1700000000"));
}

TEST_F(PullMerge, ANewClipWithoutTheIdsOfItsBodyIsStoredWithNone)
{
    // The ids of a body not uploaded yet may be missing; the clip is still new and readable.
    QJsonObject bare = encryptedElement(QStringLiteral("bare"), 41);
    bare.remove(QStringLiteral("file_id"));
    bare.remove(QStringLiteral("file_ready"));
    EXPECT_TRUE(merge(reply({bare})).isValid());
    const auto row = rowOf(md5HexOfString(QStringLiteral("bare")));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->history_id().toLongLong(), 41);
    EXPECT_EQ(row->file_id().toLongLong(), 0);
    EXPECT_EQ(row->file_ready().toLongLong(), 0);
    EXPECT_EQ(row->local_file_ok().toInt(), 1);
    EXPECT_EQ(bookmark(), QStringLiteral("1700000000"));
}

TEST_F(PullMerge, ClipsOfTheAccountsKeyComeAgainWhenTheKeyWasMissing)
{
    // The server holds another key: the check drops ours, so nothing of the new key opens.
    const TestPair serverKey = makePair(QStringLiteral("1357"));
    QJsonObject r = reply({encryptedElement(QStringLiteral("later"), 21)});
    QJsonObject element = r[QStringLiteral("histories")].toArray().at(0).toObject();
    element[QStringLiteral("key_hash")] = serverKey.keyHash();
    r[QStringLiteral("histories")] = QJsonArray{element};
    r[QStringLiteral("cipher")] = QJsonObject{{QStringLiteral("key_hash"), serverKey.keyHash()},
                                              {QStringLiteral("cipher_hash"), serverKey.cipherHash()}};
    EXPECT_TRUE(merge(r).isValid());
    EXPECT_EQ(zm().currentKeyHash(), std::nullopt);
    EXPECT_FALSE(rowOf(md5HexOfString(QStringLiteral("later"))));
    EXPECT_EQ(bookmark(), QStringLiteral("absent"));
}

TEST_F(PullMerge, DeleteActionsAndTheClearTimeRemoveRowsAndBodies)
{
    const auto seven = addTextClip(QStringLiteral("seven"), 2000, 7);
    const auto kept = addTextClip(QStringLiteral("kept"), 2000, 8);
    const auto old = addTextClip(QStringLiteral("old"), 100, 9);
    const auto oldFavourite = addTextClip(QStringLiteral("old favourite"), 100, 10);
    DBKeeper::setFavourite(QVariant(qint64(50)), oldFavourite->file_hash());
    // When the service was last seen holding each (a clear compares these with its own time).
    seenByServiceAt(*kept->file_hash(), 1500);
    seenByServiceAt(*old->file_hash(), 500);
    seenByServiceAt(*oldFavourite->file_hash(), 500);
    NotificationCounter deletes(NotificationName::HistoryDelete);

    QJsonObject r = reply();
    r[QStringLiteral("action")] = QJsonArray{QJsonObject{{QStringLiteral("action"), QStringLiteral("DEL")},
                                                         {QStringLiteral("history_id"), 7}},
                                             QJsonObject{{QStringLiteral("action"), QStringLiteral("keep")},
                                                         {QStringLiteral("history_id"), 8}},
                                             QJsonObject{{QStringLiteral("action"), QStringLiteral("del")},
                                                         {QStringLiteral("history_id"), 0}}};
    r[QStringLiteral("clear_all_ts")] = 1000;
    merge(r);

    EXPECT_FALSE(rowOf(*seven->file_hash()));
    EXPECT_FALSE(QFile::exists(bodyPath(*seven->file_hash())));
    EXPECT_FALSE(rowOf(*old->file_hash()));
    EXPECT_FALSE(QFile::exists(bodyPath(*old->file_hash())));
    EXPECT_TRUE(rowOf(*kept->file_hash()));
    EXPECT_TRUE(rowOf(*oldFavourite->file_hash()));
    ASSERT_TRUE(testenv::waitUntil([&] { return deletes.count() == 1; }));

    // A clear that removes nothing is still announced once.
    r.remove(QStringLiteral("action"));
    merge(r);
    ASSERT_TRUE(testenv::waitUntil([&] { return deletes.count() == 2; }));
}

// A clear is the service's: it removes what the service held at its clearing time, compared
// with the service's own times of each row, never with a clip's time from this device's clock.
// Clocks set apart (the service 10 minutes ahead, this device 10 minutes behind) clear nothing
// captured here after the clear, and nothing the service may not have.
TEST_F(PullMerge, AClearComparesTheServicesTimesNotThisDevicesClock)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 serviceNow = now + 600;  // the service's clock runs ten minutes ahead
    const qint64 deviceNow = now - 600;   // and this device's ten minutes behind
    struct Case {
        const char* name;
        qint64 localTime;
        qint64 historyId;
        std::optional<qint64> seenByService;
        const char* rowState;
        bool cleared;
    };
    const Case cases[] = {
        {"pulled before the clear", deviceNow - 3600, 31, serviceNow - 3600, "", true},
        {"pulled before the clear, stamped ahead", now + 7200, 32, serviceNow - 60, "", true},
        {"posted after the clear, not pulled since", deviceNow, 33, std::nullopt, "", false},
        {"captured after the clear, never posted", deviceNow, 0, std::nullopt, "", false},
        {"posted before, changed here since", deviceNow - 3600, 34, serviceNow - 3600, "change_timestamp = 1", false},
        {"secret", deviceNow - 3600, 35, serviceNow - 3600, "secert = 1", false},
        {"pulled after the clear", deviceNow - 3600, 36, serviceNow + 5, "", false},
    };
    for (const Case& c : cases) {
        const auto clip = addTextClip(QString::fromLatin1(c.name), c.localTime, c.historyId);
        if (c.seenByService)
            seenByServiceAt(*clip->file_hash(), *c.seenByService);
        if (*c.rowState)
            RawDb(dbPath()).exec(QStringLiteral("update History set %1 where file_hash = ?").arg(QLatin1String(c.rowState)),
                                 {*clip->file_hash()});
    }
    // The clip posted after the clear is still on the service: the row the clear could not
    // decide by its time is asked of the service, which answers that it has it.
    const QString postedAfter = md5HexOfString(QStringLiteral("posted after the clear, not pulled since"));
    {
        auto lock = server.lock();
        webdouble::ClipRoutes::StoredClip stored;
        stored.history = {{QStringLiteral("file_hash"), postedAfter}, {QStringLiteral("history_id"), 33}};
        server.clipRoutes().state().accounts[userId].clips[33] = stored;
    }
    const LogCapture log;
    QJsonObject r = reply();
    r[QStringLiteral("clear_all_ts")] = serviceNow;
    r[QStringLiteral("request_timestamp")] = serviceNow + 10;
    merge(r);
    // The service's answer was handled.
    ASSERT_TRUE(testenv::waitUntil([&] { return log.contains(QStringLiteral("clear: ") + postedAfter + QStringLiteral(" is kept")); }));
    const auto pushes = server.requestsTo("/push/");
    EXPECT_EQ(std::count_if(pushes.begin(), pushes.end(), [](const auto& request) { return request.method == "GET"; }), 1);
    for (const Case& c : cases) {
        const QString hash = md5HexOfString(QString::fromLatin1(c.name));
        EXPECT_EQ(!rowOf(hash), c.cleared) << c.name;
        EXPECT_EQ(QFile::exists(bodyPath(hash)), !c.cleared) << c.name;
    }
}

// The same reply may list a clip the service changed after its clear: the clear is applied
// first, so the clip stays, and the merge records the reply's time for it.
TEST_F(PullMerge, AClearAndClipsInOneReplyKeepTheClipsChangedAfterIt)
{
    const auto listed = addTextClip(QStringLiteral("favoured elsewhere after the clear"), 100, 41);
    const auto unlisted = addTextClip(QStringLiteral("held before the clear"), 100, 42);
    seenByServiceAt(*listed->file_hash(), 400);
    seenByServiceAt(*unlisted->file_hash(), 400);
    QJsonObject element = encryptedElement(QStringLiteral("favoured elsewhere after the clear"), 41, 100);
    element[QStringLiteral("favourite")] = 700;
    QJsonObject r = reply({element, encryptedElement(QStringLiteral("new after the clear"), 43, 100)});
    r[QStringLiteral("clear_all_ts")] = 500;
    r[QStringLiteral("request_timestamp")] = 800;
    merge(r);

    EXPECT_FALSE(rowOf(*unlisted->file_hash()));
    const auto kept = rowOf(*listed->file_hash());
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->favourite().toLongLong(), 700);
    EXPECT_TRUE(rowOf(md5HexOfString(QStringLiteral("new after the clear"))));
    RawDb raw(dbPath());
    EXPECT_EQ(raw.scalar(QStringLiteral("select server_time from History where file_hash = '%1'")
                             .arg(*listed->file_hash())),
              QVariant(800));
    EXPECT_EQ(raw.scalar(QStringLiteral("select server_time from History where file_hash = '%1'")
                             .arg(md5HexOfString(QStringLiteral("new after the clear")))),
              QVariant(800));
}

// JSON true stands for no id and no time anywhere in a pull reply.
TEST_F(PullMerge, TrueIsNoIdAndNoTime)
{
    struct Case {
        const char* name;
        std::function<void(QJsonObject&)> edit;
        std::function<void()> check;
    };
    const auto held = addTextClip(QStringLiteral("held by the service"), 100, 1);
    seenByServiceAt(*held->file_hash(), 400);
    const QString newHash = md5HexOfString(QStringLiteral("listed"));
    auto element = [&](const char* key) {
        QJsonObject e = encryptedElement(QStringLiteral("listed"), 51, 100);
        e[QLatin1String(key)] = true;
        return QJsonArray{e};
    };
    const Case cases[] = {
        {"request_timestamp", [](QJsonObject& r) { r[QStringLiteral("request_timestamp")] = true; },
         [] { EXPECT_EQ(bookmark(), QStringLiteral("absent")); }},
        {"clear_all_ts", [](QJsonObject& r) { r[QStringLiteral("clear_all_ts")] = true; },
         [&] { EXPECT_TRUE(rowOf(*held->file_hash())); }},
        {"an action's history_id",
         [](QJsonObject& r) {
             r[QStringLiteral("action")] = QJsonArray{QJsonObject{{QStringLiteral("action"), QStringLiteral("del")},
                                                                  {QStringLiteral("history_id"), true}}};
         },
         [&] { EXPECT_TRUE(rowOf(*held->file_hash())); }},
        {"a clip's history_id", [&](QJsonObject& r) { r[QStringLiteral("histories")] = element("history_id"); },
         [&] { EXPECT_FALSE(rowOf(newHash)); }},
        {"a clip's file_id", [&](QJsonObject& r) { r[QStringLiteral("histories")] = element("file_id"); },
         [&] { EXPECT_FALSE(rowOf(newHash)); }},
        {"a clip's timestamp", [&](QJsonObject& r) { r[QStringLiteral("histories")] = element("timestamp"); },
         [&] { EXPECT_FALSE(rowOf(newHash)); }},
        {"a clip's favourite", [&](QJsonObject& r) { r[QStringLiteral("histories")] = element("favourite"); },
         [&] { EXPECT_FALSE(rowOf(newHash)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UserDefaults::standard().remove(DefaultsKey::LastPullRequestTime);
        QJsonObject r = reply();
        r.remove(QStringLiteral("request_timestamp"));
        c.edit(r);
        ASSERT_TRUE(merge(r).isValid());
        c.check();
        EXPECT_TRUE(rowOf(*held->file_hash()));
    }
}

TEST_F(PullMerge, TheCleanUpKeepsTheNewestSixtyAndRemovesTheOthersBodies)
{
    QStringList hashes;
    for (int i = 0; i < 70; ++i)
        hashes << *addTextClip(QStringLiteral("row %1").arg(i), 100 + i, 100 + i)->file_hash();
    QJsonArray news;
    for (int i = 0; i < 5; ++i)
        news.append(encryptedElement(QStringLiteral("new %1").arg(i), 500 + i, 1000 + i));
    merge(reply(news));

    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw, QStringLiteral("category = 'history'")), 60);
    for (int i = 0; i < 15; ++i) {
        EXPECT_FALSE(rowOf(hashes.at(i)));
        EXPECT_FALSE(QFile::exists(bodyPath(hashes.at(i)))) << i;
    }
    EXPECT_TRUE(QFile::exists(bodyPath(hashes.at(15))));
    EXPECT_TRUE(rowOf(md5HexOfString(QStringLiteral("new 4"))));
}

// The clean-up after a pull removes only clips the service holds: a secret clip, one still
// waiting to be sent and one never sent are kept among the oldest, whatever their number.
TEST_F(PullMerge, TheCleanUpKeepsEveryOldClipTheServiceLacks)
{
    const OldClip oldest[] = {
        {"a copied file, secret", 0, "secert = 1", true},
        {"secret, with a server id", 3, "secert = 1", true},
        {"a change still to send", 4, "change_timestamp = 7", true},
        {"never posted", 0, "", true},
        {"held by the service", 6, "", false},
    };
    addOldClips(oldest, QString(ClipCategory::History));
    for (int i = 0; i < 60; ++i)
        addTextClip(QStringLiteral("newer %1").arg(i), 1000 + i, 100 + i);
    merge(reply({encryptedElement(QStringLiteral("pulled"), 900, 5000)}));

    for (const auto& row : oldest) {
        const QString hash = md5HexOfString(QString::fromLatin1(row.name));
        EXPECT_EQ(bool(rowOf(hash)), row.kept) << row.name;
        EXPECT_EQ(QFile::exists(bodyPath(hash)), row.kept) << row.name;
    }
    RawDb raw(dbPath());
    // The newest 60 (the pulled clip among them) and the four the service lacks.
    EXPECT_EQ(countRows(raw, QStringLiteral("category = 'history'")), 64);
    EXPECT_TRUE(rowOf(md5HexOfString(QStringLiteral("pulled"))));
}

TEST_F(PullMerge, HostileElementsAreSkippedAndTheRestIsMerged)
{
    const QString good = QStringLiteral("good one");
    QJsonObject traversal = encryptedElement(QStringLiteral("x"), 51);
    traversal[QStringLiteral("file_hash")] = QStringLiteral("../../x");
    QJsonObject zeroId = encryptedElement(QStringLiteral("zero id"), 0);
    QJsonObject slashName = encryptedElement(QStringLiteral("slash name"), 53);
    slashName[QStringLiteral("file_name")] = QStringLiteral("../../../.bashrc");
    QJsonObject upperHash = encryptedElement(QStringLiteral("upper"), 54);
    upperHash[QStringLiteral("file_hash")] = md5HexOfString(QStringLiteral("upper")).toUpper();
    QJsonObject stringReady = encryptedElement(QStringLiteral("bad ready"), 55);
    stringReady[QStringLiteral("file_ready")] = 7;
    QJsonObject badKeyHash = encryptedElement(QStringLiteral("bad key"), 56);
    badKeyHash[QStringLiteral("key_hash")] = QStringLiteral("../k");

    merge(reply({traversal, zeroId, slashName, upperHash, stringReady, badKeyHash, encryptedElement(good, 57),
                 QJsonValue(QStringLiteral("not an object"))}));

    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw), 1);
    EXPECT_TRUE(rowOf(md5HexOfString(good)));
    EXPECT_FALSE(QFile::exists(libraryDir() + QStringLiteral("/x")));
    EXPECT_FALSE(QFile::exists(testenv::home() + QStringLiteral("/Library/x")));
    EXPECT_EQ(QDir(libraryDir() + QStringLiteral("/files")).entryList(QDir::Files).size(), 1);
}

TEST_F(PullMerge, AReplyForAnotherLoginMergesNothing)
{
    webdouble::Fault late = webdouble::Fault::rawBody(json(reply({encryptedElement(QStringLiteral("theirs"), 61)})).toStdString());
    late.delay = std::chrono::milliseconds(300);
    server.setFault("/pull/", late);
    auto out = std::make_shared<Sent>();
    std::make_shared<PullClipManager>()->request(
        [out](const QVariant& result, int, const std::optional<RequestError>&) {
            out->called = true;
            out->result = result;
        });
    ConfigureManager::sharedInstance().setLoginUserToken(QStringLiteral("another login"));
    ASSERT_TRUE(testenv::waitUntil([&] { return out->called; }));
    EXPECT_FALSE(out->result.isValid());
    EXPECT_FALSE(rowOf(md5HexOfString(QStringLiteral("theirs"))));
    EXPECT_EQ(bookmark(), QStringLiteral("absent"));
}

TEST_F(PullMerge, ABigFirstPullKeepsTheNewestSixtyWithTheirBodies)
{
    QJsonArray news;
    for (int i = 0; i < 70; ++i)
        news.append(encryptedElement(QStringLiteral("first pull %1").arg(i), 700 + i, 2000 + i));
    ASSERT_TRUE(merge(reply(news)).isValid());

    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw), 60);
    EXPECT_EQ(countRows(raw, QStringLiteral("local_file_ok = 1")), 60);
    EXPECT_EQ(QDir(libraryDir() + QStringLiteral("/files")).entryList(QDir::Files).size(), 60);
    EXPECT_FALSE(rowOf(md5HexOfString(QStringLiteral("first pull 9"))));
    EXPECT_TRUE(rowOf(md5HexOfString(QStringLiteral("first pull 10"))));
}
