#include "plugins/engine/plugininstall.h"

#include "plugins/engine/package.h"
#include "store/digest.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Removes everything in the open folder; takes over the descriptor. Works on descriptors so
// that no entry is ever reached through a link and no path has to be built. Walks down and
// back up with a few descriptors open at a time, however deep the tree: one descriptor per
// level would run out half-way through a deep tree and leave a half-removed plugin.
int removeContents(int rootFd)
{
    // The folders above the current one: how to find it again from its parent, and who the
    // parent was, so that going back up through ".." can be checked.
    struct Level {
        std::string name;
        dev_t parentDev;
        ino_t parentIno;
    };
    std::vector<Level> levels;
    int fd = rootFd;
    for (;;) {
        // Rescanned from the start after each descent: what was removed is gone, and the
        // first failure ends the walk, so nothing is met twice.
        const int scanFd = dup(fd);
        DIR* dir = scanFd < 0 ? nullptr : fdopendir(scanFd);
        if (!dir) {
            if (scanFd >= 0)
                close(scanFd);
            close(fd);
            return -1;
        }
        rewinddir(dir);
        std::string child;
        int result = 0;
        while (const dirent* entry = readdir(dir)) {
            const char* name = entry->d_name;
            if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
                continue;
            struct stat st;
            if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                result = -1;
                break;
            }
            if (S_ISDIR(st.st_mode)) {
                child = name;
                break;
            }
            if (unlinkat(fd, name, 0) != 0) {
                result = -1;
                break;
            }
        }
        closedir(dir);
        if (result != 0) {
            close(fd);
            return result;
        }
        if (!child.empty()) {
            struct stat here;
            const int sub = fstat(fd, &here) == 0
                ? openat(fd, child.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
            close(fd);
            if (sub < 0)
                return -1;
            levels.push_back({child, here.st_dev, here.st_ino});
            fd = sub;
            continue;
        }
        // This folder is empty now.
        if (levels.empty()) {
            close(fd);
            return 0;
        }
        const Level level = levels.back();
        levels.pop_back();
        const int parent = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        struct stat st;
        if (parent < 0)
            return -1;
        // The folder was moved away while it was emptied: stop rather than go elsewhere.
        if (fstat(parent, &st) != 0 || st.st_dev != level.parentDev || st.st_ino != level.parentIno
            || unlinkat(parent, level.name.c_str(), AT_REMOVEDIR) != 0) {
            close(parent);
            return -1;
        }
        fd = parent;
    }
}

// The path without its closing slashes: "a/b/" and "a/b" must name the same entry, and with
// the slash lstat would look through a link. False when nothing is left or it does not fit.
bool withoutClosingSlashes(const char* path, char* out)
{
    size_t length = strlen(path);
    while (length > 0 && path[length - 1] == '/')
        --length;
    if (length == 0 || length >= PLUGIN_PATH_SIZE)
        return false;
    memcpy(out, path, length);
    out[length] = '\0';
    return true;
}

// True when path names one entry directly inside folder (textually, as the engine builds
// its paths: folder, slashes, one name other than "." and "..").
bool isDirectlyInside(const char* path, const char* folder)
{
    char base[PLUGIN_PATH_SIZE];
    char entry[PLUGIN_PATH_SIZE];
    if (!withoutClosingSlashes(folder, base) || !withoutClosingSlashes(path, entry))
        return false;
    const size_t baseLength = strlen(base);
    if (strncmp(entry, base, baseLength) != 0 || entry[baseLength] != '/')
        return false;
    const char* name = entry + baseLength;
    while (*name == '/')
        ++name;
    return *name && !strchr(name, '/') && strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

// The steps between extraction and the move, inside the private folder work.
int installFrom(const char* work, const char* package_path, clip_plugin_state* state)
{
    if (package_unzip(package_path, work) != 0)
        return PLUGIN_INSTALL_EXTRACT_FAILED;

    char payload[PLUGIN_PATH_SIZE];
    struct stat st;
    if (!plugin_build_path(payload, "%s/%s", work, "Payload") || lstat(payload, &st) != 0 || !S_ISDIR(st.st_mode))
        return PLUGIN_INSTALL_NO_PAYLOAD;

    char source[PLUGIN_PATH_SIZE];
    char name[PLUGIN_PATH_SIZE];
    if (plugin_find_package_folder(payload, source, name) != 0)
        return PLUGIN_INSTALL_NO_PLUGIN;

    plugin* record = nullptr;
    if (!plugin_load_info(&record, source))
        return PLUGIN_INSTALL_BAD_INFO;
    char hex[33];
    md5_hex(record->bundle_id, hex);
    plugin_free(record);

    char target[PLUGIN_PATH_SIZE];
    if (!plugin_build_path(target, "%s/%s.cplugin", state->plugins_folder, hex))
        return PLUGIN_INSTALL_MOVE_FAILED;
    printf("src is %s \ntarget is %s\n", source, target);
    if (lstat(target, &st) == 0)
        plugin_remove_tree(target);
    printf("%s|%s", source, target);
    if (rename(source, target) != 0)
        return PLUGIN_INSTALL_MOVE_FAILED;
    printf("remove dir %s\n", payload);
    plugin_remove_tree(payload);
    return PLUGIN_INSTALL_OK;
}

}  // namespace

int plugin_install_package(const char* package_path, clip_plugin_state* state)
{
    struct stat st;
    if (!package_path || stat(package_path, &st) != 0)
        return PLUGIN_INSTALL_NO_PACKAGE;
    if (!state || !state->tmp_folder[0] || !state->plugins_folder[0])
        return PLUGIN_INSTALL_EXTRACT_FAILED;

    // The tmp folder may have been removed while the program runs.
    mkdir(state->tmp_folder, 0755);
    char work[PLUGIN_PATH_SIZE];
    if (!plugin_build_path(work, "%s/install-XXXXXX", state->tmp_folder) || !mkdtemp(work))
        return PLUGIN_INSTALL_EXTRACT_FAILED;
    const int code = installFrom(work, package_path, state);
    plugin_remove_tree(work);
    if (code == PLUGIN_INSTALL_OK)
        plugin_reload_all(state);
    return code;
}

int plugin_remove(const char* plugin_folder, clip_plugin_state* state)
{
    if (!plugin_folder || !*plugin_folder || !state)
        return 0;
    if (isDirectlyInside(plugin_folder, state->plugins_folder))
        plugin_remove_tree(plugin_folder);
    plugin_reload_all(state);
    return 0;
}

int plugin_find_package_folder(const char* folder, char* out_path, char* out_name)
{
    if (!folder || !out_path || !out_name)
        return 1;
    DIR* dir = opendir(folder);
    if (!dir)
        return 1;
    int result = 1;
    while (const dirent* entry = readdir(dir)) {
        if (!plugin_has_suffix(entry->d_name, ".cplugin"))
            continue;
        char path[PLUGIN_PATH_SIZE];
        struct stat st;
        if (!plugin_build_path(path, "%s/%s", folder, entry->d_name) || lstat(path, &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        memcpy(out_path, path, strlen(path) + 1);
        memcpy(out_name, entry->d_name, strlen(entry->d_name) + 1);  // a name is far shorter than a path
        result = 0;
        break;
    }
    closedir(dir);
    return result;
}

int plugin_remove_tree(const char* path)
{
    char entry[PLUGIN_PATH_SIZE];
    if (!path || !withoutClosingSlashes(path, entry))
        return -1;
    struct stat st;
    if (lstat(entry, &st) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode))
        return unlink(entry) == 0 ? 0 : -1;
    const int fd = open(entry, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int result = removeContents(fd);
    if (result != 0)
        return result;
    return rmdir(entry) == 0 ? 0 : -1;
}

void md5_hex(const char* text, char* out)
{
    if (!out)
        return;
    const QByteArray hex = md5HexOfData(QByteArray(text ? text : "")).toLatin1();
    memcpy(out, hex.constData(), 32);
    out[32] = '\0';
}
