#pragma once

#include <lua.hpp>

// The limits every load and call of script code runs under: chunks are text only (never
// unverified bytecode), and a count hook ends a call that outlives its wall-clock deadline
// with a Lua error, so an endless loop in a script cannot freeze its caller. A timeout is
// then the call's ordinary error outcome.
//
// Lua raises errors with longjmp. Callers do every Lua API call that can raise inside a
// function run by luaguard_cpcall and keep C++ objects with destructors out of it.

// The error message a call past its deadline fails with.
extern const char* const LUAGUARD_TIMEOUT_MESSAGE;

// Puts the deadline hook on the state. Coroutines made later inherit it. Call once, right
// after the state is opened; it allocates nothing.
void luaguard_install_hook(lua_State* L);

// After the standard libraries are open: the Lua-file searcher of `require` loads text only.
// Raises on failure (call it in protected mode).
void luaguard_text_only_require(lua_State* L);

// Loads a file as a text chunk. A Lua status; the chunk or the error message is pushed.
int luaguard_loadfile(lua_State* L, const char* path);

// lua_pcall under a deadline of timeout_ms from now (a nested call keeps the earlier one).
int luaguard_pcall(lua_State* L, int nargs, int nresults, int timeout_ms);

// Runs f in protected mode, with ud as its one argument (a light userdata) and no results,
// under a deadline of timeout_ms. A Lua status; on failure the error message is on the
// stack, or nothing when the stack could not grow.
int luaguard_cpcall(lua_State* L, lua_CFunction f, void* ud, int timeout_ms);
