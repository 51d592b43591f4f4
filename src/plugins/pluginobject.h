#pragma once

#include <QJsonObject>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>

class PluginObject;
using PluginObjectPtr = std::shared_ptr<PluginObject>;

// One plugin as the clip menu and the plugin window see it: an installed plugin from a
// listing of PluginManager, or an entry of the plugin store.
//
// An installed object names its plugin by bundle id and by the set it was listed from, not
// by the engine record: records are freed by every install and removal, and PluginManager
// finds the record again in the current set whenever the object is used.
class PluginObject {
public:
    enum class Source {
        Store,    // a plugin store entry: nothing loaded
        User,     // the user's plugins folder
        Builtin,  // the built-in plugins folder
    };

    // A store entry: "author", "bundle_id", "name", "desc", "version"; a key that is absent or
    // not a string gives no value. count 0.
    static PluginObjectPtr loadFromJsonDict(const QJsonObject& dictionary);

    // True when the object stands for a loaded plugin (not a store entry).
    bool hasPlugin() const { return m_source != Source::Store; }
    Source source() const { return m_source; }
    void setSource(Source source) { m_source = source; }

    const std::optional<QString>& plugin_name() const { return m_name; }
    void setPlugin_name(const std::optional<QString>& v) { m_name = v; }
    const std::optional<QString>& plugin_desc() const { return m_desc; }
    void setPlugin_desc(const std::optional<QString>& v) { m_desc = v; }
    const std::optional<QString>& plugin_version() const { return m_version; }
    void setPlugin_version(const std::optional<QString>& v) { m_version = v; }
    const std::optional<QString>& plugin_author() const { return m_author; }
    void setPlugin_author(const std::optional<QString>& v) { m_author = v; }
    const std::optional<QString>& plugin_bundle_id() const { return m_bundleId; }
    void setPlugin_bundle_id(const std::optional<QString>& v) { m_bundleId = v; }
    qint64 count() const { return m_count; }
    void setCount(qint64 count) { m_count = count; }

private:
    Source m_source = Source::Store;
    std::optional<QString> m_name;
    std::optional<QString> m_desc;
    std::optional<QString> m_version;
    std::optional<QString> m_author;
    std::optional<QString> m_bundleId;
    qint64 m_count = 0;
};
