#include "service/httpsession.h"
#include "support/testenv.h"
#include "support/webservice/webservicedouble.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QTcpServer>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Answer {
    int status = 0;
    QJsonObject json;
    QByteArray body;
};

// The double's endpoints driven over real HTTP, as any client would.
class DoubleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        server.addAccount(QStringLiteral("a@example.com"), QStringLiteral("pw"));
        token = server.issueToken(QStringLiteral("a@example.com"));
    }

    Answer call(const QString& method, const QString& pathAndQuery, const QJsonObject& body = {})
    {
        struct Box {
            QMutex mutex;
            std::optional<HttpSession::Reply> reply;
        };
        auto box = std::make_shared<Box>();
        const QUrl url(QString::fromStdString(server.baseURL()) + pathAndQuery);
        session.jsonTask(method, url, body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact),
                         [box](const HttpSession::Reply& reply) {
                             QMutexLocker lock(&box->mutex);
                             box->reply = reply;
                         });
        EXPECT_TRUE(testenv::waitUntil([&] {
            QMutexLocker lock(&box->mutex);
            return box->reply.has_value();
        }));
        QMutexLocker lock(&box->mutex);
        Answer answer;
        answer.status = box->reply->status;
        answer.body = box->reply->body;
        answer.json = QJsonDocument::fromJson(answer.body).object();
        return answer;
    }
    QString withToken(const QString& path, const QString& extra = {}) const
    {
        return path + QStringLiteral("?device_token=dev1&user_token=") + token + extra;
    }
    static QJsonObject clip(const QString& hash, qint64 favourite = 0)
    {
        return {{QStringLiteral("file_hash"), hash}, {QStringLiteral("type"), QStringLiteral("text_txt+enc")},
                {QStringLiteral("content"), QStringLiteral("sealed text")}, {QStringLiteral("timestamp"), 1000},
                {QStringLiteral("favourite"), favourite}};
    }

    webdouble::WebServiceDouble server;
    HttpSession session{QStringLiteral("double test")};
    QString token;
};

const QString kHashA = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString kHashB = QStringLiteral("fedcba9876543210fedcba9876543210");

}  // namespace

TEST_F(DoubleTest, EveryLoggedInEndpointRefusesAMissingOrExpiredToken)
{
    struct Route {
        const char* method;
        const char* path;
        int status;
    };
    const Route routes[] = {{"GET", "/key/", 200},           {"PUT", "/key/", 200},
                            {"POST", "/key/", 200},          {"POST", "/revert_key/", 200},
                            {"GET", "/clear_history/", 200}, {"GET", "/pull/", 200},
                            {"POST", "/push/", 200},         {"PUT", "/push/", 200},
                            {"GET", "/push/", 200},          {"DELETE", "/push/", 200},
                            {"POST", "/get_favourite/", 200}, {"POST", "/set_favourite/", 200},
                            {"GET", "/get_upload_token/", 401}, {"GET", "/download_file/", 401}};
    server.expireToken(token);
    for (const Route& route : routes) {
        SCOPED_TRACE(std::string(route.method) + " " + route.path);
        for (const QString& query : {QString(), QStringLiteral("?user_token=") + token}) {
            const Answer answer = call(QString::fromLatin1(route.method), QString::fromLatin1(route.path) + query);
            EXPECT_EQ(answer.status, route.status);
            if (route.status == 200) {
                EXPECT_EQ(answer.json.value(QStringLiteral("code")).toInt(), 403);
                EXPECT_EQ(answer.json.value(QStringLiteral("token_expire")).toInt(), 1);
            }
        }
    }
}

TEST_F(DoubleTest, PushedClipsComeBackThroughPullByChangeMark)
{
    const Answer posted = call(QStringLiteral("POST"), withToken(QStringLiteral("/push/")),
                               {{QStringLiteral("history"), clip(kHashA)}});
    ASSERT_EQ(posted.json.value(QStringLiteral("code")).toInt(-1), 0);
    const QJsonObject stored = posted.json.value(QStringLiteral("history")).toObject();
    const qint64 historyId = stored.value(QStringLiteral("history_id")).toInteger();
    EXPECT_GT(historyId, 0);
    EXPECT_GT(stored.value(QStringLiteral("file_id")).toInteger(), 0);
    EXPECT_EQ(stored.value(QStringLiteral("file_ready")).toInt(-1), 0);
    EXPECT_EQ(stored.value(QStringLiteral("content")).toString(), QStringLiteral("sealed text"));

    const Answer first = call(QStringLiteral("GET"), withToken(QStringLiteral("/pull/"), QStringLiteral("&last_request_timestamp=0")));
    ASSERT_EQ(first.json.value(QStringLiteral("histories")).toArray().size(), 1);
    const qint64 mark = first.json.value(QStringLiteral("request_timestamp")).toInteger();
    EXPECT_GT(mark, 0);
    EXPECT_TRUE(first.json.value(QStringLiteral("cipher")).isObject());

    const Answer nothingNew = call(QStringLiteral("GET"), withToken(QStringLiteral("/pull/"), QStringLiteral("&last_request_timestamp=%1").arg(mark)));
    EXPECT_TRUE(nothingNew.json.value(QStringLiteral("histories")).toArray().isEmpty());

    // A put changes the clip (not its content) and brings it into the next window.
    QJsonObject update = clip(kHashA, 500);
    update.insert(QStringLiteral("history_id"), historyId);
    update.insert(QStringLiteral("content"), QStringLiteral("ignored"));
    EXPECT_EQ(call(QStringLiteral("PUT"), withToken(QStringLiteral("/push/")), {{QStringLiteral("history"), update}})
                  .json.value(QStringLiteral("code")).toInt(-1),
              0);
    const Answer changed = call(QStringLiteral("GET"), withToken(QStringLiteral("/pull/"), QStringLiteral("&last_request_timestamp=%1").arg(mark)));
    const QJsonArray histories = changed.json.value(QStringLiteral("histories")).toArray();
    ASSERT_EQ(histories.size(), 1);
    EXPECT_EQ(histories[0].toObject().value(QStringLiteral("favourite")).toInteger(), 500);
    EXPECT_EQ(histories[0].toObject().value(QStringLiteral("content")).toString(), QStringLiteral("sealed text"));

    // Fetching one clip, and the answers for an unknown one.
    const Answer fetched = call(QStringLiteral("GET"), withToken(QStringLiteral("/push/"),
                                                               QStringLiteral("&history_id=%1&file_hash=%2").arg(historyId).arg(kHashA)));
    EXPECT_EQ(fetched.json.value(QStringLiteral("history")).toObject().value(QStringLiteral("file_hash")).toString(), kHashA);
    EXPECT_EQ(call(QStringLiteral("GET"), withToken(QStringLiteral("/push/"), QStringLiteral("&history_id=999&file_hash=%1").arg(kHashA)))
                  .json.value(QStringLiteral("code")).toInt(),
              -10);
    QJsonObject unknown = clip(kHashB);
    unknown.insert(QStringLiteral("history_id"), 999);
    EXPECT_EQ(call(QStringLiteral("PUT"), withToken(QStringLiteral("/push/")), {{QStringLiteral("history"), unknown}})
                  .json.value(QStringLiteral("code")).toInt(),
              -10);
}

TEST_F(DoubleTest, PullPagesByCountAndReportsDeletesAndClears)
{
    for (const QString& hash : {kHashA, kHashB})
        call(QStringLiteral("POST"), withToken(QStringLiteral("/push/")), {{QStringLiteral("history"), clip(hash)}});
    const Answer page = call(QStringLiteral("GET"), withToken(QStringLiteral("/pull/"), QStringLiteral("&last_request_timestamp=0&count=1")));
    ASSERT_EQ(page.json.value(QStringLiteral("histories")).toArray().size(), 1);
    const qint64 mark = page.json.value(QStringLiteral("request_timestamp")).toInteger();
    const Answer rest = call(QStringLiteral("GET"), withToken(QStringLiteral("/pull/"), QStringLiteral("&last_request_timestamp=%1").arg(mark)));
    ASSERT_EQ(rest.json.value(QStringLiteral("histories")).toArray().size(), 1);
    EXPECT_EQ(rest.json.value(QStringLiteral("histories")).toArray()[0].toObject().value(QStringLiteral("file_hash")).toString(), kHashB);
    const qint64 after = rest.json.value(QStringLiteral("request_timestamp")).toInteger();

    const qint64 idA = page.json.value(QStringLiteral("histories")).toArray()[0].toObject().value(QStringLiteral("history_id")).toInteger();
    EXPECT_EQ(call(QStringLiteral("DELETE"), withToken(QStringLiteral("/push/"), QStringLiteral("&history_id=%1").arg(idA)))
                  .json.value(QStringLiteral("code")).toInt(-1),
              0);
    const Answer deleted = call(QStringLiteral("GET"), withToken(QStringLiteral("/pull/"), QStringLiteral("&last_request_timestamp=%1").arg(after)));
    const QJsonArray actions = deleted.json.value(QStringLiteral("action")).toArray();
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions[0].toObject().value(QStringLiteral("action")).toString(), QStringLiteral("del"));
    EXPECT_EQ(actions[0].toObject().value(QStringLiteral("history_id")).toInteger(), idA);
    EXPECT_FALSE(deleted.json.contains(QStringLiteral("clear_all_ts")));

    const Answer cleared = call(QStringLiteral("GET"), withToken(QStringLiteral("/clear_history/")));
    EXPECT_EQ(cleared.json.value(QStringLiteral("count")).toInt(), 1);
    const Answer afterClear = call(QStringLiteral("GET"), withToken(QStringLiteral("/pull/"), QStringLiteral("&last_request_timestamp=%1").arg(after)));
    EXPECT_GT(afterClear.json.value(QStringLiteral("clear_all_ts")).toInteger(), 0);

    auto messages = server.published();
    // The two new clips were announced first.
    ASSERT_EQ(messages.size(), 4u);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(messages[i].payload)).object().value(QStringLiteral("protocol")).toString(),
                  QStringLiteral("history_upload_file"));
    messages.erase(messages.begin(), messages.begin() + 2);
    const qint64 userId = server.accountByEmail(QStringLiteral("a@example.com"))->userId;
    EXPECT_EQ(messages[0].topic, "user_id_" + std::to_string(userId));
    const QJsonObject del = QJsonDocument::fromJson(QByteArray::fromStdString(messages[0].payload)).object();
    EXPECT_EQ(del.value(QStringLiteral("protocol")).toString(), QStringLiteral("history_delete"));
    EXPECT_EQ(del.value(QStringLiteral("data")).toObject().value(QStringLiteral("device_token")).toString(), QStringLiteral("dev1"));
    EXPECT_EQ(del.value(QStringLiteral("data")).toObject().value(QStringLiteral("file_hash")).toString(), kHashA);
    const QJsonObject clear = QJsonDocument::fromJson(QByteArray::fromStdString(messages[1].payload)).object();
    EXPECT_EQ(clear.value(QStringLiteral("protocol")).toString(), QStringLiteral("history_clear"));
}

TEST_F(DoubleTest, ABodyTravelsThroughTheSignedFormAndComesBackByDownload)
{
    const Answer posted = call(QStringLiteral("POST"), withToken(QStringLiteral("/push/")), {{QStringLiteral("history"), clip(kHashA)}});
    const qint64 fileId = posted.json.value(QStringLiteral("history")).toObject().value(QStringLiteral("file_id")).toInteger();
    EXPECT_EQ(call(QStringLiteral("GET"), withToken(QStringLiteral("/get_upload_token/"), QStringLiteral("&file_hash=%1&file_id=999").arg(kHashA))).status, 404);
    const Answer grant = call(QStringLiteral("GET"), withToken(QStringLiteral("/get_upload_token/"), QStringLiteral("&file_hash=%1&file_id=%2").arg(kHashA).arg(fileId)));
    ASSERT_EQ(grant.status, 200);
    for (const char* key : {"host", "key", "policy", "callback", "accessid", "signature"})
        EXPECT_FALSE(grant.json.value(QString::fromLatin1(key)).toString().isEmpty()) << key;
    EXPECT_EQ(call(QStringLiteral("GET"), withToken(QStringLiteral("/download_file/"), QStringLiteral("&file_hash=%1&file_id=%2").arg(kHashA).arg(fileId))).status, 404);

    const QString path = testenv::home() + QStringLiteral("/body");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("stored body bytes");
    file.close();
    auto post = [&](QList<HttpSession::FormField> fields) {
        struct Box {
            QMutex mutex;
            std::optional<HttpSession::Reply> reply;
        };
        auto box = std::make_shared<Box>();
        session.formPost(QUrl(grant.json.value(QStringLiteral("host")).toString()), fields,
                         {QStringLiteral("file"), path, QStringLiteral("body"), QStringLiteral("application/octet-stream")},
                         [box](const HttpSession::Reply& reply) {
                             QMutexLocker lock(&box->mutex);
                             box->reply = reply;
                         });
        EXPECT_TRUE(testenv::waitUntil([&] {
            QMutexLocker lock(&box->mutex);
            return box->reply.has_value();
        }));
        QMutexLocker lock(&box->mutex);
        return box->reply->status;
    };
    auto field = [&grant](const char* name, const char* replyKey) {
        return HttpSession::FormField{QString::fromLatin1(name), grant.json.value(QString::fromLatin1(replyKey)).toString().toUtf8()};
    };
    const QList<HttpSession::FormField> ordered = {field("OSSAccessKeyID", "accessid"), field("callback", "callback"),
                                                   field("key", "key"),           field("policy", "policy"),
                                                   field("signature", "signature"), {QStringLiteral("success_action_status"), "200"}};
    QList<HttpSession::FormField> swapped = ordered;
    swapped.swapItemsAt(0, 1);
    EXPECT_EQ(post(swapped), 400);
    // Only the push's announcement so far.
    EXPECT_EQ(server.published().size(), 1u);
    EXPECT_EQ(post(ordered), 200);

    const Answer body = call(QStringLiteral("GET"), withToken(QStringLiteral("/download_file/"), QStringLiteral("&file_hash=%1&file_id=%2").arg(kHashA).arg(fileId)));
    EXPECT_EQ(body.status, 200);
    EXPECT_EQ(body.body, QByteArray("stored body bytes"));
    const Answer pulled = call(QStringLiteral("GET"), withToken(QStringLiteral("/pull/"), QStringLiteral("&last_request_timestamp=0")));
    EXPECT_EQ(pulled.json.value(QStringLiteral("histories")).toArray()[0].toObject().value(QStringLiteral("file_ready")).toInt(), 1);
    ASSERT_EQ(server.published().size(), 2u);
    const QJsonObject ready = QJsonDocument::fromJson(QByteArray::fromStdString(server.published()[1].payload)).object();
    EXPECT_EQ(ready.value(QStringLiteral("protocol")).toString(), QStringLiteral("history_upload_file"));
    EXPECT_EQ(ready.value(QStringLiteral("data")).toObject().value(QStringLiteral("file_id")).toInteger(), fileId);
}

TEST_F(DoubleTest, TheKeyIsStoredOnceAndChangedOnlyWithTheCurrentVerifier)
{
    const QJsonObject key{{QStringLiteral("key_hash"), QString(64, u'a')}, {QStringLiteral("cipher_hash"), QString(64, u'b')},
                          {QStringLiteral("cipher"), QStringLiteral("c")}, {QStringLiteral("version"), QStringLiteral("1.0")}};
    EXPECT_EQ(call(QStringLiteral("GET"), withToken(QStringLiteral("/key/"))).json.value(QStringLiteral("code")).toInt(), 404);
    EXPECT_EQ(call(QStringLiteral("PUT"), withToken(QStringLiteral("/key/")), {{QStringLiteral("key_dict"), key}, {QStringLiteral("pwd_verifier"), QStringLiteral("v1")}})
                  .json.value(QStringLiteral("code")).toInt(-1),
              0);
    EXPECT_EQ(call(QStringLiteral("PUT"), withToken(QStringLiteral("/key/")), {{QStringLiteral("key_dict"), key}}).json.value(QStringLiteral("code")).toInt(), 409);
    EXPECT_EQ(call(QStringLiteral("GET"), withToken(QStringLiteral("/key/"))).json.value(QStringLiteral("cipher")).toObject(), key);
    // Replies that carry "cipher" name the stored key's hashes.
    const QJsonObject fingerprint = call(QStringLiteral("GET"), withToken(QStringLiteral("/init/"))).json.value(QStringLiteral("cipher")).toObject();
    EXPECT_EQ(fingerprint.value(QStringLiteral("key_hash")).toString(), QString(64, u'a'));
    EXPECT_EQ(fingerprint.value(QStringLiteral("cipher_hash")).toString(), QString(64, u'b'));

    QJsonObject rewrapped = key;
    rewrapped.insert(QStringLiteral("cipher_hash"), QString(64, u'c'));
    EXPECT_EQ(call(QStringLiteral("POST"), withToken(QStringLiteral("/key/")), {{QStringLiteral("key_dict"), rewrapped}, {QStringLiteral("last_pwd_hash"), QStringLiteral("wrong")}})
                  .json.value(QStringLiteral("code")).toInt(),
              401);
    EXPECT_EQ(call(QStringLiteral("POST"), withToken(QStringLiteral("/key/")),
                   {{QStringLiteral("key_dict"), rewrapped}, {QStringLiteral("last_pwd_hash"), QStringLiteral("v1")}, {QStringLiteral("pwd_verifier"), QStringLiteral("v2")}})
                  .json.value(QStringLiteral("code")).toInt(-1),
              0);
    EXPECT_EQ(server.keyRoutes().fingerprint(server.accountByEmail(QStringLiteral("a@example.com"))->userId)
                  .value(QStringLiteral("cipher_hash")).toString(),
              QString(64, u'c'));

    // The revert needs the account password sealed to the server key.
    EXPECT_EQ(call(QStringLiteral("POST"), withToken(QStringLiteral("/revert_key/")), {{QStringLiteral("key_dict"), key}, {QStringLiteral("pwd_hash_cipher"), QStringLiteral("AAAA")}})
                  .json.value(QStringLiteral("code")).toInt(),
              -5);
}

TEST_F(DoubleTest, FavouritesAnswerWhatTheDeviceMissesAndRefuseUnknownClips)
{
    const Answer kept = call(QStringLiteral("POST"), withToken(QStringLiteral("/push/")), {{QStringLiteral("history"), clip(kHashA, 100)}});
    const Answer gone = call(QStringLiteral("POST"), withToken(QStringLiteral("/push/")), {{QStringLiteral("history"), clip(kHashB, 100)}});
    const qint64 keptId = kept.json.value(QStringLiteral("history")).toObject().value(QStringLiteral("history_id")).toInteger();
    const qint64 goneId = gone.json.value(QStringLiteral("history")).toObject().value(QStringLiteral("history_id")).toInteger();
    QJsonObject unfavourite = clip(kHashB, -200);
    unfavourite.insert(QStringLiteral("history_id"), goneId);
    const Answer set = call(QStringLiteral("POST"), withToken(QStringLiteral("/set_favourite/")), {{QStringLiteral("history"), unfavourite}});
    EXPECT_EQ(set.json.value(QStringLiteral("history")).toObject().value(QStringLiteral("favourite")).toInteger(), -200);
    QJsonObject missing = clip(kHashB, 5);
    missing.insert(QStringLiteral("history_id"), 999);
    EXPECT_EQ(call(QStringLiteral("POST"), withToken(QStringLiteral("/set_favourite/")), {{QStringLiteral("history"), missing}})
                  .json.value(QStringLiteral("code")).toInt(),
              -4);

    const QJsonObject listed{{QString::number(goneId), QJsonObject{{QStringLiteral("favourite"), 100}}},
                             {QStringLiteral("999"), QJsonObject{{QStringLiteral("favourite"), 1}}}};
    const Answer answer = call(QStringLiteral("POST"), withToken(QStringLiteral("/get_favourite/")), {{QStringLiteral("favourites"), listed}});
    EXPECT_EQ(answer.json.value(QStringLiteral("code")).toInt(-1), 0);
    EXPECT_TRUE(answer.json.value(QStringLiteral("cipher")).isObject());
    ASSERT_EQ(answer.json.value(QStringLiteral("delfavourites")).toArray().size(), 1);
    EXPECT_EQ(answer.json.value(QStringLiteral("delfavourites")).toArray()[0].toObject().value(QStringLiteral("history_id")).toInteger(), 999);
    ASSERT_EQ(answer.json.value(QStringLiteral("unfavourites")).toArray().size(), 1);
    EXPECT_EQ(answer.json.value(QStringLiteral("unfavourites")).toArray()[0].toObject().value(QStringLiteral("favourite")).toInteger(), -200);
    ASSERT_EQ(answer.json.value(QStringLiteral("histories")).toArray().size(), 1);
    EXPECT_EQ(answer.json.value(QStringLiteral("histories")).toArray()[0].toObject().value(QStringLiteral("history_id")).toInteger(), keptId);
}

TEST(StandaloneDouble, ServesTheGivenAccountAndPrintsEachRequestAsAJsonLine)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int port = probe.serverPort();
    probe.close();

    QProcess program;
    program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/nuvarel-test-server"),
                  {QStringLiteral("--port"), QString::number(port), QStringLiteral("--account"),
                   QStringLiteral("a@example.com:pw")});
    ASSERT_TRUE(program.waitForStarted());
    ASSERT_TRUE(testenv::waitUntil([&] {
        program.waitForReadyRead(10);
        return program.readAllStandardError().contains("listening");
    }));

    HttpSession session(QStringLiteral("standalone test"));
    auto done = std::make_shared<std::atomic<int>>(0);
    session.dataTask(QStringLiteral("GET"),
                     QUrl(QStringLiteral("http://127.0.0.1:%1/forget_pwd/?user_email=a%40example.com").arg(port)), {}, {},
                     [done](const HttpSession::Reply& reply) {
                         *done = QJsonDocument::fromJson(reply.body).object().value(QStringLiteral("code")).toInt(-1) == 0 ? 1 : 2;
                     });
    ASSERT_TRUE(testenv::waitUntil([&] { return *done != 0; }));
    EXPECT_EQ(*done, 1);  // the account from the command line exists
    QByteArray printed;
    ASSERT_TRUE(testenv::waitUntil([&] {
        program.waitForReadyRead(10);
        printed += program.readAllStandardOutput();
        return printed.contains('\n');
    }));
    const QJsonObject line = QJsonDocument::fromJson(printed.left(printed.indexOf('\n'))).object();
    EXPECT_EQ(line.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
    EXPECT_EQ(line.value(QStringLiteral("path")).toString(), QStringLiteral("/forget_pwd/"));
    EXPECT_EQ(line.value(QStringLiteral("query")).toString(), QStringLiteral("user_email=a%40example.com"));
    EXPECT_EQ(line.value(QStringLiteral("body")).toString(), QString());

    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
}

TEST_F(DoubleTest, AFaultCanHoldForOneMethodAndForAFewRequests)
{
    webdouble::Fault twice = webdouble::Fault::replyCode(-10);
    twice.times = 2;
    server.setFault("/push/", twice, "PUT");
    // POST is not touched; the PUTs of a known clip answer -10 twice, then as they should.
    const Answer posted = call(QStringLiteral("POST"), withToken(QStringLiteral("/push/")), {{QStringLiteral("history"), clip(kHashA)}});
    EXPECT_EQ(posted.json.value(QStringLiteral("code")).toInt(-1), 0);
    QJsonObject known = clip(kHashA);
    known.insert(QStringLiteral("history_id"), posted.json.value(QStringLiteral("history")).toObject().value(QStringLiteral("history_id")));
    EXPECT_EQ(call(QStringLiteral("PUT"), withToken(QStringLiteral("/push/")), {{QStringLiteral("history"), known}}).json.value(QStringLiteral("code")).toInt(), -10);
    EXPECT_EQ(call(QStringLiteral("PUT"), withToken(QStringLiteral("/push/")), {{QStringLiteral("history"), known}}).json.value(QStringLiteral("code")).toInt(), -10);
    EXPECT_EQ(call(QStringLiteral("PUT"), withToken(QStringLiteral("/push/")), {{QStringLiteral("history"), known}}).json.value(QStringLiteral("code")).toInt(-1), 0);
}
