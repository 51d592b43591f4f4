#include "service/checkupdaterequestmanager.h"
#include "service/findpwdrequestmanager.h"
#include "service/initrequestmanager.h"
#include "service/loginrequestmanager.h"
#include "service/syncpublickeyrequestmanager.h"
#include "store/clipuserdefaults.h"
#include "store/deviceidentity.h"
#include "support/webservicetest.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

using namespace webtest;

namespace {

std::string commonQuery()
{
    return ("device_type=" + currentDeviceType() + "&device_token=" + currentDeviceToken() + "&version="
            + appVersionString() + "&encrypt=1")
        .toStdString();
}

// A request of the base class's own rules that records where parse ran.
class ProbeRequest : public RequestManager {
public:
    QString methodURL() const override { return baseURL() + QStringLiteral("/check_version/"); }
    bool isContinueRequest() const override { return true; }
    QVariant parse(const QByteArray& data) override
    {
        parseThread = QThread::currentThread()->objectName();
        ++parses;
        return QString::fromUtf8(data);
    }
    QString parseThread;
    std::atomic<int> parses{0};
};

}  // namespace

class RequestBase : public WebServiceTest {};

TEST_F(RequestBase, BaseURLIsTheSettingWithoutTrailingSlashElseTheBuiltInHost)
{
    RequestManager request;
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    defaults.setValue(DefaultsKey::ApiBaseURL, QStringLiteral("http://127.0.0.1:8080/"));
    EXPECT_EQ(request.baseURL(), QStringLiteral("http://127.0.0.1:8080"));
    defaults.remove(DefaultsKey::ApiBaseURL);
    EXPECT_EQ(request.baseURL(), QString(RequestManager::kBuiltinApiBaseURL));
    EXPECT_TRUE(request.baseURL().startsWith(QStringLiteral("https://")));
    EXPECT_TRUE(request.methodURL().isEmpty());
}

TEST_F(RequestBase, TheServerSeesTheCommonQueryExactly)
{
    const Outcome outcome = send(std::make_shared<CheckUpdateRequestManager>());
    ASSERT_FALSE(outcome.error.has_value());
    const auto seen = server.requestsTo("/check_version/");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "GET");
    // Without key records the query ends at "&encrypt=1".
    EXPECT_EQ(seen[0].query, commonQuery());
    EXPECT_TRUE(seen[0].body.empty());
}

TEST_F(RequestBase, EscapingRoundTripGivesThePlainText)
{
    const QStringList texts = {QStringLiteral("a b"), QStringLiteral("100%"), QStringLiteral("é日本"),
                               QStringLiteral("x=1&y=a+b%C3%A9"), QStringLiteral("<>\"{}|\\^`"),
                               QStringLiteral("https://h:1/p/?q=1#f")};
    for (const QString& text : texts) {
        const QString escaped = RequestManager::percentEscape(text);
        for (QChar c : escaped)
            EXPECT_LT(c.unicode(), 128) << text.toStdString();
        EXPECT_FALSE(escaped.contains(QLatin1Char(' ')));
        EXPECT_EQ(RequestManager::percentUnescape(escaped), text);
    }
    // What a subclass form-encoded itself survives the round trip encoded once.
    EXPECT_EQ(RequestManager::percentUnescape(RequestManager::percentEscape(QStringLiteral("n=My+Mac+%C3%A9"))),
              QStringLiteral("n=My+Mac+%C3%A9"));
}

TEST_F(RequestBase, ParseRunsOnTheDataManagerQueueAndTheCallbackOnTheMainThread)
{
    auto probe = std::make_shared<ProbeRequest>();
    const Outcome outcome = send(probe);
    EXPECT_TRUE(outcome.onMainThread);
    EXPECT_EQ(probe->parseThread, QStringLiteral("data manager"));
    EXPECT_EQ(outcome.status, 200);
    EXPECT_FALSE(outcome.error.has_value());
    EXPECT_TRUE(outcome.result.toString().contains(QStringLiteral("\"code\":0")));
}

TEST_F(RequestBase, ARefusedRequestSendsNothingAndCallsBackWithoutStatus)
{
    // Login needs a stored server key; there is none.
    auto login = std::make_shared<LoginRequestManager>();
    login->user = QStringLiteral("a@example.com");
    login->passwd = QStringLiteral("secret");
    const Outcome refused = send(login);
    EXPECT_TRUE(refused.onMainThread);
    EXPECT_EQ(refused.status, RequestManager::kNoStatus);
    EXPECT_FALSE(refused.error.has_value());
    EXPECT_FALSE(refused.result.isValid());

    // A request sent afterwards is the first and only one the server sees.
    send(std::make_shared<CheckUpdateRequestManager>());
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].path, "/check_version/");
}

TEST_F(RequestBase, AnEmptyBodyIsTheBrindlecoveError)
{
    server.setFault("/check_version/", webdouble::Fault::rawBody(std::string()));
    auto probe = std::make_shared<ProbeRequest>();
    const Outcome outcome = send(probe);
    EXPECT_EQ(outcome.status, 200);
    EXPECT_FALSE(outcome.result.isValid());
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->domain, QStringLiteral("com.brindlecove"));
    EXPECT_EQ(outcome.error->code, 0);
    EXPECT_TRUE(outcome.error->userInfo.isEmpty());
    EXPECT_EQ(probe->parses, 0);
}

TEST_F(RequestBase, StatusOutsideTwoHundredsIsAnErrorAndSkipsParse)
{
    struct Case {
        int status;
        std::optional<std::string> body;
    };
    const Case cases[] = {{404, std::nullopt}, {500, std::string("{\"code\":0}")}, {301, std::string()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        server.setFault("/check_version/", c.body ? webdouble::Fault::rawBody(*c.body, c.status)
                                                  : webdouble::Fault::status(c.status));
        auto probe = std::make_shared<ProbeRequest>();
        const Outcome outcome = send(probe);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_FALSE(outcome.result.isValid());
        ASSERT_TRUE(outcome.error.has_value());
        EXPECT_EQ(outcome.error->domain, QString(HttpSession::kHttpStatusErrorDomain));
        EXPECT_EQ(outcome.error->code, c.status);
        EXPECT_EQ(probe->parses, 0);
    }
}

TEST_F(RequestBase, A404PublicKeyReplyStoresNothing)
{
    // The double answers with its key, but under a 404: parse must not run.
    server.setFault("/public_key/", webdouble::Fault::status(404));
    const Outcome outcome = send(std::make_shared<SyncPublicKeyRequestManager>());
    EXPECT_EQ(outcome.status, 404);
    EXPECT_TRUE(outcome.error.has_value());
    EXPECT_FALSE(ClipUserDefaults::standardUserDefaults().contains(DefaultsKey::ServerPublicKey));
}

TEST_F(RequestBase, AGarbageBodyGivesNoResultAndNoError)
{
    for (const std::string& garbage : {std::string("<html>oops</html>"), std::string("{\"code\":"),
                                       std::string("\x01\x02\xff", 3), std::string("42")}) {
        server.setFault("/init/", webdouble::Fault::rawBody(garbage));
        const Outcome outcome = send(std::make_shared<InitRequestManager>());
        EXPECT_EQ(outcome.status, 200);
        EXPECT_FALSE(outcome.result.isValid());
        EXPECT_FALSE(outcome.error.has_value());
    }
    EXPECT_FALSE(ClipUserDefaults::standardUserDefaults().contains(DefaultsKey::ServerPublicKey));
    EXPECT_FALSE(ClipUserDefaults::standardUserDefaults().contains(DefaultsKey::Homepage));
}

TEST_F(RequestBase, ASilentServerEndsInATimeoutError)
{
    RequestManager::sharedSession().setTransferTimeout(std::chrono::milliseconds(300));
    server.setFault("/check_version/", webdouble::Fault::delayed(std::chrono::seconds(30)));
    auto probe = std::make_shared<ProbeRequest>();
    const Outcome outcome = send(probe);
    EXPECT_EQ(outcome.status, RequestManager::kNoStatus);
    EXPECT_FALSE(outcome.result.isValid());
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->domain, QString(HttpSession::kTransportErrorDomain));
    EXPECT_EQ(probe->parses, 0);
}

TEST_F(RequestBase, AnUnreachableServerIsATransportError)
{
    const std::string base = server.baseURL();
    server.stop();
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QString::fromStdString(base));
    const Outcome outcome = send(std::make_shared<CheckUpdateRequestManager>());
    EXPECT_EQ(outcome.status, RequestManager::kNoStatus);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->domain, QString(HttpSession::kTransportErrorDomain));
}

TEST_F(RequestBase, AnUnusableBaseURLSendsNothing)
{
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QStringLiteral("ftp://example"));
    const Outcome outcome = send(std::make_shared<CheckUpdateRequestManager>());
    EXPECT_EQ(outcome.status, RequestManager::kNoStatus);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->domain, QString(RequestManager::kBadURLErrorDomain));
}

TEST_F(RequestBase, ARequestObjectNotSharedIsRefused)
{
    ProbeRequest probe;
    auto outcome = std::make_shared<Outcome>();
    probe.request(capture(outcome));
    ASSERT_TRUE(testenv::waitUntil([&] { return outcome->called; }));
    EXPECT_EQ(outcome->status, RequestManager::kNoStatus);
    send(std::make_shared<CheckUpdateRequestManager>());
    EXPECT_EQ(server.requests().size(), 1u);
}

// A hostile server can neither hold a request, fill memory with its reply, nor send the
// request on elsewhere: each ends as a failed request, and parse never runs.
TEST_F(RequestBase, AHostileReplyEndsAsAFailedRequest)
{
    webdouble::WebServiceDouble elsewhere;
    ASSERT_TRUE(elsewhere.start());
    HttpSession& session = RequestManager::sharedSession();
    session.setMaxReplySize(64 * 1024);
    const std::string large = "{\"code\":0,\"pad\":\"" + std::string(100000, 'p') + "\"}";
    webdouble::Fault chunked = webdouble::Fault::rawBody(large);
    chunked.chunked = true;
    struct Case {
        const char* name;
        webdouble::Fault fault;
        HttpSession::LimitError error;
    };
    const Case cases[] = {
        {"a byte at a time", webdouble::Fault::trickling(std::chrono::milliseconds(50)), HttpSession::DeadlinePassed},
        {"over the cap", webdouble::Fault::rawBody(large), HttpSession::ReplyTooLarge},
        {"over the cap, no length announced", chunked, HttpSession::ReplyTooLarge},
        {"redirected to another port", webdouble::Fault::redirect(307, elsewhere.baseURL() + "/check_version/"),
         HttpSession::RedirectRefused},
    };
    for (const Case& c : cases) {
        // Short only where the deadline is what ends the request, so a slow machine never
        // ends another case by it.
        session.setDeadline(c.error == HttpSession::DeadlinePassed ? std::chrono::milliseconds(700)
                                                                   : HttpSession::kDefaultDeadline);
        server.setFault("/check_version/", c.fault);
        auto probe = std::make_shared<ProbeRequest>();
        const Outcome outcome = send(probe);
        EXPECT_TRUE(outcome.called) << c.name;
        EXPECT_FALSE(outcome.result.isValid()) << c.name;
        ASSERT_TRUE(outcome.error.has_value()) << c.name;
        EXPECT_EQ(outcome.error->domain, QString(HttpSession::kLimitErrorDomain)) << c.name;
        EXPECT_EQ(outcome.error->code, c.error) << c.name;
        EXPECT_EQ(probe->parses, 0) << c.name;
    }
    EXPECT_TRUE(elsewhere.requests().empty());

    // A reply within the cap still reads.
    server.setFault("/check_version/", webdouble::Fault::rawBody("{\"code\":0}"));
    auto probe = std::make_shared<ProbeRequest>();
    const Outcome fine = send(probe);
    EXPECT_FALSE(fine.error.has_value());
    EXPECT_EQ(fine.result.toString(), QStringLiteral("{\"code\":0}"));
}
