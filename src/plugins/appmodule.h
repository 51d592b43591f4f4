#pragma once

#include <lua.hpp>

// The Lua host module "app" that every plugin state receives: a table with one function,
// openURL(url), which hands a URL with a scheme to ClipAppHelper and always returns "".
//
// These run inside Lua calls on the plugin queue, where errors unwind with longjmp; they
// keep C++ objects with destructors out of every frame a Lua error can cross.

// Pushes the module table; returns 1.
int luaopen_app(lua_State* L);

// The engine's plugin_state_hook: logs the state, then records the module as the loaded
// module "app" (so require "app" finds it) and sets it as the global app. Raises only when
// memory runs out.
void registerAppModule(lua_State* L);

// app.openURL: argument 1 as text (a string or a number) parsed as a URL; a valid URL with a
// scheme goes to ClipAppHelper, which hands it to the main thread without waiting. Anything
// else opens nothing. Returns the empty string.
int appOpenURL(lua_State* L);
