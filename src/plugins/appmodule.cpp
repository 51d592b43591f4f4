#include "plugins/appmodule.h"

#include "store/clipapphelper.h"

#include <QString>
#include <QUrl>

namespace {

// Each helper owns its C++ objects for its own lifetime and lets no exception out, so the
// Lua frames around the call only ever see plain C.

void handOnUrl(const char* text, size_t length) noexcept
{
    try {
        const QUrl url(QString::fromUtf8(text, static_cast<qsizetype>(length)));
        // A relative reference ("42", "some words") has nothing to open it with.
        if (!url.isValid() || url.scheme().isEmpty())
            return;
        ClipAppHelper::sharedInstance().openURL(url);
    } catch (...) {
    }
}

}  // namespace

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
        if (text)
            handOnUrl(text, length);
    }
    lua_pushliteral(L, "");
    return 1;
}
