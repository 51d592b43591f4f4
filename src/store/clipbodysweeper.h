#pragma once

#include <functional>

// Removes the clip bodies that no History row names: files/H and zips/H left behind when the
// row insert after the body failed (a full disk, a crash between the two). Run at start-up;
// captures may run meanwhile, since a capture stores its body and its row under the body
// lock the sweep holds throughout (a row another writer adds meanwhile takes a row id above
// those read, so the reading still meets it). Only names that are a file_hash (32 lower-case
// hex digits) are considered, so nothing else in those folders is touched; nothing is removed
// while the database is unavailable, nor in a run that moved a damaged history aside, since
// then every body would look unused.
class ClipBodySweeper {
public:
    ClipBodySweeper() = delete;

    // The number of files removed. The rows are read kRowsPerBlock at a time, each a block of
    // its own, so other database work (the main thread's too) goes between them;
    // betweenBlocks, when given, runs after each block with none open (tests).
    static int removeBodiesWithoutRows(const std::function<void()>& betweenBlocks = {});
    static constexpr int kRowsPerBlock = 2000;
};
