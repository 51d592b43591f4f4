#include "plugins/appmodule.h"

app_open_url_sink_fn app_open_url_sink = nullptr;

int luaopen_app(lua_State* L)
{
    lua_createtable(L, 0, 1);
    lua_pushcfunction(L, appOpenURL);
    lua_setfield(L, -2, "openURL");
    return 1;
}

void registerAppModule(lua_State* L)
{
    luaL_requiref(L, "app", luaopen_app, 1);
    lua_pop(L, 1);
}

int appOpenURL(lua_State* L)
{
    const int type = lua_type(L, 1);
    if (type == LUA_TSTRING || type == LUA_TNUMBER) {
        size_t length = 0;
        const char* text = lua_tolstring(L, 1, &length);  // a number becomes its text here
        if (text && app_open_url_sink)
            app_open_url_sink(text, length);
    }
    lua_pushliteral(L, "");
    return 1;
}
