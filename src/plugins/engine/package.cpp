#include "plugins/engine/package.h"

#include "plugins/engine/plugin.h"

#include <zip.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t n = write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Copies one file entry into target. Reads until libzip reports the end: only then does it
// check the CRC, so stopping at the recorded size would let damaged data through.
bool extractFile(zip_t* archive, zip_uint64_t index, zip_uint64_t size, const char* target)
{
    zip_file_t* entry = zip_fopen_index(archive, index, 0);
    if (!entry)
        return false;
    // O_NOFOLLOW: a link in the destination is never written through.
    const int fd = open(target, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        zip_fclose(entry);
        return false;
    }
    bool ok = true;
    zip_uint64_t written = 0;
    char buffer[100];
    for (;;) {
        const zip_int64_t n = zip_fread(entry, buffer, sizeof buffer);
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (static_cast<zip_uint64_t>(n) > size - written) {
            ok = false;  // more data than recorded
            break;
        }
        if (!writeAll(fd, buffer, static_cast<size_t>(n))) {
            ok = false;
            break;
        }
        written += static_cast<zip_uint64_t>(n);
    }
    if (written != size)
        ok = false;
    if (close(fd) != 0)
        ok = false;
    if (zip_fclose(entry) != 0)
        ok = false;
    return ok;
}

// The bounds and names of the whole archive, checked before anything is written.
bool archiveWithinBounds(zip_t* archive, zip_int64_t count)
{
    if (count > PACKAGE_MAX_ENTRIES)
        return false;
    zip_uint64_t total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &st) != 0)
            continue;  // extraction skips it as well
        // A tree too deep for the plugin folder to be worked on and removed again.
        if (!(st.valid & ZIP_STAT_NAME) || !(st.valid & ZIP_STAT_SIZE) || !package_entry_name_is_safe(st.name)
            || package_entry_depth(st.name) > PACKAGE_MAX_DEPTH) {
            fprintf(stderr, "refusing package entry %lld\n", static_cast<long long>(i));
            return false;
        }
        if (st.size > PACKAGE_MAX_BYTES - total)
            return false;
        total += st.size;
    }
    return true;
}

int fail(zip_t* archive)
{
    zip_discard(archive);
    return 1;
}

}  // namespace

bool package_entry_name_is_safe(const char* name)
{
    if (!name || !*name || name[0] == '/')
        return false;
    for (const char* p = name; *p;) {
        const char* end = strchr(p, '/');
        const size_t length = end ? static_cast<size_t>(end - p) : strlen(p);
        if (length == 2 && p[0] == '.' && p[1] == '.')
            return false;
        if (!end)
            break;
        p = end + 1;
    }
    return true;
}

int package_entry_depth(const char* name)
{
    int depth = 0;
    bool inName = false;
    for (const char* p = name ? name : ""; *p; ++p) {
        if (*p == '/') {
            inName = false;
        } else if (!inName) {
            inName = true;
            ++depth;
        }
    }
    return depth;
}

int package_unzip(const char* package_path, const char* destination)
{
    if (!package_path || !destination || !*destination)
        return 1;
    int error = 0;
    zip_t* archive = zip_open(package_path, ZIP_RDONLY, &error);
    if (!archive) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        fprintf(stderr, "can't open zip archive `%s': %s\n", package_path, zip_error_strerror(&ze));
        zip_error_fini(&ze);
        return 1;
    }
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0 || !archiveWithinBounds(archive, count))
        return fail(archive);

    for (zip_int64_t i = 0; i < count; ++i) {
        const zip_uint64_t index = static_cast<zip_uint64_t>(i);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive, index, 0, &st) != 0) {
            printf("%s:%d\n", __FILE__, __LINE__);
            continue;
        }
        char target[PLUGIN_PATH_SIZE];
        if (!plugin_build_path(target, "%s/%s", destination, st.name)) {
            fprintf(stderr, "package entry path too long: %s\n", st.name);
            return fail(archive);
        }
        printf("target_path is %s", target);
        printf("Name: [%s]\n", st.name);
        printf("Size: [%llu]\n", static_cast<unsigned long long>(st.size));
        printf("mtime: [%u]\n", static_cast<unsigned>(st.mtime));

        if (plugin_has_suffix(st.name, "/")) {
            if (mkdir(target, 0755) != 0 && errno != EEXIST) {
                perror(target);
                return fail(archive);
            }
            continue;
        }
        if (!extractFile(archive, index, st.size, target)) {
            fprintf(stderr, "boese, boese\n");
            return fail(archive);
        }
    }

    if (zip_close(archive) != 0) {
        fprintf(stderr, "can't close zip archive `%s'\n", package_path);
        return fail(archive);
    }
    return 0;
}
