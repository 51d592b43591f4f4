#include "platform/fake/deviceinfofake.h"
#include "service/checkupdaterequestmanager.h"
#include "service/findpwdrequestmanager.h"
#include "service/initrequestmanager.h"
#include "service/loginrequestmanager.h"
#include "service/pluginlistrequestmanager.h"
#include "service/registerrequestmanager.h"
#include "service/syncpublickeyrequestmanager.h"
#include "service/zeromanager.h"
#include "store/clipuserdefaults.h"
#include "store/deviceidentity.h"
#include "store/digest.h"
#include "store/pathhelper.h"
#include "support/webservicetest.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace webtest;

namespace {

UserDefaults& defaults()
{
    return ClipUserDefaults::standardUserDefaults();
}

QString commonQuery()
{
    return QStringLiteral("device_type=") + currentDeviceType() + QStringLiteral("&device_token=") + currentDeviceToken()
           + QStringLiteral("&version=") + appVersionString() + QStringLiteral("&encrypt=1");
}

QByteArray serverKey(const webdouble::WebServiceDouble& server)
{
    return QByteArray::fromBase64(server.publicKeyBase64().toLatin1());
}

QJsonObject bodyOf(const webdouble::RecordedRequest& request)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
}

class AccountRequests : public WebServiceTest {
protected:
    void SetUp() override
    {
        WebServiceTest::SetUp();
        device = std::make_shared<DeviceInfoFake>();
        DeviceInfo::setCurrent(device);
        resetDeviceIdentityCache();
    }
    void TearDown() override
    {
        DeviceInfo::setCurrent(nullptr);
        WebServiceTest::TearDown();
    }

    // Fetches the server key as the login pane does first.
    void fetchServerKey()
    {
        const Outcome outcome = send(std::make_shared<SyncPublicKeyRequestManager>());
        ASSERT_FALSE(outcome.error.has_value());
        ASSERT_EQ(defaults().data(DefaultsKey::ServerPublicKey).value_or(QByteArray()), serverKey(server));
    }

    std::shared_ptr<LoginRequestManager> loginRequest(const QString& email, const QString& password)
    {
        auto login = std::make_shared<LoginRequestManager>();
        login->user = email;
        login->passwd = password;
        return login;
    }

    std::shared_ptr<DeviceInfoFake> device;
};

}  // namespace

TEST_F(AccountRequests, InitSendsTheFormEncodedDeviceNameAndTheTokenWhenLoggedIn)
{
    device->host = QStringLiteral("Zoë's Mac & Co");
    send(std::make_shared<InitRequestManager>());
    const QString encodedName = QStringLiteral("Zo%C3%AB%27s+Mac+%26+Co");
    ASSERT_EQ(server.requestsTo("/init/").size(), 1u);
    EXPECT_EQ(QString::fromStdString(server.requestsTo("/init/")[0].query),
              commonQuery() + QStringLiteral("&device_name=") + encodedName);
    // The double decodes what the app encoded back to the typed name.
    EXPECT_EQ(server.accountRoutes().state().deviceNames[currentDeviceToken()], device->host);

    server.addAccount(QStringLiteral("a@example.com"), QStringLiteral("pw"));
    const QString token = server.issueToken(QStringLiteral("a@example.com"));
    logIn(QStringLiteral("a@example.com"), token);
    send(std::make_shared<InitRequestManager>());
    ASSERT_EQ(server.requestsTo("/init/").size(), 2u);
    EXPECT_EQ(QString::fromStdString(server.requestsTo("/init/")[1].query),
              commonQuery() + QStringLiteral("&device_name=") + encodedName + QStringLiteral("&user_token=") + token);
}

TEST_F(AccountRequests, InitStoresThePagesAndTheServerKey)
{
    const Outcome outcome = send(std::make_shared<InitRequestManager>());
    EXPECT_EQ(outcome.status, 200);
    EXPECT_EQ(mapOf(outcome.result).value(QStringLiteral("code")).toInt(), 0);
    const QString base = QString::fromStdString(server.baseURL());
    EXPECT_EQ(defaults().string(DefaultsKey::Homepage).value_or(QString()), base + QStringLiteral("/"));
    EXPECT_EQ(defaults().string(DefaultsKey::DeveloperPage).value_or(QString()), base + QStringLiteral("/developer/"));
    EXPECT_EQ(defaults().string(DefaultsKey::E2eePage).value_or(QString()), base + QStringLiteral("/help/e2ee.html"));
    EXPECT_EQ(defaults().data(DefaultsKey::ServerPublicKey).value_or(QByteArray()), serverKey(server));
}

TEST_F(AccountRequests, InitRemovesWhatItsReplyLacksOrCannotBeUsed)
{
    const QByteArray key32(32, 'k');
    struct Case {
        const char* name;
        std::string reply;
        bool keyKept;
        bool homepageKept;
    };
    const Case cases[] = {
        {"no public key, no pages", R"({"code":0,"data":{}})", false, false},
        {"key not Base64", R"({"code":0,"public_key":"***","data":{"homepage":"https://h/"}})", false, true},
        {"key of 31 bytes", R"({"code":0,"public_key":")" + QByteArray(31, 'x').toBase64().toStdString()
                                + R"(","data":{"homepage":"https://h/"}})",
         false, true},
        {"key of 32 bytes", R"({"code":0,"public_key":")" + key32.toBase64().toStdString() + R"(","data":{}})", true,
         false},
        {"page that is no web address", R"({"code":0,"data":{"homepage":"file:///etc/passwd"}})", false, false},
        {"page of another type", R"({"code":0,"data":{"homepage":7}})", false, false},
        // Stored text is bounded: an address is at most 2048 characters.
        {"page of 2048 characters", R"({"code":0,"data":{"homepage":"https://h/)" + std::string(2048 - 10, 'a') + R"("}})",
         false, true},
        {"page of 2049 characters", R"({"code":0,"data":{"homepage":"https://h/)" + std::string(2049 - 10, 'a') + R"("}})",
         false, false},
        {"non-zero code", R"({"code":3})", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults().setValue(DefaultsKey::ServerPublicKey, QByteArray(32, 'o'));
        defaults().setValue(DefaultsKey::Homepage, QStringLiteral("https://old/"));
        server.setFault("/init/", webdouble::Fault::rawBody(c.reply));
        const Outcome outcome = send(std::make_shared<InitRequestManager>());
        EXPECT_TRUE(outcome.result.isValid());
        const auto key = defaults().data(DefaultsKey::ServerPublicKey);
        EXPECT_EQ(key.has_value(), c.keyKept);
        if (c.keyKept && std::string(c.name) == "key of 32 bytes") {
            EXPECT_EQ(*key, key32);
        }
        EXPECT_EQ(defaults().contains(DefaultsKey::Homepage), c.homepageKept);
    }
}

TEST_F(AccountRequests, InitWithAnExpiredTokenLogsOutAndTokenExpireZeroChangesNothing)
{
    server.addAccount(QStringLiteral("a@example.com"), QStringLiteral("pw"));
    ConfigureManager& account = ConfigureManager::sharedInstance();

    struct Case {
        const char* name;
        std::optional<std::string> reply;  // nothing: the double's own answer to an expired token
        bool loggedOut;
    };
    const Case cases[] = {
        {"the double's answer to an expired token", std::nullopt, true},
        {"token_expire 1", std::string(R"({"code":403,"token_expire":1})"), true},
        {"token_expire 1 as text", std::string(R"({"code":403,"token_expire":"1"})"), true},
        {"token_expire 0", std::string(R"({"code":403,"token_expire":0})"), false},
        {"no token_expire", std::string(R"({"code":403})"), false},
        {"code 0 with token_expire 1", std::string(R"({"code":0,"token_expire":1})"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString token = server.issueToken(QStringLiteral("a@example.com"));
        logIn(QStringLiteral("a@example.com"), token);
        server.clearFaults();
        if (c.reply)
            server.setFault("/init/", webdouble::Fault::rawBody(*c.reply));
        else
            server.expireToken(token);
        send(std::make_shared<InitRequestManager>());
        EXPECT_EQ(account.isLogined(), !c.loggedOut);
    }
}

TEST_F(AccountRequests, AnExpiryReplyDoesNotPurgeAUserWhoWasNotLoggedIn)
{
    // Body files exist although nobody is logged in (the history of a local-only user).
    const QString body = PathHelper::getBaseFilePath() + QStringLiteral("/0123456789abcdef0123456789abcdef");
    QDir().mkpath(PathHelper::getBaseFilePath());
    QFile file(body);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("kept");
    file.close();
    server.setFault("/init/", webdouble::Fault::rawBody(R"({"code":403,"token_expire":1})"));
    send(std::make_shared<InitRequestManager>());
    EXPECT_TRUE(QFile::exists(body));
    EXPECT_FALSE(ConfigureManager::sharedInstance().isLogined());
}

TEST_F(AccountRequests, AnInitReplyForALoginThatHasGoneChangesNothingOfTheNewOne)
{
    server.addAccount(QStringLiteral("a@example.com"), QStringLiteral("pw"));
    server.addAccount(QStringLiteral("b@example.com"), QStringLiteral("pw"));
    logIn(QStringLiteral("a@example.com"), server.issueToken(QStringLiteral("a@example.com")));
    auto slow = webdouble::Fault::rawBody(R"({"code":403,"token_expire":1})");
    slow.delay = std::chrono::milliseconds(800);
    server.setFault("/init/", slow);

    auto outcome = std::make_shared<Outcome>();
    std::make_shared<InitRequestManager>()->request(capture(outcome));
    ASSERT_TRUE(testenv::waitUntil([&] { return server.requestsTo("/init/").size() == 1; }));
    // Another user logs in while the old login's reply is on its way.
    const QString tokenB = server.issueToken(QStringLiteral("b@example.com"));
    logIn(QStringLiteral("b@example.com"), tokenB);
    ASSERT_TRUE(testenv::waitUntil([&] { return outcome->called; }));
    EXPECT_EQ(ConfigureManager::sharedInstance().loginUserToken().value_or(QString()), tokenB);
}

TEST_F(AccountRequests, ThePublicKeyIsStoredOnlyWhenItIsThirtyTwoBytes)
{
    // The public-key request keeps the plain common query.
    fetchServerKey();
    ASSERT_EQ(server.requestsTo("/public_key/").size(), 1u);
    EXPECT_EQ(QString::fromStdString(server.requestsTo("/public_key/")[0].query), commonQuery());

    for (const std::string& reply : {R"({"code":0,"public_key":")" + QByteArray(16, 'x').toBase64().toStdString() + "\"}",
                                     std::string(R"({"code":0,"public_key":""})"), std::string(R"({"code":0})"),
                                     std::string(R"({"code":0,"public_key":12})")}) {
        SCOPED_TRACE(reply);
        server.setFault("/public_key/", webdouble::Fault::rawBody(reply));
        const Outcome outcome = send(std::make_shared<SyncPublicKeyRequestManager>());
        EXPECT_TRUE(outcome.result.isValid());
        EXPECT_EQ(defaults().data(DefaultsKey::ServerPublicKey).value_or(QByteArray()), serverKey(server));
    }
}

TEST_F(AccountRequests, LoginSealsTheMd5OfThePasswordAndStoresTheAccount)
{
    const qint64 userId = server.addAccount(QStringLiteral("a+b@example.com"), QStringLiteral("pässword 1"));
    device->host = QStringLiteral("my box");
    fetchServerKey();
    const Outcome outcome = send(loginRequest(QStringLiteral("a+b@example.com"), QStringLiteral("pässword 1")));
    EXPECT_EQ(mapOf(outcome.result).value(QStringLiteral("code")).toInt(), 0);

    const auto seen = server.requestsTo("/login_v2/");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].contentType, "application/json");
    EXPECT_EQ(QString::fromStdString(seen[0].query), commonQuery() + QStringLiteral("&device_name=my+box"));
    const QJsonObject body = bodyOf(seen[0]);
    EXPECT_EQ(body.value(QStringLiteral("username")).toString(), QStringLiteral("a+b@example.com"));
    const QString pwdHash = body.value(QStringLiteral("pwd_hash")).toString();
    EXPECT_EQ(pwdHash.size(), 108);
    EXPECT_FALSE(QByteArray::fromStdString(seen[0].body).contains("pässword"));
    const auto opened = server.openSealed(QByteArray::fromBase64(pwdHash.toLatin1()));
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(QString::fromLatin1(*opened), md5HexOfString(QStringLiteral("pässword 1")));

    ConfigureManager& account = ConfigureManager::sharedInstance();
    ASSERT_TRUE(account.isLogined());
    EXPECT_NE(server.accountForToken(*account.loginUserToken()), nullptr);
    // The numeric user id is kept as its decimal text.
    EXPECT_EQ(account.loginUserId().value_or(QString()), QString::number(userId));
    EXPECT_EQ(account.loginUserEmail().value_or(QString()), QStringLiteral("a+b@example.com"));
}

TEST_F(AccountRequests, TwoLoginsWithTheSamePasswordSendDifferentSealedHashes)
{
    server.addAccount(QStringLiteral("a@example.com"), QStringLiteral("pw"));
    fetchServerKey();
    send(loginRequest(QStringLiteral("a@example.com"), QStringLiteral("wrong")));
    send(loginRequest(QStringLiteral("a@example.com"), QStringLiteral("wrong")));
    const auto seen = server.requestsTo("/login_v2/");
    ASSERT_EQ(seen.size(), 2u);
    const QString first = bodyOf(seen[0]).value(QStringLiteral("pwd_hash")).toString();
    const QString second = bodyOf(seen[1]).value(QStringLiteral("pwd_hash")).toString();
    EXPECT_EQ(first.size(), 108);
    EXPECT_EQ(second.size(), 108);
    EXPECT_NE(first, second);
    // Both open to the same digest; the double refused them (wrong password): nobody logged in.
    EXPECT_EQ(server.openSealed(QByteArray::fromBase64(first.toLatin1())),
              server.openSealed(QByteArray::fromBase64(second.toLatin1())));
    EXPECT_FALSE(ConfigureManager::sharedInstance().isLogined());
}

TEST_F(AccountRequests, OnlyACompleteSuccessfulLoginReplyLogsIn)
{
    fetchServerKey();
    struct Case {
        const char* name;
        std::string reply;
        std::optional<QString> userId;  // nothing: not logged in
    };
    const Case cases[] = {
        {"numeric user id", R"({"code":0,"token":"t1","user_id":42})", QStringLiteral("42")},
        {"user id as decimal text", R"({"code":0,"token":"t2","user_id":"42"})", QStringLiteral("42")},
        {"large numeric id", R"({"code":0,"token":"t3","user_id":9007199254740993})",
         QStringLiteral("9007199254740993")},
        {"token of base64 and JWT characters", R"({"code":0,"token":"eyJ0.a-b_c~d+e/f=:1","user_id":7})",
         QStringLiteral("7")},
        // The id names the MQTT topic and the keychain item: only a positive integer will do.
        {"negative user id", R"({"code":0,"token":"t2","user_id":-7})", std::nullopt},
        {"zero user id", R"({"code":0,"token":"t2","user_id":0})", std::nullopt},
        {"path and wildcard id", R"({"code":0,"token":"t2","user_id":"../../#"})", std::nullopt},
        {"word user id", R"({"code":0,"token":"t2","user_id":"u-7"})", std::nullopt},
        {"negative text id", R"({"code":0,"token":"t2","user_id":"-7"})", std::nullopt},
        {"padded text id", R"({"code":0,"token":"t2","user_id":" 42"})", std::nullopt},
        {"leading zero id", R"({"code":0,"token":"t2","user_id":"042"})", std::nullopt},
        {"id beyond 64 bits", R"({"code":0,"token":"t2","user_id":"99999999999999999999"})", std::nullopt},
        {"boolean id", R"({"code":0,"token":"t2","user_id":true})", std::nullopt},
        // The token goes into every query as it is.
        {"token adding a parameter", R"({"code":0,"token":"t&user_id=1","user_id":1})", std::nullopt},
        {"token with a space", R"({"code":0,"token":"t 1","user_id":1})", std::nullopt},
        {"token of 1024 characters", R"({"code":0,"token":")" + std::string(1024, 'k') + R"(","user_id":1})",
         QStringLiteral("1")},
        {"token of 1025 characters", R"({"code":0,"token":")" + std::string(1025, 'k') + R"(","user_id":1})",
         std::nullopt},
        {"no user id", R"({"code":0,"token":"t4"})", std::nullopt},
        {"empty user id", R"({"code":0,"token":"t5","user_id":""})", std::nullopt},
        {"fractional user id", R"({"code":0,"token":"t6","user_id":1.5})", std::nullopt},
        {"no token", R"({"code":0,"user_id":1})", std::nullopt},
        {"empty token", R"({"code":0,"token":"","user_id":1})", std::nullopt},
        {"failure code", R"({"code":1003,"token":"t7","user_id":1})", std::nullopt},
        {"code as text", R"({"code":"0","token":"t8","user_id":1})", std::nullopt},
        {"no code", R"({"token":"t9","user_id":1})", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        logOutQuietly();
        server.setFault("/login_v2/", webdouble::Fault::rawBody(c.reply));
        const Outcome outcome = send(loginRequest(QStringLiteral("a@example.com"), QStringLiteral("pw")));
        EXPECT_TRUE(outcome.result.isValid());
        ConfigureManager& account = ConfigureManager::sharedInstance();
        EXPECT_EQ(account.isLogined(), c.userId.has_value());
        if (c.userId) {
            EXPECT_EQ(account.loginUserId().value_or(QString()), *c.userId);
            EXPECT_EQ(account.loginUserEmail().value_or(QString()), QStringLiteral("a@example.com"));
        } else {
            EXPECT_FALSE(account.loginUserId().has_value());
        }
    }
}

TEST_F(AccountRequests, TheReplyOfAnOlderLoginIsIgnoredAfterANewerOne)
{
    server.addAccount(QStringLiteral("a@example.com"), QStringLiteral("pw-a"));
    const qint64 bId = server.addAccount(QStringLiteral("b@example.com"), QStringLiteral("pw-b"));
    fetchServerKey();
    server.setFault("/login_v2/", webdouble::Fault::delayed(std::chrono::milliseconds(800)));
    auto first = std::make_shared<Outcome>();
    loginRequest(QStringLiteral("a@example.com"), QStringLiteral("pw-a"))->request(capture(first));
    ASSERT_TRUE(testenv::waitUntil([&] { return server.requestsTo("/login_v2/").size() == 1; }));
    server.clearFaults();
    const Outcome second = send(loginRequest(QStringLiteral("b@example.com"), QStringLiteral("pw-b")));
    EXPECT_EQ(mapOf(second.result).value(QStringLiteral("code")).toInt(), 0);
    ASSERT_TRUE(testenv::waitUntil([&] { return first->called; }));
    // The slow reply still reaches its caller, but the account is the newer login's.
    EXPECT_EQ(mapOf(first->result).value(QStringLiteral("code")).toInt(), 0);
    ConfigureManager& account = ConfigureManager::sharedInstance();
    EXPECT_EQ(account.loginUserEmail().value_or(QString()), QStringLiteral("b@example.com"));
    EXPECT_EQ(account.loginUserId().value_or(QString()), QString::number(bId));
    EXPECT_EQ(server.accountForToken(account.loginUserToken().value_or(QString()))->email,
              QStringLiteral("b@example.com"));
}

TEST_F(AccountRequests, ALoginReplyArrivingAfterALogoutStoresNothing)
{
    server.addAccount(QStringLiteral("a@example.com"), QStringLiteral("pw"));
    server.addAccount(QStringLiteral("b@example.com"), QStringLiteral("pw"));
    fetchServerKey();
    // Logged in as b; a login for a goes out, then b logs out before its reply.
    logIn(QStringLiteral("b@example.com"), server.issueToken(QStringLiteral("b@example.com")));
    server.setFault("/login_v2/", webdouble::Fault::delayed(std::chrono::milliseconds(800)));
    auto outcome = std::make_shared<Outcome>();
    loginRequest(QStringLiteral("a@example.com"), QStringLiteral("pw"))->request(capture(outcome));
    ASSERT_TRUE(testenv::waitUntil([&] { return server.requestsTo("/login_v2/").size() == 1; }));
    logOutQuietly();
    ASSERT_TRUE(testenv::waitUntil([&] { return outcome->called; }));
    EXPECT_FALSE(ConfigureManager::sharedInstance().isLogined());
}

TEST_F(AccountRequests, RegistrationCreatesTheAccountAndRefusesATakenAddress)
{
    fetchServerKey();
    auto registration = std::make_shared<RegisterRequestManager>();
    registration->username = QStringLiteral("new@example.com");
    registration->passwd = QStringLiteral("fresh pw");
    const Outcome outcome = send(registration);
    EXPECT_EQ(mapOf(outcome.result).value(QStringLiteral("code")).toInt(), 0);
    const auto* created = server.accountByEmail(QStringLiteral("new@example.com"));
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->passwordMd5, md5HexOfString(QStringLiteral("fresh pw")));
    ConfigureManager& account = ConfigureManager::sharedInstance();
    EXPECT_EQ(account.loginUserId().value_or(QString()), QString::number(created->userId));
    EXPECT_EQ(account.loginUserEmail().value_or(QString()), QStringLiteral("new@example.com"));
    const auto seen = server.requestsTo("/register_v2/");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(bodyOf(seen[0]).value(QStringLiteral("pwd_hash")).toString().size(), 108);

    // The same address again: 1001, and the login in place stays as it is.
    const QString tokenBefore = account.loginUserToken().value_or(QString());
    const Outcome again = send(registration);
    EXPECT_EQ(mapOf(again.result).value(QStringLiteral("code")).toInt(), 1001);
    EXPECT_EQ(account.loginUserToken().value_or(QString()), tokenBefore);
}

TEST_F(AccountRequests, LoginAndRegistrationNeedAStoredServerKey)
{
    for (const QByteArray& stored : {QByteArray(), QByteArray(31, 'k'), QByteArray(33, 'k')}) {
        SCOPED_TRACE(stored.size());
        if (stored.isEmpty())
            defaults().remove(DefaultsKey::ServerPublicKey);
        else
            defaults().setValue(DefaultsKey::ServerPublicKey, stored);
        const Outcome login = send(loginRequest(QStringLiteral("a@example.com"), QStringLiteral("pw")));
        EXPECT_EQ(login.status, RequestManager::kNoStatus);
        EXPECT_FALSE(login.error.has_value());
        auto registration = std::make_shared<RegisterRequestManager>();
        registration->username = QStringLiteral("a@example.com");
        EXPECT_EQ(send(registration).status, RequestManager::kNoStatus);
    }
    send(std::make_shared<CheckUpdateRequestManager>());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, "/check_version/");
}

TEST_F(AccountRequests, TheResetMailAddressReachesTheServerAsTyped)
{
    server.addAccount(QStringLiteral("a+b&c@example.com"), QStringLiteral("pw"));
    auto reset = std::make_shared<FindPwdRequestManager>();
    reset->user_email = QStringLiteral("a+b&c@example.com");
    const Outcome sent = send(reset);
    EXPECT_EQ(mapOf(sent.result).value(QStringLiteral("code")).toInt(), 0);
    ASSERT_EQ(server.requestsTo("/forget_pwd/").size(), 1u);
    EXPECT_EQ(QString::fromStdString(server.requestsTo("/forget_pwd/")[0].query),
              commonQuery() + QStringLiteral("&user_email=a%2Bb%26c%40example.com"));
    ASSERT_EQ(server.accountRoutes().state().mailsSent.size(), 1u);
    EXPECT_EQ(server.accountRoutes().state().mailsSent[0], QStringLiteral("a+b&c@example.com"));

    reset->user_email = QStringLiteral("nobody@example.com");
    EXPECT_EQ(mapOf(send(reset).result).value(QStringLiteral("code")).toInt(), 1002);
}

TEST_F(AccountRequests, TheUpdateCheckAndThePluginListHandBackTheReply)
{
    server.pluginRoutes().state().plugins.push_back(
        {QStringLiteral("com.example.upper"), QStringLiteral("Upper"), QStringLiteral("upper case"),
         QStringLiteral("1.2"), QStringLiteral("someone"), QByteArray("zip")});
    const Outcome update = send(std::make_shared<CheckUpdateRequestManager>());
    const QVariantMap updateReply = mapOf(update.result);
    EXPECT_EQ(updateReply.value(QStringLiteral("code")).toInt(), 0);
    EXPECT_EQ(updateReply.value(QStringLiteral("data")).toMap().value(QStringLiteral("version")).toString(),
              server.accountRoutes().state().latestVersion);

    const Outcome plugins = send(std::make_shared<PluginListRequestManager>());
    const QVariantMap pluginReply = mapOf(plugins.result);
    EXPECT_EQ(pluginReply.value(QStringLiteral("plugin_dict"))
                  .toMap()
                  .value(QStringLiteral("com.example.upper"))
                  .toMap()
                  .value(QStringLiteral("version"))
                  .toString(),
              QStringLiteral("1.2"));
    EXPECT_TRUE(pluginReply.value(QStringLiteral("plugin_url")).toMap().contains(QStringLiteral("com.example.upper")));
    ASSERT_EQ(server.requestsTo("/plugins/").size(), 1u);
    EXPECT_EQ(QString::fromStdString(server.requestsTo("/plugins/")[0].query), commonQuery());
}

TEST(SealedPublicKey, SealsOnlyToAThirtyTwoByteKeyAndTheServerOpensIt)
{
    webdouble::WebServiceDouble server;
    const QByteArray key = QByteArray::fromBase64(server.publicKeyBase64().toLatin1());
    ZeroManager& zero = ZeroManager::sharedInstance();
    const QByteArray data = QByteArrayLiteral("0123456789abcdef0123456789abcdef");
    const auto sealed = zero.encryptDataWithSealedPublicKey(data, key);
    ASSERT_TRUE(sealed.has_value());
    EXPECT_EQ(sealed->size(), 80);
    EXPECT_EQ(server.openSealed(*sealed), std::optional<QByteArray>(data));
    EXPECT_FALSE(zero.encryptDataWithSealedPublicKey(data, key.left(31)).has_value());
    EXPECT_FALSE(zero.encryptDataWithSealedPublicKey(data, key + 'x').has_value());
    EXPECT_FALSE(zero.encryptDataWithSealedPublicKey(data, QByteArray()).has_value());
}
