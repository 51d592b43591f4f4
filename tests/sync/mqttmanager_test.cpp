#include "syncfixture.h"

#include "platform/notificationcenter.h"
#include "store/deviceidentity.h"
#include "store/notificationnames.h"
#include "support/mosquittobroker.h"
#include "support/webservice/mqttpublisher.h"
#include "sync/catchupmanager.h"
#include "sync/fetchlimiter.h"
#include "sync/mqttmanager.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <gtest/gtest.h>

using namespace synctest;

namespace {

const QString kOtherDevice = QStringLiteral("0123456789abcdef0123456789abcdef");

MqttManager& mqtt()
{
    return MqttManager::sharedInstance();
}

// The channel against a real broker on loopback, with the double publishing to it.
class MqttChannel : public SyncTest {
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        ASSERT_TRUE(broker.start()) << broker.log().toStdString();
        ASSERT_TRUE(server.connectBroker(broker.host().toStdString(), broker.port()));
        pointAt(broker.port());
        mqtt().resetForTesting();
    }
    void TearDown() override
    {
        mqtt().resetForTesting();
        drainMainQueue();
        SyncTest::TearDown();
    }

    static void pointAt(int port)
    {
        UserDefaults::standard().setValue(DefaultsKey::MqttHost, QStringLiteral("127.0.0.1"));
        UserDefaults::standard().setValue(DefaultsKey::MqttPort, port);
    }
    // Connected, subscribed, and the pull that follows each subscription has ended.
    void connectAndSubscribe()
    {
        const size_t pulls = server.requestsTo("/pull/").size();
        mqtt().connect();
        ASSERT_TRUE(testenv::waitUntil([] { return mqtt().isSubscribed(); }, std::chrono::seconds(10)))
            << collectLog().toStdString();
        ASSERT_TRUE(testenv::waitUntil([&] {
            return server.requestsTo("/pull/").size() > pulls && !CatchUpManager::sharedInstance().isPulling();
        }));
    }
    // The broker's log so far (the fixture hands out each line once).
    QString collectLog()
    {
        m_log += broker.log();
        return m_log;
    }
    int brokerLines(const QString& needle)
    {
        return static_cast<int>(collectLog().count(needle));
    }

    // A null device leaves the token out, as a client republishing the service's message might.
    void publish(const QString& protocol, QJsonObject data, const QString& device = kOtherDevice)
    {
        if (!device.isNull())
            data.insert(QStringLiteral("device_token"), device);
        server.publish(userId, protocol, data);
    }
    // A message whose effect is easy to see and needs no server, sent after others: once it
    // has been applied, every message published before it on the same topic has been handled
    // too. Then waits until whatever those messages asked of the server has ended.
    void sendSentinelAndWait()
    {
        handleSentinel();
        settle();
    }
    // wait: how long the messages before it may take on a busy machine. The sentinel is a clip
    // only the server holds: a message is only a hint, so its row appears once the fetch it
    // starts has been answered. Its requests are left out of clipRequests().
    void handleSentinel(std::chrono::milliseconds wait = std::chrono::seconds(10))
    {
        const QString text = QStringLiteral("sentinel %1").arg(++m_sentinels);
        const QString hash = md5HexOfString(text);
        const qint64 id = 990000 + m_sentinels;
        {
            auto lock = server.lock();
            auto stored = encryptedClip(text, QDateTime::currentSecsSinceEpoch(), id, 1);
            stored.changedAt = server.nextTimestamp();
            server.clipRoutes().state().accounts[userId].clips[id] = stored;
        }
        m_sentinelHashes << hash;
        publish(QStringLiteral("history_upload_file"), {{QStringLiteral("file_hash"), hash},
                                                        {QStringLiteral("history_id"), id},
                                                        {QStringLiteral("file_id"), id + 1000}});
        ASSERT_TRUE(testenv::waitUntil([&] { return bool(rowOf(hash)); }, wait)) << "the sentinel was not handled";
        {
            auto lock = server.lock();
            server.clipRoutes().state().accounts[userId].clips.erase(id);
        }
        const auto row = rowOf(hash);
        DBKeeper::deleteClipItem(hash);
        ClipFileManager::sharedInstance().deleteFilesWithHistoryArray({row});
    }
    // The clip requests ("/push/") but the sentinels'.
    std::vector<webdouble::RecordedRequest> clipRequests() const
    {
        std::vector<webdouble::RecordedRequest> out;
        for (const auto& request : server.requestsTo("/push/")) {
            const QString query = QString::fromStdString(request.query);
            if (std::none_of(m_sentinelHashes.cbegin(), m_sentinelHashes.cend(),
                             [&](const QString& h) { return query.contains(h); }))
                out.push_back(request);
        }
        return out;
    }
    static void settle()
    {
        // A pull waits out the spacing between pulls.
        ASSERT_TRUE(testenv::waitUntil([] { return mqtt().isSettled(); }, std::chrono::seconds(20)));
    }
    // The account's clips were cleared on the server at the given time (a clear made there).
    void clearedOnServer(qint64 time)
    {
        auto lock = server.lock();
        auto& account = server.clipRoutes().state().accounts[userId];
        account.clearedAt = server.nextTimestamp();
        account.clearAllTs = time;
    }
    // The server's record of a text clip another device posted, encrypted with the account's key.
    webdouble::ClipRoutes::StoredClip encryptedClip(const QString& text, qint64 timestamp, qint64 historyId,
                                                    int fileReady)
    {
        webdouble::ClipRoutes::StoredClip stored;
        stored.history = {{QStringLiteral("file_hash"), md5HexOfString(text)},
                          {QStringLiteral("type"), QStringLiteral("text_txt+enc")},
                          {QStringLiteral("content"), encrypt(text)},
                          {QStringLiteral("key_hash"), keyHash()},
                          {QStringLiteral("timestamp"), timestamp},
                          {QStringLiteral("history_id"), historyId},
                          {QStringLiteral("file_id"), historyId + 1000},
                          {QStringLiteral("file_ready"), fileReady}};
        return stored;
    }
    // A clip the server holds for the account.
    void storeOnServer(const QString& hash, qint64 historyId)
    {
        auto lock = server.lock();
        webdouble::ClipRoutes::StoredClip stored;
        stored.history = {{QStringLiteral("file_hash"), hash}, {QStringLiteral("type"), QStringLiteral("text_txt+enc")},
                          {QStringLiteral("key_hash"), keyHash()}, {QStringLiteral("timestamp"), 100},
                          {QStringLiteral("history_id"), historyId}, {QStringLiteral("file_id"), historyId + 1000},
                          {QStringLiteral("file_ready"), 1}};
        stored.changedAt = server.nextTimestamp();
        server.clipRoutes().state().accounts[userId].clips[historyId] = stored;
    }

    MosquittoBroker broker;
    QString m_log;
    int m_sentinels = 0;
    QStringList m_sentinelHashes;
};

}  // namespace

TEST_F(MqttChannel, ConnectsWithTheDeviceTokenAndSubscribesOnce)
{
    connectAndSubscribe();
    EXPECT_TRUE(mqtt().isConnected());
    // Connected: a second connect starts nothing.
    mqtt().connect();
    publish(QStringLiteral("history_clear"), {{QStringLiteral("timestamp"), 1}});
    sendSentinelAndWait();
    // One connection: the device token as client id, clean session, keep-alive 60 s, "pubclient".
    EXPECT_EQ(brokerLines(QStringLiteral("as ") + currentDeviceToken() + QStringLiteral(" (p1, c1, k60, u'pubclient')")), 1)
        << collectLog().toStdString();
    EXPECT_EQ(MqttManager::topic(), QStringLiteral("user_id_") + QString::number(userId));
}

TEST_F(MqttChannel, DeleteRemovesTheHistoryRowButKeepsTheFavouriteAndItsBody)
{
    connectAndSubscribe();
    const auto clip = addTextClip(QStringLiteral("kept as favourite"), 100, 7);
    addTextClip(QStringLiteral("kept as favourite"), 100, 7, QString(ClipCategory::Favourite));
    const QString hash = *clip->file_hash();
    NotificationCounter deletes(NotificationName::HistoryDelete);

    publish(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), hash}, {QStringLiteral("key_hash"), keyHash()}});
    ASSERT_TRUE(testenv::waitUntil([&] { return !rowOf(hash); }));
    EXPECT_TRUE(rowOf(hash, QString(ClipCategory::Favourite)));
    EXPECT_TRUE(QFile::exists(bodyPath(hash)));
    EXPECT_TRUE(testenv::waitUntil([&] { return deletes.count() == 1; }));
}

TEST_F(MqttChannel, DeleteRemovesTheBodyAndThePreviewLinkNamedByTheRow)
{
    connectAndSubscribe();
    auto clip = addTextClip(QStringLiteral("a file clip"), 100, 7);
    clip->setFile_name(QStringLiteral("/home/someone/report.txt"));
    clip->save();
    const QString preview = ClipFileManager::sharedInstance().makePreviewLink(*clip);
    ASSERT_TRUE(QFileInfo::exists(preview));
    ASSERT_TRUE(preview.endsWith(QStringLiteral("/report.txt")));

    publish(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), *clip->file_hash()}});
    ASSERT_TRUE(testenv::waitUntil([&] { return !rowOf(*clip->file_hash()); }));
    EXPECT_FALSE(QFile::exists(bodyPath(*clip->file_hash())));
    EXPECT_FALSE(QFileInfo::exists(preview));
}

TEST_F(MqttChannel, ThisDevicesOwnMessagesAreIgnored)
{
    connectAndSubscribe();
    const auto mine = addTextClip(QStringLiteral("deleted here already"), 100, 3);
    publish(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), *mine->file_hash()}}, currentDeviceToken());
    publish(QStringLiteral("history_clear"), {{QStringLiteral("timestamp"), 1000}}, currentDeviceToken());
    sendSentinelAndWait();
    EXPECT_TRUE(rowOf(*mine->file_hash()));
}

TEST_F(MqttChannel, ProtocolsMatchByPrefix)
{
    connectAndSubscribe();
    struct Case {
        const char* protocol;
        bool clears;
    };
    const Case cases[] = {
        {"history_clear", true},
        {"history_clear_all_of_it", true},
        {"xhistory_clear", false},
        {"History_clear", false},
        {"", false},
    };
    qint64 id = 300;
    for (const Case& c : cases) {
        const auto clip = addTextClip(QStringLiteral("old clip for %1").arg(QLatin1String(c.protocol)), 100, ++id);
        seenByServiceAt(*clip->file_hash(), 400);
        auto favourite = addTextClip(QStringLiteral("old favourite %1").arg(QLatin1String(c.protocol)), 100, 0,
                                     QString(ClipCategory::Favourite));
        favourite->setFavourite(QVariant(90));
        favourite->save();
        clearedOnServer(500);
        publish(QString::fromLatin1(c.protocol), {{QStringLiteral("timestamp"), 500}});
        sendSentinelAndWait();
        EXPECT_EQ(!rowOf(*clip->file_hash()), c.clears) << c.protocol;
        EXPECT_TRUE(rowOf(*favourite->file_hash(), QString(ClipCategory::Favourite))) << c.protocol;
        EXPECT_EQ(QFile::exists(bodyPath(*clip->file_hash())), !c.clears) << c.protocol;
        if (rowOf(*clip->file_hash()))
            rowOf(*clip->file_hash())->del();
    }
}

TEST_F(MqttChannel, AClearConfirmedByTheServerKeepsNewerClips)
{
    connectAndSubscribe();
    // The service's times decide, not the clips' own.
    const auto older = addTextClip(QStringLiteral("older"), 900, 61);
    const auto newer = addTextClip(QStringLiteral("newer"), 100, 62);
    seenByServiceAt(*older->file_hash(), 400);
    seenByServiceAt(*newer->file_hash(), 600);
    NotificationCounter deletes(NotificationName::HistoryDelete);
    clearedOnServer(500);
    publish(QStringLiteral("history_clear"), {{QStringLiteral("timestamp"), 500}});
    ASSERT_TRUE(testenv::waitUntil([&] { return !rowOf(*older->file_hash()); }));
    EXPECT_TRUE(rowOf(*newer->file_hash()));
    EXPECT_TRUE(testenv::waitUntil([&] { return deletes.count() == 1; }));
}

// Any client of the broker can publish on any user's topic: the time in a clear message is
// never used, only the clearing time the server gives in a pull.
TEST_F(MqttChannel, AClearTakesItsTimeFromTheServerNotFromTheMessage)
{
    connectAndSubscribe();
    struct Case {
        const char* name;
        qint64 messageTime;
        std::optional<qint64> serverClear;
        bool olderCleared;
    };
    const Case cases[] = {
        {"the year 2100, no clear on the server", 4102444800, std::nullopt, false},
        {"the year 2100, an earlier clear on the server", 4102444800, 500, true},
        {"an early time, a later clear on the server", 1, 500, true},
    };
    for (const Case& c : cases) {
        const auto older = addTextClip(QStringLiteral("older, %1").arg(QLatin1String(c.name)), 100, 51);
        const auto recent = addTextClip(QStringLiteral("recent, %1").arg(QLatin1String(c.name)),
                                        QDateTime::currentSecsSinceEpoch() - 60, 52);
        seenByServiceAt(*older->file_hash(), 100);
        seenByServiceAt(*recent->file_hash(), QDateTime::currentSecsSinceEpoch() - 60);
        storeOnServer(md5HexOfString(QStringLiteral("on the server")), 31);
        if (c.serverClear)
            clearedOnServer(*c.serverClear);
        const auto before = serverClips();
        server.clearRequests();

        publish(QStringLiteral("history_clear"), {{QStringLiteral("timestamp"), c.messageTime}});
        ASSERT_TRUE(testenv::waitUntil([&] { return !server.requestsTo("/pull/").empty(); })) << c.name;
        sendSentinelAndWait();

        EXPECT_EQ(!rowOf(*older->file_hash()), c.olderCleared) << c.name;
        EXPECT_EQ(QFile::exists(bodyPath(*older->file_hash())), !c.olderCleared) << c.name;
        EXPECT_TRUE(rowOf(*recent->file_hash())) << c.name;
        // The server was only asked, never changed.
        EXPECT_EQ(serverClips().size(), before.size()) << c.name;
        EXPECT_TRUE(server.requestsTo("/clear_history/").empty()) << c.name;
        EXPECT_TRUE(clipRequests().empty()) << c.name;
        DBKeeper::deleteClipItem(older->file_hash());
        DBKeeper::deleteClipItem(recent->file_hash());
    }
}

// A delete message is applied once the fetch of that clip finds it gone on the server.
TEST_F(MqttChannel, ADeleteIsAppliedOnlyWhenTheServerNoLongerHasTheClip)
{
    connectAndSubscribe();
    struct Case {
        const char* name;
        qint64 localId;
        bool onServer;
        bool serverFails;
        bool deleted;
        size_t fetches;
    };
    const Case cases[] = {
        {"still on the server", 7, true, false, false, 1},
        {"gone from the server", 8, false, false, true, 1},
        {"the server fails", 9, false, true, false, 1},
        {"never pushed", 0, false, false, false, 0},
    };
    for (const Case& c : cases) {
        const auto clip = addTextClip(QStringLiteral("delete case %1").arg(QLatin1String(c.name)), 100, c.localId);
        const QString hash = *clip->file_hash();
        if (c.onServer)
            storeOnServer(hash, c.localId);
        if (c.serverFails)
            server.setFault("/push/", webdouble::Fault::status(500));
        server.clearRequests();
        NotificationCounter deletes(NotificationName::HistoryDelete);

        publish(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), hash}, {QStringLiteral("key_hash"), keyHash()}});
        sendSentinelAndWait();
        server.clearFaults();

        EXPECT_EQ(clipRequests().size(), c.fetches) << c.name;
        EXPECT_EQ(!rowOf(hash), c.deleted) << c.name;
        EXPECT_EQ(QFile::exists(bodyPath(hash)), !c.deleted) << c.name;
        if (c.deleted) {
            EXPECT_TRUE(testenv::waitUntil([&] { return deletes.count() == 1; })) << c.name;
        } else {
            EXPECT_EQ(deletes.count(), 0) << c.name;
        }
        if (c.onServer) {
            EXPECT_EQ(serverClips().count(c.localId), 1u) << c.name;
        }
        DBKeeper::deleteClipItem(hash);
    }
}

// Ten thousand messages for clips nobody has: a few fetches, then pulls, never a request each.
TEST_F(MqttChannel, AFloodOfMessagesForUnknownClipsIsBounded)
{
    connectAndSubscribe();
    server.clearRequests();
    {
        // The server answers nothing until every message has been handled.
        auto hold = server.lock();
        const quint64 before = mqtt().messagesHandled();
        for (int i = 0; i < 10000; ++i) {
            publish(QStringLiteral("history_upload_file"),
                    {{QStringLiteral("file_hash"), md5HexOfString(QStringLiteral("unknown %1").arg(i))},
                     {QStringLiteral("history_id"), 100000 + i},
                     {QStringLiteral("file_id"), 200000 + i}});
        }
        ASSERT_TRUE(testenv::waitUntil([&] { return mqtt().messagesHandled() >= before + 10000; },
                                       std::chrono::seconds(120)));
    }
    settle();
    EXPECT_LE(clipRequests().size(), size_t(FetchLimiter::kMaxFetches));
    // One pull for the hints that did not fit, one for those that came while it ran.
    EXPECT_LE(server.requestsTo("/pull/").size(), 2u);
    EXPECT_GE(server.requestsTo("/pull/").size(), 1u);
}

// Repeats of a clip while its fetch runs make that fetch run once more when it ends (its
// answer may predate what they announce), never once each.
TEST_F(MqttChannel, RepeatsOfOneClipDuringItsFetchFetchItOnceMore)
{
    connectAndSubscribe();
    const QString text = QStringLiteral("pushed once, announced often");
    const QString hash = md5HexOfString(text);
    {
        auto lock = server.lock();
        auto stored = encryptedClip(text, 1234, 44, 1);
        server.clipRoutes().state().accounts[userId].clips[44] = stored;
    }
    server.clearRequests();
    // The first fetch waits at the server until every repeat has been handled.
    auto gate = std::make_shared<webdouble::Gate>();
    server.setFault("/push/", webdouble::Fault::held(gate, 1));
    const quint64 before = mqtt().messagesHandled();
    for (int i = 0; i < 1000; ++i)
        publish(QStringLiteral("history_upload_file"), {{QStringLiteral("file_hash"), hash},
                                                        {QStringLiteral("history_id"), 44},
                                                        {QStringLiteral("file_id"), 1044}});
    ASSERT_TRUE(testenv::waitUntil([&] { return mqtt().messagesHandled() >= before + 1000 && gate->arrived() == 1; },
                                   std::chrono::seconds(60)));
    gate->open();
    settle();
    server.clearFaults();
    EXPECT_EQ(clipRequests().size(), 2u);
    EXPECT_TRUE(server.requestsTo("/pull/").empty());
    const auto row = rowOf(hash);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->content(), text);
}

// The service sends "history_upload_file" after the post and again once the body is up. The
// second, arriving while the fetch the first started is slow, must not be absorbed: that
// fetch's answer predates the upload and says the body is not ready.
TEST_F(MqttChannel, TheBodyReadyMessageDuringASlowFetchIsFetchedAgain)
{
    connectAndSubscribe();
    const QString text = QStringLiteral("its body goes up while it is fetched");
    const QString hash = md5HexOfString(text);
    auto stored = encryptedClip(text, 1234, 45, 0);
    // The slow fetch's answer was made before the body was up.
    auto gate = std::make_shared<webdouble::Gate>();
    webdouble::Fault slow = webdouble::Fault::rawBody(
        json({{QStringLiteral("code"), 0}, {QStringLiteral("history"), stored.history}}).toStdString());
    slow.gate = gate;
    slow.times = 1;
    server.setFault("/push/", slow);
    {
        auto lock = server.lock();
        stored.history.insert(QStringLiteral("file_ready"), 1);
        stored.changedAt = server.nextTimestamp();
        server.clipRoutes().state().accounts[userId].clips[45] = stored;
    }
    const QJsonObject announced{{QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), 45},
                                {QStringLiteral("file_id"), 1045}};
    publish(QStringLiteral("history_upload_file"), announced);
    ASSERT_TRUE(testenv::waitUntil([&] { return gate->arrived() == 1; }));
    const quint64 before = mqtt().messagesHandled();
    publish(QStringLiteral("history_upload_file"), announced);
    ASSERT_TRUE(testenv::waitUntil([&] { return mqtt().messagesHandled() > before; }));
    gate->open();
    settle();
    server.clearFaults();
    const auto row = rowOf(hash);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->content(), text);
    EXPECT_EQ(row->file_ready().toLongLong(), 1);
    EXPECT_EQ(clipRequests().size(), 2u);
}

// "history_upload_file" is a hint: any client of the broker can send it, with the device token
// left out and with made-up ids. A known row changes only by what the service answers to the
// fetch; a row whose post or upload this device still owes is not touched at all.
TEST_F(MqttChannel, AnUploadMessageChangesOnlyWhatTheServiceAnswers)
{
    connectAndSubscribe();
    struct Case {
        const char* name;
        qint64 localId;
        qint64 messageId;
        const char* rowState;  // besides file_ready 0
        bool onServerReady;    // the service holds the clip under the local id, its body up
        qint64 expectedId;
        int expectedReady;  // -1: this device's own upload may set it meanwhile
        size_t fetches;
    };
    const Case cases[] = {
        {"the service has its body now", 12, 12, "", true, 12, 1, 1},
        {"the service has not", 13, 13, "", false, 13, 0, 1},
        {"a made-up id", 14, 77, "", true, 14, 0, 1},
        {"never posted, a made-up id", 0, 78, "", false, 0, 0, 0},
        {"never posted, an id the service uses", 0, 15, "", true, 0, 0, 0},
        {"a change still to send", 16, 16, "change_timestamp = 5", true, 16, 0, 0},
        {"its captured body not up yet", 17, 17, "file_size = 40", true, 17, -1, 0},
    };
    for (const Case& c : cases) {
        const auto clip = addTextClip(QStringLiteral("known, %1").arg(QLatin1String(c.name)), 100, c.localId);
        const QString hash = *clip->file_hash();
        DBKeeper::setRemoteFileReady(QVariant(0), hash, keyHash());
        if (*c.rowState) {
            RawDb(dbPath()).exec(QStringLiteral("update History set %1 where file_hash = ?").arg(QLatin1String(c.rowState)),
                                 {hash});
        }
        const qint64 serverId = c.localId != 0 ? c.localId : c.messageId;
        if (c.onServerReady)
            storeOnServer(hash, serverId);
        server.clearRequests();

        publish(QStringLiteral("history_upload_file"),
                {{QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), c.messageId},
                 {QStringLiteral("file_id"), c.messageId + 1000}},
                QString());
        sendSentinelAndWait();

        size_t fetches = 0;
        for (const auto& request : clipRequests())
            fetches += request.method == "GET" && QString::fromStdString(request.query).contains(hash) ? 1 : 0;
        EXPECT_EQ(fetches, c.fetches) << c.name;
        const auto row = rowOf(hash);
        ASSERT_TRUE(row) << c.name;
        EXPECT_EQ(row->history_id().toLongLong(), c.expectedId) << c.name;
        if (c.expectedReady >= 0) {
            EXPECT_EQ(row->file_ready().toLongLong(), c.expectedReady) << c.name;
        }
        EXPECT_EQ(row->content(), QStringLiteral("known, %1").arg(QLatin1String(c.name))) << c.name;
        row->del();
        auto lock = server.lock();
        server.clipRoutes().state().accounts[userId].clips.erase(serverId);
    }
}

TEST_F(MqttChannel, UploadOfAMissingClipFetchesAndDecryptsIt)
{
    connectAndSubscribe();
    const QString text = QStringLiteral("secret from the other device");
    const QString hash = md5HexOfString(text);
    {
        auto lock = server.lock();
        auto stored = encryptedClip(text, 1234, 41, 0);
        stored.history.insert(QStringLiteral("device_name"), QStringLiteral("laptop"));
        server.clipRoutes().state().accounts[userId].clips[41] = stored;
    }
    std::vector<QString> order;
    auto observe = [&order](const QString& name) {
        return NotificationCenter::defaultCenter().addObserver(name, nullptr,
                                                               [&order, name](const Notification&) { order.push_back(name); });
    };
    const auto t1 = observe(NotificationName::FileDownloadDone);
    const auto t2 = observe(NotificationName::DataChanged);

    publish(QStringLiteral("history_upload_file"),
            {{QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), 41}, {QStringLiteral("file_id"), 1041}});
    // The body's notice, then the menu's (a change notice left over from the set-up may come first).
    auto doneThenChanged = [&order] {
        const auto done = std::find(order.begin(), order.end(), QString(NotificationName::FileDownloadDone));
        return done != order.end() && std::find(done, order.end(), QString(NotificationName::DataChanged)) != order.end();
    };
    EXPECT_TRUE(testenv::waitUntil(doneThenChanged));
    NotificationCenter::defaultCenter().removeObserver(t1);
    NotificationCenter::defaultCenter().removeObserver(t2);
    const auto row = rowOf(hash);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->content(), text);
    EXPECT_EQ(row->history_id().toLongLong(), 41);
    EXPECT_EQ(row->local_file_ok().toLongLong(), 1);
    EXPECT_EQ(ClipFileManager::sharedInstance().getStringWithMd5(hash), text);
    // The server only ever held the ciphertext.
    EXPECT_FALSE(serverClips()[41].history.value(QStringLiteral("content")).toString().contains(text));
}

// The device that captured a clip uploads its body; this device, which rebuilt it from the
// fetched row before that upload ended, leaves it to that device and only marks it ready once
// the upload is announced. Its own captured body still goes up.
TEST_F(MqttChannel, AFetchedBodyIsLeftToTheDeviceThatCapturedIt)
{
    connectAndSubscribe();
    FileService::sharedInstance().resetForTesting();
    const QString text = QStringLiteral("short enough to be its own row");
    const QString hash = md5HexOfString(text);
    {
        auto lock = server.lock();
        // Posted by the other device; its body is not on the server yet.
        auto stored = encryptedClip(text, 2000, 41, 0);
        stored.changedAt = server.nextTimestamp();
        server.clipRoutes().state().accounts[userId].clips[41] = stored;
    }
    // Older, captured here: its body is this device's to upload, after the fetched one's turn.
    const QByteArray mineBody = QByteArrayLiteral("captured on this device");
    auto mine = addTextClip(QString::fromUtf8(mineBody), 1000, 51);
    const QString mineHash = *mine->file_hash();
    storeOnServer(mineHash, 51);
    mine->setFile_ready(QVariant(0));
    mine->setFile_size(QVariant(double(mineBody.size())));
    mine->setKey_hash(keyHash());
    mine->save();
    DBKeeper::setLocalFileOkWithHash(mineHash);
    auto uploadsOf = [this](const QString& h) {
        size_t n = 0;
        for (const auto& request : server.requestsTo("/get_upload_token/"))
            n += QString::fromStdString(request.query).contains(QStringLiteral("&file_hash=") + h) ? 1 : 0;
        return n;
    };

    publish(QStringLiteral("history_upload_file"),
            {{QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), 41}, {QStringLiteral("file_id"), 1041}});
    // The fetch ends in the history worker, which hands over to the file worker.
    ASSERT_TRUE(testenv::waitUntil([&] {
        const auto row = rowOf(mineHash);
        return row && row->file_ready().toLongLong() == 1 && !FileService::sharedInstance().isRunning();
    }, std::chrono::seconds(20)));
    EXPECT_EQ(uploadsOf(mineHash), 1u);
    EXPECT_EQ(uploadsOf(hash), 0u);
    EXPECT_EQ(ClipFileManager::sharedInstance().getStringWithMd5(hash), text);
    EXPECT_EQ(rowOf(hash)->local_file_ok().toLongLong(), 1);

    // The other device's upload is announced: the body is on both sides now.
    {
        auto lock = server.lock();
        server.clipRoutes().state().accounts[userId].clips[41].history.insert(QStringLiteral("file_ready"), 1);
    }
    publish(QStringLiteral("history_upload_file"),
            {{QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), 41}, {QStringLiteral("file_id"), 1041}});
    ASSERT_TRUE(testenv::waitUntil([&] { return rowOf(hash)->file_ready().toLongLong() == 1; }));
    ASSERT_TRUE(testenv::waitUntil([] { return !FileService::sharedInstance().isRunning(); }));
    EXPECT_EQ(uploadsOf(hash), 0u);
    EXPECT_EQ(server.requestsTo("/oss/").size(), 1u);
}

TEST_F(MqttChannel, AFetchedClipThatCannotBeReadStoresNothing)
{
    connectAndSubscribe();
    struct Case {
        const char* name;
        QString keyHash;
        QString content;
    };
    const QString otherKey = makePair(QStringLiteral("9999"), QByteArray("other")).keyHash();
    const Case cases[] = {
        {"another key", otherKey, encrypt(QStringLiteral("x"))},
        {"this key, altered", keyHash(), QStringLiteral("bm90IGEgY2lwaGVydGV4dA==")},
        {"this key, no content", keyHash(), QString()},
    };
    qint64 id = 60;
    for (const Case& c : cases) {
        const QString hash = md5HexOfString(QString::fromLatin1(c.name));
        {
            auto lock = server.lock();
            webdouble::ClipRoutes::StoredClip stored;
            stored.history = {{QStringLiteral("file_hash"), hash}, {QStringLiteral("type"), QStringLiteral("text_txt+enc")},
                              {QStringLiteral("key_hash"), c.keyHash}, {QStringLiteral("timestamp"), 1},
                              {QStringLiteral("history_id"), id}, {QStringLiteral("file_id"), id}};
            if (!c.content.isEmpty())
                stored.history.insert(QStringLiteral("content"), c.content);
            server.clipRoutes().state().accounts[userId].clips[id] = stored;
        }
        NotificationCounter changed(NotificationName::DataChanged);
        NotificationCounter done(NotificationName::FileDownloadDone);
        server.clearRequests();
        publish(QStringLiteral("history_upload_file"), {{QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), id}});
        ASSERT_TRUE(testenv::waitUntil([&] { return changed.count() == 1; })) << c.name;
        EXPECT_EQ(clipRequests().size(), 1u) << c.name;
        EXPECT_FALSE(rowOf(hash)) << c.name;
        EXPECT_FALSE(QFile::exists(bodyPath(hash))) << c.name;
        EXPECT_EQ(done.count(), 0) << c.name;
        ++id;
    }
}

TEST_F(MqttChannel, HostileMessagesTouchNothing)
{
    connectAndSubscribe();
    const auto victim = addTextClip(QStringLiteral("must survive"), 100, 5);
    const QString hash = *victim->file_hash();
    RawDb raw(dbPath());
    const qint64 rowsBefore = countRows(raw);

    webdouble::MqttPublisher raw_publisher;
    ASSERT_TRUE(raw_publisher.connect("127.0.0.1", broker.port(), "pubclient", "4d2c9e17"));
    const std::string topic = MqttManager::topic().toStdString();
    auto message = [](const QString& protocol, const QJsonObject& data) {
        return json({{QStringLiteral("protocol"), protocol}, {QStringLiteral("data"), data}}).toStdString();
    };
    const QString device = kOtherDevice;
    const std::string payloads[] = {
        message(QStringLiteral("history_delete"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), hash.toUpper()}}),
        message(QStringLiteral("history_delete"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), QStringLiteral("../../clipDB.sqlite")}}),
        message(QStringLiteral("history_delete"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), hash.left(31)}}),
        message(QStringLiteral("history_delete"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), 12345}}),
        message(QStringLiteral("history_upload_file"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), 0}}),
        message(QStringLiteral("history_upload_file"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), -4}}),
        message(QStringLiteral("history_upload_file"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), 9}, {QStringLiteral("file_id"), 0}}),
        message(QStringLiteral("history_upload_file"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), hash}}),
        message(QStringLiteral("history_clear"), {{QStringLiteral("device_token"), device}, {QStringLiteral("timestamp"), QStringLiteral("soon")}}),
        message(QStringLiteral("history_clear"), {{QStringLiteral("device_token"), device}}),
        // JSON true is no id and no time.
        message(QStringLiteral("history_upload_file"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), true}}),
        message(QStringLiteral("history_upload_file"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), md5HexOfString(QStringLiteral("unknown"))}, {QStringLiteral("history_id"), true}}),
        message(QStringLiteral("history_upload_file"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), 5}, {QStringLiteral("file_id"), true}}),
        message(QStringLiteral("history_upload_file"), {{QStringLiteral("device_token"), device}, {QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), 5.5}}),
        message(QStringLiteral("history_clear"), {{QStringLiteral("device_token"), device}, {QStringLiteral("timestamp"), true}}),
        message(QStringLiteral("history_clear"), {{QStringLiteral("device_token"), device}, {QStringLiteral("timestamp"), 1700000000.5}}),
        "not json at all",
        "[\"history_clear\"]",
        "{\"protocol\": \"history_clear\", \"data\": 5}",
        std::string(10 * 1024 * 1024, '{'),
    };
    server.clearRequests();
    for (const std::string& payload : payloads)
        ASSERT_TRUE(raw_publisher.publish(topic, payload));
    sendSentinelAndWait();
    EXPECT_TRUE(server.requestsTo("/pull/").empty());

    const auto row = rowOf(hash);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->file_ready().toLongLong(), 1);
    EXPECT_EQ(row->history_id().toLongLong(), 5);
    EXPECT_TRUE(QFile::exists(bodyPath(hash)));
    EXPECT_TRUE(QFile::exists(dbPath()));
    // The sentinel added one row and took it away again.
    EXPECT_EQ(countRows(raw), rowsBefore);
    EXPECT_TRUE(clipRequests().empty());
}

TEST_F(MqttChannel, AStoppedBrokerIsReconnectedAndSubscribedAgain)
{
    connectAndSubscribe();
    broker.stop();
    ASSERT_TRUE(testenv::waitUntil([] { return !mqtt().isConnected(); }));
    ASSERT_TRUE(broker.restart());
    ASSERT_TRUE(testenv::waitUntil([] { return mqtt().isSubscribed(); }, std::chrono::seconds(15)));
    const auto clip = addTextClip(QStringLiteral("after the restart"), 100, 8);
    publish(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), *clip->file_hash()}});
    EXPECT_TRUE(testenv::waitUntil([&] { return !rowOf(*clip->file_hash()); }, std::chrono::seconds(10)));
}

// The session is clean: a clip another device posted while the broker was away is never
// announced. Each subscription is followed by a pull, so it arrives all the same.
TEST_F(MqttChannel, AClipPostedWhileTheBrokerWasAwayArrivesOnceItIsBack)
{
    connectAndSubscribe();
    broker.stop();
    ASSERT_TRUE(testenv::waitUntil([] { return !mqtt().isConnected(); }));
    const size_t pullsBefore = server.requestsTo("/pull/").size();

    const QString text = QStringLiteral("copied while the broker was down");
    const QString hash = md5HexOfString(text);
    {
        auto lock = server.lock();
        webdouble::ClipRoutes::StoredClip stored;
        stored.history = {{QStringLiteral("file_hash"), hash}, {QStringLiteral("type"), QStringLiteral("text_txt+enc")},
                          {QStringLiteral("key_hash"), keyHash()}, {QStringLiteral("timestamp"), 1700000000},
                          {QStringLiteral("history_id"), 70}, {QStringLiteral("file_id"), 70},
                          {QStringLiteral("file_ready"), 1}, {QStringLiteral("content"), encrypt(text)}};
        server.clipRoutes().touch(stored);
        server.clipRoutes().state().accounts[userId].clips[70] = stored;
    }

    ASSERT_TRUE(broker.restart());
    ASSERT_TRUE(testenv::waitUntil([&] { return rowOf(hash) && !CatchUpManager::sharedInstance().isPulling(); },
                                   std::chrono::seconds(15)))
        << collectLog().toStdString();
    EXPECT_TRUE(mqtt().isSubscribed());
    EXPECT_EQ(server.requestsTo("/pull/").size(), pullsBefore + 1);
    EXPECT_EQ(rowOf(hash)->content(), text);
    EXPECT_EQ(ClipFileManager::sharedInstance().getStringWithMd5(hash), text);
    EXPECT_EQ(serverClips().count(70), 1u);
}

TEST_F(MqttChannel, LogoutClosesTheChannelUntilTheNextLogin)
{
    connectAndSubscribe();
    keytest::logout();
    ASSERT_TRUE(testenv::waitUntil([] { return !mqtt().isActive(); }));
    EXPECT_FALSE(mqtt().isConnected());
    mqtt().connect();
    EXPECT_FALSE(mqtt().isActive());
    EXPECT_FALSE(mqtt().isRetryPending());

    ConfigureManager::sharedInstance().setLoginUserToken(token);
    drainMainQueue();
    connectAndSubscribe();
}

TEST_F(MqttChannel, CloseStopsTheChannelAndWakeConnectsAgain)
{
    connectAndSubscribe();
    mqtt().close();
    EXPECT_FALSE(mqtt().isActive());
    EXPECT_FALSE(mqtt().isConnected());
    connectAndSubscribe();
}

namespace {

// libmosquitto names the thread of its network loop.
int mosquittoLoopThreads()
{
    int n = 0;
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "mosquitto loop")
            ++n;
    }
    return n;
}

}  // namespace

// At exit after the broker went away, the client's thread keeps reconnecting and reporting:
// it is gone once the exit's finish returns, before anything it could log to is torn down.
TEST_F(MqttChannel, FinishAtExitEndsTheLoopThreadAfterTheBrokerWentAway)
{
    connectAndSubscribe();
    // The web service double publishes through a client of its own.
    const int withOurs = mosquittoLoopThreads();
    ASSERT_GE(withOurs, 1);
    broker.stop();
    ASSERT_TRUE(testenv::waitUntil([] { return !mqtt().isConnected(); }));

    MqttManager::finishIfMade();
    EXPECT_EQ(mosquittoLoopThreads(), withOurs - 1);
    EXPECT_FALSE(mqtt().isActive());
    EXPECT_FALSE(mqtt().isRetryPending());

    // Nothing of the process's channel is spent: it connects again.
    ASSERT_TRUE(broker.restart());
    connectAndSubscribe();
}

// A refused connection must not leave libmosquitto retrying on its own every second.
class MqttRefused : public MqttChannel {
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        broker.setPassword(QStringLiteral("not-the-apps-password"));
        ASSERT_TRUE(broker.start()) << broker.log().toStdString();
        pointAt(broker.port());
        mqtt().resetForTesting();
    }
};

TEST_F(MqttRefused, AWrongPasswordIsRetriedEveryFiveSecondsWithoutAStorm)
{
    const QString refused = QStringLiteral("disconnected, not authorised");
    QElapsedTimer clock;
    clock.start();
    mqtt().connect();
    ASSERT_TRUE(testenv::waitUntil([&] { return brokerLines(refused) >= 1; })) << collectLog().toStdString();
    ASSERT_TRUE(testenv::waitUntil([] { return mqtt().isRetryPending(); }));
    EXPECT_FALSE(mqtt().isActive());
    ASSERT_TRUE(testenv::waitUntil([&] { return brokerLines(refused) >= 3; }, std::chrono::seconds(20)));
    // Three attempts take two retry intervals; libmosquitto on its own would have made ten.
    EXPECT_GE(clock.elapsed(), 2 * MqttManager::kRetryMilliseconds - 500);
    EXPECT_EQ(brokerLines(refused), 3) << collectLog().toStdString();
    EXPECT_FALSE(mqtt().isConnected());

    // Logged out meanwhile: the pending retry does nothing.
    keytest::logout();
    drainMainQueue();
    EXPECT_FALSE(mqtt().isRetryPending());
}

TEST_F(MqttRefused, ABrokerThatIsNotThereIsRetriedLater)
{
    broker.stop();
    mqtt().connect();
    EXPECT_TRUE(testenv::waitUntil([] { return mqtt().isRetryPending() || mqtt().isActive(); }));
    // Whichever way the attempt failed, the channel does not report itself connected.
    EXPECT_FALSE(mqtt().isConnected());
}

// A "history_delete" that overtakes the fetch of the same clip: the clip stays deleted.
TEST_F(MqttChannel, ADeleteArrivingDuringTheFetchKeepsTheClipDeleted)
{
    connectAndSubscribe();
    const QString text = QStringLiteral("deleted on the other device at once");
    const QString hash = md5HexOfString(text);
    {
        auto lock = server.lock();
        webdouble::ClipRoutes::StoredClip stored;
        stored.history = {{QStringLiteral("file_hash"), hash}, {QStringLiteral("type"), QStringLiteral("text_txt")},
                          {QStringLiteral("content"), text},   {QStringLiteral("timestamp"), 5},
                          {QStringLiteral("history_id"), 71},  {QStringLiteral("file_id"), 1071}};
        server.clipRoutes().state().accounts[userId].clips[71] = stored;
    }
    auto gate = std::make_shared<webdouble::Gate>();
    server.setFault("/push/", webdouble::Fault::held(gate, 1), "GET");
    publish(QStringLiteral("history_upload_file"),
            {{QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), 71}, {QStringLiteral("file_id"), 1071}});
    ASSERT_TRUE(testenv::waitUntil([&] { return gate->arrived() == 1; }));
    // Deleted on the server while the fetch waits there; the fetch is answered after it.
    {
        auto lock = server.lock();
        server.clipRoutes().state().accounts[userId].clips.erase(71);
    }
    publish(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), hash}});
    handleSentinel();
    EXPECT_FALSE(rowOf(hash));

    gate->open();
    settle();
    drainMainQueue();
    EXPECT_FALSE(rowOf(hash));
    EXPECT_FALSE(QFile::exists(bodyPath(hash)));
    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw), 0);
    {
        auto lock = server.lock();
        EXPECT_EQ(server.clipRoutes().state().accounts[userId].clips.count(71), 0u);
    }
    // Only the fetch went out.
    EXPECT_EQ(clipRequests().size(), 1u);
}

// The fetch was answered before the clip was deleted on the server, but its answer arrives
// after the "history_delete": the stored clip is checked with the server and deleted again.
TEST_F(MqttChannel, ADeleteOvertakingAnAnsweredFetchStillDeletesTheClip)
{
    connectAndSubscribe();
    const QString text = QStringLiteral("answered, then deleted");
    const QString hash = md5HexOfString(text);
    const QJsonObject history{{QStringLiteral("file_hash"), hash}, {QStringLiteral("type"), QStringLiteral("text_txt")},
                              {QStringLiteral("content"), text},   {QStringLiteral("timestamp"), 5},
                              {QStringLiteral("history_id"), 72},  {QStringLiteral("file_id"), 1072},
                              {QStringLiteral("file_ready"), 0},   {QStringLiteral("file_size"), 0}};
    // The server's answer as it was before the delete, held until the delete has been handled.
    auto gate = std::make_shared<webdouble::Gate>();
    webdouble::Fault answered = webdouble::Fault::held(gate, 1);
    answered.body = json({{QStringLiteral("code"), 0}, {QStringLiteral("history"), history}}).toStdString();
    server.setFault("/push/", answered, "GET");
    publish(QStringLiteral("history_upload_file"),
            {{QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), 72}, {QStringLiteral("file_id"), 1072}});
    ASSERT_TRUE(testenv::waitUntil([&] { return gate->arrived() == 1; }));
    publish(QStringLiteral("history_delete"), {{QStringLiteral("file_hash"), hash}});
    handleSentinel();
    EXPECT_FALSE(rowOf(hash));

    gate->open();
    // The fetch stores it; the check that follows finds it gone on the server (it never was
    // in the double) and deletes it.
    ASSERT_TRUE(testenv::waitUntil([&] { return clipRequests().size() == 2u; }));
    settle();
    drainMainQueue();
    EXPECT_FALSE(rowOf(hash));
    EXPECT_FALSE(QFile::exists(bodyPath(hash)));
    RawDb raw(dbPath());
    EXPECT_EQ(countRows(raw), 0);
}

// A fetched clip keeps its negative favourite: the time of the unfavouring, as the pull keeps
// it, so a later merge still knows which decision came last.
TEST_F(MqttChannel, AFetchedClipKeepsItsUnfavouringTime)
{
    connectAndSubscribe();
    const QString text = QStringLiteral("unfavoured elsewhere");
    const QString hash = md5HexOfString(text);
    {
        auto lock = server.lock();
        webdouble::ClipRoutes::StoredClip stored;
        stored.history = {{QStringLiteral("file_hash"), hash}, {QStringLiteral("type"), QStringLiteral("text_txt")},
                          {QStringLiteral("content"), text},   {QStringLiteral("timestamp"), 5},
                          {QStringLiteral("history_id"), 72},  {QStringLiteral("file_id"), 1072},
                          {QStringLiteral("favourite"), -1700000000LL}};
        server.clipRoutes().state().accounts[userId].clips[72] = stored;
    }
    publish(QStringLiteral("history_upload_file"),
            {{QStringLiteral("file_hash"), hash}, {QStringLiteral("history_id"), 72}, {QStringLiteral("file_id"), 1072}});
    ASSERT_TRUE(testenv::waitUntil([&] { return rowOf(hash) != nullptr; }));
    EXPECT_EQ(rowOf(hash)->favourite().toLongLong(), -1700000000LL);
    EXPECT_FALSE(rowOf(hash, QString(ClipCategory::Favourite)));
}
