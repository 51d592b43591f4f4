#include "service/clippluginpackagehelper.h"

#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "plugins/pluginmanager.h"
#include "service/httpsession.h"
#include "service/urlpolicy.h"
#include "store/digest.h"
#include "store/notificationnames.h"
#include "store/pathhelper.h"

#include <QFile>
#include <QUrl>

#include <spdlog/spdlog.h>

namespace {

std::string text(const QString& s)
{
    return s.toStdString();
}

// A package runs its info.lua while it installs: over plain http anyone on the path could
// hand us code to run.
bool isPackageURL(const QUrl& url)
{
    return UrlPolicy::isSecureOrLoopback(url);
}

}  // namespace

ClipPluginPackageHelper& ClipPluginPackageHelper::sharedInstance()
{
    // Lives for the whole process, with its session.
    static ClipPluginPackageHelper* instance = new ClipPluginPackageHelper(PluginManager::sharedInstance());
    return *instance;
}

ClipPluginPackageHelper::ClipPluginPackageHelper(PluginManager& manager)
    : m_manager(manager), m_httpManager(std::make_unique<HttpSession>(QStringLiteral("pluginpackage download manager")))
{
    m_httpManager->setMaxReplySize(kMaxPackageSize);
}

ClipPluginPackageHelper::~ClipPluginPackageHelper() = default;

HttpSession& ClipPluginPackageHelper::httpManager()
{
    return *m_httpManager;
}

QString ClipPluginPackageHelper::fileNameFromPlugin(const PluginObject& plugin)
{
    const QString joined = QStringLiteral("%1_%2").arg(plugin.plugin_bundle_id().value_or(QString()),
                                                       plugin.plugin_version().value_or(QString()));
    return QStringLiteral("%1.cpk").arg(md5HexOfString(joined));
}

void ClipPluginPackageHelper::installPackageFromUrl(const QString& url, const PluginObjectPtr& plugin,
                                                    Completion complete)
{
    const QUrl parsed(url, QUrl::StrictMode);
    // Only the network: a store reply must never make us read a local file.
    if (!plugin || !isPackageURL(parsed)) {
        if (complete) {
            spdlog::error("plugin url error: {}", text(url));
            dispatch::mainAsync([complete] { complete(false); });
        }
        return;
    }
    if (m_running.contains(url)) {
        spdlog::error("plugin download task existed!");
        dispatch::mainAsync([complete] {
            if (complete)
                complete(true);
        });
        return;
    }
    m_running.insert(url);

    const QString name = fileNameFromPlugin(*plugin);
    const QString cachePath = PathHelper::getPluginsPackageCachePath(name);
    if (QFile::exists(cachePath)) {
        installCached(cachePath, url, complete);
        return;
    }
    const QString tmpPath = PathHelper::getTmpDir(name);
    QFile::remove(tmpPath);
    std::weak_ptr<bool> alive = m_alive;
    download(parsed, tmpPath, [this, alive, url, tmpPath, cachePath, complete](bool ok) {
        if (alive.expired())
            return;
        if (!ok) {
            spdlog::error("plugin download failed! url is {}", text(url));
            QFile::remove(tmpPath);
            finish(url, complete, false);
            return;
        }
        // Another download of the same package may have filled the cache meanwhile; that
        // copy is as good as ours.
        if (!QFile::exists(cachePath)) {
            QFile moved(tmpPath);
            if (!moved.rename(cachePath)) {
                spdlog::error("plugin moved failed: {}", text(moved.errorString()));
                QFile::remove(tmpPath);
                finish(url, complete, false);
                return;
            }
        } else {
            QFile::remove(tmpPath);
        }
        installCached(cachePath, url, complete);
    });
}

void ClipPluginPackageHelper::installCached(const QString& cachePath, const QString& url, Completion complete)
{
    std::weak_ptr<bool> alive = m_alive;
    m_manager.installPlugin(QUrl::fromLocalFile(cachePath), [this, alive, cachePath, url, complete](int code) {
        if (alive.expired())
            return;
        if (code == 0) {
            NotificationCenter::defaultCenter().post(NotificationName::PluginChanged);
            finish(url, complete, true);
            return;
        }
        spdlog::error("plugin install err: {}", code);
        // Otherwise the same broken file would be installed from the cache for ever.
        QFile::remove(cachePath);
        finish(url, complete, false);
    });
}

void ClipPluginPackageHelper::finish(const QString& url, const Completion& complete, bool ok)
{
    m_running.remove(url);
    if (complete)
        complete(ok);
}

void ClipPluginPackageHelper::download(const QUrl& url, const QString& destination, std::function<void(bool)> done)
{
    // The session's queue runs the handler; the rest of the flow belongs to the main thread.
    m_httpManager->download(url, destination, nullptr, [done](const HttpSession::Reply& reply) {
        const bool ok = !reply.error && reply.status >= 200 && reply.status <= 299;
        dispatch::mainAsync([done, ok] { done(ok); });
    });
}
