// What the upload workers do with each outcome of a step, against the double on loopback:
// a clip already in flight, no key yet, a server that is not there.

#include "syncfixture.h"

#include "service/zeromanager.h"
#include "sync/clearhistoryrequestmanager.h"
#include "sync/favouriteservice.h"
#include "sync/fileservice.h"
#include "sync/getfavouriterequestmanager.h"

#include <QDateTime>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace synctest;

namespace {

class UploadWorkers : public FavouriteWorkersTest {
protected:
    qint64 pendingCount(const QString& category = QString(ClipCategory::History))
    {
        RawDb raw(dbPath());
        return countRows(raw, QStringLiteral("change_timestamp > 0 and category = '%1'").arg(category));
    }
    std::optional<QJsonObject> serverClip(const QString& hash)
    {
        for (const auto& [id, clip] : serverClips())
            if (clip.history.value(QStringLiteral("file_hash")).toString() == hash)
                return clip.history;
        return std::nullopt;
    }
    // A clip the server holds under the id, as another device posted it.
    void serverHolds(const QString& text, qint64 id, qint64 favourite = 0)
    {
        auto lock = server.lock();
        server.clipRoutes().state().accounts[userId].clips[id].history =
            QJsonObject{{QStringLiteral("file_hash"), md5HexOfString(text)},
                        {QStringLiteral("history_id"), id},
                        {QStringLiteral("file_id"), id + 1000},
                        {QStringLiteral("file_ready"), 1},
                        {QStringLiteral("favourite"), favourite}};
    }
    qint64 serverFavourite(const QString& text)
    {
        const auto stored = serverClip(md5HexOfString(text));
        return stored ? stored->value(QStringLiteral("favourite")).toInteger() : 0;
    }
    // The worker's step has ended and its completion has run.
    static void settle(UploadWorker& worker)
    {
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(testenv::waitUntil([&] { return !worker.isRunning(); }, std::chrono::seconds(20)));
            drainMainQueue();
        }
    }
};

using std::chrono::seconds;

// A favourite made while the service cannot be reached goes once it can, with no user action:
// the retry timer backs off from 30 s to 10 minutes, an outside trigger starts it over, and
// once the favourite is sent no timer is left.
TEST_F(UploadWorkers, AFavouriteMadeOfflineGoesOnItsOwnOnceTheServiceIsBack)
{
    const QString text = QStringLiteral("favourited during the outage");
    serverHolds(text, 31);
    addTextClip(text, 100, 31);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    auto favourite = addTextClip(text, 100, 31, QString(ClipCategory::Favourite));
    favourite->setFavourite(QVariant(now));
    favourite->save();
    favourite->increase_change_count();
    FavouriteService& worker = FavouriteService::sharedInstance();
    EXPECT_EQ(worker.retryDelay(), seconds(0));
    EXPECT_EQ(timers->liveRepeating(), 0) << "nothing pending yet, no timer";

    // No service at this address: every try fails in transport.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 deadPort = closed.serverPort();
    closed.close();
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QStringLiteral("http://127.0.0.1:%1").arg(deadPort));
    worker.process();
    ASSERT_TRUE(testenv::waitUntil([&] { return worker.retryDelay() == seconds(30); }, seconds(20)));
    for (const auto expected : {seconds(60), seconds(120), seconds(240), seconds(480), seconds(600), seconds(600)}) {
        timers->advance(worker.retryDelay());
        ASSERT_TRUE(testenv::waitUntil([&] { return worker.retryDelay() == expected; }, seconds(20)));
        settle(worker);
        EXPECT_EQ(timers->liveRepeating(), 1);
    }
    // An outside trigger starts the back-off over.
    worker.process();
    ASSERT_TRUE(testenv::waitUntil([&] { return worker.retryDelay() == seconds(30); }, seconds(20)));
    settle(worker);
    EXPECT_EQ(pendingCount(QString(ClipCategory::Favourite)), 1);
    EXPECT_TRUE(server.requestsTo("/set_favourite/").empty());

    // The network is back; only the clock moves.
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QString::fromStdString(server.baseURL()));
    timers->advance(seconds(30));
    ASSERT_TRUE(testenv::waitUntil([&] {
        return serverFavourite(text) == now && pendingCount(QString(ClipCategory::Favourite)) == 0;
    }, seconds(20)));
    settle(worker);
    EXPECT_EQ(worker.retryDelay(), seconds(0));
    EXPECT_EQ(timers->liveRepeating(), 0) << "nothing pending, no timer";
    EXPECT_EQ(rowOf(md5HexOfString(text), QString(ClipCategory::Favourite))->favourite().toLongLong(), now);
}

// A copy made while a post is on its way to a failing service is its own trigger: once the
// failure comes back the worker tries again at once instead of waiting out the retry timer,
// and both clips reach the service with no timer left.
TEST_F(UploadWorkers, ACopyMadeWhileAFailingPostIsOnItsWayGoesWhenThePostEnds)
{
    const QString first = QStringLiteral("posted while the service fails");
    const QString second = QStringLiteral("copied while that post was on its way");
    auto gate = std::make_shared<webdouble::Gate>();
    webdouble::Fault failing = webdouble::Fault::held(gate, 1);
    failing.httpStatus = 503;
    server.setFault("/push/", failing, "POST");
    HistoryService& worker = HistoryService::sharedInstance();
    addTextClip(first, 100)->increase_change_count();
    worker.process();
    ASSERT_TRUE(testenv::waitUntil([&] { return gate->arrived() == 1; }));

    addTextClip(second, 101)->increase_change_count();
    worker.process();
    gate->open();
    ASSERT_TRUE(testenv::waitUntil([&] {
        return serverClip(md5HexOfString(first)) && serverClip(md5HexOfString(second)) && pendingCount() == 0;
    }, seconds(20)));
    settle(worker);
    EXPECT_EQ(worker.retryDelay(), seconds(0));
    EXPECT_EQ(timers->liveRepeating(), 0) << "nothing pending, no timer";
}

// Only an answer whose code is 0 confirms a put: without a code, with one that is not an
// integer, with a refusal or a server failure, the clip stays pending and goes again.
TEST_F(UploadWorkers, APutAnswerThatIsNotASuccessKeepsTheMark)
{
    const struct {
        const char* what;
        webdouble::Fault fault;
    } cases[] = {
        {"no code", webdouble::Fault::rawBody(R"({"history":{}})")},
        {"a null code", webdouble::Fault::rawBody(R"({"code":null})")},
        {"a code that is not a number", webdouble::Fault::rawBody(R"({"code":"done"})")},
        {"a code that is not whole", webdouble::Fault::rawBody(R"({"code":0.5})")},
        {"a code that is a boolean", webdouble::Fault::rawBody(R"({"code":false})")},
        {"a refusal", webdouble::Fault::replyCode(7)},
        {"a server failure", webdouble::Fault::status(502)},
    };
    const QString text = QStringLiteral("re-copied, put again");
    serverHolds(text, 41);
    addTextClip(text, 100, 41);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        server.clearRequests();
        rowOf(md5HexOfString(text))->increase_change_count();
        webdouble::Fault fault = c.fault;
        fault.times = 1;
        server.setFault("/push/", fault, "PUT");
        HistoryService::sharedInstance().process();
        ASSERT_TRUE(testenv::waitUntil([&] { return server.requestsTo("/push/").size() == 1; }));
        settle(HistoryService::sharedInstance());
        EXPECT_EQ(pendingCount(), 1);

        // The next trigger sends it again, and the service's success clears it.
        HistoryService::sharedInstance().process();
        ASSERT_TRUE(testenv::waitUntil([&] { return pendingCount() == 0; }, seconds(20)));
        settle(HistoryService::sharedInstance());
        EXPECT_EQ(server.requestsTo("/push/").size(), 2u);
    }
    // A code sent as numeric text is still the service's 0.
    server.clearRequests();
    rowOf(md5HexOfString(text))->increase_change_count();
    webdouble::Fault text0 = webdouble::Fault::rawBody(R"({"code":"0"})");
    text0.times = 1;
    server.setFault("/push/", text0, "PUT");
    HistoryService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return pendingCount() == 0; }, seconds(20)));
    settle(HistoryService::sharedInstance());
    EXPECT_EQ(server.requestsTo("/push/").size(), 1u);
}

// A re-copy of a clip another device favourited is put without a favourite of its own: the
// service keeps the favourite.
TEST_F(UploadWorkers, AReCopyPutNeverLowersAFavouriteMadeElsewhere)
{
    const QString text = QStringLiteral("favourited on the other device");
    const qint64 elsewhere = QDateTime::currentSecsSinceEpoch() - 60;
    serverHolds(text, 51, elsewhere);
    addTextClip(text, 100, 51)->increase_change_count();
    HistoryService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return pendingCount() == 0; }, seconds(20)));
    settle(HistoryService::sharedInstance());
    const auto puts = server.requestsTo("/push/");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].method, "PUT");
    const QJsonObject sent = QJsonDocument::fromJson(QByteArray::fromStdString(puts[0].body)).object();
    EXPECT_FALSE(sent.value(QStringLiteral("history")).toObject().contains(QStringLiteral("favourite")));
    EXPECT_EQ(serverFavourite(text), elsewhere);
}

// Two changes of one clip in the same second: the put of the re-copy is on its way when the
// user unfavourites it. Its answer confirms only the re-copy; the unfavouring goes next.
TEST_F(UploadWorkers, ASecondChangeInTheSameSecondIsSentToo)
{
    const QString text = QStringLiteral("unfavourited during its put");
    const QString hash = md5HexOfString(text);
    const qint64 favourited = QDateTime::currentSecsSinceEpoch() - 60;
    serverHolds(text, 61, favourited);
    auto history = addTextClip(text, 100, 61);
    history->setFavourite(QVariant(favourited));
    history->save();
    addTextClip(text, 100, 61, QString(ClipCategory::Favourite));
    RawDb raw(dbPath());
    // The re-copy's mark, a fraction into its second.
    raw.exec("update History set change_timestamp = ? where category = 'history'", {1000.25});

    auto gate = std::make_shared<webdouble::Gate>();
    server.setFault("/push/", webdouble::Fault::held(gate, 1), "PUT");
    HistoryService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return gate->arrived() == 1; }));

    // The unfavouring, as the menu makes it offline, later in the same second.
    const qint64 unfavoured = QDateTime::currentSecsSinceEpoch();
    DBKeeper::deleteClipItem(hash, QString(ClipCategory::Favourite));
    history->setFavourite(QVariant(-unfavoured));
    history->save();
    raw.exec("update History set change_timestamp = ? where category = 'history'", {1000.75});

    gate->open();
    ASSERT_TRUE(testenv::waitUntil([&] { return serverFavourite(text) == -unfavoured && pendingCount() == 0; },
                                   seconds(20)));
    settle(HistoryService::sharedInstance());
    EXPECT_EQ(server.requestsTo("/push/").size(), 2u);
    EXPECT_EQ(rowOf(hash)->favourite().toLongLong(), -unfavoured);
    EXPECT_FALSE(rowOf(hash, QString(ClipCategory::Favourite)));
}

// A favourite made while the history worker's post of the same clip is on its way waits for
// that post and then reaches the server; a clear on the server keeps it, and the next
// favourites pull keeps it here too.
TEST_F(UploadWorkers, AFavouriteMadeDuringThePostOfItsClipReachesTheServer)
{
    const QString text = QStringLiteral("favourited while on its way");
    const QString hash = md5HexOfString(text);
    auto gate = std::make_shared<webdouble::Gate>();
    server.setFault("/push/", webdouble::Fault::held(gate, 1), "POST");
    addTextClip(text, 100)->increase_change_count();
    HistoryService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return gate->arrived() == 1; }));

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    auto favourite = addTextClip(text, 100, 0, QString(ClipCategory::Favourite));
    favourite->setFavourite(QVariant(now));
    favourite->save();
    favourite->increase_change_count();
    FavouriteService::sharedInstance().process();
    // Its step ends as in flight: the row keeps its mark while the post is held.
    ASSERT_TRUE(testenv::waitUntil([] { return !FavouriteService::sharedInstance().isRunning(); }));
    drainMainQueue();
    EXPECT_EQ(pendingCount(QString(ClipCategory::Favourite)), 1);

    gate->open();
    ASSERT_TRUE(testenv::waitUntil([&] {
        const auto stored = serverClip(hash);
        return stored && stored->value(QStringLiteral("favourite")).toInteger() == now
               && pendingCount(QString(ClipCategory::Favourite)) == 0 && pendingCount() == 0
               && !FavouriteService::sharedInstance().isRunning() && !HistoryService::sharedInstance().isRunning();
    }, std::chrono::seconds(20)));
    EXPECT_EQ(server.requestsTo("/set_favourite/").size(), 1u);

    // A clear of the history anywhere keeps a favourite, on the server and here.
    ASSERT_FALSE(send(std::make_shared<ClearHistoryRequestManager>()).error);
    ASSERT_TRUE(serverClip(hash).has_value());
    ASSERT_FALSE(send(std::make_shared<GetFavouriteRequestManager>()).error);
    drainMainQueue();
    const auto row = rowOf(hash, QString(ClipCategory::Favourite));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->favourite().toLongLong(), now);
}

// Clips captured while logged in but before the PIN was entered keep their marks and go once
// a key is installed.
TEST_F(UploadWorkers, ClipsCapturedBeforeTheKeyGoOnceItIsInstalled)
{
    keychain->deletePassword(ZeroManager::keychainService(), ZeroManager::storeKey(QString::number(userId)));
    zm().resetForTesting();
    ASSERT_EQ(zm().state(), 0);
    const QString first = QStringLiteral("before the PIN, one");
    const QString second = QStringLiteral("before the PIN, two");
    addTextClip(first, 100)->increase_change_count();
    addTextClip(second, 200)->increase_change_count();
    HistoryService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([] { return !HistoryService::sharedInstance().isRunning(); }));
    drainMainQueue();
    EXPECT_EQ(pendingCount(), 2);
    EXPECT_TRUE(server.requestsTo("/push/").empty());

    install(pair, kPin);
    HistoryService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([&] {
        return pendingCount() == 0 && !HistoryService::sharedInstance().isRunning();
    }, std::chrono::seconds(20)));
    for (const QString& text : {first, second}) {
        const auto stored = serverClip(md5HexOfString(text));
        ASSERT_TRUE(stored) << text.toStdString();
        EXPECT_EQ(stored->value(QStringLiteral("key_hash")).toString(), keyHash());
        EXPECT_EQ(rowOf(md5HexOfString(text))->history_id().toLongLong(),
                  stored->value(QStringLiteral("history_id")).toInteger());
    }
}

// A server that drops every connection: the first put's transport failure parks the worker
// with every clip still pending, instead of trying each of the others in turn.
TEST_F(UploadWorkers, APutThatReachesNoServerParksTheWorker)
{
    QStringList hashes;
    for (int i = 1; i <= 3; ++i)
        hashes << md5HexOfString(QStringLiteral("put %1").arg(i));
    // Reads each request far enough to see which clip it carries, then drops the connection.
    QTcpServer dead;
    ASSERT_TRUE(dead.listen(QHostAddress::LocalHost));
    QSet<QString> tried;
    int connections = 0;
    QObject::connect(&dead, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = dead.nextPendingConnection()) {
            ++connections;
            auto received = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket, received] {
                received->append(socket->readAll());
                for (const QString& hash : hashes) {
                    if (received->contains(hash.toLatin1())) {
                        tried.insert(hash);
                        socket->abort();
                        socket->deleteLater();
                        return;
                    }
                }
            });
        }
    });
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QStringLiteral("http://127.0.0.1:%1").arg(dead.serverPort()));
    for (int i = 1; i <= 3; ++i)
        addTextClip(QStringLiteral("put %1").arg(i), 100 * i, i)->increase_change_count();

    HistoryService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([&] { return !tried.isEmpty(); }));
    // Settled: idle, and nothing left on the main queue that could start another step.
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(testenv::waitUntil([] { return !HistoryService::sharedInstance().isRunning(); }));
        drainMainQueue();
    }
    // Only the newest clip was tried (the network layer may resend it once on a dropped line).
    EXPECT_EQ(tried, QSet<QString>{hashes[2]});
    EXPECT_EQ(pendingCount(), 3);
    EXPECT_TRUE(server.requestsTo("/push/").empty());

    // The next outside trigger resumes with the newest clip once the server is back.
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QString::fromStdString(server.baseURL()));
    {
        auto lock = server.lock();
        auto& clips = server.clipRoutes().state().accounts[userId].clips;
        for (int i = 1; i <= 3; ++i) {
            const QString text = QStringLiteral("put %1").arg(i);
            clips[i].history = QJsonObject{{QStringLiteral("file_hash"), md5HexOfString(text)},
                                           {QStringLiteral("history_id"), i},
                                           {QStringLiteral("file_id"), i + 1000}};
        }
    }
    HistoryService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([&] {
        return pendingCount() == 0 && !HistoryService::sharedInstance().isRunning();
    }, std::chrono::seconds(20)));
    ASSERT_EQ(server.requestsTo("/push/").size(), 3u);
    EXPECT_EQ(server.requestsTo("/push/")[0].method, "PUT");
}

// A row whose update the database refuses is set aside until the next trigger: the file
// worker goes on to the next row and goes idle, instead of picking the same row for ever.
TEST_F(UploadWorkers, ARowTheDatabaseWillNotUpdateIsSetAside)
{
    const QString refused = md5HexOfString(QStringLiteral("its flag cannot be stored"));
    const QString next = md5HexOfString(QStringLiteral("an older body, also here"));
    addTextClip(QStringLiteral("its flag cannot be stored"), 200, 21);
    addTextClip(QStringLiteral("an older body, also here"), 100, 22);
    RawDb raw(dbPath());
    ASSERT_TRUE(raw.exec(QStringLiteral("update History set local_file_ok = 0")));
    ASSERT_TRUE(raw.exec(QStringLiteral("create trigger refuse_flag before update of local_file_ok on History "
                            "when old.file_hash = '%1' begin select raise(abort, 'refused'); end")
                 .arg(refused)));

    FileService::sharedInstance().process();
    ASSERT_TRUE(testenv::waitUntil([&] {
        return countRows(raw, QStringLiteral("file_hash = '%1' and local_file_ok = 1").arg(next)) == 1
               && !FileService::sharedInstance().isRunning();
    }));
    EXPECT_EQ(countRows(raw, QStringLiteral("file_hash = '%1' and local_file_ok = 0").arg(refused)), 1);
    // Both bodies are already here: nothing was fetched.
    EXPECT_TRUE(server.requestsTo("/download_file/").empty());
}

}  // namespace
