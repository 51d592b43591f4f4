#include "keyfixture.h"

#include "platform/linux/keychainsecretservice.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace keytest;
using namespace historytest;

namespace {

// Set only in the copy of this program that runs inside the private keyring session.
const char kInSessionVariable[] = "NUVAREL_TEST_IN_KEYRING_SESSION";

const QString kService = QStringLiteral("encrypt.clipboard.manager");

}  // namespace

// Runs the in-session tests below in a copy of this program under a private message bus with
// a private, unlocked GNOME Keyring, so the desktop's real keychain is never touched.
TEST(SecretServiceKeychain, StoresReadsAndDeletesInAPrivateGnomeKeyring)
{
    const QString runSession = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
    const QString keyringDaemon = QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
    if (runSession.isEmpty() || keyringDaemon.isEmpty())
        GTEST_SKIP() << "dbus-run-session or gnome-keyring-daemon is not installed";

    const QString runtimeDir = testenv::home() + QStringLiteral("/run");
    ASSERT_TRUE(QDir().mkpath(runtimeDir));
    QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kInSessionVariable), QStringLiteral("1"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    env.insert(QStringLiteral("HOME"), testenv::home());
    QProcess session;
    session.setProcessEnvironment(env);
    session.setProcessChannelMode(QProcess::MergedChannels);
    // The keyring takes its new login password on standard input and unlocks with it.
    session.start(runSession,
                  {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                   QStringLiteral("printf test-password | \"$1\" --unlock --components=secrets >/dev/null && "
                                  "exec \"$2\" --gtest_filter='SecretServiceInSession.*'"),
                   QStringLiteral("sh"), keyringDaemon, QCoreApplication::applicationFilePath()});
    ASSERT_TRUE(session.waitForStarted());
    ASSERT_TRUE(session.waitForFinished(90000));
    const QString output = QString::fromLocal8Bit(session.readAll());
    EXPECT_EQ(session.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(session.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 2 tests"))) << output.toStdString();
}

TEST(SecretServiceKeychain, WithoutASecretServiceNothingIsStoredAndALineIsLogged)
{
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + testenv::home().toLocal8Bit() + "/no-bus");
    LogCapture log;
    KeychainSecretService keychain;
    QString error;
    EXPECT_FALSE(keychain.setPasswordData("secret", kService, QStringLiteral("user_1_key"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(keychain.passwordData(kService, QStringLiteral("user_1_key")).has_value());
    EXPECT_TRUE(log.contains(QStringLiteral("keychain: storing an item failed")));
    qputenv("DBUS_SESSION_BUS_ADDRESS", saved);

    // Never a plaintext copy in place of the keychain.
    QDirIterator it(testenv::home(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_FALSE(f.readAll().contains("secret")) << f.fileName().toStdString();
    }
}

class SecretServiceInSession : public KeyTest {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet(kInSessionVariable))
            GTEST_SKIP() << "runs inside the private keyring session only";
        KeyTest::SetUp();
        Keychain::setCurrent(std::make_shared<KeychainSecretService>());
    }
};

TEST_F(SecretServiceInSession, BinaryItemsRoundTrip)
{
    KeychainSecretService keychain;
    const QString account = QStringLiteral("user_5_key");
    const QByteArray first("\x00\x01\x02 binary \xff", 13);
    QString error;
    ASSERT_TRUE(keychain.setPasswordData(first, kService, account, &error)) << error.toStdString();
    EXPECT_EQ(keychain.passwordData(kService, account), first);
    // Another account and another service are other items.
    EXPECT_FALSE(keychain.passwordData(kService, QStringLiteral("user_6_key")).has_value());
    EXPECT_FALSE(keychain.passwordData(QStringLiteral("other.service"), account).has_value());

    const QByteArray second(240, '\x07');
    ASSERT_TRUE(keychain.setPasswordData(second, kService, account));
    EXPECT_EQ(keychain.passwordData(kService, account), second);

    EXPECT_TRUE(keychain.deletePassword(kService, account));
    EXPECT_FALSE(keychain.passwordData(kService, account).has_value());
    EXPECT_FALSE(keychain.deletePassword(kService, account));
}

TEST_F(SecretServiceInSession, TheKeyManagersItemSurvivesARestartAndGoesAtLogout)
{
    const auto dict = zm().generateKey(QStringLiteral("2468"));
    ASSERT_TRUE(dict.has_value());
    ASSERT_TRUE(zm().makeKeyAvailable(*dict));

    const auto item = Keychain::current().passwordData(kService, QStringLiteral("user_42_key"));
    ASSERT_TRUE(item.has_value());
    const auto plist = ZeroManager::dictionaryWithPlistData(item);
    ASSERT_TRUE(plist.has_value());
    EXPECT_EQ(plist->value("keyData").toByteArray().size(), 112);
    EXPECT_EQ(plist->value("cipherData").toByteArray().size(), 128);

    // As after a restart: nothing in memory, the key comes back from the keyring.
    zm().resetForTesting();
    EXPECT_EQ(zm().state(), 1);
    EXPECT_EQ(zm().currentKeyHash(), dict->value("key_hash").toString());
    EXPECT_TRUE(zm().checkCurrentPwd(QStringLiteral("2468")));

    zm().cleanKeyInfo();
    EXPECT_FALSE(Keychain::current().passwordData(kService, QStringLiteral("user_42_key")).has_value());
    zm().resetForTesting();
    EXPECT_EQ(zm().state(), 0);
}
