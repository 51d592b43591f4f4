#include "platform/fake/deviceinfofake.h"
#include "platform/userdefaults.h"
#include "store/clipuserdefaults.h"
#include "store/deviceidentity.h"
#include "store/digest.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

// Two installations on one machine (two homes, two settings stores, one machine id) must not
// share a token: it is the MQTT client id, and the broker drops one client for the other.
TEST(DeviceIdentity, EachInstallationOnOneMachineHasItsOwnTokenKeptAcrossRuns)
{
    auto fake = std::make_shared<DeviceInfoFake>();
    fake->serial = QStringLiteral("C02ABC");
    DeviceInfo::setCurrent(fake);
    const QString first = currentDeviceToken();
    EXPECT_TRUE(isValidFileHash(first));
    EXPECT_NE(first, md5HexOfString(QStringLiteral("C02ABC")));
    EXPECT_EQ(ClipUserDefaults::standardUserDefaults().string(QStringLiteral("deviceToken")).value(), first);

    // A second home on the same machine.
    const QString secondHome = testenv::home() + QStringLiteral("/second-settings.ini");
    UserDefaults::useFile(secondHome);
    resetDeviceIdentityCache();
    const QString second = currentDeviceToken();
    EXPECT_TRUE(isValidFileHash(second));
    EXPECT_NE(second, first);

    // Each keeps its own on its next run, whatever the machine says by then.
    fake->serial = QStringLiteral("OTHER");
    for (const auto& [file, token] : {std::pair{testenv::settingsFile(), first}, std::pair{secondHome, second}}) {
        UserDefaults::useFile(file);
        resetDeviceIdentityCache();
        EXPECT_EQ(currentDeviceToken(), token);
    }
}

// An installation made when the token was still derived from the machine keeps that token.
TEST(DeviceIdentity, AStoredTokenIsKept)
{
    auto fake = std::make_shared<DeviceInfoFake>();
    fake->serial = QStringLiteral("C02ABC");
    DeviceInfo::setCurrent(fake);
    const QString stored = md5HexOfString(QStringLiteral("C02ABC"));
    ClipUserDefaults::standardUserDefaults().setValue(QStringLiteral("deviceToken"), stored);
    resetDeviceIdentityCache();
    EXPECT_EQ(currentDeviceToken(), stored);
}

TEST(DeviceIdentity, NoSerialGivesARandomTokenThatIsKept)
{
    auto fake = std::make_shared<DeviceInfoFake>();
    DeviceInfo::setCurrent(fake);
    const QString token = currentDeviceToken();
    EXPECT_TRUE(isValidFileHash(token));
    EXPECT_EQ(currentDeviceToken(), token);
    resetDeviceIdentityCache();
    EXPECT_EQ(currentDeviceToken(), token);
    // An empty serial is read again on the next call.
    const int reads = fake->serialReads;
    platformSerialNumber();
    EXPECT_GT(fake->serialReads, reads);
}

TEST(DeviceIdentity, TypeAndVersionStrings)
{
    auto fake = std::make_shared<DeviceInfoFake>();
    fake->version = {6, 1, 27};
    DeviceInfo::setCurrent(fake);
    EXPECT_EQ(currentDeviceType(), QStringLiteral("linux_6.1.27"));
    EXPECT_EQ(hostDeviceName(), QStringLiteral("test-host"));
    EXPECT_TRUE(appVersionString().startsWith(appShortVersion() + QLatin1Char('_')));
    EXPECT_NEAR(unixTimeNowNumber(), static_cast<double>(time(nullptr)), 2.0);
}

// The first use from several threads at once, with no serial and nothing stored: one token,
// the one stored.
TEST(DeviceIdentity, FirstUseFromManyThreadsMakesOneToken)
{
    auto fake = std::make_shared<DeviceInfoFake>();
    DeviceInfo::setCurrent(fake);
    constexpr int kThreads = 8;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        ClipUserDefaults::standardUserDefaults().remove(QStringLiteral("deviceToken"));
        resetDeviceIdentityCache();
        std::latch start(kThreads);
        std::vector<QString> tokens(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                tokens[t] = currentDeviceToken();
            });
        for (auto& th : threads)
            th.join();
        for (const QString& token : tokens)
            EXPECT_EQ(token, tokens[0]);
        EXPECT_EQ(ClipUserDefaults::standardUserDefaults().string(QStringLiteral("deviceToken")).value_or(QString()),
                  tokens[0]);
        if (HasFailure())
            break;
    }
}
