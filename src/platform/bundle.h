#pragma once

#include <QString>

// What the application bundle gives on macOS: version numbers and resource lookup.
class Bundle {
public:
    // "CFBundleShortVersionString": the project version from the build.
    static QString shortVersion();
    // "CFBundleVersion": the build number.
    static QString buildVersion();

    // Looks for <name>.<type> next to the executable, then in the installed data folder,
    // then in the Qt resources. Gives an empty string when there is none.
    static QString pathForResource(const QString& name, const QString& type);
    // The built-in plugins folder, "plugins.bundle".
    static QString builtinPluginsPath();

    // A helper program of ours: next to the executable (the build tree), then in the
    // installed libexec folder. Gives an empty string when there is none.
    static QString pathForAuxiliaryExecutable(const QString& name);

    // Extra folder searched first (tests point it at a fixture folder).
    static void setResourceOverride(const QString& folder);
};
