#include "syncfixture.h"

#include "sync/clearhistoryrequestmanager.h"

#include <gtest/gtest.h>

using namespace synctest;

namespace {

class ClearHistory : public SyncTest {
protected:
    Sent clearAnswered(const QByteArray& body)
    {
        server.setFault("/clear_history/", webdouble::Fault::rawBody(body.toStdString()));
        const Sent sent = send(std::make_shared<ClearHistoryRequestManager>());
        server.clearFaults();
        return sent;
    }
};

}  // namespace

TEST_F(ClearHistory, ClearsTheServersClipsAndReportsTheCount)
{
    for (const char* text : {"one", "two", "three"}) {
        auto out = std::make_shared<PushResult>();
        PushClipsManager::sharedInstance().Post(addTextClip(QString::fromLatin1(text), 100), record(out));
        ASSERT_FALSE(wait(out).error);
    }
    ASSERT_EQ(serverClips().size(), 3u);

    const Sent sent = send(std::make_shared<ClearHistoryRequestManager>());
    EXPECT_EQ(sent.result.toMap().value(QStringLiteral("count")).toInt(), 3);
    EXPECT_TRUE(serverClips().empty());
    const auto requests = server.requestsTo("/clear_history/");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(QString::fromStdString(requests.front().query).endsWith(QStringLiteral("&user_token=") + token));
}

TEST_F(ClearHistory, TheReplyIsHandedOnOnlyWithCodeZero)
{
    struct Case {
        QByteArray reply;
        bool handedOn;
    };
    const Case cases[] = {
        {R"({"code":0,"count":42})", true},
        {R"({"code":5})", false},
        {"not json", false},
        {R"([1,2])", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.toStdString());
        const Sent sent = clearAnswered(c.reply);
        EXPECT_EQ(sent.result.isValid(), c.handedOn);
        if (c.handedOn) {
            EXPECT_EQ(sent.result.toMap().value(QStringLiteral("count")).toInt(), 42);
        }
    }
}

TEST_F(ClearHistory, AReplyChecksTheServersKey)
{
    const TestPair other = makePair(QStringLiteral("1111"));
    const QJsonObject reply{{QStringLiteral("code"), 0},
                            {QStringLiteral("count"), 1},
                            {QStringLiteral("cipher"), QJsonObject{{QStringLiteral("key_hash"), other.keyHash()},
                                                                   {QStringLiteral("cipher_hash"), other.cipherHash()}}}};
    EXPECT_TRUE(clearAnswered(json(reply)).result.isValid());
    EXPECT_EQ(zm().currentKeyHash(), std::nullopt);
}

TEST_F(ClearHistory, AReplyForAnotherLoginIsNotHandedOn)
{
    for (bool logIntoAnother : {true, false}) {
        SCOPED_TRACE(logIntoAnother);
        ConfigureManager::sharedInstance().setLoginUserToken(token);
        webdouble::Fault late = webdouble::Fault::rawBody(R"({"code":0,"count":42})");
        late.delay = std::chrono::milliseconds(300);
        server.setFault("/clear_history/", late);
        auto out = std::make_shared<Sent>();
        std::make_shared<ClearHistoryRequestManager>()->request(
            [out](const QVariant& result, int, const std::optional<RequestError>&) {
                out->called = true;
                out->result = result;
            });
        ConfigureManager::sharedInstance().setLoginUserToken(
            logIntoAnother ? std::optional<QString>(QStringLiteral("another")) : std::nullopt);
        ASSERT_TRUE(testenv::waitUntil([&] { return out->called; }));
        EXPECT_FALSE(out->result.isValid());
    }
}

TEST_F(ClearHistory, NobodyLoggedInSendsNothing)
{
    ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
    const Sent sent = send(std::make_shared<ClearHistoryRequestManager>());
    EXPECT_FALSE(sent.result.isValid());
    EXPECT_EQ(sent.status, RequestManager::kNoStatus);
    EXPECT_TRUE(server.requestsTo("/clear_history/").empty());
}
