#pragma once

#include "plugins/engine/plugin.h"
#include "plugins/worker/luaworkerprotocol.h"

#include <QByteArray>
#include <QList>

#include <optional>

// The plugin engine's two states as the Lua worker holds them: the user's plugins and the
// built-in ones. Single-threaded, like the engine.
class PluginHost {
public:
    PluginHost() = default;
    ~PluginHost();

    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Frees whatever was loaded and scans both folders afresh (user first, then built-in),
    // leaving out the plugin folders named in leftOut (as the scan hook sees them).
    void scan(const QByteArray& userFolder, const QByteArray& builtinFolder, const QByteArray& tmpFolder,
              const QList<QByteArray>& leftOut);
    bool isLeftOut(const char* folder) const;

    luaworker::PluginListing listing() const;

    struct Run {
        bool ran = false;  // the plugin was found and its main called
        std::optional<QByteArray> text;
    };
    // Runs the last loaded plugin of that source with the bundle id (the one listings show).
    Run process(quint8 source, const QByteArray& bundleId, const QByteArray& text);

    // Installs a package into the user plugins: an install code (plugininstall.h).
    int install(const QByteArray& packagePath);
    // Removes the user plugin with the bundle id, if one is loaded.
    void remove(const QByteArray& bundleId);

private:
    ::plugin* findRecord(quint8 source, const QByteArray& bundleId) const;

    clip_plugin_state* m_user = nullptr;
    clip_plugin_state* m_builtin = nullptr;
    QList<QByteArray> m_leftOut;
};
