#pragma once

#include <lua.hpp>

#include <stdint.h>

// The plugin engine: plain functions over two plain records. A plugin is a folder whose name
// ends in ".cplugin" holding info.lua (sets plugin_name, plugin_desc, plugin_version,
// plugin_author, plugin_bundle_id) and main.lua (defines main(text)). Each loaded plugin
// has a Lua state of its own. The engine takes no locks and logs nothing: one state and its
// plugins are used by one thread at a time.
//
// Every load and every call of main runs under the script limits (luaguard.h): text-only
// chunks and a deadline of PLUGIN_TIME_LIMIT_MS; a timeout is an ordinary failure.

enum {
    // Buffer widths in bytes, the closing NUL included: a text holds at most width - 1
    // bytes, a longer value is cut to fit.
    PLUGIN_NAME_SIZE = 1024,
    PLUGIN_DESC_SIZE = 2048,
    PLUGIN_VERSION_SIZE = 64,
    PLUGIN_PATH_SIZE = 2048,
    PLUGIN_AUTHOR_SIZE = 2048,
    PLUGIN_BUNDLE_ID_SIZE = 1024,
    PLUGIN_FOLDER_SIZE = 2048,
    PLUGIN_MAX_PLUGINS = 2048,
    PLUGIN_TIME_LIMIT_MS = 1000,
};

// One loaded plugin; made by plugin_new, freed by plugin_free. Owns its buffers and state.
struct plugin {
    char* name;       // plugin_name
    char* desc;       // plugin_desc
    char* version;    // plugin_version
    char* path;       // the plugin's folder; from a scan: plugins folder, "/", name, "/"
    char* author;     // plugin_author
    char* bundle_id;  // plugin_bundle_id: the identity across versions and sources
    lua_State* state; // opened by plugin_new, closed by plugin_free
};

// One plugins folder and what was loaded from it; made by plugin_state_new.
struct clip_plugin_state {
    char* plugins_folder;  // the folder scans read; empty until set
    char* tmp_folder;      // where packages are extracted; empty until set
    int32_t count;         // loaded plugins, in slots 0 .. count - 1, in load order
    plugin* plugins[PLUGIN_MAX_PLUGINS];  // owned by the state
};

// Called with each plugin's Lua state before its standard libraries open, so the host can
// register its module there. Set once, before the first scan. It runs in protected mode:
// it may raise Lua errors but must keep C++ objects with destructors out of those frames.
typedef void (*plugin_state_hook_fn)(lua_State* L);
extern plugin_state_hook_fn plugin_state_hook;

// Called by plugin_load_info with the plugin folder before its info.lua runs (in a scan and
// in a package install); a hook that returns 0 leaves the folder out, as an info.lua that is
// not accepted would. Unset, every folder is read. The host uses it to watch which plugin is
// loading and to skip one that took a previous attempt down.
typedef int (*plugin_load_hook_fn)(const char* folder);
extern plugin_load_hook_fn plugin_load_hook;

// A new state with both folders empty and count 0, or nullptr when memory runs out.
clip_plugin_state* plugin_state_new();
// 1 when both folders are non-empty, fit their buffers and were copied; 0 with nothing copied.
int plugin_state_set_folders(const char* plugins_folder, const char* tmp_folder, clip_plugin_state* state);
// Loads every ".cplugin" folder of plugins_folder, in directory order. Always 0.
int plugin_scan_folder(clip_plugin_state* state);
// True when text ends with suffix.
bool plugin_has_suffix(const char* text, const char* suffix);

// A record with empty buffers and its own Lua state, or nullptr when memory runs out.
plugin* plugin_new();
// 1 with *out a new record when folder's info.lua is accepted (it runs, and plugin_name and
// plugin_bundle_id are strings or numbers); 0 with *out nullptr otherwise.
int plugin_load_info(plugin** out, const char* folder);
// Runs the host hook, opens the standard libraries, adds the record's folder to the search
// path and runs main.lua in the record's state; 1 when that worked and the record was
// appended to the state, 0 when not, and then the record is freed.
int plugin_load_main(clip_plugin_state* state, plugin* record);
// Appends ";<folder>?.lua" to package.path. 1 on success; 0, with package.path unchanged,
// when the new text would not fit PLUGIN_PATH_SIZE or package.path is not a string.
int plugin_add_search_path(lua_State* L, const char* folder);

// What the plugin's main returns for text (up to its first NUL) when that is a string or a
// number, as a malloc'ed copy the caller frees with free(); nullptr for an error, a timeout,
// a missing main or any other result. The state's stack height is unchanged.
char* plugin_process_text(plugin* record, const char* text);

// Frees every loaded plugin and scans the plugins folder again. Records handed out before
// are invalid afterwards. Always 0.
int plugin_reload_all(clip_plugin_state* state);

void plugin_free(plugin* record);
void plugin_state_free(clip_plugin_state* state);

// snprintf into a PLUGIN_PATH_SIZE buffer; false (and out empty) when the path does not fit,
// so a cut path never names another entry.
bool plugin_build_path(char* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
