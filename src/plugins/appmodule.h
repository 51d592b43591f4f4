#pragma once

#include <lua.hpp>

#include <stddef.h>

// The Lua host module "app" that every plugin state receives: a table with one function,
// openURL(url), which hands its argument's text to the host and always returns "".
//
// Plugins run in the Lua worker process: the host there sends the text to the application,
// which opens it when it is a URL with a scheme, on its main thread, without making the
// plugin wait.
//
// These run inside Lua calls, where errors unwind with longjmp; they keep C++ objects with
// destructors out of every frame a Lua error can cross.

// Where app.openURL hands its text (not NUL-terminated); unset, the text goes nowhere. It
// must not raise Lua errors or let exceptions out.
typedef void (*app_open_url_sink_fn)(const char* text, size_t length);
extern app_open_url_sink_fn app_open_url_sink;

// Pushes the module table; returns 1.
int luaopen_app(lua_State* L);

// The engine's plugin_state_hook: logs the state, then records the module as the loaded
// module "app" (so require "app" finds it) and sets it as the global app. Raises only when
// memory runs out.
void registerAppModule(lua_State* L);

// app.openURL: argument 1 as text (a string or a number) goes to app_open_url_sink; any
// other argument goes nowhere. Returns the empty string.
int appOpenURL(lua_State* L);
