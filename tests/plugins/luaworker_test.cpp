// Plugins and the privacy script that hang inside one C call, end their process or eat
// memory, against real worker processes.
#include "platform/bundle.h"
#include "plugins/engine/plugininstall.h"
#include "plugins/advanceprivacymanager.h"
#include "plugins/luaworkerclient.h"
#include "plugins/pluginmanager.h"
#include "pluginfixture.h"
#include "store/clipapphelper.h"
#include "store/clipuserdefaults.h"
#include "store/pathhelper.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <signal.h>
#include <thread>
#include <utility>
#include <vector>
#include <unistd.h>

using namespace pluginfixture;
using namespace std::chrono_literals;

namespace {

// One C call that never ends in practice: the count hook never fires inside it.
const QByteArray kHang = "string.find(string.rep('a', 40), string.rep('a?', 40) .. string.rep('a', 40))";
const QByteArray kExit = "os.exit(3)";

// Deadlines long enough that only an outside kill ends a hanging call; back as they were after.
struct LongCallDeadlines {
    LongCallDeadlines() { LuaWorkerClient::setCallDeadlineFloorForTesting(60000); }
    ~LongCallDeadlines() { LuaWorkerClient::setCallDeadlineFloorForTesting(0); }
    LongCallDeadlines(const LongCallDeadlines&) = delete;
    LongCallDeadlines& operator=(const LongCallDeadlines&) = delete;
};

// The workers this process runs in the given role, by their command lines.
QList<pid_t> workerPids(const char* role)
{
    QList<pid_t> pids;
    const QString self = QString::number(getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number)
            continue;
        const QList<QByteArray> args = readFile(QStringLiteral("/proc/%1/cmdline").arg(entry)).split('\0');
        if (args.size() >= 3 && args[0].endsWith("/nuvarel-luaworker") && args[1] == role && args[2] == self.toUtf8())
            pids << pid;
    }
    return pids;
}

}  // namespace

// Readable roles and outcomes in failure messages (found by argument lookup, so global).
static void PrintTo(LuaWorkerClient::Role role, std::ostream* os)
{
    *os << (role == LuaWorkerClient::Role::Plugins ? "Plugins" : "Privacy");
}
static void PrintTo(LuaWorkerClient::Outcome outcome, std::ostream* os)
{
    static const char* const names[] = {"Replied", "Late", "Lost", "Unavailable"};
    *os << names[static_cast<int>(outcome)];
}

namespace {

using Role = LuaWorkerClient::Role;
using Outcome = LuaWorkerClient::Outcome;
using Stop = std::pair<Role, Outcome>;
using Stops = std::vector<Stop>;

// The workers the clients killed while it lives, as they report them: a stuck call shows as
// Late (its deadline ran out), one whose worker ended as Lost.
class StopLog {
public:
    StopLog()
    {
        LuaWorkerClient::setStopObserverForTesting([this](Role role, Outcome outcome) {
            QMutexLocker lock(&m_mutex);
            m_stops.emplace_back(role, outcome);
        });
    }
    ~StopLog() { LuaWorkerClient::setStopObserverForTesting({}); }
    StopLog(const StopLog&) = delete;
    StopLog& operator=(const StopLog&) = delete;

    // The stops reported since the last take.
    Stops take()
    {
        QMutexLocker lock(&m_mutex);
        return std::exchange(m_stops, {});
    }

private:
    QMutex m_mutex;
    Stops m_stops;
};

// An input the bad plugin and the bad privacy script each go wrong on, and the stops it brings.
struct BadCall {
    const char* input;
    std::optional<Stops> stops;  // nullopt: not checked
};

// A stuck call is stopped at its deadline and an exit ends the worker. Running out of memory
// ends as Lua's error or at the deadline, whichever comes first, so only the call's answer is
// checked there, not how the worker got to it.
std::vector<BadCall> badCalls(Role role)
{
    return {{"hang", Stops{{role, Outcome::Late}}}, {"exit", Stops{{role, Outcome::Lost}}}, {"alloc", std::nullopt}};
}

void expectStops(StopLog& log, const BadCall& call)
{
    const Stops seen = log.take();
    if (call.stops) {
        EXPECT_EQ(seen, *call.stops) << call.input;
    }
}

// How a worker running this code is stopped: an exit as it ends, a stuck C call at its deadline.
Outcome stopOf(const QByteArray& bad)
{
    return bad.contains(kExit) ? Outcome::Lost : Outcome::Late;
}

class LuaWorkerPlugins : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString res = testenv::home() + QStringLiteral("/res");
        ASSERT_TRUE(QDir().mkpath(res + QStringLiteral("/plugins.bundle")));
        Bundle::setResourceOverride(res);
        makePlugin(userDir() + QStringLiteral("/fine.cplugin"), infoLua("Fine", "id.fine"),
                   "function main(t) return 'fine:' .. t end");
    }
    void TearDown() override
    {
        Bundle::setResourceOverride(QString());
        ClipAppHelper::sharedInstance().setDelegate(nullptr);
    }
    static QString userDir() { return PathHelper::getPluginsBaseDir(); }
    static QString marker() { return testenv::home() + QStringLiteral("/started"); }
    // Lua that writes the marker file, so the test knows the plugin is running.
    static QByteArray touchMarker()
    {
        return "io.open('" + QFile::encodeName(marker()) + "', 'w'):close()\n";
    }
    static PluginObjectPtr object(PluginManager& manager, const char* id)
    {
        return manager.listPlugins().value(QString::fromUtf8(id));
    }
};

}  // namespace

TEST_F(LuaWorkerPlugins, MainThatHangsInACallOrExitsGivesNothingAndTheNextCallWorks)
{
    makePlugin(userDir() + QStringLiteral("/bad.cplugin"), infoLua("Bad", "id.bad"),
               "function main(t)\n"
               "  if t == 'hang' then " + kHang + " end\n"
               "  if t == 'exit' then " + kExit + " end\n"
               "  if t == 'alloc' then local a, s = {}, string.rep('x', 1048576) while true do a[#a + 1] = s .. #a end end\n"
               "  if t == 'huge' then return tostring(select(2, pcall(string.rep, 'x', 1073741824))) end\n"
               "  return 'bad:' .. t\n"
               "end\n");
    StopLog stops;
    PluginManager manager;
    const PluginObjectPtr bad = object(manager, "id.bad");
    const PluginObjectPtr fine = object(manager, "id.fine");
    ASSERT_TRUE(bad && fine);

    for (const BadCall& call : badCalls(Role::Plugins)) {
        const char* input = call.input;
        EXPECT_EQ(manager.processText(QString::fromUtf8(input), bad), std::nullopt) << input;
        expectStops(stops, call);
        EXPECT_EQ(manager.processText(QStringLiteral("x"), bad), QStringLiteral("bad:x")) << input;
        EXPECT_EQ(manager.processText(QStringLiteral("y"), fine), QStringLiteral("fine:y")) << input;
    }
    // The worker's address space is capped: an allocation past it is Lua's memory error,
    // which the plugin can even catch, and the worker carries on.
    const QList<pid_t> before = workerPids("plugins");
    ASSERT_EQ(before.size(), 1);
    EXPECT_TRUE(readFile(QStringLiteral("/proc/%1/limits").arg(before.first()))
                    .contains("Max address space         536870912            536870912"));
    EXPECT_EQ(manager.processText(QStringLiteral("huge"), bad), QStringLiteral("not enough memory"));
    EXPECT_EQ(workerPids("plugins"), before);
    // Every run counted, the stopped ones too.
    EXPECT_EQ(manager.countDict().value(QStringLiteral("id.bad")).toLongLong(), 7);
}

TEST_F(LuaWorkerPlugins, PluginsThatHangOrExitWhileLoadingAreLeftOutAndTheRestLoad)
{
    struct Case {
        const char* folder;
        QByteArray info;
        QByteArray main;
        Stops stops;
    };
    // An info file has no os library: its exit is an error that leaves the worker running.
    const Case cases[] = {
        {"info-hang", infoLua("IH", "id.ih") + kHang, "function main(t) return t end", {{Role::Plugins, Outcome::Late}}},
        {"info-exit", infoLua("IE", "id.ie") + kExit, "function main(t) return t end", {}},
        {"main-hang", infoLua("MH", "id.mh"), kHang + "\nfunction main(t) return t end", {{Role::Plugins, Outcome::Late}}},
        {"main-exit", infoLua("ME", "id.me"), kExit + "\nfunction main(t) return t end", {{Role::Plugins, Outcome::Lost}}},
    };
    for (const Case& c : cases) {
        const QString folder = userDir() + QLatin1Char('/') + QLatin1String(c.folder) + QStringLiteral(".cplugin");
        makePlugin(folder, c.info, c.main);
        StopLog stops;
        PluginManager manager;
        EXPECT_EQ(manager.listPlugins().keys(), QStringList{"id.fine"}) << c.folder;
        // A worker stopped by the plugin is followed by one that loads without it.
        EXPECT_EQ(stops.take(), c.stops) << c.folder;
        EXPECT_EQ(manager.processText(QStringLiteral("x"), object(manager, "id.fine")), QStringLiteral("fine:x"));
        QDir(folder).removeRecursively();
    }
}

TEST_F(LuaWorkerPlugins, AllFourBadPluginsTogetherCostOneRestartEach)
{
    makePlugin(userDir() + QStringLiteral("/a.cplugin"), infoLua("A", "id.a") + kHang, "function main(t) return t end");
    makePlugin(userDir() + QStringLiteral("/b.cplugin"), infoLua("B", "id.b") + kExit, "function main(t) return t end");
    makePlugin(userDir() + QStringLiteral("/c.cplugin"), infoLua("C", "id.c"), kHang + "\nfunction main(t) return t end");
    makePlugin(userDir() + QStringLiteral("/d.cplugin"), infoLua("D", "id.d"), kExit + "\nfunction main(t) return t end");
    PluginManager manager;
    EXPECT_EQ(manager.listPlugins().keys(), QStringList{"id.fine"});
    // A later restart (after a plugin ended its worker) keeps them out without trying again.
    const QString package = testenv::home() + QStringLiteral("/e.cpk");
    makeZip(package, packageEntries(infoLua("E", "id.e"), "function main(t) os.exit(1) end"));
    std::optional<int> code;
    manager.installPlugin(QUrl::fromLocalFile(package), [&](int c) { code = c; });
    ASSERT_TRUE(testenv::waitUntil([&] { return code.has_value(); }, 20s));
    EXPECT_EQ(*code, 0);
    const PluginObjectPtr e = object(manager, "id.e");
    ASSERT_TRUE(e);
    EXPECT_EQ(manager.processText(QStringLiteral("x"), e), std::nullopt);
    EXPECT_EQ(manager.processText(QStringLiteral("x"), object(manager, "id.fine")), QStringLiteral("fine:x"));
}

TEST_F(LuaWorkerPlugins, InstallOfAPackageWhoseInfoHangsOrExitsFailsAndTheProgramGoesOn)
{
    StopLog stops;
    PluginManager manager;
    ASSERT_EQ(manager.listPlugins().keys(), QStringList{"id.fine"});
    // An info file has no os library: its exit is an error that leaves the worker running.
    const std::pair<QByteArray, Stops> cases[] = {{kHang, {{Role::Plugins, Outcome::Late}}}, {kExit, {}}};
    for (const auto& [bad, stopped] : cases) {
        const QString package = testenv::home() + QStringLiteral("/bad.cpk");
        makeZip(package, packageEntries(infoLua("H", "id.h") + bad, "function main(t) return t end"));
        std::optional<int> code;
        manager.installPlugin(QUrl::fromLocalFile(package), [&](int c) { code = c; });
        ASSERT_TRUE(testenv::waitUntil([&] { return code.has_value(); }, 30s));
        // The answer comes once a fresh worker has loaded the plugins again.
        EXPECT_EQ(stops.take(), stopped) << bad.constData();
        EXPECT_EQ(*code, 5) << bad.constData();
        EXPECT_EQ(manager.listPlugins().keys(), QStringList{"id.fine"});
        EXPECT_EQ(manager.processText(QStringLiteral("x"), object(manager, "id.fine")), QStringLiteral("fine:x"));
    }
    // A package whose plugin installs but then hangs its loading is installed, and left out.
    const QString package = testenv::home() + QStringLiteral("/late.cpk");
    makeZip(package, packageEntries(infoLua("L", "id.late"), kHang + "\nfunction main(t) return t end"));
    std::optional<int> code;
    manager.installPlugin(QUrl::fromLocalFile(package), [&](int c) { code = c; });
    ASSERT_TRUE(testenv::waitUntil([&] { return code.has_value(); }, 20s));
    EXPECT_EQ(*code, 0);
    EXPECT_EQ(manager.listPlugins().keys(), QStringList{"id.fine"});
    EXPECT_EQ(manager.processText(QStringLiteral("x"), object(manager, "id.fine")), QStringLiteral("fine:x"));
}

TEST_F(LuaWorkerPlugins, AWorkerKilledFromOutsideMidCallEndsThatCallOnly)
{
    // The kill must come while the call runs, however slow the machine.
    const LongCallDeadlines longDeadlines;
    makePlugin(userDir() + QStringLiteral("/slow.cplugin"), infoLua("Slow", "id.slow"),
               "function main(t)\n" + touchMarker() + kHang + "\nend\n");
    PluginManager manager;
    const PluginObjectPtr slow = object(manager, "id.slow");
    ASSERT_TRUE(slow);
    std::atomic<bool> done{false};
    std::optional<QString> result = QStringLiteral("unset");
    std::thread caller([&] {
        result = manager.processText(QStringLiteral("x"), slow);
        done = true;
    });
    ASSERT_TRUE(testenv::waitUntil([&] { return QFileInfo::exists(marker()); }));
    const QList<pid_t> pids = workerPids("plugins");
    ASSERT_EQ(pids.size(), 1);
    // While the plugin runs, the listings are served from the copy.
    EXPECT_EQ(manager.listPlugins().keys(), (QStringList{"id.fine", "id.slow"}));
    EXPECT_EQ(manager.listUserPlugins().keys(), (QStringList{"id.fine", "id.slow"}));
    EXPECT_FALSE(done.load());

    ASSERT_EQ(kill(pids.first(), SIGKILL), 0);
    EXPECT_TRUE(testenv::waitUntil([&] { return done.load(); }));
    caller.join();
    EXPECT_EQ(result, std::nullopt);
    EXPECT_EQ(manager.processText(QStringLiteral("x"), object(manager, "id.fine")), QStringLiteral("fine:x"));
    const QList<pid_t> now = workerPids("plugins");
    ASSERT_EQ(now.size(), 1);
    EXPECT_NE(now.first(), pids.first());
}

TEST_F(LuaWorkerPlugins, OpenUrlReachesTheMainThreadEvenWhenThePluginThenHangs)
{
    struct Delegate : ClipAppDelegate {
        QList<QUrl> urls;
        void openURL(const QUrl& url) override { urls << url; }
    };
    auto delegate = std::make_shared<Delegate>();
    ClipAppHelper::sharedInstance().setDelegate(delegate);
    makePlugin(userDir() + QStringLiteral("/open.cplugin"), infoLua("Open", "id.open"),
               "app.openURL('https://example.org/at-load')\n"
               "function main(t) app.openURL('https://example.org/' .. t) " + kHang + " end\n");
    PluginManager manager;
    EXPECT_EQ(manager.processText(QStringLiteral("then-hang"), object(manager, "id.open")), std::nullopt);
    ASSERT_TRUE(testenv::waitUntil([&] { return delegate->urls.size() >= 2; }));
    EXPECT_EQ(delegate->urls, (QList<QUrl>{QUrl(QStringLiteral("https://example.org/at-load")),
                                           QUrl(QStringLiteral("https://example.org/then-hang"))}));
}

namespace {

const QString kScriptKey = QStringLiteral("privacy_script");

int32_t verdict(AdvancePrivacyManager& manager, const char* content)
{
    return manager.saveOptionFrom(QStringLiteral("text"), QString(), QString::fromUtf8(content));
}

}  // namespace

TEST(LuaWorkerPrivacy, VerdictThatHangsOrExitsIsSecretAndTheNextOneWorks)
{
    ClipUserDefaults::standardUserDefaults().setValue(
        kScriptKey, QString::fromUtf8("function main(f, e, c)\n"
                                      "  if c == 'hang' then " + kHang + " end\n"
                                      "  if c == 'exit' then " + kExit + " end\n"
                                      "  if c == 'alloc' then local a, s = {}, string.rep('x', 1048576) while true do a[#a + 1] = s .. #a end end\n"
                                      "  return 0\n"
                                      "end\n"));
    StopLog stops;
    AdvancePrivacyManager manager;
    for (const BadCall& call : badCalls(Role::Privacy)) {
        const char* content = call.input;
        EXPECT_EQ(verdict(manager, content), AdvancePrivacyManager::kSecretVerdict) << content;
        expectStops(stops, call);
        EXPECT_EQ(verdict(manager, "note"), 0) << content;
    }
}

TEST(LuaWorkerPrivacy, TestThatHangsOrExitsFailsWithAMessageAndTheRunStateStays)
{
    StopLog stops;
    AdvancePrivacyManager manager;
    for (const QByteArray& script : {kHang, kExit, "function main() " + kHang + " end", "function main() " + kExit + " end"}) {
        const std::optional<QString> message = manager.testScript(QString::fromUtf8(script));
        EXPECT_EQ(stops.take(), (Stops{{Role::Privacy, stopOf(script)}})) << script.constData();
        ASSERT_TRUE(message.has_value()) << script.constData();
        EXPECT_FALSE(message->isEmpty());
        // The default script still decides.
        EXPECT_EQ(verdict(manager, "password"), 1) << script.constData();
        EXPECT_EQ(verdict(manager, "note"), 0) << script.constData();
    }
}

TEST(LuaWorkerPrivacy, StoredScriptThatHangsOrExitsWhileLoadingLeavesTheDefaultRunning)
{
    for (const QByteArray& script : {kHang, kExit}) {
        const QString stored = QString::fromUtf8(script + "\nfunction main() return -1 end");
        ClipUserDefaults::standardUserDefaults().setValue(kScriptKey, stored);
        StopLog stops;
        AdvancePrivacyManager manager;
        // The first worker was stopped; the default is loaded into the next one.
        EXPECT_EQ(stops.take(), (Stops{{Role::Privacy, stopOf(script)}})) << script.constData();
        EXPECT_EQ(verdict(manager, "password"), 1) << script.constData();
        EXPECT_EQ(verdict(manager, "note"), 0) << script.constData();
        EXPECT_EQ(manager.scriptContent(), stored);
    }
}

TEST(LuaWorkerPrivacy, AScriptThatEndsTheWorkerAtEveryLoadIsReplacedAfterThreeInARow)
{
    // Passes each test, then ends the worker when it is loaded into the run state: every
    // run of the chunk adds a line to the file, every second run exits.
    const QString runs = testenv::home() + QStringLiteral("/runs");
    const QString script = QStringLiteral(
                               "local name = '%1'\n"
                               "local n = 0\n"
                               "local f = io.open(name) if f then for _ in f:lines() do n = n + 1 end f:close() end\n"
                               "f = io.open(name, 'a') f:write('run\\n') f:close()\n"
                               "if n % 2 == 1 then os.exit(4) end\n"
                               "function main() return -1 end\n")
                               .arg(runs);
    ClipUserDefaults::standardUserDefaults().setValue(kScriptKey, script);
    AdvancePrivacyManager manager;
    EXPECT_EQ(readFile(runs).count("run"), 6);
    EXPECT_EQ(verdict(manager, "password"), 1);
    EXPECT_EQ(manager.scriptContent(), ClipUserDefaults::standardUserDefaults().string(kScriptKey));

    // The stored text is not tried again in this run, also after a new worker.
    const QList<pid_t> pids = workerPids("privacy");
    ASSERT_EQ(pids.size(), 1);
    ASSERT_EQ(kill(pids.first(), SIGKILL), 0);
    ASSERT_TRUE(testenv::waitUntil([&] { return workerPids("privacy") != pids; }));
    EXPECT_EQ(verdict(manager, "password"), 1);
    EXPECT_EQ(readFile(runs).count("run"), 6);
}

TEST(LuaWorkerPrivacy, AWorkerKilledFromOutsideMidVerdictGivesSecretAndTheNextOneWorks)
{
    // The kill must come while the call runs, however slow the machine.
    const LongCallDeadlines longDeadlines;
    const QString started = testenv::home() + QStringLiteral("/started");
    ClipUserDefaults::standardUserDefaults().setValue(
        kScriptKey, QString::fromUtf8("function main(f, e, c)\n"
                                      "  if c == 'slow' then io.open('" + QFile::encodeName(started) + "', 'w'):close() " + kHang + " end\n"
                                      "  return 0\n"
                                      "end\n"));
    AdvancePrivacyManager manager;
    std::atomic<int32_t> result{7};
    std::atomic<bool> done{false};
    std::thread capture([&] {
        result = verdict(manager, "slow");
        done = true;
    });
    ASSERT_TRUE(testenv::waitUntil([&] { return QFileInfo::exists(started); }));
    const QList<pid_t> pids = workerPids("privacy");
    ASSERT_EQ(pids.size(), 1);
    kill(pids.first(), SIGKILL);
    ASSERT_TRUE(testenv::waitUntil([&] { return done.load(); }));
    capture.join();
    EXPECT_EQ(result.load(), AdvancePrivacyManager::kSecretVerdict);
    EXPECT_EQ(verdict(manager, "note"), 0);
}

namespace {

QStringList g_seen;
int leaveOutSkip(const char* folder)
{
    g_seen << QString::fromUtf8(folder);
    return QByteArray(folder).contains("skip") ? 0 : 1;
}

struct LoadHookReset {
    ~LoadHookReset() { plugin_load_hook = nullptr; }
};

}  // namespace

// The engine's hook the worker watches loading with, in this process.
TEST(PluginLoadHook, SeesEveryFolderBeforeItsInfoRunsAndLeavesOutWhatItRefuses)
{
    const LoadHookReset reset;
    g_seen.clear();
    plugin_load_hook = leaveOutSkip;
    makePlugin(pluginsDir() + QStringLiteral("/keep.cplugin"), infoLua("Keep", "id.keep"), "function main(t) return t end");
    makePlugin(pluginsDir() + QStringLiteral("/skip.cplugin"), infoLua("Skip", "id.skip"), "function main(t) return t end");
    StatePtr state = scannedState();
    ASSERT_EQ(state->count, 1);
    EXPECT_STREQ(state->plugins[0]->bundle_id, "id.keep");
    g_seen.sort();
    EXPECT_EQ(g_seen, (QStringList{pluginsDir() + QStringLiteral("/keep.cplugin/"),
                                   pluginsDir() + QStringLiteral("/skip.cplugin/")}));

    // A package's own info.lua passes the hook too; refused, it is not accepted.
    const QString package = testenv::home() + QStringLiteral("/skip.cpk");
    makeZip(package, packageEntries(infoLua("S", "id.s"), "function main(t) return t end", "skip.cplugin"));
    EXPECT_EQ(plugin_install_package(QFile::encodeName(package).constData(), state.get()), 5);
    makeZip(package, packageEntries(infoLua("S", "id.s"), "function main(t) return t end", "fine.cplugin"));
    EXPECT_EQ(plugin_install_package(QFile::encodeName(package).constData(), state.get()), 0);
    EXPECT_EQ(state->count, 2);
}
