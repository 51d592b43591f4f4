#pragma once

#include <stdint.h>

// The package extractor: a plugin package is a zip archive (libzip).

enum {
    PACKAGE_MAX_ENTRIES = 10000,
    // Names per entry path ("Payload/a.cplugin/info.lua" is 3 deep).
    PACKAGE_MAX_DEPTH = 64,
};
// Uncompressed bytes of all entries together.
constexpr uint64_t PACKAGE_MAX_BYTES = 64ull * 1024 * 1024;

// Extracts every entry of the archive into the destination folder, in archive order: a name
// ending in "/" becomes a folder (0755), any other a file (0644). Parent folders are not
// made, so an archive lists each folder before the files inside it. 0 on success, 1 on
// failure: an archive that cannot be opened or read, an entry whose data fails its CRC or
// differs from its recorded size, a failed write or close, an absolute name or one with a
// ".." component, a target path that does not fit, more than PACKAGE_MAX_ENTRIES entries,
// an entry deeper than PACKAGE_MAX_DEPTH or more than PACKAGE_MAX_BYTES in all. Nothing is ever written outside the destination; on
// failure what was extracted so far stays there.
int package_unzip(const char* package_path, const char* destination);

// True when an entry name stays inside the folder it is extracted into.
bool package_entry_name_is_safe(const char* name);
// How many names deep an entry lies: the non-empty parts between its slashes.
int package_entry_depth(const char* name);
