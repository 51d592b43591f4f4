// The unlock's Argon2id runs off the main thread: the window stays responsive under the
// loading sheet, and a logout meanwhile installs nothing.

#include "encryptionfixture.h"
#include "scriptedkeyserver.h"

#include "service/zeromanager.h"

#include <QThreadPool>
#include <QTimer>

using namespace enctest;
using namespace std::chrono_literals;

namespace {

const QString kPin = QStringLiteral("493817");

class UnlockOffMain : public EncryptionViewTest {
protected:
    void SetUp() override
    {
        EncryptionViewTest::SetUp();
        view->setRequests(server.requests());
        // The product's cost, so the derivation takes long enough to be seen.
        ZeroManager::useProductWrapLimitsForTesting();
        record = *keytest::zm().generateKey(kPin);
        keytest::zm().resetForTesting();
        server.script(QStringLiteral("get"), codeReply(0, {{QStringLiteral("cipher"), record}}));
    }
    void TearDown() override
    {
        QThreadPool::globalInstance()->waitForDone();
        ZeroManager::useCheapWrapLimitsForTesting();
        EncryptionViewTest::TearDown();
    }
    bool unlocked() const { return keytest::zm().currentKeyHash() == record.value(QStringLiteral("key_hash")).toString(); }

    ScriptedKeyServer server;
    QVariantMap record;
};

}  // namespace

TEST_F(UnlockOffMain, TheEventLoopRunsWhileThePinIsDerived)
{
    view->beginSetup();
    PINViewController* sheet = pinSheet();
    ASSERT_TRUE(sheet);
    int ticks = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    enter(sheet->pinField(), kPin);
    bool loadingSeen = false;
    int ticksAtUnlock = -1;
    ASSERT_TRUE(testenv::waitUntil(
        [&] {
            loadingSeen = loadingSeen || loadingShown();
            if (!unlocked())
                return false;
            ticksAtUnlock = ticks;
            return true;
        },
        60s));
    EXPECT_TRUE(loadingSeen);
    EXPECT_GE(ticksAtUnlock, 3);
    ASSERT_TRUE(testenv::waitUntil([this] { return flowEnded(); }, kFlowTimeout));
}

TEST_F(UnlockOffMain, ALogoutDuringTheDerivationInstallsNoKey)
{
    view->beginSetup();
    PINViewController* sheet = pinSheet();
    ASSERT_TRUE(sheet);
    enter(sheet->pinField(), kPin);
    ASSERT_TRUE(testenv::waitUntil([this] { return loadingShown(); }, kFlowTimeout));
    keytest::logout();
    QThreadPool::globalInstance()->waitForDone();
    keytest::drainMainQueue();
    EXPECT_FALSE(unlocked());

    // The same user back: the PIN typed under the ended login left nothing to find.
    keytest::loginAs(QStringLiteral("42"));
    keytest::drainMainQueue();
    EXPECT_FALSE(unlocked());
    EXPECT_EQ(keytest::zm().state(), 0);
    EXPECT_TRUE(testenv::waitUntil([this] { return flowEnded(); }, kFlowTimeout));
}
