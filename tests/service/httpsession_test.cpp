#include "service/httpsession.h"
#include "support/testca.h"
#include "support/testenv.h"
#include "support/webservice/webservicedouble.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

// A reply handed from the session's queue to the test thread.
struct Received {
    QMutex mutex;
    std::optional<HttpSession::Reply> reply;
    QString thread;
    bool done()
    {
        QMutexLocker lock(&mutex);
        return reply.has_value();
    }
};

HttpSession::ReplyHandler into(const std::shared_ptr<Received>& received)
{
    return [received](const HttpSession::Reply& reply) {
        QMutexLocker lock(&received->mutex);
        received->thread = QThread::currentThread()->objectName();
        received->reply = reply;
    };
}

HttpSession::Reply waitFor(const std::shared_ptr<Received>& received)
{
    EXPECT_TRUE(testenv::waitUntil([&] { return received->done(); }, std::chrono::seconds(20)));
    QMutexLocker lock(&received->mutex);
    return received->reply.value_or(HttpSession::Reply{});
}

class HttpSessionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    QUrl url(const std::string& pathAndQuery) const { return QUrl(QString::fromStdString(server.baseURL() + pathAndQuery)); }

    webdouble::WebServiceDouble server;
    HttpSession session{QStringLiteral("test session")};
};

}  // namespace

TEST_F(HttpSessionTest, JsonBodiesCarryTheirContentTypeAndHandlersRunOnTheNamedQueue)
{
    server.addAccount(QStringLiteral("a@example.com"), QStringLiteral("pw"));
    const QString token = server.issueToken(QStringLiteral("a@example.com"));
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("history"),
                                                       QJsonObject{{QStringLiteral("file_hash"),
                                                                    QStringLiteral("0123456789abcdef0123456789abcdef")}}}})
                                .toJson(QJsonDocument::Compact);
    auto received = std::make_shared<Received>();
    session.jsonTask(QStringLiteral("POST"), url("/push/?user_token=" + token.toStdString()), body, into(received));
    const HttpSession::Reply reply = waitFor(received);
    EXPECT_EQ(received->thread, QStringLiteral("test session"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_FALSE(reply.error.has_value());
    EXPECT_EQ(QJsonDocument::fromJson(reply.body).object().value(QStringLiteral("code")).toInt(-1), 0);
    const auto seen = server.requestsTo("/push/");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].contentType, "application/json");
    EXPECT_EQ(seen[0].body, body.toStdString());
}

TEST_F(HttpSessionTest, AnyMethodIsSentAsGiven)
{
    for (const char* method : {"GET", "PUT", "DELETE", "POST"}) {
        auto received = std::make_shared<Received>();
        session.dataTask(QString::fromLatin1(method), url("/push/"), {}, {}, into(received));
        waitFor(received);
    }
    const auto seen = server.requestsTo("/push/");
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[1].method, "PUT");
    EXPECT_EQ(seen[2].method, "DELETE");
    EXPECT_EQ(seen[3].method, "POST");
}

TEST_F(HttpSessionTest, DownloadWritesTheDestinationAndReportsProgress)
{
    QByteArray package(300000, '\0');
    for (qsizetype i = 0; i < package.size(); ++i)
        package[i] = static_cast<char>(i * 7);
    server.pluginRoutes().state().plugins.push_back({QStringLiteral("com.example.up"), QStringLiteral("Up"), {},
                                                     QStringLiteral("1.0"), {}, package});
    const QString destination = testenv::home() + QStringLiteral("/download.bin");
    std::atomic<qint64> lastProgress{-1};
    auto received = std::make_shared<Received>();
    session.download(url("/plugin_package/?bundle_id=com.example.up&version=1.0"), destination,
                     [&lastProgress](qint64 done, qint64) { lastProgress = done; }, into(received));
    const HttpSession::Reply reply = waitFor(received);
    EXPECT_EQ(reply.status, 200);
    EXPECT_FALSE(reply.error.has_value());
    EXPECT_EQ(lastProgress.load(), package.size());
    QFile file(destination);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), package);
}

TEST_F(HttpSessionTest, AFailedDownloadLeavesNoDestinationFile)
{
    const QString destination = testenv::home() + QStringLiteral("/missing.bin");
    auto received = std::make_shared<Received>();
    session.download(url("/plugin_package/?bundle_id=none&version=1"), destination, nullptr, into(received));
    const HttpSession::Reply reply = waitFor(received);
    EXPECT_EQ(reply.status, 404);
    ASSERT_TRUE(reply.error.has_value());
    EXPECT_EQ(reply.error->code, 404);
    EXPECT_FALSE(QFile::exists(destination));
}

TEST_F(HttpSessionTest, CancelEndsARunningTransferWithATransportError)
{
    server.setFault("/check_version/", webdouble::Fault::delayed(std::chrono::seconds(30)));
    auto received = std::make_shared<Received>();
    const QUrl target = url("/check_version/");
    const HttpSession::TaskId id = session.dataTask(QStringLiteral("GET"), target, {}, {}, into(received));
    EXPECT_TRUE(session.hasRunningTask(target));
    // Cancel once the server holds the request, so the abort is of a transfer in flight.
    ASSERT_TRUE(testenv::waitUntil([&] { return server.requestsTo("/check_version/").size() == 1; }));
    session.cancel(id);
    const HttpSession::Reply reply = waitFor(received);
    EXPECT_EQ(reply.status, HttpSession::kNoStatus);
    ASSERT_TRUE(reply.error.has_value());
    EXPECT_EQ(reply.error->domain, QString(HttpSession::kTransportErrorDomain));
    EXPECT_FALSE(session.hasRunningTask(target));
}

TEST_F(HttpSessionTest, FormPostSendsTheFieldsInOrderThenTheFile)
{
    const QString path = testenv::home() + QStringLiteral("/body.bin");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("file bytes");
    file.close();

    auto received = std::make_shared<Received>();
    session.formPost(url("/oss/"),
                     {{QStringLiteral("OSSAccessKeyID"), "id"}, {QStringLiteral("callback"), "cb"},
                      {QStringLiteral("key"), "k"}, {QStringLiteral("policy"), "p"},
                      {QStringLiteral("signature"), "s"}, {QStringLiteral("success_action_status"), "200"}},
                     {QStringLiteral("file"), path, QStringLiteral("body.bin"), QStringLiteral("application/octet-stream")},
                     into(received));
    const HttpSession::Reply reply = waitFor(received);
    // The double checks the order first, then the signature (which this made-up form lacks).
    EXPECT_EQ(reply.status, 403);
    const auto seen = server.requestsTo("/oss/");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].body, "OSSAccessKeyID=2;callback=2;key=1;policy=1;signature=1;success_action_status=3;file=10;");
}

TEST_F(HttpSessionTest, AFormWithAMissingFileSendsNothing)
{
    auto received = std::make_shared<Received>();
    session.formPost(url("/oss/"), {}, {QStringLiteral("file"), testenv::home() + QStringLiteral("/none"), {}, {}},
                     into(received));
    const HttpSession::Reply reply = waitFor(received);
    ASSERT_TRUE(reply.error.has_value());
    EXPECT_EQ(reply.status, HttpSession::kNoStatus);
    EXPECT_TRUE(server.requests().empty());
}

TEST(HttpSessionTls, AServerOfATestCaIsAcceptedOnlyOnceTheCaIsAdded)
{
    const QString dir = testenv::home();
    ASSERT_TRUE(testca::makeCertificates(dir));
    webdouble::WebServiceDouble server;
    ASSERT_TRUE(server.startTls((dir + QStringLiteral("/server.pem")).toStdString(),
                                (dir + QStringLiteral("/server.key")).toStdString()));
    const QUrl url(QString::fromStdString(server.baseURL() + "/check_version/"));
    ASSERT_EQ(url.scheme(), QStringLiteral("https"));

    HttpSession session(QStringLiteral("tls session"));
    auto refused = std::make_shared<Received>();
    session.dataTask(QStringLiteral("GET"), url, {}, {}, into(refused));
    const HttpSession::Reply withoutCa = waitFor(refused);
    EXPECT_EQ(withoutCa.status, HttpSession::kNoStatus);
    ASSERT_TRUE(withoutCa.error.has_value());
    EXPECT_EQ(withoutCa.error->domain, QString(HttpSession::kTransportErrorDomain));
    EXPECT_EQ(withoutCa.error->code, static_cast<int>(QNetworkReply::SslHandshakeFailedError));
    EXPECT_TRUE(server.requests().empty());

    const auto cas = testca::caOf(dir);
    ASSERT_EQ(cas.size(), 1);
    session.addCaCertificates(cas);
    auto accepted = std::make_shared<Received>();
    session.dataTask(QStringLiteral("GET"), url, {}, {}, into(accepted));
    const HttpSession::Reply withCa = waitFor(accepted);
    EXPECT_EQ(withCa.status, 200);
    EXPECT_FALSE(withCa.error.has_value()) << (withCa.error ? withCa.error->userInfo.value(QStringLiteral("description")).toString().toStdString() : std::string());
    EXPECT_EQ(server.requestsTo("/check_version/").size(), 1u);

    // Taking the CA away again refuses the server again.
    session.clearAddedCaCertificates();
    auto again = std::make_shared<Received>();
    session.dataTask(QStringLiteral("GET"), url, {}, {}, into(again));
    EXPECT_TRUE(waitFor(again).error.has_value());
}

namespace {

// The files a download left in the folder (a partial QSaveFile would show up here).
QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files);
}

}  // namespace

TEST_F(HttpSessionTest, ATricklingReplyEndsAtTheDeadlineAndADownloadLeavesNoFile)
{
    // A byte every 50 ms: the inactivity timeout never fires, only the overall deadline can.
    server.setFault("/check_version/", webdouble::Fault::trickling(std::chrono::milliseconds(50)));
    server.setFault("/plugin_package/", webdouble::Fault::trickling(std::chrono::milliseconds(50)));
    session.setDeadline(std::chrono::milliseconds(700));

    auto data = std::make_shared<Received>();
    const QUrl dataUrl = url("/check_version/");
    session.dataTask(QStringLiteral("GET"), dataUrl, {}, {}, into(data));
    const QString dir = testenv::home() + QStringLiteral("/trickle");
    ASSERT_TRUE(QDir().mkpath(dir));
    auto download = std::make_shared<Received>();
    const QUrl downloadUrl = url("/plugin_package/?bundle_id=a&version=1");
    session.download(downloadUrl, dir + QStringLiteral("/body.bin"), nullptr, into(download));

    for (const HttpSession::Reply& reply : {waitFor(data), waitFor(download)}) {
        ASSERT_TRUE(reply.error.has_value());
        EXPECT_EQ(reply.error->domain, QString(HttpSession::kLimitErrorDomain));
        EXPECT_EQ(reply.error->code, HttpSession::DeadlinePassed);
        EXPECT_TRUE(reply.body.isEmpty());
    }
    EXPECT_TRUE(filesIn(dir).isEmpty()) << filesIn(dir).join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(session.hasRunningTask(dataUrl));
    EXPECT_FALSE(session.hasRunningTask(downloadUrl));
}

TEST_F(HttpSessionTest, AReplyOverTheCapFailsAndADownloadOverItLeavesNoFile)
{
    constexpr qint64 cap = 4096;
    session.setMaxReplySize(cap);
    struct Case {
        const char* name;
        qint64 size;
        bool chunked;  // no length announced: only the bytes counted so far tell
        bool refused;
    };
    const Case cases[] = {
        {"announced, at the cap", cap, false, false},
        {"announced, one byte over", cap + 1, false, true},
        {"chunked, at the cap", cap, true, false},
        {"chunked, one byte over", cap + 1, true, true},
        {"chunked, far over", 3 * 1024 * 1024, true, true},
    };
    const QString dir = testenv::home() + QStringLiteral("/capped");
    ASSERT_TRUE(QDir().mkpath(dir));
    for (const Case& c : cases) {
        webdouble::Fault fault = webdouble::Fault::rawBody(std::string(size_t(c.size), 'a'));
        fault.chunked = c.chunked;
        fault.contentType = "application/octet-stream";
        server.setFault("/check_version/", fault);
        server.setFault("/plugin_package/", fault);

        auto data = std::make_shared<Received>();
        session.dataTask(QStringLiteral("GET"), url("/check_version/"), {}, {}, into(data));
        const HttpSession::Reply reply = waitFor(data);
        auto download = std::make_shared<Received>();
        const QString destination = dir + QStringLiteral("/body.bin");
        session.download(url("/plugin_package/?bundle_id=a&version=1"), destination, nullptr, into(download));
        const HttpSession::Reply downloaded = waitFor(download);

        if (c.refused) {
            for (const HttpSession::Reply& r : {reply, downloaded}) {
                ASSERT_TRUE(r.error.has_value()) << c.name;
                EXPECT_EQ(r.error->domain, QString(HttpSession::kLimitErrorDomain)) << c.name;
                EXPECT_EQ(r.error->code, HttpSession::ReplyTooLarge) << c.name;
            }
            EXPECT_TRUE(reply.body.isEmpty()) << c.name;
            EXPECT_TRUE(filesIn(dir).isEmpty()) << c.name;
        } else {
            EXPECT_FALSE(reply.error.has_value()) << c.name;
            EXPECT_EQ(reply.body.size(), c.size) << c.name;
            EXPECT_FALSE(downloaded.error.has_value()) << c.name;
            EXPECT_EQ(QFileInfo(destination).size(), c.size) << c.name;
            QFile::remove(destination);
        }
    }
}

TEST_F(HttpSessionTest, ARedirectIsFollowedOnlyWithinItsOrigin)
{
    webdouble::WebServiceDouble elsewhere;
    ASSERT_TRUE(elsewhere.start());
    const std::string port = std::to_string(server.port());
    struct Case {
        const char* name;
        std::string origin;  // put before the path of the redirect's target
        bool followed;
    };
    const Case cases[] = {
        {"same origin", server.baseURL(), true},
        {"same origin, relative", "", true},
        {"another port", elsewhere.baseURL(), false},
        {"another host", "http://localhost:" + port, false},
        {"another scheme", "https://127.0.0.1:" + port, false},
    };
    const QString body = testenv::home() + QStringLiteral("/form.bin");
    {
        QFile file(body);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("the upload");
    }
    auto once = [](webdouble::Fault fault) {
        fault.times = 1;
        return fault;
    };
    for (const Case& c : cases) {
        server.clearRequests();
        // A GET, a form POST (307 keeps the method and the body) and a download.
        server.setFault("/check_version/", once(webdouble::Fault::redirect(302, c.origin + "/init/")));
        server.setFault("/oss/", once(webdouble::Fault::redirect(307, c.origin + "/oss/")));
        server.setFault("/plugin_package/", once(webdouble::Fault::redirect(307, c.origin + "/init/")));

        auto get = std::make_shared<Received>();
        session.dataTask(QStringLiteral("GET"), url("/check_version/"), {}, {}, into(get));
        const HttpSession::Reply got = waitFor(get);
        auto form = std::make_shared<Received>();
        session.formPost(url("/oss/"), {{QStringLiteral("key"), "k"}},
                         {QStringLiteral("file"), body, QStringLiteral("form.bin"), QStringLiteral("application/octet-stream")},
                         into(form));
        const HttpSession::Reply posted = waitFor(form);
        auto download = std::make_shared<Received>();
        const QString destination = testenv::home() + QStringLiteral("/redirected.bin");
        QFile::remove(destination);
        session.download(url("/plugin_package/?bundle_id=a&version=1"), destination, nullptr, into(download));
        const HttpSession::Reply downloaded = waitFor(download);

        if (c.followed) {
            EXPECT_EQ(got.status, 200) << c.name;
            EXPECT_FALSE(got.error.has_value()) << c.name;
            EXPECT_EQ(server.requestsTo("/init/").size(), 2u) << c.name;
            // The form reached the same store again, fields and file with it.
            const auto forms = server.requestsTo("/oss/");
            ASSERT_EQ(forms.size(), 2u) << c.name;
            EXPECT_EQ(forms[1].body, "key=1;file=10;") << c.name;
        } else {
            for (const HttpSession::Reply& r : {got, posted, downloaded}) {
                ASSERT_TRUE(r.error.has_value()) << c.name;
                EXPECT_EQ(r.error->domain, QString(HttpSession::kLimitErrorDomain)) << c.name;
                EXPECT_EQ(r.error->code, HttpSession::RedirectRefused) << c.name;
            }
            EXPECT_TRUE(server.requestsTo("/init/").empty()) << c.name;
            EXPECT_EQ(server.requestsTo("/oss/").size(), 1u) << c.name;
            EXPECT_FALSE(QFile::exists(destination)) << c.name;
        }
        EXPECT_TRUE(elsewhere.requests().empty()) << c.name;
    }
}
