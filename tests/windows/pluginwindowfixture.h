#pragma once

// The plugin window tests: a real PluginManager over the test's home (with a built-in plugins
// folder of its own), a real package helper, and the web-service test double on loopback
// serving the store list and real zip packages.

#include "pluginstorefixture.h"
#include "platform/bundle.h"
#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "plugins/pluginmanager.h"
#include "service/clippluginpackagehelper.h"
#include "store/clipapphelper.h"
#include "store/notificationnames.h"
#include "store/pathhelper.h"
#include "support/testenv.h"
#include "windows/pluginwindowcontroller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace webdouble {
struct Fault;
}

namespace pluginwindowtest {

struct RecordingDelegate : ClipAppDelegate {
    QList<QUrl> urls;
    void openURL(const QUrl& url) override { urls << url; }
};

class StoreServer;

class PluginWindowTest : public ::testing::Test {
protected:
    PluginWindowTest();
    ~PluginWindowTest() override;
    void SetUp() override;
    void TearDown() override;

    // A plugin folder in the built-in plugins of this test (before the manager is made).
    static void makeBuiltin(const QString& bundleId, const QString& version);
    // Installs a package straight into the user plugins (the way a file install does).
    void installUser(const QString& bundleId, const QString& version);

    // A test names each package by a file name of its own. Its URL on the double
    // ("/plugin_package/" with its bundle id and version; a name never served gives 404).
    QString packageUrl(const QString& file) const;
    // Adds the plugin, with a real package, to the double's store (its own "/plugins/" list
    // offers it unless the test answers that path itself).
    void servePackage(const QString& file, const QString& bundleId, const QString& version,
                      const QString& name = QString());
    // Serves the bytes as the package of that file name.
    void serveBytes(const QString& file, const QByteArray& bytes);
    // The double answers "/plugins/" with this reply (or these bytes) from now on.
    void serveStore(const QJsonObject& reply);
    void serveRaw(const QByteArray& body);
    void stopServer();
    void serveStore(const QList<pluginstorefixture::StoreEntry>& entries);
    // How many requests the double saw for the path.
    int requestCount(const QString& path) const;
    int packageRequests(const QString& file) const;
    // The double answers the path with the status (and no body) from now on.
    void answerStatus(const QString& path, int status);
    // The double holds its answer for the path this long.
    void delayAnswer(const QString& path, int milliseconds);
    // The double answers the path with this fault from now on.
    void answerWith(const QString& path, const webdouble::Fault& fault);
    // The folder of the test CA and the certificate the double serves with.
    static QString certsDir();
    void clearFaults();

    // The window, made on first use, not yet shown.
    PluginWindowController& window();
    // Shows it (or only requests the list) and waits until the store reply was handled;
    // whether it was accepted.
    std::optional<bool> requestAndWait(bool show);
    // Shows it and waits for a good store reply.
    void showAndWaitForStore();

    // Bundle ids in the installed and the store table, in row order, read from the cells.
    static QStringList names(QTableWidget* table);
    QStringList installedIds();
    QStringList userVersions(const QString& bundleId);
    // The cache file of the package of this plugin and version.
    static QString cachePath(const QString& bundleId, const QString& version);

    int count(const QString& notification) const { return m_counts.value(notification); }

    // Made on first use, so the built-in plugins a test makes first are loaded.
    PluginManager& pluginManager();
    ClipPluginPackageHelper& packageHelper();

    std::unique_ptr<StoreServer> server;
    std::unique_ptr<PluginManager> manager;
    std::unique_ptr<ClipPluginPackageHelper> helper;
    std::unique_ptr<PluginWindowController> m_window;
    std::shared_ptr<RecordingDelegate> delegate;
    QObject observerOwner;
    QMap<QString, int> m_counts;
};

}  // namespace pluginwindowtest
