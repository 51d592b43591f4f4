#include "syncfixture.h"

#include "service/zeromanager.h"
#include "service/zeropushrequestmanager.h"
#include "support/mosquittobroker.h"
#include "support/syncdevice/devicedriver.h"

#include <QDateTime>

#include <gtest/gtest.h>

using namespace synctest;
using syncdevice::DeviceDriver;

namespace {

// The README's sync trial: this process plays the app (its key made with the app's own PIN
// code at the app's own Argon2id limits), and the second device is nuvarel-sync-device started
// exactly as the README starts it.
class ReadmeSyncTrial : public SyncTest {
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        ASSERT_TRUE(broker.start()) << broker.log().toStdString();
        ASSERT_TRUE(server.connectBroker(broker.host().toStdString(), broker.port()));
        ZeroManager::useProductWrapLimitsForTesting();
    }
    void TearDown() override
    {
        ZeroManager::useCheapWrapLimitsForTesting();
        SyncTest::TearDown();
    }

    // What the app's PIN entry does for a first device: a new key, sent to the service, in use.
    void setUpKeyWithPin(const QString& pin)
    {
        QString verifier;
        const auto dict = zm().generateKey(pin, &verifier);
        ASSERT_TRUE(dict.has_value());
        auto push = std::make_shared<ZeroPushRequestManager>();
        push->key_dict = *dict;
        push->pwd_verifier = verifier;
        const Sent sent = send(push);
        ASSERT_TRUE(sent.called);
        ASSERT_EQ(sent.result.toMap().value(QStringLiteral("code"), -1).toInt(), 0);
        ASSERT_TRUE(zm().makeKeyAvailable(*dict));
        drainMainQueue();
    }

    // The PIN window asks for at least six characters.
    inline static const QString kAppPin = QStringLiteral("246813");
    MosquittoBroker broker;
};

}  // namespace

TEST_F(ReadmeSyncTrial, TheAppsPinUnlocksTheSyncDeviceAndCopiesTravelBothWays)
{
    setUpKeyWithPin(kAppPin);

    DeviceDriver b(server.baseURL(), broker.port(), QString(), DeviceDriver::WrapLimits::App);
    ASSERT_TRUE(b.started()) << b.output().toStdString();
    ASSERT_EQ(b.call(QStringLiteral("login %1 pw").arg(kEmail)), QStringLiteral("ok")) << b.output().toStdString();
    ASSERT_EQ(b.call(QStringLiteral("unlock ") + kAppPin, std::chrono::seconds(60)), QStringLiteral("ok"))
        << b.output().toStdString();

    // A copy on the app's side, posted by the app's own push, shows on the device.
    const QString fromApp = QStringLiteral("copied in the app");
    auto clip = addTextClip(fromApp, QDateTime::currentSecsSinceEpoch());
    auto posted = std::make_shared<PushResult>();
    PushClipsManager::sharedInstance().Post(clip, record(posted));
    ASSERT_FALSE(wait(posted).error.has_value());
    const QString rowOnB = b.call(QStringLiteral("waitrow ") + md5HexOfString(fromApp));
    EXPECT_TRUE(rowOnB.startsWith(QStringLiteral("ok")) && rowOnB.endsWith(fromApp)) << rowOnB.toStdString();

    // A copy on the device reaches the app's history, opened with the app's key.
    const QString fromB = QStringLiteral("hello from B");
    const QString captured = b.call(QStringLiteral("capture ") + fromB);
    ASSERT_TRUE(captured.startsWith(QStringLiteral("ok"))) << captured.toStdString();
    const QString hash = captured.section(QLatin1Char(' '), 1, 1);
    ASSERT_TRUE(testenv::waitUntil([&] {
        for (const auto& [id, stored] : serverClips())
            if (stored.history.value(QStringLiteral("file_hash")).toString() == hash)
                return true;
        return false;
    }));
    bool pulled = false;
    CatchUpManager::sharedInstance().pull([&] { pulled = true; });
    ASSERT_TRUE(testenv::waitUntil([&] { return pulled; }, std::chrono::seconds(20)));
    const auto row = rowOf(hash);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->content(), fromB);
}
