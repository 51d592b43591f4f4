#include "pluginwindowfixture.h"

#include <QHeaderView>
#include <QJsonDocument>
#include <QUrlQuery>

#include "platform/userdefaults.h"
#include "service/httpsession.h"
#include "service/requestmanager.h"
#include "store/defaultskeys.h"
#include "support/mainqueue.h"
#include "support/testca.h"
#include "support/webservice/webservicedouble.h"

namespace pluginwindowtest {

// The double over HTTPS on a loopback port (packages come only over https), the test CA
// that signed its certificate, and which package each file name of a test stands for.
class StoreServer {
public:
    webdouble::WebServiceDouble double_;
    QList<QSslCertificate> ca;
    QMap<QString, QPair<QString, QString>> files;  // file -> (bundle id, version)
    QString base;
};

PluginWindowTest::PluginWindowTest() = default;
PluginWindowTest::~PluginWindowTest() = default;

void PluginWindowTest::SetUp()
{
    const QString res = testenv::home() + QStringLiteral("/res");
    ASSERT_TRUE(QDir().mkpath(res + QStringLiteral("/plugins.bundle")));
    Bundle::setResourceOverride(res);
    delegate = std::make_shared<RecordingDelegate>();
    ClipAppHelper::sharedInstance().setDelegate(delegate);
    for (const QString& name : {QString(NotificationName::PluginChanged), QString(NotificationName::DataChanged)})
        NotificationCenter::defaultCenter().addObserver(name, &observerOwner,
                                                        [this, name](const Notification&) { ++m_counts[name]; });
    server = std::make_unique<StoreServer>();
    const QString certs = certsDir();
    ASSERT_TRUE(QDir().mkpath(certs));
    ASSERT_TRUE(testca::makeCertificates(certs));
    server->ca = testca::caOf(certs);
    ASSERT_FALSE(server->ca.isEmpty());
    ASSERT_TRUE(server->double_.startTls((certs + QStringLiteral("/server.pem")).toStdString(),
                                         (certs + QStringLiteral("/server.key")).toStdString()));
    // The store list comes through the shared session, the packages through the helper's.
    RequestManager::sharedSession().addCaCertificates(server->ca);
    server->base = QString::fromStdString(server->double_.baseURL());
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, server->base);
}

void PluginWindowTest::TearDown()
{
    m_window.reset();
    helper.reset();
    manager.reset();
    NotificationCenter::defaultCenter().removeObserversOf(&observerOwner);
    ClipAppHelper::sharedInstance().setDelegate(nullptr);
    Bundle::setResourceOverride(QString());
    server->double_.stop();
    server.reset();
    RequestManager::sharedSession().clearAddedCaCertificates();
    // Completions queued for what was just dropped find nothing to call.
    EXPECT_TRUE(testenv::waitForMainQueue());
}

PluginManager& PluginWindowTest::pluginManager()
{
    if (!manager)
        manager = std::make_unique<PluginManager>();
    return *manager;
}

ClipPluginPackageHelper& PluginWindowTest::packageHelper()
{
    if (!helper) {
        helper = std::make_unique<ClipPluginPackageHelper>(pluginManager());
        helper->httpManager().addCaCertificates(server->ca);
    }
    return *helper;
}

PluginWindowController& PluginWindowTest::window()
{
    if (!m_window)
        m_window = std::make_unique<PluginWindowController>(pluginManager(), packageHelper());
    return *m_window;
}

void PluginWindowTest::makeBuiltin(const QString& bundleId, const QString& version)
{
    const QString folder = testenv::home() + QStringLiteral("/res/plugins.bundle/") + bundleId + QStringLiteral(".cplugin");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray info = "plugin_name = \"" + bundleId.toUtf8() + "\"\nplugin_bundle_id = \"" + bundleId.toUtf8()
                            + "\"\nplugin_version = \"" + version.toUtf8() + "\"\n";
    ASSERT_TRUE(pluginstorefixture::writeFile(folder + QStringLiteral("/info.lua"), info));
    ASSERT_TRUE(pluginstorefixture::writeFile(folder + QStringLiteral("/main.lua"), "function main(t) return t end\n"));
}

void PluginWindowTest::installUser(const QString& bundleId, const QString& version)
{
    const QString file = testenv::home() + QStringLiteral("/") + bundleId + QStringLiteral(".zip");
    ASSERT_TRUE(pluginstorefixture::writeFile(file, pluginstorefixture::package(bundleId, bundleId, version)));
    std::optional<int> code;
    pluginManager().installPlugin(QUrl::fromLocalFile(file), [&](int c) { code = c; });
    ASSERT_TRUE(testenv::waitUntil([&] { return code.has_value(); }));
    ASSERT_EQ(*code, 0);
}

QString PluginWindowTest::packageUrl(const QString& file) const
{
    const auto known = server->files.value(file, {file, QStringLiteral("none")});
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("bundle_id"), known.first);
    query.addQueryItem(QStringLiteral("version"), known.second);
    return server->base + QStringLiteral("/plugin_package/?") + query.toString(QUrl::FullyEncoded);
}

void PluginWindowTest::servePackage(const QString& file, const QString& bundleId, const QString& version,
                                    const QString& name)
{
    auto lock = server->double_.lock();
    server->double_.pluginRoutes().state().plugins.push_back(
        {bundleId, name.isEmpty() ? bundleId : name, QStringLiteral("from the store"), version, QStringLiteral("Tester"),
         pluginstorefixture::package(name.isEmpty() ? bundleId : name, bundleId, version)});
    server->files.insert(file, {bundleId, version});
}

void PluginWindowTest::serveBytes(const QString& file, const QByteArray& bytes)
{
    auto lock = server->double_.lock();
    const QString bundleId = QStringLiteral("raw.") + file;
    server->double_.pluginRoutes().state().plugins.push_back(
        {bundleId, file, QString(), QStringLiteral("0"), QString(), bytes});
    server->files.insert(file, {bundleId, QStringLiteral("0")});
}

void PluginWindowTest::serveStore(const QJsonObject& reply)
{
    server->double_.setFault("/plugins/", webdouble::Fault::rawBody(QJsonDocument(reply).toJson().toStdString()));
}

void PluginWindowTest::serveRaw(const QByteArray& body)
{
    server->double_.setFault("/plugins/", webdouble::Fault::rawBody(body.toStdString()));
}

void PluginWindowTest::stopServer()
{
    server->double_.stop();
}

void PluginWindowTest::serveStore(const QList<pluginstorefixture::StoreEntry>& entries)
{
    serveStore(pluginstorefixture::storeReply(entries));
}

int PluginWindowTest::requestCount(const QString& path) const
{
    return int(server->double_.requestsTo(path.toStdString()).size());
}

int PluginWindowTest::packageRequests(const QString& file) const
{
    const auto known = server->files.value(file, {file, QStringLiteral("none")});
    int n = 0;
    for (const webdouble::RecordedRequest& r : server->double_.requestsTo("/plugin_package/")) {
        const QUrlQuery query(QString::fromStdString(r.query));
        if (query.queryItemValue(QStringLiteral("bundle_id"), QUrl::FullyDecoded) == known.first
            && query.queryItemValue(QStringLiteral("version"), QUrl::FullyDecoded) == known.second)
            ++n;
    }
    return n;
}

void PluginWindowTest::answerStatus(const QString& path, int status)
{
    server->double_.setFault(path.toStdString(), webdouble::Fault::status(status));
}

void PluginWindowTest::delayAnswer(const QString& path, int milliseconds)
{
    server->double_.setFault(path.toStdString(), webdouble::Fault::delayed(std::chrono::milliseconds(milliseconds)));
}

void PluginWindowTest::answerWith(const QString& path, const webdouble::Fault& fault)
{
    server->double_.setFault(path.toStdString(), fault);
}

QString PluginWindowTest::certsDir()
{
    return testenv::home() + QStringLiteral("/certs");
}

void PluginWindowTest::clearFaults()
{
    server->double_.clearFaults();
}

std::optional<bool> PluginWindowTest::requestAndWait(bool show)
{
    std::optional<bool> accepted;
    QMetaObject::Connection c = QObject::connect(&window(), &PluginWindowController::storeReplyHandled,
                                                 [&](bool ok) { accepted = ok; });
    if (show)
        window().showWindow();
    else
        window().requestRemoteData();
    EXPECT_TRUE(testenv::waitUntil([&] { return accepted.has_value(); }));
    QObject::disconnect(c);
    return accepted;
}

void PluginWindowTest::showAndWaitForStore()
{
    ASSERT_EQ(requestAndWait(true), std::optional<bool>(true));
}

QStringList PluginWindowTest::names(QTableWidget* table)
{
    QStringList out;
    for (int row = 0; row < table->rowCount(); ++row) {
        QTableWidgetItem* item = table->item(row, PluginWindowController::NameColumn);
        out << (item ? item->text() : QStringLiteral("<none>"));
    }
    return out;
}

QStringList PluginWindowTest::installedIds()
{
    QStringList ids;
    for (const PluginObjectPtr& plugin : window().installedArray())
        ids << plugin->plugin_bundle_id().value_or(QString());
    // The table shows the same rows, by name (the packages here are named by bundle id
    // unless the test gave a name).
    EXPECT_EQ(window().tableView()->rowCount(), ids.size());
    return ids;
}

QStringList PluginWindowTest::userVersions(const QString& bundleId)
{
    const PluginObjectPtr plugin = pluginManager().listUserPlugins().value(bundleId);
    return plugin ? QStringList{plugin->plugin_version().value_or(QString())} : QStringList();
}

QString PluginWindowTest::cachePath(const QString& bundleId, const QString& version)
{
    const PluginObjectPtr entry = PluginObject::loadFromJsonDict(
        QJsonObject{{QStringLiteral("bundle_id"), bundleId}, {QStringLiteral("version"), version}});
    return PathHelper::getPluginsPackageCachePath(ClipPluginPackageHelper::fileNameFromPlugin(*entry));
}

}  // namespace pluginwindowtest
