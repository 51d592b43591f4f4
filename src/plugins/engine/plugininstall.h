#pragma once

#include "plugins/engine/plugin.h"

// Installing plugin packages into a state's plugins folder and removing plugins from it.
// Like the rest of the engine: one thread at a time per state.
//
// Package layout: a zip archive with a top folder "Payload" that holds the plugin folder (a
// name ending in ".cplugin"). The plugin is installed as "<md5 hex of its bundle id>.cplugin"
// directly in the plugins folder, replacing whatever version of that bundle id was there.

enum {
    PLUGIN_INSTALL_OK = 0,              // installed; the state has been reloaded
    PLUGIN_INSTALL_NO_PACKAGE = 1,      // nothing exists at the package path
    PLUGIN_INSTALL_EXTRACT_FAILED = 2,  // the archive could not be extracted (package_unzip)
    PLUGIN_INSTALL_NO_PAYLOAD = 3,      // no folder "Payload" at the top
    PLUGIN_INSTALL_NO_PLUGIN = 4,       // "Payload" holds no ".cplugin" folder
    PLUGIN_INSTALL_BAD_INFO = 5,        // its info.lua is missing or not accepted
    PLUGIN_INSTALL_MOVE_FAILED = 6,     // it could not be moved to its installed place
};

// One of the codes above, checked in that order. Each install extracts into a fresh private
// folder under the state's tmp folder (same file system as the plugins folder, for the final
// rename), removed again before returning, so no install sees another's leftovers.
int plugin_install_package(const char* package_path, clip_plugin_state* state);

// Removes a plugin folder that lies directly in the state's plugins folder (a folder that
// is a symbolic link is unlinked, never emptied), then reloads the state. Any other path
// removes nothing; a failed removal is ignored. No path: nothing happens. Always 0.
int plugin_remove(const char* plugin_folder, clip_plugin_state* state);

// The first directory in folder, in directory order, whose name ends in ".cplugin": its path
// ("%s/%s") and name into PLUGIN_PATH_SIZE buffers. 0 when found, 1 when not.
int plugin_find_package_folder(const char* folder, char* out_path, char* out_name);

// Removes path and, when it is a folder, everything in it, however deep, with a few file
// descriptors at a time. Links are removed as links and never followed. 0 on success, -1 at
// the first failure.
int plugin_remove_tree(const char* path);

// MD5 of the text's bytes up to its NUL as 32 lower-case hex digits; out holds 33 bytes.
void md5_hex(const char* text, char* out);
