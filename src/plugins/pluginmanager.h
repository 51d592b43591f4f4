#pragma once

#include "plugins/worker/luaworkerprotocol.h"
#include "plugins/pluginobject.h"

#include <QMap>
#include <QMutex>
#include <QWaitCondition>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class LuaWorkerClient;
class SerialQueue;

// Plugins by bundle id. Sorted by key, so repeated listings of one set of plugins come back
// in one and the same order (the plugin window indexes its rows by it).
using PluginDict = QMap<QString, PluginObjectPtr>;

// The single owner of the plugins: the user's plugins ("plugins" in the library folder) and
// the built-in plugins ("plugins.bundle" beside the program), the use counts, and the one
// serial plugin queue from which every plugin call goes out, one at a time.
//
// The plugins themselves run in a Lua worker process (luaworkerclient.h), started on first
// use. A plugin gets PLUGIN_TIME_LIMIT_MS (plus a little slack) for its main and for loading
// each of its two scripts; when the worker has not answered by then, or ends by itself, it is
// killed, the call gets its error outcome (no result, or the plugin left out for this run),
// and the next call starts a fresh worker, which loads the plugins again.
//
// The manager keeps a copy of the listing the worker reports after each load, so
// listPlugins and listUserPlugins never wait for a plugin: only the very first listing is
// waited for. processText and countDict wait for the plugin queue and must not be called
// from it; app.openURL reaches the main thread without waiting.
class PluginManager {
public:
    // What a load or a run may take before the worker is stopped: the engine's own limit,
    // plus time for its answer to arrive.
    static constexpr int kGraceMs = 250;

    static PluginManager& sharedInstance();

    // Queues the loading of both plugin sets and the stored counts; returns at once. Calls
    // made afterwards are queued behind the loading and see its plugins. The application
    // uses sharedInstance; tests make instances of their own, one at a time.
    PluginManager();
    // Stops the worker on the plugin queue, after whatever is queued.
    ~PluginManager();

    PluginManager(const PluginManager&) = delete;
    PluginManager& operator=(const PluginManager&) = delete;

    // Built-in plugins, then user plugins, in load order; a later plugin replaces an earlier
    // one with the same bundle id, so a user plugin hides a built-in one. Plugins whose
    // bundle id is not valid UTF-8 are left out. A new dictionary on every call.
    PluginDict listPlugins();
    // The user plugins only, by the same rules.
    PluginDict listUserPlugins();

    // Runs the object's plugin on the text (sent as UTF-8, up to its first NUL) and counts
    // the run, whether or not the plugin gave a text; then stores the counts. The plugin is
    // found again by bundle id among the plugins of the object's set now loaded; when it is
    // no longer there (removed since the listing) or the object is a store entry, nothing
    // runs, nothing is counted and the result is nothing. Nothing also when the plugin
    // fails, times out, ends its worker or returns no string or number.
    std::optional<QString> processText(const QString& text, const PluginObjectPtr& plugin);

    // Queues the storing of a copy of the counts under "plugin_used_count_dict".
    void storeCountDict();

    // Queues the install of the package at the file URL into the user plugins; complete
    // gets the install code (0 to 6, plugininstall.h) on the main queue.
    void installPlugin(const QUrl& url, std::function<void(int)> complete);
    // Queues the removal of the object's plugin when it is a user plugin still loaded (found
    // again by bundle id); anything else removes nothing. complete runs on the main queue in
    // every case.
    void removePlugin(const PluginObjectPtr& plugin, std::function<void()> complete);

    // A copy of the counts, bundle id -> qint64.
    QVariantMap countDict();

    // The one plugin queue, shared by every instance.
    static SerialQueue& pluginQueue();

private:
    // The rest run on the plugin queue.
    void load();
    bool ensureWorker();
    bool scan();
    void publish(const luaworker::PluginListing& listing);
    bool isListed(PluginObject::Source source, const QString& bundleId) const;
    int onEvent(const QByteArray& event);
    PluginDict listed(bool withBuiltin);

    std::unique_ptr<LuaWorkerClient> m_worker;
    // Plugin folders whose loading took a worker down: left out for the rest of the run.
    QList<QByteArray> m_leftOut;
    QByteArray m_loadingFolder;

    // Lock order: m_lock is taken alone; nothing is called while holding it.
    mutable QMutex m_lock;
    QWaitCondition m_firstListing;
    bool m_hasListing = false;
    luaworker::PluginListing m_listing;
    QVariantMap m_countDict;
};
