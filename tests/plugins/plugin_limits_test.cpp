#include "plugins/engine/luaguard.h"
#include "plugins/engine/plugin.h"
#include "pluginfixture.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

using namespace pluginfixture;

// Each endless loop below must end at its deadline; a hang fails the test by its CTest timeout.
TEST(PluginLimits, EndlessMainTimesOutAndThePluginStaysUsable)
{
    makePlugin(pluginsDir() + QStringLiteral("/loop.cplugin"), infoLua("Loop", "id.loop"),
               "function main(t)\n"
               "  if t == 'loop' then while true do end end\n"
               "  if t == 'caught' then while true do pcall(function() while true do end end) end end\n"
               "  if t == 'coroutine' then coroutine.wrap(function() while true do end end)() end\n"
               "  if t == 'sort' then local a = {3, 1, 2} table.sort(a, function(x, y) while true do end end) end\n"
               "  return 'ok:' .. t\n"
               "end\n");
    StatePtr state = scannedState();
    ASSERT_EQ(state->count, 1);
    plugin* p = state->plugins[0];
    const int height = lua_gettop(p->state);
    for (const char* in : {"loop", "caught", "coroutine", "sort"}) {
        EXPECT_EQ(run(p, in), "<none>") << in;
        EXPECT_EQ(run(p, "after"), "ok:after") << in;
    }
    EXPECT_EQ(lua_gettop(p->state), height);
    EXPECT_EQ(state->count, 1);
}

TEST(PluginLimits, EndlessInfoOrMainChunkLeavesThePluginOut)
{
    makePlugin(pluginsDir() + QStringLiteral("/info.cplugin"), "plugin_name='I' plugin_bundle_id='id.i' while true do end",
               "function main(t) return t end\n");
    makePlugin(pluginsDir() + QStringLiteral("/main.cplugin"), infoLua("M", "id.m"),
               "while true do end\nfunction main(t) return t end\n");
    // A metamethod on the globals runs while the engine reads them.
    makePlugin(pluginsDir() + QStringLiteral("/meta.cplugin"),
               "setmetatable(_G, {__index = function() while true do end end})",
               "function main(t) return t end\n");
    makePlugin(pluginsDir() + QStringLiteral("/fine.cplugin"), infoLua("Fine", "id.fine"),
               "function main(t) return t end\n");
    StatePtr state = scannedState();
    ASSERT_EQ(state->count, 1);
    EXPECT_STREQ(state->plugins[0]->name, "Fine");
}

TEST(PluginLimits, TimeoutIsAnOrdinaryLuaError)
{
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    luaguard_install_hook(L);
    ASSERT_EQ(luaL_loadstring(L, "while true do end"), LUA_OK);
    ASSERT_EQ(luaguard_pcall(L, 0, 0, 50), LUA_ERRRUN);
    EXPECT_NE(std::string(lua_tostring(L, -1)).find(LUAGUARD_TIMEOUT_MESSAGE), std::string::npos);
    lua_pop(L, 1);
    // Code that finishes in time is not disturbed, also right after a timeout.
    ASSERT_EQ(luaL_loadstring(L, "local s = 0 for i = 1, 100000 do s = s + i end return s"), LUA_OK);
    ASSERT_EQ(luaguard_pcall(L, 0, 1, 5000), LUA_OK);
    EXPECT_EQ(lua_tointeger(L, -1), 5000050000LL);
    lua_close(L);
}

TEST(PluginLimits, BytecodeIsNeverLoaded)
{
    const QByteArray info = bytecodeOf("plugin_name = 'B' plugin_bundle_id = 'id.b'");
    ASSERT_FALSE(info.isEmpty());
    ASSERT_EQ(info[0], '\x1b');
    makePlugin(pluginsDir() + QStringLiteral("/binfo.cplugin"), info, "function main(t) return t end\n");
    makePlugin(pluginsDir() + QStringLiteral("/bmain.cplugin"), infoLua("BM", "id.bm"),
               bytecodeOf("function main(t) return t end"));
    // A module found by require is a chunk from the package too.
    const QString folder = pluginsDir() + QStringLiteral("/breq.cplugin");
    makePlugin(folder, infoLua("BR", "id.br"), "local m = require('mod')\nfunction main(t) return m end\n");
    writeFile(folder + QStringLiteral("/mod.lua"), bytecodeOf("return 'from bytecode'"));
    StatePtr state = scannedState();
    EXPECT_EQ(state->count, 0);

    // The same module as text loads.
    writeFile(folder + QStringLiteral("/mod.lua"), "return 'from text'");
    plugin_reload_all(state.get());
    ASSERT_EQ(state->count, 1);
    EXPECT_EQ(run(state->plugins[0], "x"), "from text");
}
