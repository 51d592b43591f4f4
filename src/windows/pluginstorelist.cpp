#include "windows/pluginstorelist.h"

#include "service/urlpolicy.h"
#include "store/pathhelper.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>
#include <QSaveFile>
#include <QUrl>

namespace {
const QString kCacheName = QStringLiteral("NAME_PLUGIN_LIST");
// A store list is a few kilobytes; a cache file far larger is not ours.
constexpr qint64 kMaxCacheBytes = 16 * 1024 * 1024;
}

PluginStoreList PluginStoreList::fromReply(const QJsonObject& reply)
{
    PluginStoreList list;
    const QJsonValue urls = reply.value(QLatin1String("plugin_url"));
    const QJsonValue dict = reply.value(QLatin1String("plugin_dict"));
    const QJsonObject urlObject = urls.isObject() ? urls.toObject() : QJsonObject();
    const QJsonObject dictObject = dict.isObject() ? dict.toObject() : QJsonObject();
    for (auto it = dictObject.begin(); it != dictObject.end(); ++it) {
        if (!it.value().isObject())
            continue;
        PluginObjectPtr plugin = PluginObject::loadFromJsonDict(it.value().toObject());
        const std::optional<QString>& bundleId = plugin->plugin_bundle_id();
        if (!bundleId || bundleId->isEmpty())
            continue;
        const QJsonValue url = urlObject.value(*bundleId);
        if (!url.isString() || !isPackageURL(url.toString()))
            continue;
        list.m_urls.insert(*bundleId, url.toString());
        list.m_plugins.append(plugin);
    }
    return list;
}

bool PluginStoreList::isPackageURL(const QString& text)
{
    return UrlPolicy::isSecureOrLoopback(QUrl(text, QUrl::StrictMode));
}

QString PluginStoreList::cacheFilePath()
{
    return PathHelper::getDataFilePath(kCacheName);
}

bool PluginStoreList::storeCache(const QJsonObject& reply)
{
    QSaveFile file(cacheFilePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = QJsonDocument(reply).toJson(QJsonDocument::Compact);
    return file.write(bytes) == bytes.size() && file.commit();
}

QJsonObject PluginStoreList::readCache()
{
    QFile file(cacheFilePath());
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxCacheBytes)
        return QJsonObject();
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    return document.isObject() ? document.object() : QJsonObject();
}
