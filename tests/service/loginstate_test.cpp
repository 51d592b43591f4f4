// A login's values are one thing: the key manager and the common query never pair one login's
// token with another's user id, or one key's hash with another's wrap, and the token stays out
// of the log.

#include "service/keyfixture.h"
#include "support/webservicetest.h"

#include "service/accountlogin.h"
#include "service/initrequestmanager.h"
#include "service/zerogetrequestmanager.h"

#include <QRegularExpression>

#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <thread>

using namespace webtest;

namespace {

QVariantMap loginReply(const QString& token, qint64 userId)
{
    return {{QStringLiteral("code"), qlonglong(0)}, {QStringLiteral("token"), token},
            {QStringLiteral("user_id"), qlonglong(userId)}};
}

// Collects the lines logged while it lives.
class LogCapture {
public:
    LogCapture() : m_sink(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(64)), m_previous(spdlog::default_logger())
    {
        m_sink->set_pattern("%v");
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("capture", m_sink));
    }
    ~LogCapture() { spdlog::set_default_logger(m_previous); }
    std::vector<std::string> lines() const { return m_sink->last_formatted(); }

private:
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> m_sink;
    std::shared_ptr<spdlog::logger> m_previous;
};

class LoginState : public WebServiceTest {
protected:
    void SetUp() override
    {
        WebServiceTest::SetUp();
        keytest::drainMainQueue();
        Keychain::setCurrent(keychain);
        keytest::zm().resetForTesting();
    }
    void TearDown() override
    {
        keytest::drainMainQueue();
        keytest::zm().resetForTesting();
        WebServiceTest::TearDown();
    }

    std::shared_ptr<KeychainFake> keychain = std::make_shared<KeychainFake>();
};

}  // namespace

// User 101 has a key in the keychain, user 202 has none. While 202 logs in after 101 logged
// out, a reader on another thread must never see 101's key as the logged-in user's: the token,
// the id and the e-mail arrive together.
TEST_F(LoginState, AKeyOfThePreviousUserIsNeverReportedDuringTheNextLogin)
{
    const keytest::TestPair pairA = keytest::makePair(QStringLiteral("246810"));
    keychain->setPasswordData(pairA.item(), ZeroManager::keychainService(), ZeroManager::storeKey(QStringLiteral("101")));
    const QString hashA = pairA.keyHash();

    std::atomic<bool> running{true};
    std::atomic<bool> loggingInB{false};
    std::atomic<int> leaks{0};
    std::atomic<int> looks{0};
    std::thread reader([&] {
        while (running.load()) {
            if (!loggingInB.load())
                continue;
            keytest::zm().state();
            if (keytest::zm().currentKeyHash() == hashA && loggingInB.load())
                ++leaks;
            ++looks;
        }
    });

    ConfigureManager& account = ConfigureManager::sharedInstance();
    for (int round = 0; round < 150; ++round) {
        ASSERT_TRUE(AccountLogin::applyReply(loginReply(QStringLiteral("token-a"), 101), QStringLiteral("a@example.com")));
        ASSERT_EQ(keytest::zm().state(), 1);
        account.setLoginUserToken(std::nullopt);
        loggingInB = true;
        ASSERT_TRUE(AccountLogin::applyReply(loginReply(QStringLiteral("token-b"), 202), QStringLiteral("b@example.com")));
        const int seen = looks.load();
        // Let the reader look at B's login a few times before B logs out again.
        while (looks.load() < seen + 3) {
        }
        loggingInB = false;
        account.setLoginUserToken(std::nullopt);
        keytest::drainMainQueue();
    }
    running = false;
    reader.join();
    EXPECT_EQ(leaks.load(), 0);
    EXPECT_EQ(account.loginUserId(), QStringLiteral("202"));
    EXPECT_EQ(account.loginUserEmail(), QStringLiteral("b@example.com"));
}

// While another thread installs one key after the other, every query names a key hash and
// the cipher hash of that same key's wrap.
TEST_F(LoginState, TheCommonQueryNamesOneKeysHashAndItsOwnWrap)
{
    logIn(QStringLiteral("q@example.com"), QStringLiteral("token-q"));
    const QString pin = QStringLiteral("246810");
    const keytest::TestPair a = keytest::makePair(pin);
    const keytest::TestPair b = keytest::makePair(pin);
    ASSERT_TRUE(keytest::zm().decryptKey(pin, QVariant(a.keyDict())));

    std::atomic<bool> running{true};
    std::thread installer([&] {
        bool useB = true;
        while (running.load()) {
            keytest::zm().decryptKey(pin, QVariant((useB ? b : a).keyDict()));
            useB = !useB;
        }
    });
    const QRegularExpression hashes(QStringLiteral("&key_hash=([0-9a-f]{64})&cipher_hash=([0-9a-f]{64})"));
    int mixed = 0;
    auto request = std::make_shared<ZeroGetRequestManager>();
    for (int i = 0; i < 3000; ++i) {
        const QRegularExpressionMatch match = hashes.match(request->combinURL());
        ASSERT_TRUE(match.hasMatch());
        const bool isA = match.captured(1) == a.keyHash() && match.captured(2) == a.cipherHash();
        const bool isB = match.captured(1) == b.keyHash() && match.captured(2) == b.cipherHash();
        if (!isA && !isB)
            ++mixed;
    }
    running = false;
    installer.join();
    EXPECT_EQ(mixed, 0);
}

// A base URL the request cannot use is logged, without the login token the URL carried.
TEST_F(LoginState, TheLoginTokenNeverReachesALogLine)
{
    const QString token = QStringLiteral("tok-5f1e2d3c4b5a69788796a5b4c3d2e1f0");
    logIn(QStringLiteral("log@example.com"), token);
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QStringLiteral("ftp://example"));
    LogCapture log;
    const Outcome outcome = send(std::make_shared<InitRequestManager>());
    ASSERT_TRUE(outcome.error.has_value());
    const auto lines = log.lines();
    ASSERT_FALSE(lines.empty());
    bool namedTheURL = false;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find(token.toStdString()), std::string::npos) << line;
        namedTheURL = namedTheURL || line.find("ftp://example/init/") != std::string::npos;
    }
    EXPECT_TRUE(namedTheURL);
}
