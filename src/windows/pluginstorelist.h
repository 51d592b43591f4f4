#pragma once

#include "plugins/pluginobject.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

// The plugin store's list as read from a store reply or its cached copy, and that cache.
//
// A reply is untrusted: "plugin_url" or "plugin_dict" that is not an object counts as empty;
// an entry of "plugin_dict" that is not an object, has no "bundle_id" text, or whose package
// URL is not an http(s) URL is left out, so nothing offered can point at a local file.
class PluginStoreList {
public:
    PluginStoreList() = default;
    static PluginStoreList fromReply(const QJsonObject& reply);

    // Bundle id -> package URL text, only for the entries kept.
    const QMap<QString, QString>& pluginURLDict() const { return m_urls; }
    // The kept entries in the reply's order (by key of "plugin_dict").
    const QList<PluginObjectPtr>& plugins() const { return m_plugins; }
    // The package URL of a kept bundle id, or an empty text.
    QString urlFor(const QString& bundleId) const { return m_urls.value(bundleId); }

    // "NAME_PLUGIN_LIST" in the data folder.
    static QString cacheFilePath();
    // Replaces the cache with the reply as JSON, atomically (a crash leaves the old or the
    // new file, never half of one). False when it could not be written.
    static bool storeCache(const QJsonObject& reply);
    // The cached reply; an empty object when there is none or it does not parse as an object.
    static QJsonObject readCache();

    // True for an absolute https URL with a host (http only from a loopback address): the
    // only packages the helper fetches.
    static bool isPackageURL(const QString& text);

private:
    QMap<QString, QString> m_urls;
    QList<PluginObjectPtr> m_plugins;
};
