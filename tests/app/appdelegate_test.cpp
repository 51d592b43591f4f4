#include "support/manualtimers.h"

#include "app/appdelegate.h"
#include "app/statusbarcontroller.h"
#include "platform/fake/powereventsfake.h"
#include "store/clipapphelper.h"
#include "store/clipuserdefaults.h"
#include "store/utils.h"
#include "support/mainqueue.h"
#include "support/testenv.h"

#include <QJsonDocument>
#include <QStringList>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// A request that keeps its completion for the test to answer.
class FakeRequest : public RequestManager {
public:
    void request(Completion completion) override
    {
        ++sent;
        m_completion = std::move(completion);
    }
    void answer(const QVariant& result, int status = 200, const std::optional<RequestError>& error = std::nullopt)
    {
        ASSERT_TRUE(m_completion);
        m_completion(result, status, error);
    }
    int sent = 0;

private:
    Completion m_completion;
};

QVariant json(const char* text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return doc.toVariant();
}

// Every service the delegate reaches, recording what it was asked in order.
struct World {
    QStringList steps;
    bool loggedIn = false;
    int buildMenus = 0;
    std::shared_ptr<ClipAppDelegate> helperDelegateAtFirstStep;
    PowerEventsFake power;
    std::shared_ptr<ManualTimers> timers = std::make_shared<ManualTimers>();
    std::vector<std::shared_ptr<FakeRequest>> initRequests;
    std::vector<std::shared_ptr<FakeRequest>> updateChecks;
    QList<QUrl> opened;

    AppDelegate::Services services()
    {
        AppDelegate::Services s;
        s.powerEvents = [this]() -> PowerEvents& {
            helperDelegateAtFirstStep = ClipAppHelper::sharedInstance().delegate();
            steps << "observe power";
            return power;
        };
        s.isLogined = [this] { return loggedIn; };
        s.connectMqtt = [this] { steps << "mqtt connect"; };
        s.closeMqtt = [this] { steps << "mqtt close"; };
        s.makeInitRequest = [this] {
            steps << "init request";
            initRequests.push_back(std::make_shared<FakeRequest>());
            return initRequests.back();
        };
        s.makeCheckUpdateRequest = [this] {
            steps << "update check";
            updateChecks.push_back(std::make_shared<FakeRequest>());
            return updateChecks.back();
        };
        s.makeStatusItem = [this] {
            steps << "status item";
            return StatusBarController::create({[] { return nullptr; }, [] {}});
        };
        s.makePrivacyEngine = [this] { steps << "privacy engine"; };
        s.makeShortcutController = [this] { steps << "hotkey"; };
        s.makeClipController = [this] { steps << "pasteboard watcher"; };
        s.buildMenu = [this] {
            ++buildMenus;
            steps << "build menu";
        };
        s.finishCaptures = [this] { steps << "finish captures"; };
        s.finishMqtt = [this] { steps << "finish mqtt"; };
        s.closeDatabase = [this] { steps << "close database"; };
        s.openURL = [this](const QUrl& url) { opened << url; };
        s.timers = timers;
        return s;
    }

    int checksSent() const
    {
        int n = 0;
        for (const auto& r : updateChecks)
            n += r->sent;
        return n;
    }
};

class AppDelegateTest : public ::testing::Test {
protected:
    // Rebuilds still queued for the main thread run while the world they touch exists.
    void TearDown() override { EXPECT_TRUE(testenv::waitForMainQueue()); }

    World world;
    std::shared_ptr<AppDelegate> delegate = std::make_shared<AppDelegate>(world.services());
};

}  // namespace

TEST_F(AppDelegateTest, StartUpMakesTheServicesInOrder)
{
    world.loggedIn = true;
    delegate->applicationDidFinishLaunching();

    EXPECT_EQ(world.steps, QStringList({"observe power", "mqtt connect", "init request", "status item",
                                        "privacy engine", "hotkey", "pasteboard watcher", "build menu"}));
    // The first step, before the power events were observed.
    EXPECT_EQ(world.helperDelegateAtFirstStep, delegate);
    EXPECT_EQ(ClipAppHelper::sharedInstance().delegate(), delegate);
    ASSERT_EQ(world.initRequests.size(), 1u);
    EXPECT_EQ(world.initRequests[0]->sent, 1);
    EXPECT_EQ(delegate->clipInitManager(), world.initRequests[0]);
    EXPECT_TRUE(delegate->statusController());
    // The update check waits.
    EXPECT_EQ(world.checksSent(), 0);
    EXPECT_FALSE(delegate->hasUpdateCheckTimer());
}

TEST_F(AppDelegateTest, LoggedOutStartUpDoesNotConnectMqttButWakeAsksTheChannel)
{
    delegate->applicationDidFinishLaunching();
    EXPECT_FALSE(world.steps.contains("mqtt connect"));

    // The channel itself does nothing without a login.
    world.steps.clear();
    world.power.simulateWake();
    EXPECT_EQ(world.steps, QStringList({"mqtt connect", "init request"}));
    world.steps.clear();
    world.power.simulateSleep();
    EXPECT_EQ(world.steps, QStringList({"mqtt close"}));
}

TEST_F(AppDelegateTest, TheFirstUpdateCheckRunsTenSecondsAfterLaunchThenEveryFortyEightHours)
{
    delegate->applicationDidFinishLaunching();
    world.timers->advance(9999ms);
    EXPECT_EQ(world.checksSent(), 0);
    world.timers->advance(1ms);
    EXPECT_EQ(world.checksSent(), 1);
    EXPECT_TRUE(delegate->hasUpdateCheckTimer());

    world.timers->advance(AppDelegate::kCheckInterval - 1ms);
    EXPECT_EQ(world.checksSent(), 1);
    world.timers->advance(1ms);
    EXPECT_EQ(world.checksSent(), 2);
    world.timers->advance(AppDelegate::kCheckInterval * 3);
    EXPECT_EQ(world.checksSent(), 5);
    EXPECT_EQ(world.timers->liveRepeating(), 1);
}

TEST_F(AppDelegateTest, TwoWakesWithinTenSecondsLeaveOneTimerAndOneCheckEach)
{
    delegate->applicationDidFinishLaunching();
    world.timers->advance(60s);
    ASSERT_EQ(world.checksSent(), 1);

    world.power.simulateWake();
    world.timers->advance(5s);
    world.power.simulateWake();
    // The old timer runs until it is replaced.
    EXPECT_EQ(world.timers->liveRepeating(), 1);
    world.timers->advance(5s);
    EXPECT_EQ(world.checksSent(), 2);
    world.timers->advance(5s);
    EXPECT_EQ(world.checksSent(), 3);
    EXPECT_EQ(world.timers->liveRepeating(), 1);
    EXPECT_EQ(world.timers->pendingOnce(), 0);

    // Only the last timer ticks: one check 48 hours after it was made.
    world.timers->advance(AppDelegate::kCheckInterval);
    EXPECT_EQ(world.checksSent(), 4);
    // Each wake sent a new init request, which replaced the one kept.
    EXPECT_EQ(world.initRequests.size(), 3u);
    EXPECT_EQ(delegate->clipInitManager(), world.initRequests.back());
}

TEST_F(AppDelegateTest, TheDelayedStepDoesNothingOnceTheDelegateIsGone)
{
    delegate->checkVersion();
    delegate.reset();
    world.timers->advance(20s);
    EXPECT_EQ(world.checksSent(), 0);
    EXPECT_EQ(world.timers->liveRepeating(), 0);
}

TEST_F(AppDelegateTest, OnlyAnIntegerCodeZeroReplyChangesTheStoredVersion)
{
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    const QString key = QString::fromLatin1(AppDelegate::kNewVersionKey);
    struct Case {
        const char* what;
        QVariant result;
        std::optional<RequestError> error;
        // Nothing: the stored version is left as it was.
        std::optional<QString> stored;
        bool rebuilds;
    };
    const std::optional<QString> removed = QString();
    const std::optional<QString> kept;
    const Case cases[] = {
        {"a newer version", json(R"({"code":0,"data":{"version":"99.0","update_info":"x"}})"), {}, QStringLiteral("99.0"), true},
        {"no data", json(R"({"code":0})"), {}, removed, true},
        {"no version", json(R"({"code":0,"data":{}})"), {}, removed, true},
        {"data not an object", json(R"({"code":0,"data":"99.0"})"), {}, removed, true},
        {"version not a text", json(R"({"code":0,"data":{"version":99}})"), {}, removed, true},
        {"version null", json(R"({"code":0,"data":{"version":null}})"), {}, removed, true},
        // What the settings file keeps is bounded: a version of 64 characters at most.
        {"version of 64 characters", json((QByteArray(R"({"code":0,"data":{"version":")") + (QByteArray(64, '9') + R"("}})")).constData()),
         {}, QString(64, QLatin1Char('9')), true},
        {"version of 100001 characters",
         json((QByteArray(R"({"code":0,"data":{"version":")") + QByteArray(100001, '9') + R"("}})").constData()), {},
         removed, true},
        {"another code", json(R"({"code":1,"data":{"version":"99.0"}})"), {}, kept, false},
        {"code as text", json(R"({"code":"0","data":{"version":"99.0"}})"), {}, kept, false},
        {"code a fraction", json(R"({"code":0.5,"data":{"version":"99.0"}})"), {}, kept, false},
        {"code true", json(R"({"code":false,"data":{"version":"99.0"}})"), {}, kept, false},
        {"no code", json(R"({"data":{"version":"99.0"}})"), {}, kept, false},
        {"reply not an object", json(R"([0,{"version":"99.0"}])"), {}, kept, false},
        {"no result", QVariant(), {}, kept, false},
        {"transport error", json(R"({"code":0,"data":{"version":"99.0"}})"), RequestError{"net", 1, {}}, kept, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        defaults.setValue(key, QStringLiteral("old"));
        const int before = world.buildMenus;
        delegate->startCheckVersion();
        world.updateChecks.back()->answer(c.result, c.error ? RequestManager::kNoStatus : 200, c.error);
        if (!c.stored)
            EXPECT_EQ(defaults.string(key), QStringLiteral("old"));
        else if (c.stored->isEmpty())
            EXPECT_FALSE(defaults.contains(key));
        else
            EXPECT_EQ(defaults.string(key), *c.stored);
        // The rebuild comes later, on the main queue.
        EXPECT_EQ(world.buildMenus, before);
        ASSERT_TRUE(testenv::waitForMainQueue());
        EXPECT_EQ(world.buildMenus, before + (c.rebuilds ? 1 : 0));
    }
}

TEST_F(AppDelegateTest, AReplyWithoutAVersionPutsTheSettingsItemBack)
{
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    delegate->startCheckVersion();
    world.updateChecks.back()->answer(json(R"({"code":0,"data":{"version":"999.0"}})"));
    EXPECT_TRUE(Utils::isNeedShowUpdate());
    delegate->startCheckVersion();
    world.updateChecks.back()->answer(json(R"({"code":0,"data":{}})"));
    EXPECT_FALSE(defaults.contains(QStringLiteral("newversion")));
    EXPECT_FALSE(Utils::isNeedShowUpdate());
}

TEST_F(AppDelegateTest, TerminationFinishesTheQueuedCapturesAndTheMqttThreadBeforeClosingTheDatabaseOnce)
{
    delegate->applicationDidFinishLaunching();
    world.steps.clear();
    delegate->applicationWillTerminate();
    delegate->applicationWillTerminate();
    EXPECT_EQ(world.steps, QStringList({"finish captures", "finish mqtt", "close database"}));
    // No update check after the end, though the delay was still running.
    world.timers->advance(20s);
    EXPECT_EQ(world.checksSent(), 0);
}

TEST_F(AppDelegateTest, TerminationBeforeLaunchOnlyClosesTheDatabase)
{
    delegate->applicationWillTerminate();
    EXPECT_EQ(world.steps, QStringList({"close database"}));
}

TEST_F(AppDelegateTest, PluginsOpenUrlsThroughTheDelegateOnTheMainThread)
{
    delegate->applicationDidFinishLaunching();
    ClipAppHelper::sharedInstance().openURL(QUrl(QStringLiteral("https://example.org/a")));
    ClipAppHelper::sharedInstance().openURL(QUrl());
    ASSERT_TRUE(testenv::waitUntil([&] { return !world.opened.isEmpty(); }));
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_EQ(world.opened, QList<QUrl>({QUrl(QStringLiteral("https://example.org/a"))}));
}
