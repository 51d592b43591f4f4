#include "platform/fake/deviceinfofake.h"
#include "store/clipuserdefaults.h"
#include "store/deviceidentity.h"
#include "store/digest.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

TEST(DeviceIdentity, TokenIsTheDigestOfTheSerialAndPersistsAcrossRuns)
{
    auto fake = std::make_shared<DeviceInfoFake>();
    fake->serial = QStringLiteral("C02ABC");
    DeviceInfo::setCurrent(fake);
    const QString token = currentDeviceToken();
    EXPECT_EQ(token, md5HexOfString(QStringLiteral("C02ABC")));
    EXPECT_EQ(ClipUserDefaults::standardUserDefaults().string(QStringLiteral("deviceToken")).value(), token);

    // Next run: the stored token is used even when the serial changed.
    resetDeviceIdentityCache();
    fake->serial = QStringLiteral("OTHER");
    EXPECT_EQ(currentDeviceToken(), token);
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
