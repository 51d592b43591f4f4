#pragma once

#include "plugins/engine/package.h"
#include "plugins/pluginobject.h"

#include <QSet>
#include <QString>

#include <functional>
#include <memory>

class HttpSession;
class QUrl;
class PluginManager;

// Fetches plugin packages from the plugin store into the package cache ("plugin_cache") and
// installs them into the user plugins through PluginManager. A package already in the cache
// is installed without a download. Downloads go through the session "pluginpackage download
// manager" (certificates verified); every completion and "NOTIF_PLUGIN_CHANGED" arrive on the
// main queue.
//
// Use from the main thread only.
class ClipPluginPackageHelper {
public:
    using Completion = std::function<void(bool)>;
    // The most a package download may bring: what the extractor unpacks at most, and room
    // for the archive's headers.
    static constexpr qint64 kMaxPackageSize = qint64(PACKAGE_MAX_BYTES) + 8 * 1024 * 1024;

    static ClipPluginPackageHelper& sharedInstance();
    // Installs through the given manager (tests give their own); the application uses
    // sharedInstance with the shared manager.
    explicit ClipPluginPackageHelper(PluginManager& manager);
    ~ClipPluginPackageHelper();

    ClipPluginPackageHelper(const ClipPluginPackageHelper&) = delete;
    ClipPluginPackageHelper& operator=(const ClipPluginPackageHelper&) = delete;

    // The cache file name of a package: the MD5 hex of "<bundle id>_<version>" and ".cpk".
    static QString fileNameFromPlugin(const PluginObject& plugin);

    // Downloads the package unless it is cached, then installs it. complete (may be empty)
    // runs once on the main queue: true when the plugin was installed, or when a download of
    // the same URL is already running (that download installs it); false otherwise. Only
    // absolute https URLs are fetched (http only from a loopback address). A download answered outside 200-299 installs
    // nothing; a cache file that fails to install is deleted, so it is fetched afresh next
    // time.
    void installPackageFromUrl(const QString& url, const PluginObjectPtr& plugin, Completion complete);

    // True while a download or install of this URL, started here, has not ended.
    bool isRunning(const QString& url) const { return m_running.contains(url); }

    HttpSession& httpManager();

private:
    void download(const QUrl& url, const QString& destination, std::function<void(bool)> done);
    void installCached(const QString& cachePath, const QString& url, Completion complete);
    void finish(const QString& url, const Completion& complete, bool ok);

    PluginManager& m_manager;
    std::unique_ptr<HttpSession> m_httpManager;
    // URLs whose download or install runs now; touched on the main thread only.
    QSet<QString> m_running;
    // Callbacks that outlive the helper (tests make and drop helpers) check this first.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
