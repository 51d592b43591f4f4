#include "plugins/pluginmanager.h"

#include "platform/bundle.h"
#include "platform/dispatch.h"
#include "platform/numberreader.h"
#include "plugins/engine/plugin.h"
#include "plugins/engine/plugininstall.h"
#include "plugins/luaworkerclient.h"
#include "store/clipapphelper.h"
#include "store/clipuserdefaults.h"
#include "store/defaultskeys.h"
#include "store/pathhelper.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <spdlog/spdlog.h>

#include <limits>

using namespace luaworker;

namespace {

const QString kCountDictKey = DefaultsKey::PluginUsedCountDict;

// A stored use count; a hand-edited or broken one reads 0, and one more never overflows.
qint64 useCount(const QVariant& stored)
{
    return NumberReader::wholeNumber(stored, 0, std::numeric_limits<qint64>::max() - 1).value_or(0);
}

// A plugin's script, or its main, and the answer's way back.
constexpr int kPluginStepMs = PLUGIN_TIME_LIMIT_MS + PluginManager::kGraceMs;
// Until the first plugin starts loading: reading the folders.
constexpr int kScanStartMs = 2000;
// Until the reload after an install: extracting the package and running its info.lua.
constexpr int kInstallMs = 10000;
// A worker that keeps failing with no plugin to blame is not started again on this call.
constexpr int kFruitlessStarts = 3;

QByteArray fileSystemPath(const QString& path)
{
    return QFile::encodeName(path);
}

quint8 sourceCode(PluginObject::Source source)
{
    return source == PluginObject::Source::User ? UserSource : BuiltinSource;
}

void addEntry(const ListingEntry& e, PluginObject::Source source, const QVariantMap& counts, PluginDict& dict)
{
    // A bundle id that is not UTF-8 could not be found again from its text.
    if (!e.bundleId.isValidUtf8())
        return;
    auto object = std::make_shared<PluginObject>();
    object->setSource(source);
    object->setPlugin_name(QString::fromUtf8(e.name));
    object->setPlugin_desc(QString::fromUtf8(e.desc));
    object->setPlugin_version(QString::fromUtf8(e.version));
    object->setPlugin_author(QString::fromUtf8(e.author));
    const QString key = QString::fromUtf8(e.bundleId);
    object->setPlugin_bundle_id(key);
    object->setCount(useCount(counts.value(key)));
    dict.insert(key, object);
}

bool contains(const QList<ListingEntry>& entries, const QByteArray& bundleId)
{
    for (const ListingEntry& e : entries) {
        if (e.bundleId == bundleId)
            return true;
    }
    return false;
}

}  // namespace

PluginManager& PluginManager::sharedInstance()
{
    // Never released: the worker lives as long as the process.
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
    : m_worker(std::make_unique<LuaWorkerClient>(LuaWorkerClient::Role::Plugins))
{
    pluginQueue().async([this] { load(); });
}

PluginManager::~PluginManager()
{
    pluginQueue().sync([this] { m_worker->stop(); });
}

void PluginManager::load()
{
    const QVariant stored = ClipUserDefaults::standardUserDefaults().value(kCountDictKey);
    {
        QMutexLocker lock(&m_lock);
        m_countDict = stored.typeId() == QMetaType::QVariantMap ? stored.toMap() : QVariantMap();
    }
    if (!ensureWorker())
        publish(PluginListing());  // no worker: no plugins, and nobody waits for them
}

bool PluginManager::ensureWorker()
{
    if (m_worker->running())
        return true;
    int fruitless = 0;
    while (fruitless < kFruitlessStarts) {
        if (!m_worker->start())
            return false;
        if (scan())
            return true;
        // Each failure either leaves one more plugin out or counts against the worker.
        if (m_loadingFolder.isEmpty() || m_leftOut.contains(m_loadingFolder)) {
            ++fruitless;
        } else {
            spdlog::warn("plugin {} stopped its worker while loading; left out", m_loadingFolder.toStdString());
            m_leftOut.append(m_loadingFolder);
        }
    }
    return false;
}

int PluginManager::onEvent(const QByteArray& event)
{
    Reader r(event);
    switch (r.kind()) {
    case LoadingInfo: {
        QByteArray folder;
        r.in() >> folder;
        m_loadingFolder = folder;
        return kPluginStepMs;
    }
    case LoadingMain:
        return kPluginStepMs;
    case OpenURL: {
        QByteArray text;
        r.in() >> text;
        const QUrl url(QString::fromUtf8(text));
        // A relative reference ("42", "some words") has nothing to open it with.
        if (r.ok() && url.isValid() && !url.scheme().isEmpty())
            ClipAppHelper::sharedInstance().openURL(url);
        return -1;
    }
    default:
        return -1;
    }
}

bool PluginManager::scan()
{
    m_loadingFolder.clear();
    const QString builtin = Bundle::builtinPluginsPath();
    const QByteArray request =
        message(ScanPlugins, fileSystemPath(PathHelper::getPluginsBaseDir()),
                builtin.isEmpty() ? QByteArray() : fileSystemPath(builtin), fileSystemPath(PathHelper::getTmpDir()),
                m_leftOut);
    const LuaWorkerClient::Result result =
        m_worker->call(request, kScanStartMs, [this](const QByteArray& e) { return onEvent(e); });
    if (result.outcome == LuaWorkerClient::Outcome::Replied) {
        Reader r(result.reply);
        if (r.kind() == Listing) {
            if (const std::optional<PluginListing> listing = readListing(r.in())) {
                publish(*listing);
                return true;
            }
        }
    }
    m_worker->stop();
    return false;
}

void PluginManager::publish(const PluginListing& listing)
{
    QMutexLocker lock(&m_lock);
    m_listing = listing;
    m_hasListing = true;
    m_firstListing.wakeAll();
}

bool PluginManager::isListed(PluginObject::Source source, const QString& bundleId) const
{
    const QByteArray id = bundleId.toUtf8();
    QMutexLocker lock(&m_lock);
    if (source == PluginObject::Source::User)
        return contains(m_listing.user, id);
    if (source == PluginObject::Source::Builtin)
        return contains(m_listing.builtin, id);
    return false;
}

PluginDict PluginManager::listed(bool withBuiltin)
{
    PluginDict dict;
    QMutexLocker lock(&m_lock);
    // Only the first load is waited for; later ones replace the copy when they are done.
    while (!m_hasListing)
        m_firstListing.wait(&m_lock);
    if (withBuiltin) {
        for (const ListingEntry& e : m_listing.builtin)
            addEntry(e, PluginObject::Source::Builtin, m_countDict, dict);
    }
    for (const ListingEntry& e : m_listing.user)
        addEntry(e, PluginObject::Source::User, m_countDict, dict);
    return dict;
}

PluginDict PluginManager::listPlugins()
{
    return listed(true);
}

PluginDict PluginManager::listUserPlugins()
{
    return listed(false);
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
        if (!ensureWorker() || !isListed(source, bundleId))
            return;
        // A plugin that was listed runs, and counts, whatever becomes of the run.
        ran = true;
        const LuaWorkerClient::Result r =
            m_worker->call(message(ProcessText, sourceCode(source), bundleId.toUtf8(), input), kPluginStepMs,
                           [this](const QByteArray& e) { return onEvent(e); });
        if (r.outcome == LuaWorkerClient::Outcome::Replied) {
            Reader reply(r.reply);
            bool found = false;
            bool has = false;
            QByteArray output;
            reply.in() >> found >> has >> output;
            if (reply.kind() != TextResult || !reply.ok()) {
                m_worker->stop();
            } else {
                ran = found;
                if (has)
                    result = QString::fromUtf8(output);
            }
        } else {
            spdlog::warn("plugin {} gave no answer in time or ended its worker", bundleId.toStdString());
        }
        if (ran) {
            QMutexLocker lock(&m_lock);
            m_countDict.insert(bundleId, useCount(m_countDict.value(bundleId)) + 1);
        }
    });
    if (ran)
        storeCountDict();
    return result;
}

void PluginManager::storeCountDict()
{
    pluginQueue().async([this] {
        QVariantMap copy;
        {
            QMutexLocker lock(&m_lock);
            copy = m_countDict;
        }
        ClipUserDefaults::standardUserDefaults().setValue(kCountDictKey, copy);
    });
}

QVariantMap PluginManager::countDict()
{
    QMutexLocker lock(&m_lock);
    while (!m_hasListing)
        m_firstListing.wait(&m_lock);
    return m_countDict;
}

void PluginManager::installPlugin(const QUrl& url, std::function<void(int)> complete)
{
    const QByteArray path = url.isLocalFile() ? fileSystemPath(url.toLocalFile()) : QByteArray();
    pluginQueue().async([this, path, complete = std::move(complete)] {
        int code = PLUGIN_INSTALL_EXTRACT_FAILED;
        if (!ensureWorker()) {
            if (path.isEmpty() || !QFileInfo::exists(QFile::decodeName(path)))
                code = PLUGIN_INSTALL_NO_PACKAGE;
        } else {
            m_loadingFolder.clear();
            // The package's own info.lua is read from the tmp folder; after the move, the
            // reload reads every plugin from the plugins folder.
            const QByteArray pluginsPrefix = fileSystemPath(PathHelper::getPluginsBaseDir()) + '/';
            bool checking = false;
            bool reloading = false;
            const LuaWorkerClient::Result r =
                m_worker->call(message(InstallPackage, path), kInstallMs, [&](const QByteArray& e) {
                    const int next = onEvent(e);
                    if (Reader(e).kind() == LoadingInfo)
                        (m_loadingFolder.startsWith(pluginsPrefix) ? reloading : checking) = true;
                    return next;
                });
            std::optional<PluginListing> listing;
            if (r.outcome == LuaWorkerClient::Outcome::Replied) {
                Reader reply(r.reply);
                qint32 replied = 0;
                reply.in() >> replied;
                if (reply.kind() == InstallResult && (listing = readListing(reply.in())))
                    code = replied;
            }
            if (listing) {
                publish(*listing);
            } else {
                // Named by how far the install got: a hang in the reload comes after the
                // plugin was moved into place, and the plugin that hung stays out.
                if (reloading) {
                    code = PLUGIN_INSTALL_OK;
                    m_leftOut.append(m_loadingFolder);
                } else {
                    code = checking ? PLUGIN_INSTALL_BAD_INFO : PLUGIN_INSTALL_EXTRACT_FAILED;
                }
                m_worker->stop();
                ensureWorker();
            }
        }
        if (complete)
            dispatch::mainAsync([complete, code] { complete(code); });
    });
}

void PluginManager::removePlugin(const PluginObjectPtr& plugin, std::function<void()> complete)
{
    const bool user = plugin && plugin->source() == PluginObject::Source::User && plugin->plugin_bundle_id();
    const QString bundleId = user ? *plugin->plugin_bundle_id() : QString();
    pluginQueue().async([this, user, bundleId, complete = std::move(complete)] {
        if (user && ensureWorker() && isListed(PluginObject::Source::User, bundleId)) {
            m_loadingFolder.clear();
            const LuaWorkerClient::Result r =
                m_worker->call(message(RemovePlugin, bundleId.toUtf8()), kScanStartMs,
                               [this](const QByteArray& e) { return onEvent(e); });
            std::optional<PluginListing> listing;
            if (r.outcome == LuaWorkerClient::Outcome::Replied) {
                Reader reply(r.reply);
                if (reply.kind() == Listing)
                    listing = readListing(reply.in());
            }
            if (listing) {
                publish(*listing);
            } else {
                if (!m_loadingFolder.isEmpty())
                    m_leftOut.append(m_loadingFolder);
                m_worker->stop();
                ensureWorker();
            }
        }
        if (complete)
            dispatch::mainAsync(complete);
    });
}
