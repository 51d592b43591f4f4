#pragma once

#include "plugins/engine/plugin.h"
#include "plugins/pluginobject.h"

#include <QMap>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <optional>

class SerialQueue;

// Plugins by bundle id. Sorted by key, so repeated listings of one set of plugins come back
// in one and the same order (the plugin window indexes its rows by it).
using PluginDict = QMap<QString, PluginObjectPtr>;

// The single owner of the plugin engine: the user's plugins ("plugins" in the library
// folder) and the built-in plugins ("plugins.bundle" beside the program), the use counts,
// and the one serial plugin queue on which every engine call runs, one at a time.
//
// The blocking calls (listPlugins, listUserPlugins, processText, countDict) wait for the
// plugin queue and must not be made from it. Plugins may call app.openURL there; that never
// waits for the main thread, so the main thread may wait for the queue.
class PluginManager {
public:
    static PluginManager& sharedInstance();

    // Queues the loading of both plugin sets and the stored counts; returns at once. Calls
    // made afterwards are queued behind the loading and see its plugins. The application
    // uses sharedInstance; tests make instances of their own, one at a time.
    PluginManager();
    // Frees both sets on the plugin queue, after whatever is queued.
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
    // fails, times out or returns no string or number.
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

    // The engine states: use them only on the plugin queue.
    clip_plugin_state* clip_state() const { return m_clipState; }
    clip_plugin_state* system_clip_state() const { return m_systemClipState; }
    // A copy of the counts, bundle id -> qint64 (waits for the plugin queue).
    QVariantMap countDict();

    // The one plugin queue, shared by every instance.
    static SerialQueue& pluginQueue();

private:
    // The rest run on the plugin queue.
    void load();
    void addPlugin(::plugin* record, PluginObject::Source source, PluginDict& dict) const;
    void addStatePlugins(clip_plugin_state* state, PluginObject::Source source, PluginDict& dict) const;
    ::plugin* findRecord(PluginObject::Source source, const QString& bundleId) const;

    clip_plugin_state* m_clipState = nullptr;
    clip_plugin_state* m_systemClipState = nullptr;
    QVariantMap m_countDict;
};
