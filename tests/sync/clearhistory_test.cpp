#include "syncfixture.h"

#include "sync/clearhistoryrequestmanager.h"

#include <gtest/gtest.h>

using namespace synctest;

namespace {

class ClearHistory : public SyncTest {};

}  // namespace

TEST_F(ClearHistory, TheReplyIsHandedOnOnlyWithCodeZero)
{
    ClearHistoryRequestManager clear;
    EXPECT_TRUE(clear.combinURL().endsWith(QStringLiteral("&user_token=token-42")));
    clear.request({});
    drainMainQueue();

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
        const QVariant result = clear.parse(c.reply);
        EXPECT_EQ(result.isValid(), c.handedOn);
        if (c.handedOn) {
            EXPECT_EQ(result.toMap().value(QStringLiteral("count")).toInt(), 42);
        }
    }
}

TEST_F(ClearHistory, AReplyChecksTheServersKey)
{
    ClearHistoryRequestManager clear;
    clear.request({});
    drainMainQueue();
    const TestPair other = makePair(QStringLiteral("1111"));
    const QJsonObject reply{{QStringLiteral("code"), 0},
                            {QStringLiteral("count"), 1},
                            {QStringLiteral("cipher"), QJsonObject{{QStringLiteral("key_hash"), other.keyHash()},
                                                                   {QStringLiteral("cipher_hash"), other.cipherHash()}}}};
    EXPECT_TRUE(clear.parse(json(reply)).isValid());
    EXPECT_EQ(zm().currentKeyHash(), std::nullopt);
}

TEST_F(ClearHistory, AReplyForAnotherLoginIsNotHandedOn)
{
    ClearHistoryRequestManager clear;
    clear.request({});
    drainMainQueue();
    loginAs(QStringLiteral("77"));
    drainMainQueue();
    EXPECT_FALSE(clear.parse(R"({"code":0,"count":42})").isValid());
    logout();
    drainMainQueue();
    EXPECT_FALSE(clear.parse(R"({"code":0,"count":42})").isValid());
}
