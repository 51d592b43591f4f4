#pragma once

#include <QString>

// Launch at login by the program's path, over the current LoginItems list.
class NMLoginItems {
public:
    // YES when an entry of the list starts the program at `path`; NO for no path.
    static bool pathInLoginItems(const QString& path);
    // Adds an entry for `path`; false (logged) when it could not be written.
    static bool addPathToLoginItems(const QString& path, bool hide);
    // Removes every entry for `path`; each failure is logged as "Unable to remove %@ from open
    // at login (%d)" and the others still go. False when one failed.
    static bool removePathFromLoginItems(const QString& path);
};
