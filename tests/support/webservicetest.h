#pragma once

// A fixture for tests that talk to the web service: the test double runs on a loopback port,
// "apiBaseURL" points at it, the history database and the login start empty.

#include "platform/dispatch.h"
#include "platform/userdefaults.h"
#include "service/httpsession.h"
#include "service/requestmanager.h"
#include "store/configuremanager.h"
#include "store/dbfetcher.h"
#include "store/defaultskeys.h"
#include "support/testenv.h"
#include "support/webservice/webservicedouble.h"

#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace webtest {

// What a request's completion received.
struct Outcome {
    bool called = false;
    bool onMainThread = false;
    QVariant result;
    int status = 0;
    std::optional<RequestError> error;
};

inline RequestManager::Completion capture(std::shared_ptr<Outcome> outcome)
{
    return [outcome](const QVariant& result, int status, const std::optional<RequestError>& error) {
        outcome->called = true;
        outcome->onMainThread = dispatch::isMainThread();
        outcome->result = result;
        outcome->status = status;
        outcome->error = error;
    };
}

// Sends the request and runs the main loop until its completion has run.
inline Outcome send(const std::shared_ptr<RequestManager>& request)
{
    auto outcome = std::make_shared<Outcome>();
    request->request(capture(outcome));
    EXPECT_TRUE(testenv::waitUntil([&] { return outcome->called; }, std::chrono::seconds(20)));
    return *outcome;
}

inline QVariantMap mapOf(const QVariant& value)
{
    return value.toMap();
}

class WebServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DBFetcher::resetSharedInstance();
        logOutQuietly();
        ASSERT_TRUE(server.start());
        UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QString::fromStdString(server.baseURL()));
    }
    void TearDown() override
    {
        server.stop();
        RequestManager::sharedSession().setTransferTimeout(HttpSession::kDefaultTransferTimeout);
        RequestManager::sharedSession().setDeadline(HttpSession::kDefaultDeadline);
        RequestManager::sharedSession().setMaxReplySize(HttpSession::kDefaultMaxReplySize);
        logOutQuietly();
        DBFetcher::resetSharedInstance();
    }

    static void logOutQuietly()
    {
        ConfigureManager& account = ConfigureManager::sharedInstance();
        if (account.loginUserToken())
            account.setLoginUserToken(std::nullopt);
        account.setLoginUserId(std::nullopt);
        account.setLoginUserEmail(std::nullopt);
    }

    // Logs the account in as the app would have stored it.
    void logIn(const QString& email, const QString& token)
    {
        ConfigureManager& account = ConfigureManager::sharedInstance();
        account.setLoginUserToken(token);
        const auto* known = server.accountByEmail(email);
        account.setLoginUserId(known ? QString::number(known->userId) : QStringLiteral("1"));
        account.setLoginUserEmail(email);
    }

    webdouble::WebServiceDouble server;
};

}  // namespace webtest
