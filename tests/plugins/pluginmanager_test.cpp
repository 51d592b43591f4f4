#include "platform/bundle.h"
#include "platform/dispatch.h"
#include "plugins/pluginmanager.h"
#include "pluginfixture.h"
#include "store/clipapphelper.h"
#include "store/clipuserdefaults.h"
#include "store/pathhelper.h"
#include "support/mainqueue.h"
#include "support/testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QUrl>

#include <gtest/gtest.h>

#include <optional>

using namespace pluginfixture;

namespace {

const QString kCountKey = QStringLiteral("plugin_used_count_dict");

// Each test gets a built-in plugins folder of its own (empty unless the test fills it), so
// the shipped built-ins do not mix into its listings.
class PluginManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString res = testenv::home() + QStringLiteral("/res");
        ASSERT_TRUE(QDir().mkpath(res + QStringLiteral("/plugins.bundle")));
        Bundle::setResourceOverride(res);
    }
    void TearDown() override
    {
        Bundle::setResourceOverride(QString());
        ClipAppHelper::sharedInstance().setDelegate(nullptr);
    }

    static QString builtinDir() { return testenv::home() + QStringLiteral("/res/plugins.bundle"); }
    static QString userDir() { return PathHelper::getPluginsBaseDir(); }

    // Waits until everything queued on the plugin queue so far has run.
    static void drainQueue()
    {
        PluginManager::pluginQueue().sync([] {});
    }

    static std::optional<int> install(PluginManager& manager, const QString& package)
    {
        std::optional<int> code;
        manager.installPlugin(QUrl::fromLocalFile(package), [&](int c) { code = c; });
        EXPECT_TRUE(testenv::waitUntil([&] { return code.has_value(); }));
        return code;
    }

    static bool remove(PluginManager& manager, const PluginObjectPtr& object)
    {
        bool called = false;
        bool onMain = false;
        manager.removePlugin(object, [&] {
            called = true;
            onMain = dispatch::isMainThread();
        });
        EXPECT_TRUE(testenv::waitUntil([&] { return called; }));
        return called && onMain;
    }
};

QStringList keys(const PluginDict& dict)
{
    return dict.keys();
}

struct RecordingDelegate : ClipAppDelegate {
    QList<QUrl> urls;
    bool onMain = true;
    void openURL(const QUrl& url) override
    {
        onMain = onMain && dispatch::isMainThread();
        urls << url;
    }
};

}  // namespace

TEST_F(PluginManagerTest, UserPluginHidesTheBuiltinOneUntilItIsRemoved)
{
    makePlugin(builtinDir() + QStringLiteral("/shared.cplugin"), infoLua("Builtin shared", "id.shared"),
               "function main(t) return 'builtin:' .. t end");
    makePlugin(builtinDir() + QStringLiteral("/only.cplugin"), infoLua("Builtin only", "id.builtin"),
               "function main(t) return t end");
    makePlugin(userDir() + QStringLiteral("/mine.cplugin"), infoLua("User shared", "id.shared", "2.0"),
               "function main(t) return 'user:' .. t end");
    makePlugin(userDir() + QStringLiteral("/other.cplugin"), infoLua("User other", "id.user"),
               "function main(t) return t end");
    // Not UTF-8: could not be found again from its text, so it is not listed.
    makePlugin(userDir() + QStringLiteral("/bad.cplugin"), "plugin_name = 'Bad' plugin_bundle_id = '\\255\\254'",
               "function main(t) return t end");

    PluginManager manager;
    const PluginDict all = manager.listPlugins();
    EXPECT_EQ(keys(all), (QStringList{"id.builtin", "id.shared", "id.user"}));
    const PluginObjectPtr shared = all.value(QStringLiteral("id.shared"));
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->plugin_name(), QStringLiteral("User shared"));
    EXPECT_EQ(shared->plugin_version(), QStringLiteral("2.0"));
    EXPECT_EQ(shared->plugin_desc(), QStringLiteral("a test plugin"));
    EXPECT_EQ(shared->plugin_author(), QStringLiteral("tests"));
    EXPECT_EQ(shared->source(), PluginObject::Source::User);
    EXPECT_EQ(manager.processText(QStringLiteral("x"), shared), QStringLiteral("user:x"));

    // Built-ins never appear among the user's plugins.
    EXPECT_EQ(keys(manager.listUserPlugins()), (QStringList{"id.shared", "id.user"}));
    // A new dictionary with the same order every time.
    EXPECT_EQ(keys(manager.listPlugins()), keys(all));
    EXPECT_NE(manager.listPlugins().value(QStringLiteral("id.shared")), shared);

    EXPECT_TRUE(remove(manager, shared));
    EXPECT_FALSE(QFileInfo::exists(userDir() + QStringLiteral("/mine.cplugin")));
    const PluginObjectPtr builtin = manager.listPlugins().value(QStringLiteral("id.shared"));
    ASSERT_TRUE(builtin);
    EXPECT_EQ(builtin->plugin_name(), QStringLiteral("Builtin shared"));
    EXPECT_EQ(builtin->source(), PluginObject::Source::Builtin);
    EXPECT_EQ(manager.processText(QStringLiteral("x"), builtin), QStringLiteral("builtin:x"));
    EXPECT_EQ(keys(manager.listUserPlugins()), (QStringList{"id.user"}));

    // Removing a built-in deletes nothing and still completes.
    EXPECT_TRUE(remove(manager, builtin));
    EXPECT_TRUE(QFileInfo::exists(builtinDir() + QStringLiteral("/shared.cplugin/main.lua")));
    EXPECT_EQ(keys(manager.listPlugins()), (QStringList{"id.builtin", "id.shared", "id.user"}));
    // So do a store entry and no object at all.
    EXPECT_TRUE(remove(manager, PluginObject::loadFromJsonDict(QJsonObject{{"bundle_id", "id.user"}})));
    EXPECT_TRUE(remove(manager, nullptr));
    EXPECT_TRUE(QFileInfo::exists(userDir() + QStringLiteral("/other.cplugin")));
}

TEST_F(PluginManagerTest, EveryRunIsCountedAndStored)
{
    makePlugin(userDir() + QStringLiteral("/count.cplugin"), infoLua("Count", "id.count"),
               "function main(t)\n"
               "  if t == 'nil' then return nil end\n"
               "  if t == 'error' then error('no') end\n"
               "  if t == 'number' then return 42 end\n"
               "  return t:upper()\n"
               "end\n");
    makePlugin(builtinDir() + QStringLiteral("/b.cplugin"), infoLua("B", "id.b"), "function main(t) return t end");
    ClipUserDefaults::standardUserDefaults().setValue(kCountKey, QVariantMap{{"id.count", qint64(4)}, {"id.gone", 9}});

    {
        PluginManager manager;
        const PluginDict all = manager.listPlugins();
        const PluginObjectPtr count = all.value(QStringLiteral("id.count"));
        ASSERT_TRUE(count);
        EXPECT_EQ(count->count(), 4);
        EXPECT_EQ(all.value(QStringLiteral("id.b"))->count(), 0);

        EXPECT_EQ(manager.processText(QStringLiteral("abc"), count), QStringLiteral("ABC"));
        EXPECT_EQ(manager.processText(QStringLiteral("nil"), count), std::nullopt);
        EXPECT_EQ(manager.processText(QStringLiteral("error"), count), std::nullopt);
        EXPECT_EQ(manager.processText(QStringLiteral("number"), count), QStringLiteral("42"));
        EXPECT_EQ(manager.processText(QStringLiteral("x"), all.value(QStringLiteral("id.b"))), QStringLiteral("x"));
        // Not loaded: nothing runs and nothing is counted.
        EXPECT_EQ(manager.processText(QStringLiteral("x"), PluginObject::loadFromJsonDict({{"bundle_id", "id.count"}})),
                  std::nullopt);
        EXPECT_EQ(manager.processText(QStringLiteral("x"), nullptr), std::nullopt);

        EXPECT_EQ(manager.listPlugins().value(QStringLiteral("id.count"))->count(), 8);
        drainQueue();
        const QVariantMap stored = ClipUserDefaults::standardUserDefaults().dictionary(kCountKey);
        EXPECT_EQ(stored.value(QStringLiteral("id.count")).toLongLong(), 8);
        EXPECT_EQ(stored.value(QStringLiteral("id.b")).toLongLong(), 1);
        // Counts of plugins no longer installed are kept.
        EXPECT_EQ(stored.value(QStringLiteral("id.gone")).toLongLong(), 9);
        EXPECT_EQ(manager.countDict(), stored);
    }
    // The next start reads them back from the file.
    UserDefaults::useFile(testenv::settingsFile());
    PluginManager again;
    EXPECT_EQ(again.listPlugins().value(QStringLiteral("id.count"))->count(), 8);
}

TEST_F(PluginManagerTest, ThreeRunsAddThreeAlsoWhenMainGivesNothing)
{
    makePlugin(userDir() + QStringLiteral("/nil.cplugin"), infoLua("Nil", "id.nil"), "function main(t) return nil end");
    // Not a dictionary: ignored, and replaced at the next store.
    ClipUserDefaults::standardUserDefaults().setValue(kCountKey, QStringLiteral("garbage"));
    PluginManager manager;
    const PluginObjectPtr object = manager.listPlugins().value(QStringLiteral("id.nil"));
    ASSERT_TRUE(object);
    EXPECT_EQ(object->count(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(manager.processText(QStringLiteral("t"), object), std::nullopt);
    drainQueue();
    EXPECT_EQ(ClipUserDefaults::standardUserDefaults().dictionary(kCountKey),
              (QVariantMap{{"id.nil", qint64(3)}}));
}

TEST_F(PluginManagerTest, OpenUrlHandsOnOnlyUrlsWithASchemeAndAnswersEmptyText)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    ClipAppHelper::sharedInstance().setDelegate(delegate);
    makePlugin(userDir() + QStringLiteral("/open.cplugin"), infoLua("Open", "id.open"),
               "function main(t)\n"
               "  if t == 'same' then return tostring(app == require('app')) .. ',' .. type(app) end\n"
               "  local arg = t\n"
               "  if t == 'number' then arg = 42 end\n"
               "  if t == 'table' then arg = {} end\n"
               "  if t == 'none' then arg = nil end\n"
               "  local r = app.openURL(arg)\n"
               "  return '[' .. type(r) .. ':' .. r .. ']'\n"
               "end\n");
    makePlugin(builtinDir() + QStringLiteral("/b.cplugin"), infoLua("B", "id.b"),
               "function main(t) return tostring(app == require('app')) end");
    PluginManager manager;
    const PluginDict all = manager.listPlugins();
    const PluginObjectPtr open = all.value(QStringLiteral("id.open"));
    ASSERT_TRUE(open);
    EXPECT_EQ(manager.processText(QStringLiteral("same"), open), QStringLiteral("true,table"));
    // Built-in states get the module too.
    EXPECT_EQ(manager.processText(QStringLiteral("x"), all.value(QStringLiteral("id.b"))), QStringLiteral("true"));

    for (const char* in : {"not a url", "42", "number", "table", "none", "some/relative/path", "",
                           "https://example.org/opened", "mailto:someone@example.org"})
        EXPECT_EQ(manager.processText(QString::fromUtf8(in), open), QStringLiteral("[string:]")) << in;

    // The main thread waited for each run; the URLs arrive afterwards, on the main thread.
    ASSERT_TRUE(testenv::waitUntil([&] { return delegate->urls.size() >= 2; }));
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_EQ(delegate->urls, (QList<QUrl>{QUrl(QStringLiteral("https://example.org/opened")),
                                           QUrl(QStringLiteral("mailto:someone@example.org"))}));
    EXPECT_TRUE(delegate->onMain);
}

TEST_F(PluginManagerTest, StaleObjectsFindTheirPluginAgainOrDoNothing)
{
    makePlugin(userDir() + QStringLiteral("/a.cplugin"), infoLua("A", "id.a", "1.0"),
               "function main(t) return 'v1:' .. t end");
    makePlugin(userDir() + QStringLiteral("/keep.cplugin"), infoLua("Keep", "id.keep"),
               "function main(t) return 'keep:' .. t end");
    PluginManager manager;
    const PluginDict before = manager.listPlugins();
    const PluginObjectPtr a = before.value(QStringLiteral("id.a"));
    const PluginObjectPtr keep = before.value(QStringLiteral("id.keep"));
    ASSERT_TRUE(a && keep);

    // An install reloads every plugin: the records the objects were listed from are freed.
    const QString package = testenv::home() + QStringLiteral("/a2.cpk");
    makeZip(package, packageEntries(infoLua("A", "id.a", "2.0"), "function main(t) return 'v2:' .. t end"));
    EXPECT_EQ(install(manager, package), 0);
    EXPECT_EQ(manager.processText(QStringLiteral("x"), keep), QStringLiteral("keep:x"));
    // Both folders carry id.a now; the listing and the run take the same one.
    const QString listed = *manager.listPlugins().value(QStringLiteral("id.a"))->plugin_version();
    const QString expected = listed == QStringLiteral("2.0") ? QStringLiteral("v2:x") : QStringLiteral("v1:x");
    EXPECT_EQ(manager.processText(QStringLiteral("x"), a), expected);

    // Remove both copies of id.a through the one stale object.
    EXPECT_TRUE(remove(manager, a));
    EXPECT_TRUE(remove(manager, a));
    EXPECT_FALSE(manager.listPlugins().contains(QStringLiteral("id.a")));
    EXPECT_EQ(manager.processText(QStringLiteral("x"), a), std::nullopt);
    EXPECT_FALSE(manager.countDict().value(QStringLiteral("id.a")).toLongLong() > 1);
    // Nothing left to remove: the completion still comes, and nothing else goes.
    EXPECT_TRUE(remove(manager, a));
    EXPECT_EQ(keys(manager.listUserPlugins()), QStringList{"id.keep"});
    EXPECT_EQ(manager.processText(QStringLiteral("y"), keep), QStringLiteral("keep:y"));
}

TEST_F(PluginManagerTest, InstallCodesArriveOnTheMainQueue)
{
    PluginManager manager;
    const QString good = testenv::home() + QStringLiteral("/good.cpk");
    makeZip(good, packageEntries(infoLua("New", "id.new"), "function main(t) return 'new:' .. t end"));
    const QString noInfo = testenv::home() + QStringLiteral("/noinfo.cpk");
    makeZip(noInfo, packageEntries("plugin_name = 'x'", "function main(t) return t end"));

    bool onMain = false;
    std::optional<int> code;
    manager.installPlugin(QUrl::fromLocalFile(good), [&](int c) {
        onMain = dispatch::isMainThread();
        code = c;
    });
    ASSERT_TRUE(testenv::waitUntil([&] { return code.has_value(); }));
    EXPECT_EQ(*code, 0);
    EXPECT_TRUE(onMain);
    const PluginObjectPtr installed = manager.listUserPlugins().value(QStringLiteral("id.new"));
    ASSERT_TRUE(installed);
    EXPECT_EQ(manager.processText(QStringLiteral("x"), installed), QStringLiteral("new:x"));

    EXPECT_EQ(install(manager, testenv::home() + QStringLiteral("/absent.cpk")), 1);
    EXPECT_EQ(install(manager, noInfo), 5);
    // Not a file URL: there is no package there.
    std::optional<int> remote;
    manager.installPlugin(QUrl(QStringLiteral("https://example.org/p.cpk")), [&](int c) { remote = c; });
    ASSERT_TRUE(testenv::waitUntil([&] { return remote.has_value(); }));
    EXPECT_EQ(*remote, 1);
    EXPECT_EQ(keys(manager.listPlugins()), QStringList{"id.new"});
}

TEST(PluginObject, LoadFromJsonDictTakesStringsOnly)
{
    const PluginObjectPtr full = PluginObject::loadFromJsonDict(QJsonObject{
        {"name", "名字"}, {"desc", "说明"}, {"version", "1.2.3"}, {"author", "someone"}, {"bundle_id", "id.store"}});
    EXPECT_EQ(full->plugin_name(), QStringLiteral("名字"));
    EXPECT_EQ(full->plugin_desc(), QStringLiteral("说明"));
    EXPECT_EQ(full->plugin_version(), QStringLiteral("1.2.3"));
    EXPECT_EQ(full->plugin_author(), QStringLiteral("someone"));
    EXPECT_EQ(full->plugin_bundle_id(), QStringLiteral("id.store"));
    EXPECT_EQ(full->count(), 0);
    EXPECT_FALSE(full->hasPlugin());

    const PluginObjectPtr sparse =
        PluginObject::loadFromJsonDict(QJsonObject{{"name", 5}, {"version", QJsonValue::Null}, {"bundle_id", "b"}});
    EXPECT_EQ(sparse->plugin_name(), std::nullopt);
    EXPECT_EQ(sparse->plugin_version(), std::nullopt);
    EXPECT_EQ(sparse->plugin_desc(), std::nullopt);
    EXPECT_EQ(sparse->plugin_bundle_id(), QStringLiteral("b"));
}
