#include "plugins/engine/plugin.h"

#include "plugins/engine/luaguard.h"

#include <dirent.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

// Everything below is C-style on purpose: Lua errors longjmp through these frames.

plugin_state_hook_fn plugin_state_hook = nullptr;
plugin_load_hook_fn plugin_load_hook = nullptr;

namespace {

// Copies a Lua text into a fixed buffer, cut to size - 1 bytes.
void copyCut(char* out, size_t size, const char* text, size_t length)
{
    const size_t n = length < size - 1 ? length : size - 1;
    memcpy(out, text, n);
    out[n] = '\0';
}

bool copyFits(char* out, size_t size, const char* text)
{
    const size_t length = strlen(text);
    if (length >= size)
        return false;
    memcpy(out, text, length + 1);
    return true;
}

// Copies the global into the buffer when it is a string or a number; true then.
bool copyGlobal(lua_State* L, const char* global, char* out, size_t size)
{
    lua_getglobal(L, global);
    bool found = false;
    if (lua_isstring(L, -1)) {
        size_t length = 0;
        const char* text = lua_tolstring(L, -1, &length);
        copyCut(out, size, text, length);
        found = true;
    }
    lua_pop(L, 1);
    return found;
}

struct InfoJob {
    const char* file;
    plugin* record;
    bool accepted;
};

// Runs info.lua in a scratch state and reads its globals into the record. Its contract is
// five strings, so it gets the base and string libraries only, without the base's file and
// chunk loaders: a package being installed cannot touch files or run programs.
int infoBody(lua_State* L)
{
    InfoJob* job = static_cast<InfoJob*>(lua_touserdata(L, 1));
    luaL_requiref(L, "_G", luaopen_base, 1);
    luaL_requiref(L, LUA_STRLIBNAME, luaopen_string, 1);
    lua_pop(L, 2);
    static const char* const kLoaders[] = {"dofile", "loadfile", "load", "loadstring"};
    for (const char* loader : kLoaders) {
        lua_pushnil(L);
        lua_setglobal(L, loader);
    }
    if (luaguard_loadfile(L, job->file) != LUA_OK)
        return lua_error(L);
    lua_call(L, 0, 0);
    plugin* r = job->record;
    const bool hasName = copyGlobal(L, "plugin_name", r->name, PLUGIN_NAME_SIZE);
    copyGlobal(L, "plugin_desc", r->desc, PLUGIN_DESC_SIZE);
    copyGlobal(L, "plugin_version", r->version, PLUGIN_VERSION_SIZE);
    copyGlobal(L, "plugin_author", r->author, PLUGIN_AUTHOR_SIZE);
    const bool hasBundleId = copyGlobal(L, "plugin_bundle_id", r->bundle_id, PLUGIN_BUNDLE_ID_SIZE);
    job->accepted = hasName && hasBundleId;
    return 0;
}

struct MainJob {
    const char* file;
    const char* folder;
    bool loaded;
};

int mainBody(lua_State* L)
{
    MainJob* job = static_cast<MainJob*>(lua_touserdata(L, 1));
    lua_pop(L, 1);
    if (plugin_state_hook)
        plugin_state_hook(L);
    luaL_openlibs(L);
    luaguard_text_only_require(L);
    if (!plugin_add_search_path(L, job->folder))
        return luaL_error(L, "search path too long");
    if (luaguard_loadfile(L, job->file) != LUA_OK)
        return lua_error(L);
    lua_call(L, 0, 0);
    job->loaded = true;
    return 0;
}

struct SearchPathJob {
    const char* folder;
    bool added;
};

int searchPathBody(lua_State* L)
{
    SearchPathJob* job = static_cast<SearchPathJob*>(lua_touserdata(L, 1));
    lua_getglobal(L, "package");
    if (!lua_istable(L, -1))
        return 0;
    lua_getfield(L, -1, "path");
    if (!lua_isstring(L, -1))
        return 0;
    char joined[PLUGIN_PATH_SIZE];
    if (!plugin_build_path(joined, "%s;%s?.lua", lua_tostring(L, -1), job->folder))
        return 0;
    lua_pushstring(L, joined);
    lua_setfield(L, -3, "path");
    job->added = true;
    return 0;
}

struct ProcessJob {
    const char* text;
    char* result;
};

int processBody(lua_State* L)
{
    ProcessJob* job = static_cast<ProcessJob*>(lua_touserdata(L, 1));
    lua_getglobal(L, "main");
    lua_pushstring(L, job->text);
    lua_call(L, 1, 1);
    if (!lua_isstring(L, -1))
        return 0;
    size_t length = 0;
    const char* text = lua_tolstring(L, -1, &length);  // a number turns into its text here
    // The last step: nothing that can raise follows the allocation.
    char* copy = static_cast<char*>(malloc(length + 1));
    if (copy) {
        memcpy(copy, text, length);
        copy[length] = '\0';
    }
    job->result = copy;
    return 0;
}

}  // namespace

bool plugin_build_path(char* out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(out, PLUGIN_PATH_SIZE, format, args);
    va_end(args);
    if (n < 0 || n >= PLUGIN_PATH_SIZE) {
        out[0] = '\0';
        return false;
    }
    return true;
}

clip_plugin_state* plugin_state_new()
{
    clip_plugin_state* state = static_cast<clip_plugin_state*>(calloc(1, sizeof(clip_plugin_state)));
    if (!state)
        return nullptr;
    state->plugins_folder = static_cast<char*>(calloc(PLUGIN_FOLDER_SIZE, 1));
    state->tmp_folder = static_cast<char*>(calloc(PLUGIN_FOLDER_SIZE, 1));
    if (!state->plugins_folder || !state->tmp_folder) {
        plugin_state_free(state);
        return nullptr;
    }
    return state;
}

int plugin_state_set_folders(const char* plugins_folder, const char* tmp_folder, clip_plugin_state* state)
{
    if (!state || !plugins_folder || !tmp_folder || !*plugins_folder || !*tmp_folder)
        return 0;
    if (strlen(plugins_folder) >= PLUGIN_FOLDER_SIZE || strlen(tmp_folder) >= PLUGIN_FOLDER_SIZE)
        return 0;
    copyFits(state->plugins_folder, PLUGIN_FOLDER_SIZE, plugins_folder);
    copyFits(state->tmp_folder, PLUGIN_FOLDER_SIZE, tmp_folder);
    return 1;
}

bool plugin_has_suffix(const char* text, const char* suffix)
{
    if (!text || !suffix)
        return false;
    const size_t length = strlen(text);
    const size_t suffixLength = strlen(suffix);
    return length >= suffixLength && memcmp(text + length - suffixLength, suffix, suffixLength) == 0;
}

int plugin_scan_folder(clip_plugin_state* state)
{
    if (!state || !state->plugins_folder[0])
        return 0;
    DIR* dir = opendir(state->plugins_folder);
    if (!dir)
        return 0;
    while (const dirent* entry = readdir(dir)) {
        // A full state takes no more; running the rest of the folder's code would be wasted.
        if (state->count >= PLUGIN_MAX_PLUGINS)
            break;
        if (!plugin_has_suffix(entry->d_name, ".cplugin"))
            continue;
        char path[PLUGIN_PATH_SIZE];
        if (!plugin_build_path(path, "%s/%s", state->plugins_folder, entry->d_name))
            continue;
        struct stat st;
        if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        char folder[PLUGIN_PATH_SIZE];
        if (!plugin_build_path(folder, "%s/%s/", state->plugins_folder, entry->d_name))
            continue;
        plugin* record = nullptr;
        if (plugin_load_info(&record, folder))
            plugin_load_main(state, record);
    }
    closedir(dir);
    return 0;
}

plugin* plugin_new()
{
    plugin* record = static_cast<plugin*>(calloc(1, sizeof(plugin)));
    if (!record)
        return nullptr;
    record->name = static_cast<char*>(calloc(PLUGIN_NAME_SIZE, 1));
    record->desc = static_cast<char*>(calloc(PLUGIN_DESC_SIZE, 1));
    record->version = static_cast<char*>(calloc(PLUGIN_VERSION_SIZE, 1));
    record->path = static_cast<char*>(calloc(PLUGIN_PATH_SIZE, 1));
    record->author = static_cast<char*>(calloc(PLUGIN_AUTHOR_SIZE, 1));
    record->bundle_id = static_cast<char*>(calloc(PLUGIN_BUNDLE_ID_SIZE, 1));
    record->state = luaL_newstate();
    if (!record->name || !record->desc || !record->version || !record->path || !record->author
        || !record->bundle_id || !record->state) {
        plugin_free(record);
        return nullptr;
    }
    luaguard_install_hook(record->state);
    return record;
}

int plugin_load_info(plugin** out, const char* folder)
{
    if (!out)
        return 0;
    *out = nullptr;
    if (!folder)
        return 0;
    char file[PLUGIN_PATH_SIZE];
    struct stat st;
    if (!plugin_build_path(file, "%s/%s", folder, "info.lua") || stat(file, &st) != 0)
        return 0;
    if (plugin_load_hook && !plugin_load_hook(folder))
        return 0;
    plugin* record = plugin_new();
    if (!record)
        return 0;
    lua_State* L = luaL_newstate();
    if (!L || !copyFits(record->path, PLUGIN_PATH_SIZE, folder)) {
        if (L)
            lua_close(L);
        plugin_free(record);
        return 0;
    }
    luaguard_install_hook(L);
    InfoJob job = {file, record, false};
    const int status = luaguard_cpcall(L, infoBody, &job, PLUGIN_TIME_LIMIT_MS);
    lua_close(L);
    if (status != LUA_OK || !job.accepted) {
        plugin_free(record);
        return 0;
    }
    *out = record;
    return 1;
}

int plugin_add_search_path(lua_State* L, const char* folder)
{
    if (!L || !folder)
        return 0;
    const int top = lua_gettop(L);
    SearchPathJob job = {folder, false};
    luaguard_cpcall(L, searchPathBody, &job, PLUGIN_TIME_LIMIT_MS);
    lua_settop(L, top);
    return job.added ? 1 : 0;
}

int plugin_load_main(clip_plugin_state* state, plugin* record)
{
    if (!record)
        return 0;
    char file[PLUGIN_PATH_SIZE];
    if (!state || !plugin_build_path(file, "%s/%s", record->path, "main.lua")) {
        plugin_free(record);
        return 0;
    }
    MainJob job = {file, record->path, false};
    const int status = luaguard_cpcall(record->state, mainBody, &job, PLUGIN_TIME_LIMIT_MS);
    lua_settop(record->state, 0);
    if (status != LUA_OK || !job.loaded || state->count >= PLUGIN_MAX_PLUGINS) {
        plugin_free(record);
        return 0;
    }
    state->plugins[state->count++] = record;
    return 1;
}

char* plugin_process_text(plugin* record, const char* text)
{
    if (!record || !record->state || !text)
        return nullptr;
    lua_State* L = record->state;
    const int top = lua_gettop(L);
    ProcessJob job = {text, nullptr};
    luaguard_cpcall(L, processBody, &job, PLUGIN_TIME_LIMIT_MS);
    lua_settop(L, top);
    return job.result;
}

int plugin_reload_all(clip_plugin_state* state)
{
    if (!state)
        return 0;
    for (int32_t i = 0; i < state->count; ++i) {
        plugin_free(state->plugins[i]);
        state->plugins[i] = nullptr;
    }
    state->count = 0;
    return plugin_scan_folder(state);
}

void plugin_free(plugin* record)
{
    if (!record)
        return;
    free(record->name);
    free(record->desc);
    free(record->version);
    free(record->path);
    free(record->author);
    free(record->bundle_id);
    if (record->state)
        lua_close(record->state);
    free(record);
}

void plugin_state_free(clip_plugin_state* state)
{
    if (!state)
        return;
    free(state->plugins_folder);
    free(state->tmp_folder);
    for (int32_t i = 0; i < state->count; ++i)
        plugin_free(state->plugins[i]);
    free(state);
}
