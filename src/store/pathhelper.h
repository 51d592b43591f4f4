#pragma once

#include <QString>

// The application library folder "~/Library/Nuvarel" (under $HOME) and its sub-folders.
// Every getter creates its folder, with parents, on each call, so a folder removed while the
// program runs comes back. With a name, the name is appended as one path component (not
// created); a name that is not a single component ("", ".", "..", "/" or NUL inside) gives
// an empty string, so no caller can reach outside the folder through it.
class PathHelper {
public:
    static QString getBaseAppLibraryPath(const QString& name = QString());
    static QString getBaseFilePath(const QString& name = QString());
    static QString getZipsFilePath(const QString& name = QString());
    static QString getEncFilePath(const QString& name = QString());
    static QString getPreviewsFilePath(const QString& name = QString());
    static QString getPluginsBaseDir();
    static QString getPluginsPackageCachePath(const QString& name = QString());
    static QString getTmpDir(const QString& name = QString());
    static QString getDataFilePath(const QString& name = QString());

    // True when the name can be used as one path component inside a folder.
    static bool isSafeComponent(const QString& name);
};
