#pragma once

// Removes the clip bodies that no History row names: files/H and zips/H left behind when the
// row insert after the body failed (a full disk, a crash between the two). Run at start-up;
// captures may run meanwhile, since a capture stores its body and its row under the body
// lock the sweep holds throughout. Only names that are a file_hash (32 lower-case hex digits) are
// considered, so nothing else in those folders is touched; nothing is removed while the
// database is unavailable, nor in a run that moved a damaged history aside, since then
// every body would look unused.
class ClipBodySweeper {
public:
    ClipBodySweeper() = delete;

    // The number of files removed.
    static int removeBodiesWithoutRows();
};
