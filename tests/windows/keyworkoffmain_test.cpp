// Argon2id runs off the main thread in every flow: the window stays responsive under the
// loading sheet, and a logout or another login meanwhile installs and sends nothing.

#include "encryptionfixture.h"
#include "scriptedkeyserver.h"

#include "platform/userdefaults.h"
#include "service/zeromanager.h"
#include "store/defaultskeys.h"
#include "store/notificationnames.h"

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

namespace {

const QString kShortPin = QStringLiteral("2468");
const QString kNewPin = QStringLiteral("135790");

// Each derivation that follows a PIN entry, at the product's cost.
class KeyWorkOffMain : public EncryptionViewTest {
protected:
    void SetUp() override
    {
        EncryptionViewTest::SetUp();
        view->setRequests(server.requests());
        ZeroManager::useProductWrapLimitsForTesting();
    }
    void TearDown() override
    {
        QThreadPool::globalInstance()->waitForDone();
        ZeroManager::useCheapWrapLimitsForTesting();
        EncryptionViewTest::TearDown();
    }

    struct Flow {
        const char* name;
        std::function<void()> reach;  // up to the step that starts the derivation
        std::function<void()> start;  // that step
        std::function<bool()> begun;  // the derivation is under way
        QString sends;                // the request its result goes out in
    };

    QList<Flow> flows()
    {
        // Records an older build made: one under a PIN of today's rule, one under a shorter PIN.
        const keytest::TestPair older = keytest::makePair(kPin);
        const keytest::TestPair olderShort = keytest::makePair(kShortPin);
        const QVariantMap olderDict = older.keyDict();
        const QVariantMap shortDict = olderShort.keyDict();
        const QString olderHash = older.keyHash();
        return {
            {"the quiet rewrap after an unlock",
             [this, olderDict] {
                 server.script(QStringLiteral("get"), codeReply(0, {{QStringLiteral("cipher"), olderDict}}));
                 view->beginSetup();
                 ASSERT_TRUE(pinSheet());
             },
             [this] { enter(pinSheet()->pinField(), kPin); },
             // The unlock itself is cheap and tells its key; the rewrap follows it.
             [this, olderHash] { return zeroChanged.count() > 0 && keytest::zm().currentKeyHash() == olderHash; },
             QStringLiteral("modify")},
            {"the new PIN for an older short-PIN key",
             [this, shortDict] {
                 server.script(QStringLiteral("get"), codeReply(0, {{QStringLiteral("cipher"), shortDict}}));
                 view->beginSetup();
                 typePins({kShortPin});
                 ASSERT_TRUE(waitForAlerts(1));
                 ASSERT_TRUE(testenv::waitUntil([this] { return view->pinSheet() && view->pinSheet()->step() == 1; },
                                                kFlowTimeout));
                 enter(view->pinSheet()->pinField(), kNewPin);
             },
             [this] { enter(view->pinSheet()->pinField(), kNewPin); }, [] { return true; }, QStringLiteral("modify")},
            {"the reset's new key",
             [this] {
                 server.setHold(true);
                 server.script(QStringLiteral("publickey"), codeReply(0));
                 view->revertButton()->click();
                 ASSERT_TRUE(pwdSheet());
                 enter(pwdSheet()->pwdTextField(), QStringLiteral("login secret"));
                 typePins({kNewPin, kNewPin});
                 ASSERT_TRUE(testenv::waitUntil([this] { return server.kinds().contains(QStringLiteral("publickey")); },
                                                kFlowTimeout));
             },
             [this] { server.releaseNext(); }, [] { return true; }, QStringLiteral("revert")},
        };
    }

    // Each case from a logged-in user "42" with no key and no record of the current wrap.
    void prepare()
    {
        keytest::loginAs(QStringLiteral("42"));
        keytest::drainMainQueue();
        keytest::zm().resetForTesting();
        keychain->deletePassword(keytest::service(), ZeroManager::storeKey(QStringLiteral("42")));
        UserDefaults::standard().remove(QString(DefaultsKey::CurrentWrapUserIds));
        alerts->clear();
    }
    // The case prepared and brought to its derivation's start; false when that failed.
    bool reachedStart(const Flow& c)
    {
        prepare();
        c.reach();
        return !HasFatalFailure();
    }
    void finish()
    {
        server.setHold(false);
        while (server.releaseNext()) {
        }
        ASSERT_TRUE(testenv::waitUntil([this] { return flowEnded(); }, kFlowTimeout));
    }

    ScriptedKeyServer server;
    keytest::NotificationCounter zeroChanged{QString(NotificationName::ZeroChanged)};
};

}  // namespace

TEST_F(KeyWorkOffMain, TheEventLoopRunsWhileEachFlowDerives)
{
    for (const Flow& c : flows()) {
        SCOPED_TRACE(c.name);
        if (!reachedStart(c))
            return;
        const qsizetype sentBefore = server.kinds().count(c.sends);
        int ticks = 0;
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start();
        c.start();
        ASSERT_TRUE(testenv::waitUntil(c.begun, kFlowTimeout));
        const int ticksAtStart = ticks;
        bool loadingSeen = false;
        ASSERT_TRUE(testenv::waitUntil(
            [&] {
                loadingSeen = loadingSeen || loadingShown();
                return server.kinds().count(c.sends) > sentBefore;
            },
            60s));
        EXPECT_GE(ticks - ticksAtStart, 3);
        EXPECT_TRUE(loadingSeen);
        timer.stop();
        finish();
    }
}

TEST_F(KeyWorkOffMain, ALogoutAndAnotherLoginDuringEachDerivationLeaveNothing)
{
    for (const Flow& c : flows()) {
        SCOPED_TRACE(c.name);
        if (!reachedStart(c))
            return;
        const qsizetype sentBefore = server.kinds().count(c.sends);
        c.start();
        ASSERT_TRUE(testenv::waitUntil(c.begun, kFlowTimeout));
        // The user pane's logout, and another account logs in while the PIN is still derived.
        keytest::zm().cleanKeyInfo();
        keytest::logout();
        keytest::loginAs(QStringLiteral("77"));
        QThreadPool::globalInstance()->waitForDone();
        keytest::drainMainQueue();
        finish();
        keytest::drainMainQueue();
        EXPECT_EQ(server.kinds().count(c.sends), sentBefore) << server.kinds().join(QLatin1Char(',')).toStdString();
        EXPECT_EQ(keytest::zm().state(), 0);
        EXPECT_FALSE(keychain->contains(keytest::service(), ZeroManager::storeKey(QStringLiteral("77"))));
        EXPECT_FALSE(keychain->contains(keytest::service(), ZeroManager::storeKey(QStringLiteral("42"))));
        // The first account back: nothing of the ended flow is there either.
        keytest::logout();
        keytest::loginAs(QStringLiteral("42"));
        keytest::drainMainQueue();
        EXPECT_EQ(keytest::zm().state(), 0);
    }
}
