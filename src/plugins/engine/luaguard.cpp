#include "plugins/engine/luaguard.h"

#include <time.h>

const char* const LUAGUARD_TIMEOUT_MESSAGE = "script time limit exceeded";

namespace {

// Instructions between two looks at the clock: cheap enough to be invisible, often enough
// to stop a loop within a millisecond or so of its deadline.
const int kCheckEvery = 1000;

// The deadline of the call running on this thread, in monotonic nanoseconds; 0 when none.
// Per thread, since each state is used by one thread at a time but several states (plugins,
// the privacy script) run on different queues.
thread_local long long t_deadline = 0;

long long nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void deadlineHook(lua_State* L, lua_Debug*)
{
    if (t_deadline == 0)
        return;
    if (nowNs() < t_deadline) {
        if (lua_gethookcount(L) != kCheckEvery)
            lua_sethook(L, deadlineHook, LUA_MASKCOUNT, kCheckEvery);
        return;
    }
    // From here on every instruction fails, so a script that catches the error with pcall
    // and carries on is stopped again at once and the error reaches the host.
    lua_sethook(L, deadlineHook, LUA_MASKCOUNT, 1);
    luaL_error(L, "%s", LUAGUARD_TIMEOUT_MESSAGE);
}

// package.searchers[2] without binary chunks: finds name on package.path, loads it as text.
// Upvalues: the package table and package.searchpath as it was when installed.
int textSearcher(lua_State* L)
{
    const char* name = luaL_checkstring(L, 1);
    lua_pushvalue(L, lua_upvalueindex(2));
    lua_pushstring(L, name);
    lua_getfield(L, lua_upvalueindex(1), "path");
    if (!lua_isstring(L, -1))
        return luaL_error(L, "'package.path' must be a string");
    lua_call(L, 2, 2);
    if (lua_isnil(L, -2))
        return 1;  // the message saying where it looked
    lua_pop(L, 1);
    const char* filename = lua_tostring(L, -1);
    if (luaL_loadfilex(L, filename, "t") != LUA_OK)
        return luaL_error(L, "error loading module '%s' from file '%s':\n\t%s", name, filename,
                          lua_tostring(L, -1));
    lua_pushvalue(L, -2);  // the file name, the loader's second argument
    return 2;
}

}  // namespace

void luaguard_install_hook(lua_State* L)
{
    lua_sethook(L, deadlineHook, LUA_MASKCOUNT, kCheckEvery);
}

void luaguard_text_only_require(lua_State* L)
{
    luaL_getsubtable(L, LUA_REGISTRYINDEX, "_LOADED");
    lua_getfield(L, -1, "package");
    if (!lua_istable(L, -1)) {
        lua_pop(L, 2);
        return;
    }
    lua_getfield(L, -1, "searchers");
    lua_getfield(L, -2, "searchpath");
    if (!lua_istable(L, -2) || !lua_isfunction(L, -1)) {
        lua_pop(L, 4);
        return;
    }
    lua_pushvalue(L, -3);  // package
    lua_pushvalue(L, -2);  // searchpath
    lua_pushcclosure(L, textSearcher, 2);
    lua_rawseti(L, -3, 2);
    lua_pop(L, 4);
}

int luaguard_loadfile(lua_State* L, const char* path)
{
    return luaL_loadfilex(L, path, "t");
}

int luaguard_pcall(lua_State* L, int nargs, int nresults, int timeout_ms)
{
    const long long saved = t_deadline;
    const long long mine = nowNs() + static_cast<long long>(timeout_ms) * 1000000LL;
    t_deadline = (saved != 0 && saved < mine) ? saved : mine;
    // Also resets the count a timed-out earlier call left at 1.
    lua_sethook(L, deadlineHook, LUA_MASKCOUNT, kCheckEvery);
    const int status = lua_pcall(L, nargs, nresults, 0);
    t_deadline = saved;
    return status;
}

int luaguard_cpcall(lua_State* L, lua_CFunction f, void* ud, int timeout_ms)
{
    if (!lua_checkstack(L, 2))
        return LUA_ERRMEM;
    // Neither push allocates, so neither can raise outside protected mode.
    lua_pushcfunction(L, f);
    lua_pushlightuserdata(L, ud);
    return luaguard_pcall(L, 1, 0, timeout_ms);
}
