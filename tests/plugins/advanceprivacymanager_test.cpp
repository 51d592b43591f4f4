#include "platform/dispatch.h"
#include "plugins/advanceprivacymanager.h"
#include "plugins/engine/luaguard.h"
#include "plugins/worker/privacyscriptengine.h"
#include "store/clipuserdefaults.h"
#include "support/testenv.h"

#include <QSemaphore>

#include <gtest/gtest.h>

#include <atomic>
#include <limits>

namespace {

const QString kScriptKey = QStringLiteral("privacy_script");

void storeScript(const QString& script)
{
    ClipUserDefaults::standardUserDefaults().setValue(kScriptKey, script);
}

std::optional<QString> storedScript()
{
    return ClipUserDefaults::standardUserDefaults().string(kScriptKey);
}

int32_t textVerdict(AdvancePrivacyManager& manager, const QString& content)
{
    return manager.saveOptionFrom(QStringLiteral("text"), QString(), content);
}

// main answers by the content it is given.
const char* const kVerdicts = R"lua(
local answers = {
  ["string -1"] = function() return "-1" end,
  ["string 7"] = function() return " 7 " end,
  ["string word"] = function() return "12abc" end,
  ["nil"] = function() return nil end,
  ["true"] = function() return true end,
  ["table"] = function() return {} end,
  ["nothing"] = function() end,
  ["1.9"] = function() return 1.9 end,
  ["-1.9"] = function() return -1.9 end,
  ["-0.5"] = function() return -0.5 end,
  ["4294967295"] = function() return 4294967295 end,
  ["2147483648"] = function() return 2147483648 end,
  ["-2147483649"] = function() return -2147483649 end,
  ["huge"] = function() return 1e300 end,
  ["-huge"] = function() return -1e300 end,
  ["inf"] = function() return math.huge end,
  ["nan"] = function() return 0/0 end,
  ["error"] = function() error("no") end,
  ["error table"] = function() error({}) end,
  ["loop"] = function() while true do end end,
  ["caught loop"] = function() while true do pcall(function() while true do end end) end end,
}
function main(from, extension, content)
  if from == "file" then return #extension * 100 + #content end
  if from == "image" then return extension == "data" and content == "image data" and 3 or 4 end
  if content:find("\0", 1, true) then return #content end
  local answer = answers[content]
  if answer then return answer() end
  return 0
end
)lua";

}  // namespace

TEST(AdvancePrivacyManager, VerdictIsTheNumberMainReturnsTruncatedAndClamped)
{
    storeScript(QString::fromUtf8(kVerdicts));
    AdvancePrivacyManager manager;
    struct Case {
        const char* content;
        int32_t verdict;
    };
    const Case cases[] = {
        {"string -1", -1},  // a string Lua reads as a number counts: the clip is skipped
        {"string 7", 7},
        {"string word", 0},
        {"nil", 0},
        {"true", 0},
        {"table", 0},
        {"nothing", 0},
        {"1.9", 1},  // secret: the fraction is dropped
        {"-1.9", -1},
        {"-0.5", 0},
        {"4294967295", std::numeric_limits<int32_t>::max()},  // never wraps round to -1
        {"2147483648", std::numeric_limits<int32_t>::max()},
        {"-2147483649", std::numeric_limits<int32_t>::min()},
        {"huge", std::numeric_limits<int32_t>::max()},
        {"-huge", std::numeric_limits<int32_t>::min()},
        {"inf", std::numeric_limits<int32_t>::max()},
        {"nan", 0},
        {"error", 0},  // an answered error records the clip
        {"error table", 0},
        {"loop", 1},  // no answer in time: it may have been a refusal, so secret
        {"caught loop", 1},
        {"anything else", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(textVerdict(manager, QString::fromUtf8(c.content)), c.verdict) << c.content;

    // The three texts arrive whole, a NUL included.
    EXPECT_EQ(textVerdict(manager, QString::fromUtf8("a\0b\0c", 5)), 5);
    EXPECT_EQ(manager.saveOptionFrom(QStringLiteral("file"), QStringLiteral("pdf"), QStringLiteral("/t/x.pdf")), 308);
    EXPECT_EQ(manager.saveOptionFrom(QStringLiteral("image"), QStringLiteral("data"), QStringLiteral("image data")), 3);
    // A verdict after a timed-out one runs normally.
    EXPECT_EQ(textVerdict(manager, QStringLiteral("1.9")), 1);
}

// The worker's engine, in this process, so its stacks can be looked at.
TEST(PrivacyScriptEngine, ManyVerdictsAndTestsLeaveTheStacksAsTheyWere)
{
    PrivacyScriptEngine engine;
    ASSERT_TRUE(engine.load(QByteArray(kVerdicts)));
    const int height = lua_gettop(engine.state());
    const char* const contents[] = {"1.9", "nil", "error", "table", "string -1", "error table"};
    for (int i = 0; i < 3000; ++i)
        engine.verdict("text", "", contents[i % 6]);
    EXPECT_EQ(lua_gettop(engine.state()), height);
    EXPECT_EQ(engine.verdict("text", "", "1.9"), 1);

    for (const char* script : {"function main( return 0 end", "error({})", "function main() return 1 end"})
        engine.test(script);
    EXPECT_EQ(lua_gettop(engine.test_state()), 0);
}

TEST(AdvancePrivacyManager, AVerdictSlowerThanItsLimitKeepsTheClipSecret)
{
    // Would refuse a password, but only after the limit: busy in Lua (stopped by the hook) or
    // in a few long C calls the count hook hardly sees (answered, but late).
    storeScript(QStringLiteral(
        "function main(f, e, c)\n"
        "  if c:find('password', 1, true) then\n"
        "    if c:find('in lua', 1, true) then local t = os.clock() while os.clock() - t < 1 do end end\n"
        "    if c:find('in c', 1, true) then\n"
        "      local s, t = string.rep('ab', 1e7), os.clock()\n"
        "      repeat s = s:upper():lower() until os.clock() - t > 0.3\n"
        "    end\n"
        "    return -1\n"
        "  end\n"
        "  return 0\n"
        "end\n"));
    AdvancePrivacyManager manager;
    EXPECT_EQ(textVerdict(manager, QStringLiteral("my password")), -1) << "in time, the script refuses";
    EXPECT_EQ(textVerdict(manager, QStringLiteral("my password, in lua")), 1);
    EXPECT_EQ(textVerdict(manager, QStringLiteral("my password, in c")), 1);
    EXPECT_EQ(textVerdict(manager, QStringLiteral("a note")), 0);
}

TEST(AdvancePrivacyManager, VerdictClampingHandlesEveryDouble)
{
    EXPECT_EQ(AdvancePrivacyManager::verdictFromNumber(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(AdvancePrivacyManager::verdictFromNumber(-std::numeric_limits<double>::infinity()),
              std::numeric_limits<int32_t>::min());
    EXPECT_EQ(AdvancePrivacyManager::verdictFromNumber(2147483646.9), 2147483646);
    EXPECT_EQ(AdvancePrivacyManager::verdictFromNumber(-2147483648.5), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(AdvancePrivacyManager::verdictFromNumber(-1.0), -1);
}

TEST(AdvancePrivacyManager, DefaultScriptRunsWithoutAStoredOne)
{
    AdvancePrivacyManager manager;
    const auto def = manager.defaultScript();
    ASSERT_TRUE(def.has_value());
    EXPECT_FALSE(def->isEmpty());
    EXPECT_EQ(manager.scriptContent(), def);
    EXPECT_EQ(manager.testScript(*def), std::nullopt);
    EXPECT_EQ(manager.luaVersion(), QStringLiteral("502"));

    struct Case {
        const char* from;
        const char* extension;
        const char* content;
        int32_t verdict;
    };
    const Case cases[] = {
        {"text", "", "我的银行卡", 1},
        {"text", "", "My PassWord is", 1},
        {"text", "", "username: x", 1},
        {"text", "", "just a note", 0},
        {"text", "", "", 0},
        {"file", "pem", "/home/u/server.pem", 1},
        {"file", "KEY", "/home/u/id.KEY", 1},
        {"file", "pdf", "/home/u/password.pdf", 0},
        {"file", "unknow", "/home/u/README", 0},
        {"image", "data", "image data", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(manager.saveOptionFrom(QString::fromUtf8(c.from), QString::fromUtf8(c.extension),
                                         QString::fromUtf8(c.content)),
                  c.verdict)
            << c.from << " " << c.content;
}

TEST(AdvancePrivacyManager, FailedTestsAlwaysGiveAMessage)
{
    AdvancePrivacyManager manager;
    struct Case {
        const char* script;
        const char* contains;
    };
    const Case cases[] = {
        {"function main( return 0 end", "expected"},
        {"error('chunk failed')", "chunk failed"},
        {"function main() error('main failed') end", "main failed"},
        {"function main() local x = nil; return x.y end", "attempt to index"},
        {"function main() error('', 0) end", "脚本出错了"},
        {"function main() error({}) end", "table"},
        {"function main() error() end", "nil"},
        {"function main() error(42) end", "42"},
        {"while true do end", LUAGUARD_TIMEOUT_MESSAGE},
        {"function main() while true do end end", LUAGUARD_TIMEOUT_MESSAGE},
        {"\x1bLua", "binary"},
    };
    for (const Case& c : cases) {
        const auto message = manager.testScript(QString::fromUtf8(c.script));
        ASSERT_TRUE(message.has_value()) << c.script;
        EXPECT_FALSE(message->isEmpty()) << c.script;
        EXPECT_TRUE(message->contains(QString::fromUtf8(c.contains))) << c.script << " -> " << message->toStdString();
    }
    EXPECT_EQ(manager.testScript(QString()), QStringLiteral("不能为空!"));
    EXPECT_EQ(manager.testScript(QStringLiteral("function main(f, e, c) return 1 end")), std::nullopt);
    // Failed candidates left the run state alone.
    EXPECT_EQ(textVerdict(manager, QStringLiteral("password")), 1);
}

TEST(AdvancePrivacyManager, EarlierGlobalsStayDefinedInBothStates)
{
    AdvancePrivacyManager manager;  // the default script was tested and loaded at start
    // No main of its own: the earlier main answers in the test and in the run state.
    EXPECT_EQ(manager.testScript(QStringLiteral("x = 1")), std::nullopt);
    manager.setScriptContent(QStringLiteral("x = 1"));
    EXPECT_EQ(storedScript(), QStringLiteral("x = 1"));
    EXPECT_EQ(textVerdict(manager, QStringLiteral("password")), 1);

    manager.setScriptContent(QStringLiteral("function main(f, e, c) return x + 5 end"));
    EXPECT_EQ(textVerdict(manager, QStringLiteral("password")), 6);
}

TEST(AdvancePrivacyManager, StoredScriptThatFailsItsTestIsKeptButTheDefaultRuns)
{
    const QString failing = QStringLiteral("error('boom')");
    storeScript(failing);
    AdvancePrivacyManager manager;
    EXPECT_EQ(manager.scriptContent(), failing);
    EXPECT_EQ(storedScript(), failing);
    EXPECT_EQ(textVerdict(manager, QStringLiteral("password")), 1);
    EXPECT_EQ(textVerdict(manager, QStringLiteral("note")), 0);

    // The default is not tested at start, so the test state never saw a main.
    const auto message = manager.testScript(QStringLiteral("y = 2"));
    ASSERT_TRUE(message.has_value());
    EXPECT_TRUE(message->contains(QStringLiteral("nil"))) << message->toStdString();
}

TEST(AdvancePrivacyManager, LoopingStoredScriptsDoNotHoldUpStartUp)
{
    // Each ends at the time limit; a hang fails by the test timeout.
    for (const char* script : {"while true do end", "function main() while true do end end",
                               "function main() repeat until false end"}) {
        storeScript(QString::fromUtf8(script));
        AdvancePrivacyManager manager;
        EXPECT_EQ(manager.scriptContent(), QString::fromUtf8(script));
        EXPECT_EQ(textVerdict(manager, QStringLiteral("password")), 1) << script;
    }
    // Passes its test, then loops on real content: no verdict in time, so secret.
    storeScript(QStringLiteral("function main(f, e, c) if c ~= '' then while true do end end return 0 end"));
    AdvancePrivacyManager manager;
    EXPECT_EQ(textVerdict(manager, QStringLiteral("password")), 1);
    EXPECT_EQ(textVerdict(manager, QString()), 0);
}

TEST(AdvancePrivacyManager, VerdictsFromWorkersAndReloadsFromTheMainThreadTakeTurns)
{
    AdvancePrivacyManager manager;
    const QString one = QStringLiteral("function main(f, e, c) local s = 0 for i = 1, 200 do s = s + i end return 1 end");
    const QString minus = QStringLiteral("function main(f, e, c) return -1 end");
    std::atomic<int> unexpected{0};
    QSemaphore done;
    const int workers = 4;
    for (int w = 0; w < workers; ++w) {
        dispatch::globalAsync([&] {
            for (int i = 0; i < 300; ++i) {
                const int32_t v = textVerdict(manager, QStringLiteral("password"));
                if (v != 1 && v != -1)
                    ++unexpected;
            }
            done.release();
        });
    }
    for (int i = 0; i < 20; ++i)
        manager.setScriptContent(i % 2 ? one : minus);
    done.acquire(workers);
    EXPECT_EQ(unexpected.load(), 0);
}

TEST(AdvancePrivacyManager, StoredScriptSurvivesARestart)
{
    const QString script = QStringLiteral("-- 注释, with \"quotes\", commas = and \\ backslashes\n"
                                          "local t = {1, 2, 3}\nfunction main(f, e, c) return #t end\n");
    {
        AdvancePrivacyManager manager;
        manager.setScriptContent(script);
    }
    UserDefaults::useFile(testenv::settingsFile());  // what the next start reads
    AdvancePrivacyManager manager;
    EXPECT_EQ(manager.scriptContent(), script);
    EXPECT_EQ(textVerdict(manager, QStringLiteral("x")), 3);
}
