#include "plugins/engine/plugin.h"
#include "pluginfixture.h"
#include "support/testenv.h"

#include <QDir>

#include <gtest/gtest.h>

#include <string>

using namespace pluginfixture;

namespace {

const char* const kEcho = "function main(text) return text end\n";

}  // namespace

TEST(PluginEngine, InfoLuaAcceptanceAndFieldWidths)
{
    const std::string longName(3000, 'n');
    const std::string longVersion(100, 'v');
    const std::string longDesc(5000, 'd');
    const std::string longBundle(2000, 'b');
    struct Case {
        const char* what;
        std::string info;
        bool accepted;
        std::string name, desc, version, author, bundle;
    };
    const Case cases[] = {
        {"name and bundle id only", "plugin_name = 'N'\nplugin_bundle_id = 'B'\n", true, "N", "", "", "", "B"},
        {"all fields", "plugin_name='N' plugin_desc='D' plugin_version='1.2' plugin_author='A' plugin_bundle_id='B'",
         true, "N", "D", "1.2", "A", "B"},
        {"numbers read as text", "plugin_name = 7\nplugin_bundle_id = 12\nplugin_version = 1.5\n", true, "7", "", "1.5",
         "", "12"},
        {"cut at the widths",
         "plugin_name = string.rep('n', 3000)\nplugin_version = string.rep('v', 100)\n"
         "plugin_desc = string.rep('d', 5000)\nplugin_author = string.rep('a', 2047)\n"
         "plugin_bundle_id = string.rep('b', 2000)\n",
         true, longName.substr(0, 1023), longDesc.substr(0, 2047), longVersion.substr(0, 63), std::string(2047, 'a'),
         longBundle.substr(0, 1023)},
        {"optional field of the wrong type is empty", "plugin_name='N' plugin_bundle_id='B' plugin_desc={}", true, "N",
         "", "", "", "B"},
        {"no bundle id", "plugin_name = 'N'\n", false, "", "", "", "", ""},
        {"no name", "plugin_bundle_id = 'B'\n", false, "", "", "", "", ""},
        {"bundle id a table", "plugin_name = 'N'\nplugin_bundle_id = {}\n", false, "", "", "", "", ""},
        {"syntax error", "plugin_name = = 'N'\n", false, "", "", "", "", ""},
        {"runtime error after the globals", "plugin_name='N' plugin_bundle_id='B' error('late')", false, "", "", "",
         "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = testenv::home() + QStringLiteral("/p/x.cplugin");
        makePlugin(folder, QByteArray::fromStdString(c.info), kEcho);
        plugin* record = reinterpret_cast<plugin*>(0x1);
        const int ok = plugin_load_info(&record, (folder + QStringLiteral("/")).toUtf8().constData());
        EXPECT_EQ(ok, c.accepted ? 1 : 0);
        if (!c.accepted) {
            EXPECT_EQ(record, nullptr);
            continue;
        }
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(std::string(record->name), c.name);
        EXPECT_EQ(std::string(record->desc), c.desc);
        EXPECT_EQ(std::string(record->version), c.version);
        EXPECT_EQ(std::string(record->author), c.author);
        EXPECT_EQ(std::string(record->bundle_id), c.bundle);
        EXPECT_EQ(std::string(record->path), (folder + QStringLiteral("/")).toStdString());
        plugin_free(record);
    }
}

TEST(PluginEngine, FolderWithoutInfoGivesNoRecord)
{
    const QString folder = testenv::home() + QStringLiteral("/p/x.cplugin");
    makePlugin(folder, QByteArray(), kEcho);
    plugin* record = nullptr;
    EXPECT_EQ(plugin_load_info(&record, folder.toUtf8().constData()), 0);
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(plugin_load_info(nullptr, folder.toUtf8().constData()), 0);
}

TEST(PluginEngine, ScanLoadsOnlyCpluginFoldersThatLoad)
{
    const QString p = pluginsDir();
    makePlugin(p + QStringLiteral("/good.cplugin"), infoLua("Good", "id.good"), kEcho);
    makePlugin(p + QStringLiteral("/twin.cplugin"), infoLua("Twin", "id.good"), kEcho);  // same bundle id: both load
    makePlugin(p + QStringLiteral("/abc.plugin"), infoLua("Wrong suffix", "id.a"), kEcho);
    makePlugin(p + QStringLiteral("/noinfo.cplugin"), QByteArray(), kEcho);
    makePlugin(p + QStringLiteral("/nomain.cplugin"), infoLua("No main", "id.m"), QByteArray());
    makePlugin(p + QStringLiteral("/badmain.cplugin"), infoLua("Bad main", "id.b"), "error('at load')\n");
    makePlugin(p + QStringLiteral("/syntax.cplugin"), infoLua("Syntax", "id.s"), "function main(\n");
    writeFile(p + QStringLiteral("/file.cplugin"), infoLua("A file", "id.f"));

    StatePtr state = scannedState();
    ASSERT_EQ(state->count, 2);
    QStringList names;
    for (int i = 0; i < state->count; ++i) {
        names << QString::fromUtf8(state->plugins[i]->name);
        const QString folder = QString::fromUtf8(state->plugins[i]->name) == QStringLiteral("Good")
            ? QStringLiteral("good.cplugin")
            : QStringLiteral("twin.cplugin");
        EXPECT_EQ(QString::fromUtf8(state->plugins[i]->path), p + QStringLiteral("/") + folder + QStringLiteral("/"));
    }
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("Good"), QStringLiteral("Twin")}));
}

TEST(PluginEngine, ScanOfMissingFolderOrStateLoadsNothing)
{
    StatePtr state(plugin_state_new());
    EXPECT_EQ(plugin_scan_folder(state.get()), 0);  // folders unset
    plugin_state_set_folders("/nonexistent/plugins", "/nonexistent/tmp", state.get());
    EXPECT_EQ(plugin_scan_folder(state.get()), 0);
    EXPECT_EQ(state->count, 0);
    EXPECT_EQ(plugin_scan_folder(nullptr), 0);
    EXPECT_EQ(plugin_reload_all(nullptr), 0);
}

TEST(PluginEngine, SetFoldersNeedsBothAndRefusesWhatDoesNotFit)
{
    StatePtr state(plugin_state_new());
    ASSERT_TRUE(state);
    EXPECT_EQ(state->count, 0);
    EXPECT_EQ(plugin_state_set_folders("", "/t", state.get()), 0);
    EXPECT_EQ(plugin_state_set_folders("/p", "", state.get()), 0);
    EXPECT_EQ(plugin_state_set_folders(nullptr, "/t", state.get()), 0);
    const std::string tooLong = "/" + std::string(2047, 'x');
    EXPECT_EQ(plugin_state_set_folders(tooLong.c_str(), "/t", state.get()), 0);
    EXPECT_STREQ(state->plugins_folder, "");
    EXPECT_STREQ(state->tmp_folder, "");
    EXPECT_EQ(plugin_state_set_folders("/p", "/t", state.get()), 1);
    EXPECT_STREQ(state->plugins_folder, "/p");
    EXPECT_STREQ(state->tmp_folder, "/t");
}

TEST(PluginEngine, HasSuffix)
{
    EXPECT_TRUE(plugin_has_suffix("a.cplugin", ".cplugin"));
    EXPECT_TRUE(plugin_has_suffix(".cplugin", ".cplugin"));
    EXPECT_FALSE(plugin_has_suffix("cplugin", ".cplugin"));
    EXPECT_FALSE(plugin_has_suffix("a.cplugin.bak", ".cplugin"));
    EXPECT_TRUE(plugin_has_suffix("x", ""));
    EXPECT_FALSE(plugin_has_suffix(nullptr, "x"));
}

TEST(PluginEngine, ProcessTextResultsAndStackHeight)
{
    makePlugin(pluginsDir() + QStringLiteral("/t.cplugin"), infoLua("T", "id.t"),
               "function main(t)\n"
               "  if t == 'nil' then return nil end\n"
               "  if t == 'err' then error('boom') end\n"
               "  if t == 'tbl' then return {} end\n"
               "  if t == 'bool' then return true end\n"
               "  if t == 'num' then return 42 end\n"
               "  if t == 'none' then return end\n"
               "  if t == 'many' then return 'first', 'second' end\n"
               "  return string.upper(t)\n"
               "end\n");
    StatePtr state = scannedState();
    ASSERT_EQ(state->count, 1);
    plugin* p = state->plugins[0];
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"abc", "ABC"}, {"nil", "<none>"}, {"err", "<none>"},   {"tbl", "<none>"},   {"bool", "<none>"},
        {"num", "42"},  {"none", "<none>"}, {"many", "first"}, {"", ""},            {"\xe5\x90\x8d", "\xe5\x90\x8d"},
    };
    const int height = lua_gettop(p->state);
    for (int round = 0; round < 200; ++round) {
        for (const auto& c : cases)
            EXPECT_EQ(run(p, c.in), QByteArray(c.out)) << c.in;
    }
    EXPECT_EQ(lua_gettop(p->state), height);
    EXPECT_EQ(plugin_process_text(p, nullptr), nullptr);
    EXPECT_EQ(plugin_process_text(nullptr, "x"), nullptr);
}

TEST(PluginEngine, MissingMainGivesNoResultAndPluginStaysLoaded)
{
    makePlugin(pluginsDir() + QStringLiteral("/t.cplugin"), infoLua("T", "id.t"),
               "function helper() end\nlocal n = 0\nfunction main2(t) n = n + 1 return t end\n");
    StatePtr state = scannedState();
    ASSERT_EQ(state->count, 1);
    EXPECT_EQ(run(state->plugins[0], "x"), "<none>");
    EXPECT_EQ(run(state->plugins[0], "x"), "<none>");
}

TEST(PluginEngine, GlobalsPersistAcrossCallsAndRestartOnReload)
{
    makePlugin(pluginsDir() + QStringLiteral("/c.cplugin"), infoLua("C", "id.c"),
               "calls = 0\nfunction main(t) calls = calls + 1 return tostring(calls) end\n");
    StatePtr state = scannedState();
    ASSERT_EQ(state->count, 1);
    EXPECT_EQ(run(state->plugins[0], "x"), "1");
    EXPECT_EQ(run(state->plugins[0], "x"), "2");
    EXPECT_EQ(run(state->plugins[0], "x"), "3");
    EXPECT_EQ(plugin_reload_all(state.get()), 0);
    ASSERT_EQ(state->count, 1);
    EXPECT_EQ(run(state->plugins[0], "x"), "1");
}

TEST(PluginEngine, RequireFindsSiblingModuleAfterTheOldSearchPath)
{
    const QString folder = pluginsDir() + QStringLiteral("/r.cplugin");
    makePlugin(folder, infoLua("R", "id.r"),
               "local util = require('util')\n"
               "function main(t) return util.wrap(t) .. '|' .. package.path end\n");
    writeFile(folder + QStringLiteral("/util.lua"), "return { wrap = function(t) return '[' .. t .. ']' end }\n");
    StatePtr state = scannedState();
    ASSERT_EQ(state->count, 1);
    const QByteArray out = run(state->plugins[0], "x");
    ASSERT_TRUE(out.startsWith("[x]|")) << out.constData();
    const QByteArray path = out.mid(4);
    const QByteArray entry = ";" + (folder + QStringLiteral("/?.lua")).toUtf8();
    EXPECT_TRUE(path.endsWith(entry)) << path.constData();
    EXPECT_GT(path.size(), entry.size());  // the standard entries stay in front
}

TEST(PluginEngine, SearchPathThatWouldNotFitIsRefused)
{
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    lua_getglobal(L, "package");
    lua_pushstring(L, "/std/?.lua");
    lua_setfield(L, -2, "path");
    lua_pop(L, 1);

    EXPECT_EQ(plugin_add_search_path(L, "/x/y.cplugin/"), 1);
    const std::string longFolder = "/" + std::string(2030, 'f') + "/";
    EXPECT_EQ(plugin_add_search_path(L, longFolder.c_str()), 0);
    lua_getglobal(L, "package");
    lua_getfield(L, -1, "path");
    EXPECT_STREQ(lua_tostring(L, -1), "/std/?.lua;/x/y.cplugin/?.lua");
    lua_pop(L, 2);
    EXPECT_EQ(lua_gettop(L), 0);
    lua_close(L);
}

TEST(PluginEngine, PluginWhosePathsDoNotFitIsLeftOut)
{
    // A plugins folder of 1800 bytes: "<folder>/<name>/" of the long name fits (2042 bytes),
    // its info.lua path does not; the short one fits everywhere, search path included.
    QString deep = testenv::home();
    while (deep.size() + 201 < 1800)
        deep += QStringLiteral("/") + QString(200, QLatin1Char('d'));
    deep += QStringLiteral("/") + QString(1800 - deep.size() - 1, QLatin1Char('e'));
    ASSERT_EQ(deep.size(), 1800);
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString name = QString(232, QLatin1Char('n')) + QStringLiteral(".cplugin");
    makePlugin(deep + QStringLiteral("/") + name, infoLua("Deep", "id.deep"), kEcho);
    makePlugin(deep + QStringLiteral("/s.cplugin"), infoLua("Short", "id.short"), kEcho);
    StatePtr state = makeState(deep, testenv::home() + QStringLiteral("/tmp"));
    plugin_scan_folder(state.get());
    ASSERT_EQ(state->count, 1);
    EXPECT_STREQ(state->plugins[0]->name, "Short");
}

TEST(PluginEngine, StateHookRunsBeforeStandardLibrariesInEachPluginState)
{
    static int calls;
    calls = 0;
    plugin_state_hook = [](lua_State* L) {
        ++calls;
        lua_getglobal(L, "string");
        lua_pushboolean(L, lua_isnil(L, -1));
        lua_setglobal(L, "hook_saw_no_libs");
        lua_pop(L, 1);
    };
    makePlugin(pluginsDir() + QStringLiteral("/a.cplugin"), infoLua("A", "id.a"),
               "function main(t) return tostring(hook_saw_no_libs) end\n");
    makePlugin(pluginsDir() + QStringLiteral("/b.cplugin"), infoLua("B", "id.b"),
               "function main(t) return tostring(hook_saw_no_libs) end\n");
    StatePtr state = scannedState();
    plugin_state_hook = nullptr;
    ASSERT_EQ(state->count, 2);
    EXPECT_EQ(calls, 2);  // the plugins' states only, not the scratch state of info.lua
    EXPECT_EQ(run(state->plugins[0], "x"), "true");
    EXPECT_EQ(run(state->plugins[1], "x"), "true");
}

TEST(PluginEngine, AFullStateKeepsTheFirstPlugins)
{
    const int total = PLUGIN_MAX_PLUGINS + 1;
    for (int i = 0; i < total; ++i) {
        const QByteArray id = "id." + QByteArray::number(i);
        makePlugin(pluginsDir() + QStringLiteral("/p%1.cplugin").arg(i), infoLua(id, id), kEcho);
    }
    StatePtr state = scannedState();
    EXPECT_EQ(state->count, PLUGIN_MAX_PLUGINS);
    // The same ones each time: the first in directory order.
    QStringList first;
    for (int i = 0; i < state->count; ++i)
        first << QString::fromUtf8(state->plugins[i]->bundle_id);
    plugin_reload_all(state.get());
    ASSERT_EQ(state->count, PLUGIN_MAX_PLUGINS);
    for (int i = 0; i < state->count; ++i)
        EXPECT_EQ(QString::fromUtf8(state->plugins[i]->bundle_id), first[i]);
}
