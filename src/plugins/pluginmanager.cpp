#include "plugins/pluginmanager.h"

#include "platform/bundle.h"
#include "platform/dispatch.h"
#include "platform/numberreader.h"
#include "plugins/appmodule.h"
#include "plugins/engine/plugininstall.h"
#include "store/clipuserdefaults.h"
#include "store/defaultskeys.h"
#include "store/pathhelper.h"

#include <QByteArray>
#include <QFile>

#include <limits>

#include <stdlib.h>
#include <string.h>

namespace {

const QString kCountDictKey = DefaultsKey::PluginUsedCountDict;

QByteArray fileSystemPath(const QString& path)
{
    return QFile::encodeName(path);
}

// A stored use count; a hand-edited or broken one reads 0, and one more never overflows.
qint64 useCount(const QVariant& stored)
{
    return NumberReader::wholeNumber(stored, 0, std::numeric_limits<qint64>::max() - 1).value_or(0);
}

}  // namespace

PluginManager& PluginManager::sharedInstance()
{
    // Never released: plugin states live as long as the process.
    static PluginManager* instance = new PluginManager();
    return *instance;
}

SerialQueue& PluginManager::pluginQueue()
{
    // Never released either, so no exit-time destructor waits for a plugin still running.
    static SerialQueue* queue = new SerialQueue(QString());
    return *queue;
}

PluginManager::PluginManager()
{
    pluginQueue().async([this] { load(); });
}

PluginManager::~PluginManager()
{
    pluginQueue().sync([this] {
        plugin_state_free(m_clipState);
        plugin_state_free(m_systemClipState);
        m_clipState = nullptr;
        m_systemClipState = nullptr;
    });
}

void PluginManager::load()
{
    const QVariant stored = ClipUserDefaults::standardUserDefaults().value(kCountDictKey);
    m_countDict = stored.typeId() == QMetaType::QVariantMap ? stored.toMap() : QVariantMap();

    plugin_state_hook = registerAppModule;
    const QByteArray tmp = fileSystemPath(PathHelper::getTmpDir());

    m_clipState = plugin_state_new();
    if (plugin_state_set_folders(fileSystemPath(PathHelper::getPluginsBaseDir()).constData(), tmp.constData(),
                                 m_clipState))
        plugin_scan_folder(m_clipState);

    // Without the resource the built-in set stays empty.
    m_systemClipState = plugin_state_new();
    const QString builtin = Bundle::builtinPluginsPath();
    if (!builtin.isEmpty()
        && plugin_state_set_folders(fileSystemPath(builtin).constData(), tmp.constData(), m_systemClipState))
        plugin_scan_folder(m_systemClipState);
}

void PluginManager::addPlugin(::plugin* record, PluginObject::Source source, PluginDict& dict) const
{
    // A bundle id that is not UTF-8 could not be found again from its text.
    const QByteArray bundleId(record->bundle_id);
    if (!bundleId.isValidUtf8())
        return;
    auto object = std::make_shared<PluginObject>();
    object->setSource(source);
    object->setPlugin_name(QString::fromUtf8(record->name));
    object->setPlugin_desc(QString::fromUtf8(record->desc));
    object->setPlugin_version(QString::fromUtf8(record->version));
    object->setPlugin_author(QString::fromUtf8(record->author));
    const QString key = QString::fromUtf8(bundleId);
    object->setPlugin_bundle_id(key);
    object->setCount(useCount(m_countDict.value(key)));
    dict.insert(key, object);
}

void PluginManager::addStatePlugins(clip_plugin_state* state, PluginObject::Source source, PluginDict& dict) const
{
    if (!state)
        return;
    for (int32_t i = 0; i < state->count; ++i)
        addPlugin(state->plugins[i], source, dict);
}

::plugin* PluginManager::findRecord(PluginObject::Source source, const QString& bundleId) const
{
    clip_plugin_state* state = source == PluginObject::Source::User      ? m_clipState
                               : source == PluginObject::Source::Builtin ? m_systemClipState
                                                                         : nullptr;
    if (!state)
        return nullptr;
    const QByteArray id = bundleId.toUtf8();
    // The last of several with one bundle id is the one the listings show.
    for (int32_t i = state->count - 1; i >= 0; --i) {
        if (strcmp(state->plugins[i]->bundle_id, id.constData()) == 0)
            return state->plugins[i];
    }
    return nullptr;
}

PluginDict PluginManager::listPlugins()
{
    PluginDict dict;
    pluginQueue().sync([&] {
        addStatePlugins(m_systemClipState, PluginObject::Source::Builtin, dict);
        addStatePlugins(m_clipState, PluginObject::Source::User, dict);
    });
    return dict;
}

PluginDict PluginManager::listUserPlugins()
{
    PluginDict dict;
    pluginQueue().sync([&] { addStatePlugins(m_clipState, PluginObject::Source::User, dict); });
    return dict;
}

std::optional<QString> PluginManager::processText(const QString& text, const PluginObjectPtr& plugin)
{
    if (!plugin || !plugin->hasPlugin() || !plugin->plugin_bundle_id())
        return std::nullopt;
    const PluginObject::Source source = plugin->source();
    const QString bundleId = *plugin->plugin_bundle_id();
    const QByteArray input = text.toUtf8();
    std::optional<QString> result;
    bool ran = false;
    pluginQueue().sync([&] {
        ::plugin* record = findRecord(source, bundleId);
        if (!record)
            return;
        ran = true;
        char* output = plugin_process_text(record, input.constData());
        if (output) {
            result = QString::fromUtf8(output);
            free(output);
        }
        m_countDict.insert(bundleId, useCount(m_countDict.value(bundleId)) + 1);
    });
    if (ran)
        storeCountDict();
    return result;
}

void PluginManager::storeCountDict()
{
    pluginQueue().async([this] {
        ClipUserDefaults::standardUserDefaults().setValue(kCountDictKey, QVariantMap(m_countDict));
    });
}

QVariantMap PluginManager::countDict()
{
    QVariantMap copy;
    pluginQueue().sync([&] { copy = m_countDict; });
    return copy;
}

void PluginManager::installPlugin(const QUrl& url, std::function<void(int)> complete)
{
    const QByteArray path = url.isLocalFile() ? fileSystemPath(url.toLocalFile()) : QByteArray();
    pluginQueue().async([this, path, complete = std::move(complete)] {
        const int code = plugin_install_package(path.constData(), m_clipState);
        if (complete)
            dispatch::mainAsync([complete, code] { complete(code); });
    });
}

void PluginManager::removePlugin(const PluginObjectPtr& plugin, std::function<void()> complete)
{
    const bool user = plugin && plugin->source() == PluginObject::Source::User && plugin->plugin_bundle_id();
    const QString bundleId = user ? *plugin->plugin_bundle_id() : QString();
    pluginQueue().async([this, user, bundleId, complete = std::move(complete)] {
        if (user) {
            if (::plugin* record = findRecord(PluginObject::Source::User, bundleId)) {
                // The removal reloads the state and frees the record with its path.
                char folder[PLUGIN_PATH_SIZE];
                if (plugin_build_path(folder, "%s", record->path))
                    plugin_remove(folder, m_clipState);
            }
        }
        if (complete)
            dispatch::mainAsync(complete);
    });
}
