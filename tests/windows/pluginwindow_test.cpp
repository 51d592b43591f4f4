#include "pluginwindowfixture.h"

#include "platform/userdefaults.h"
#include "service/httpsession.h"
#include "support/testca.h"
#include "support/webservice/webservicedouble.h"
#include "store/defaultskeys.h"
#include "windows/pluginstoretableviewcell.h"
#include "windows/alerts.h"
#include "windows/fake/alertsfake.h"
#include "windows/progressoverlay.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QJsonArray>
#include <QNetworkProxy>
#include <QSslCertificate>
#include <QPushButton>
#include <QTabWidget>

using namespace pluginwindowtest;
using pluginstorefixture::StoreEntry;

namespace {

QPushButton* addButtonOfRow(PluginWindowController& window, int row)
{
    auto* cell = qobject_cast<PluginStoreTableViewCell*>(
        window.storeTableView()->cellWidget(row, PluginWindowController::OptColumn));
    return cell ? cell->addButton() : nullptr;
}

}  // namespace

TEST_F(PluginWindowTest, TheStoreOffersOnlyWhatIsNotInstalled)
{
    makeBuiltin(QStringLiteral("b.builtin"), QStringLiteral("1.0"));
    installUser(QStringLiteral("u.user"), QStringLiteral("1.0"));
    servePackage(QStringLiteral("new.cpk"), QStringLiteral("s.new"), QStringLiteral("1.0"));
    serveStore({{QStringLiteral("b.builtin"), QStringLiteral("Builtin"), QStringLiteral("1.0"), packageUrl(QStringLiteral("b.cpk"))},
                {QStringLiteral("u.user"), QStringLiteral("User"), QStringLiteral("1.0"), packageUrl(QStringLiteral("u.cpk"))},
                {QStringLiteral("s.new"), QStringLiteral("New one"), QStringLiteral("1.3"), packageUrl(QStringLiteral("new.cpk"))}});
    showAndWaitForStore();

    EXPECT_EQ(installedIds(), (QStringList{QStringLiteral("b.builtin"), QStringLiteral("u.user")}));
    QTableWidget* store = window().storeTableView();
    ASSERT_EQ(store->rowCount(), 1);
    EXPECT_EQ(store->item(0, PluginWindowController::NameColumn)->text(), QStringLiteral("New one"));
    EXPECT_EQ(store->item(0, PluginWindowController::VersionColumn)->text(), QStringLiteral("1.3"));
    EXPECT_EQ(store->item(0, PluginWindowController::DescColumn)->text(), QStringLiteral("offered by the store"));
    EXPECT_EQ(store->item(0, PluginWindowController::AuthorColumn)->text(), QStringLiteral("Store"));
    ASSERT_NE(addButtonOfRow(window(), 0), nullptr);
    EXPECT_EQ(addButtonOfRow(window(), 0)->text(), QStringLiteral("添加"));
    EXPECT_EQ(window().tableView()->columnCount(), 4);
    EXPECT_EQ(store->columnCount(), 5);
    EXPECT_TRUE(window().isVisible());
    // The reply was cached for the next start.
    EXPECT_EQ(PluginStoreList::fromReply(PluginStoreList::readCache()).plugins().size(), 3);
}

TEST_F(PluginWindowTest, AddingFromTheStoreShowsTheOverlayAndMovesTheRow)
{
    // The double's own store list, with its own package URLs.
    servePackage(QStringLiteral("new.cpk"), QStringLiteral("s.new"), QStringLiteral("1.3"), QStringLiteral("New one"));
    showAndWaitForStore();
    ASSERT_EQ(window().storeArray().size(), 1);

    addButtonOfRow(window(), 0)->click();
    QPointer<ProgressOverlay> overlay = window().progressOverlay();
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->labelText(), QStringLiteral("添加中..."));
    ASSERT_TRUE(testenv::waitUntil([&] { return overlay.isNull() || overlay->isHiding(); }));
    if (overlay) {
        EXPECT_EQ(overlay->labelText(), QStringLiteral("完成中"));
    }
    ASSERT_TRUE(testenv::waitUntil([&] { return overlay.isNull(); }));

    EXPECT_EQ(installedIds(), QStringList{QStringLiteral("s.new")});
    EXPECT_EQ(window().storeTableView()->rowCount(), 0);
    EXPECT_EQ(packageRequests(QStringLiteral("new.cpk")), 1);
    EXPECT_TRUE(QFileInfo::exists(cachePath(QStringLiteral("s.new"), QStringLiteral("1.3"))));
    EXPECT_EQ(count(NotificationName::PluginChanged), 1);
    EXPECT_GE(count(NotificationName::DataChanged), 1);
    // The installed plugin runs.
    const PluginObjectPtr installed = pluginManager().listPlugins().value(QStringLiteral("s.new"));
    ASSERT_TRUE(installed);
    EXPECT_EQ(pluginManager().processText(QStringLiteral("x"), installed), QStringLiteral("x!"));
}

TEST_F(PluginWindowTest, RemovingAUserPluginPutsItBackIntoTheStore)
{
    makeBuiltin(QStringLiteral("b.builtin"), QStringLiteral("1.0"));
    installUser(QStringLiteral("u.user"), QStringLiteral("1.0"));
    serveStore({{QStringLiteral("u.user"), QStringLiteral("User"), QStringLiteral("1.0"), packageUrl(QStringLiteral("u.cpk"))}});
    showAndWaitForStore();
    EXPECT_EQ(window().storeTableView()->rowCount(), 0);

    const int row = int(installedIds().indexOf(QStringLiteral("u.user")));
    window().tableView()->selectRow(row);
    EXPECT_TRUE(window().removeButton()->isEnabled());
    window().removeButton()->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return window().storeTableView()->rowCount() == 1; }));
    EXPECT_EQ(installedIds(), QStringList{QStringLiteral("b.builtin")});
    EXPECT_EQ(window().storeArray().first()->plugin_bundle_id(), QStringLiteral("u.user"));
    EXPECT_GE(count(NotificationName::DataChanged), 1);

    // A built-in plugin cannot be removed: the button is off while it is selected, and the
    // removal itself leaves it in place. No selection removes nothing.
    window().tableView()->selectRow(0);
    EXPECT_FALSE(window().removeButton()->isEnabled());
    const int before = count(NotificationName::DataChanged);
    window().removeClicked();
    ASSERT_TRUE(testenv::waitUntil([&] { return count(NotificationName::DataChanged) > before; }));
    EXPECT_EQ(installedIds(), QStringList{QStringLiteral("b.builtin")});
    EXPECT_TRUE(QFileInfo::exists(testenv::home() + QStringLiteral("/res/plugins.bundle/b.builtin.cplugin/main.lua")));
    window().tableView()->clearSelection();
    EXPECT_FALSE(window().removeButton()->isEnabled());
    window().removeClicked();
    EXPECT_EQ(installedIds(), QStringList{QStringLiteral("b.builtin")});
}

TEST_F(PluginWindowTest, RemovalUsesTheRowsOnScreenWhenThePluginsChangedMeanwhile)
{
    installUser(QStringLiteral("a.first"), QStringLiteral("1.0"));
    installUser(QStringLiteral("b.second"), QStringLiteral("1.0"));
    installUser(QStringLiteral("c.third"), QStringLiteral("1.0"));
    window().reloadInstalledTableView();
    ASSERT_EQ(installedIds(), (QStringList{QStringLiteral("a.first"), QStringLiteral("b.second"), QStringLiteral("c.third")}));

    // Another path removes the first plugin; the rows on screen stay as they were.
    bool removed = false;
    pluginManager().removePlugin(pluginManager().listPlugins().value(QStringLiteral("a.first")), [&] { removed = true; });
    ASSERT_TRUE(testenv::waitUntil([&] { return removed; }));

    // The last row on screen is still c.third: it is the one removed, nothing is read past the end.
    window().tableView()->selectRow(2);
    window().removeButton()->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return window().installedArray().size() == 1; }));
    EXPECT_EQ(pluginManager().listPlugins().keys(), QStringList{QStringLiteral("b.second")});
    EXPECT_EQ(installedIds(), QStringList{QStringLiteral("b.second")});
}

TEST_F(PluginWindowTest, TwoClicksStartOneDownload)
{
    servePackage(QStringLiteral("slow.cpk"), QStringLiteral("s.slow"), QStringLiteral("1.0"));
    delayAnswer(QStringLiteral("/plugin_package/"), 400);
    const PluginObjectPtr entry = PluginObject::loadFromJsonDict(
        QJsonObject{{"bundle_id", "s.slow"}, {"version", "1.0"}, {"name", "Slow"}});
    const QString url = packageUrl(QStringLiteral("slow.cpk"));

    QList<bool> results;
    packageHelper().installPackageFromUrl(url, entry, [&](bool ok) { results << ok; });
    EXPECT_TRUE(packageHelper().isRunning(url));
    packageHelper().installPackageFromUrl(url, entry, [&](bool ok) { results << ok; });
    // The second call answers at once, before the download ends.
    ASSERT_TRUE(testenv::waitUntil([&] { return results.size() == 1; }));
    EXPECT_TRUE(results.first());
    EXPECT_TRUE(packageHelper().isRunning(url));
    ASSERT_TRUE(testenv::waitUntil([&] { return results.size() == 2; }));
    EXPECT_TRUE(results.last());
    EXPECT_FALSE(packageHelper().isRunning(url));
    EXPECT_EQ(packageRequests(QStringLiteral("slow.cpk")), 1);
    EXPECT_EQ(count(NotificationName::PluginChanged), 1);
    EXPECT_TRUE(pluginManager().listPlugins().contains(QStringLiteral("s.slow")));
}

TEST_F(PluginWindowTest, ACachedPackageInstallsWithoutARequest)
{
    const PluginObjectPtr entry = PluginObject::loadFromJsonDict(QJsonObject{{"bundle_id", "c.cached"}, {"version", "2.1"}});
    ASSERT_TRUE(pluginstorefixture::writeFile(cachePath(QStringLiteral("c.cached"), QStringLiteral("2.1")),
                                              pluginstorefixture::package(QStringLiteral("Cached"), QStringLiteral("c.cached"), QStringLiteral("2.1"))));
    std::optional<bool> result;
    packageHelper().installPackageFromUrl(packageUrl(QStringLiteral("cached.cpk")), entry, [&](bool ok) { result = ok; });
    ASSERT_TRUE(testenv::waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(*result);
    EXPECT_TRUE(pluginManager().listPlugins().contains(QStringLiteral("c.cached")));
    EXPECT_EQ(packageRequests(QStringLiteral("cached.cpk")), 0);
    EXPECT_EQ(count(NotificationName::PluginChanged), 1);
    // It stays cached for the next install.
    EXPECT_TRUE(QFileInfo::exists(cachePath(QStringLiteral("c.cached"), QStringLiteral("2.1"))));
}

TEST_F(PluginWindowTest, ACachedPackageThatFailsToInstallIsDeletedAndFetchedAfresh)
{
    const QString cache = cachePath(QStringLiteral("c.broken"), QStringLiteral("1.0"));
    ASSERT_TRUE(pluginstorefixture::writeFile(cache, pluginstorefixture::brokenPackage()));
    const PluginObjectPtr entry = PluginObject::loadFromJsonDict(QJsonObject{{"bundle_id", "c.broken"}, {"version", "1.0"}});
    servePackage(QStringLiteral("fixed.cpk"), QStringLiteral("c.broken"), QStringLiteral("1.0"));

    std::optional<bool> result;
    packageHelper().installPackageFromUrl(packageUrl(QStringLiteral("fixed.cpk")), entry, [&](bool ok) { result = ok; });
    ASSERT_TRUE(testenv::waitUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    EXPECT_FALSE(QFileInfo::exists(cache));
    EXPECT_FALSE(pluginManager().listPlugins().contains(QStringLiteral("c.broken")));
    EXPECT_EQ(count(NotificationName::PluginChanged), 0);
    EXPECT_EQ(packageRequests(QStringLiteral("fixed.cpk")), 0);

    // The next try downloads the good package and installs it.
    result.reset();
    packageHelper().installPackageFromUrl(packageUrl(QStringLiteral("fixed.cpk")), entry, [&](bool ok) { result = ok; });
    ASSERT_TRUE(testenv::waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(*result);
    EXPECT_EQ(packageRequests(QStringLiteral("fixed.cpk")), 1);
    EXPECT_TRUE(pluginManager().listPlugins().contains(QStringLiteral("c.broken")));
}

TEST_F(PluginWindowTest, ADownloadThatFailsInstallsNothingAndCachesNothing)
{
    struct Case {
        const char* name;
        int status;  // 0: the double serves a body that is no package
    };
    const Case cases[] = {{"not found", 404}, {"server error", 500}, {"redirect without a target", 302}, {"garbage body", 0}};
    int index = 0;
    for (const Case& c : cases) {
        const QString bundleId = QStringLiteral("f.fail%1").arg(index);
        const QString file = QStringLiteral("fail%1.cpk").arg(index++);
        clearFaults();
        if (c.status == 0) {
            serveBytes(file, "this is not a zip archive");
        } else {
            servePackage(file, bundleId, QStringLiteral("1.0"));
            answerStatus(QStringLiteral("/plugin_package/"), c.status);
        }
        const PluginObjectPtr entry = PluginObject::loadFromJsonDict(QJsonObject{{"bundle_id", bundleId}, {"version", "1.0"}});
        std::optional<bool> result;
        packageHelper().installPackageFromUrl(packageUrl(file), entry, [&](bool ok) { result = ok; });
        ASSERT_TRUE(testenv::waitUntil([&] { return result.has_value(); })) << c.name;
        EXPECT_FALSE(*result) << c.name;
        EXPECT_EQ(packageRequests(file), 1) << c.name;
        EXPECT_FALSE(QFileInfo::exists(cachePath(bundleId, QStringLiteral("1.0")))) << c.name;
        EXPECT_FALSE(pluginManager().listPlugins().contains(bundleId)) << c.name;
    }
    EXPECT_EQ(count(NotificationName::PluginChanged), 0);
    // No download leaves its file behind in the temporary folder.
    for (const QString& name : QDir(PathHelper::getTmpDir()).entryList(QDir::Files))
        EXPECT_FALSE(name.endsWith(QStringLiteral(".cpk"))) << name.toStdString();
}

TEST_F(PluginWindowTest, OnlyHttpPackageUrlsAreFetched)
{
    const PluginObjectPtr entry = PluginObject::loadFromJsonDict(QJsonObject{{"bundle_id", "e.evil"}, {"version", "1.0"}});
    for (const QString& url : {QStringLiteral("file:///etc/passwd"), QStringLiteral("not a url at all"), QString(),
                               QStringLiteral("ftp://127.0.0.1/p.cpk"), QStringLiteral("/etc/passwd")}) {
        std::optional<bool> result;
        packageHelper().installPackageFromUrl(url, entry, [&](bool ok) { result = ok; });
        ASSERT_TRUE(testenv::waitUntil([&] { return result.has_value(); })) << url.toStdString();
        EXPECT_FALSE(*result) << url.toStdString();
        // Without a completion nothing happens either.
        packageHelper().installPackageFromUrl(url, entry, nullptr);
    }
    EXPECT_FALSE(pluginManager().listPlugins().contains(QStringLiteral("e.evil")));
    EXPECT_TRUE(QDir(PathHelper::getPluginsPackageCachePath()).entryList(QDir::Files).isEmpty());
}

TEST_F(PluginWindowTest, AHostileStoreReplyOffersOnlyItsSoundEntries)
{
    servePackage(QStringLiteral("good.cpk"), QStringLiteral("g.good"), QStringLiteral("1.0"));
    QJsonObject reply = pluginstorefixture::storeReply(
        {{QStringLiteral("g.good"), QStringLiteral("Good"), QStringLiteral("1.0"), packageUrl(QStringLiteral("good.cpk"))},
         {QStringLiteral("e.evil"), QStringLiteral("Evil"), QStringLiteral("1.0"), QStringLiteral("file:///etc/passwd")}});
    QJsonObject dict = reply.value(QLatin1String("plugin_dict")).toObject();
    dict.insert(QStringLiteral("junk"), QJsonValue(42));
    dict.insert(QStringLiteral("nobundle"), QJsonObject{{"name", "No id"}});
    dict.insert(QStringLiteral("typed"), QJsonObject{{"bundle_id", QJsonArray{1}}, {"name", 5}});
    reply.insert(QStringLiteral("plugin_dict"), dict);
    serveStore(reply);
    showAndWaitForStore();
    EXPECT_EQ(names(window().storeTableView()), QStringList{QStringLiteral("Good")});
    EXPECT_FALSE(window().pluginURLDict().contains(QStringLiteral("e.evil")));

    // A reply whose code is not the integer 0, or that is no object, is left aside: the cached
    // list stays.
    const QJsonObject cached = PluginStoreList::readCache();
    for (const QByteArray& bad : {QByteArray(R"({"code":3,"plugin_url":{},"plugin_dict":{}})"),
                                  QByteArray(R"({"code":"0","plugin_url":{},"plugin_dict":{}})"),
                                  QByteArray(R"({"plugin_url":{},"plugin_dict":{}})"),
                                  QByteArray(R"([{"code":0}])"), QByteArray("garbage")}) {
        serveRaw(bad);
        EXPECT_EQ(requestAndWait(false), std::optional<bool>(false)) << bad.toStdString();
        EXPECT_EQ(PluginStoreList::readCache(), cached) << bad.toStdString();
        EXPECT_EQ(names(window().storeTableView()), QStringList{QStringLiteral("Good")});
    }
    // A good reply of the wrong types is an empty list.
    serveStore(QJsonObject{{"code", 0}, {"plugin_url", "x"}, {"plugin_dict", QJsonArray{}}});
    EXPECT_EQ(requestAndWait(false), std::optional<bool>(true));
    EXPECT_TRUE(window().storeArray().isEmpty());
}

TEST_F(PluginWindowTest, WithNoNetworkTheWindowShowsTheCachedList)
{
    ASSERT_TRUE(PluginStoreList::storeCache(pluginstorefixture::storeReply(
        {{QStringLiteral("c.cached"), QStringLiteral("Cached one"), QStringLiteral("1.0"), QStringLiteral("https://store.test/c.cpk")}})));
    answerStatus(QStringLiteral("/plugins/"), 503);
    // Shown at once from the cache, before any reply.
    EXPECT_EQ(names(window().storeTableView()), QStringList{QStringLiteral("Cached one")});
    EXPECT_EQ(requestAndWait(true), std::optional<bool>(false));
    EXPECT_EQ(requestCount(QStringLiteral("/plugins/")), 1);
    EXPECT_EQ(names(window().storeTableView()), QStringList{QStringLiteral("Cached one")});
    // No server at all.
    stopServer();
    EXPECT_EQ(requestAndWait(true), std::optional<bool>(false));
    EXPECT_EQ(names(window().storeTableView()), QStringList{QStringLiteral("Cached one")});
    EXPECT_EQ(PluginStoreList::fromReply(PluginStoreList::readCache()).plugins().size(), 1);
}

TEST_F(PluginWindowTest, AutomaticUpdateFollowsTheVersionOrder)
{
    struct Case {
        const char* installed;
        const char* offered;
        bool updates;
    };
    const Case cases[] = {
        {"1.2", "1.10", true}, {"1.2", "1.2.0", false}, {"1.2", "1.2.1", true},
        {"1.2", "1.2", false}, {"1.10", "1.9", false},  {"2.0", "10.0", true},
    };
    int index = 0;
    for (const Case& c : cases) {
        const QString bundleId = QStringLiteral("v.case%1").arg(index);
        const QString file = QStringLiteral("case%1.cpk").arg(index++);
        installUser(bundleId, QString::fromLatin1(c.installed));
        servePackage(file, bundleId, QString::fromLatin1(c.offered));
        // The installed version's cached package goes before an update.
        pluginstorefixture::writeFile(cachePath(bundleId, QString::fromLatin1(c.installed)), "old");
    }
    showAndWaitForStore();

    index = 0;
    for (const Case& c : cases) {
        const QString bundleId = QStringLiteral("v.case%1").arg(index);
        const QString file = QStringLiteral("case%1.cpk").arg(index++);
        const QString expected = QString::fromLatin1(c.updates ? c.offered : c.installed);
        EXPECT_TRUE(testenv::waitUntil([&] { return userVersions(bundleId) == QStringList{expected}; }))
            << c.installed << " -> " << c.offered;
        EXPECT_EQ(packageRequests(file), c.updates ? 1 : 0) << c.installed << " -> " << c.offered;
        EXPECT_EQ(QFileInfo::exists(cachePath(bundleId, QString::fromLatin1(c.installed))), !c.updates)
            << c.installed << " -> " << c.offered;
    }
    // Updated plugins appear with their new version on screen.
    EXPECT_TRUE(testenv::waitUntil([&] {
        const int row = int(installedIds().indexOf(QStringLiteral("v.case0")));
        return row >= 0 && window().tableView()->item(row, PluginWindowController::VersionColumn)->text() == QStringLiteral("1.10");
    }));
    EXPECT_TRUE(window().storeArray().isEmpty());
}

TEST_F(PluginWindowTest, ABuiltinPluginIsNeverUpdatedNorOffered)
{
    makeBuiltin(QStringLiteral("b.builtin"), QStringLiteral("1.0"));
    servePackage(QStringLiteral("b.cpk"), QStringLiteral("b.builtin"), QStringLiteral("9.0"));
    showAndWaitForStore();
    // An update would have started in the same step.
    EXPECT_FALSE(packageHelper().isRunning(packageUrl(QStringLiteral("b.cpk"))));
    EXPECT_EQ(packageRequests(QStringLiteral("b.cpk")), 0);
    EXPECT_TRUE(window().storeArray().isEmpty());
    EXPECT_TRUE(pluginManager().listUserPlugins().isEmpty());
    EXPECT_EQ(pluginManager().listPlugins().value(QStringLiteral("b.builtin"))->plugin_version(), QStringLiteral("1.0"));
}

TEST_F(PluginWindowTest, AddFromAFileInstallsTheChosenPackage)
{
    const QString file = testenv::home() + QStringLiteral("/mine.zip");
    ASSERT_TRUE(pluginstorefixture::writeFile(file, pluginstorefixture::package(QStringLiteral("Mine"), QStringLiteral("m.mine"), QStringLiteral("1.0"))));
    window().show();
    window().addButton()->click();
    QFileDialog* panel = window().openPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->labelText(QFileDialog::Accept), QStringLiteral("选择"));
    EXPECT_EQ(panel->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    // Without a Downloads folder, the home folder; with one, there.
    EXPECT_EQ(panel->directory().absolutePath(), QDir(testenv::home()).absolutePath());
    panel->selectFile(file);
    static_cast<QDialog*>(panel)->accept();
    ASSERT_TRUE(testenv::waitUntil([&] { return installedIds().contains(QStringLiteral("m.mine")); }));
    EXPECT_GE(count(NotificationName::DataChanged), 1);

    // Cancel installs nothing.
    ASSERT_TRUE(QDir().mkpath(testenv::home() + QStringLiteral("/Downloads")));
    window().addButton()->click();
    ASSERT_NE(window().openPanel(), nullptr);
    EXPECT_EQ(window().openPanel()->directory().absolutePath(), QDir(testenv::home() + QStringLiteral("/Downloads")).absolutePath());
    window().openPanel()->reject();
    EXPECT_TRUE(testenv::waitUntil([&] { return window().openPanel() == nullptr; }));
    EXPECT_EQ(installedIds(), QStringList{QStringLiteral("m.mine")});
}

TEST_F(PluginWindowTest, HelpAndGuideOpenThroughTheDesktop)
{
    window().helpButton()->click();
    // The page the server named; one that is no web address is not opened.
    UserDefaults::standard().setValue(DefaultsKey::DeveloperPage, QStringLiteral("file:///usr/bin/xterm"));
    window().helpButton()->click();
    UserDefaults::standard().setValue(DefaultsKey::DeveloperPage, QStringLiteral("https://dev.example.test/plugins"));
    window().helpButton()->click();
    window().guideButton()->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return delegate->urls.size() == 4; }));
    const QUrl builtin(PluginWindowController::builtinDeveloperPage());
    EXPECT_EQ(builtin.scheme(), QStringLiteral("https"));
    EXPECT_EQ(delegate->urls[0], builtin);
    EXPECT_EQ(delegate->urls[1], builtin);
    EXPECT_EQ(delegate->urls[2], QUrl(QStringLiteral("https://dev.example.test/plugins")));
    EXPECT_TRUE(delegate->urls[3].isLocalFile());
    EXPECT_TRUE(delegate->urls[3].toLocalFile().endsWith(QStringLiteral("/GettingStart.pdf")));
    EXPECT_TRUE(QFileInfo::exists(delegate->urls[3].toLocalFile()));
}

TEST_F(PluginWindowTest, APackageFromAServerWithAnUntrustedCertificateIsRefused)
{
    const QString dir = testenv::home();
    ASSERT_TRUE(testca::makeCertificates(dir));
    webdouble::WebServiceDouble tls;
    ASSERT_TRUE(tls.startTls((dir + QStringLiteral("/server.pem")).toStdString(),
                             (dir + QStringLiteral("/server.key")).toStdString()));
    {
        auto lock = tls.lock();
        tls.pluginRoutes().state().plugins.push_back(
            {QStringLiteral("t.tls"), QStringLiteral("Tls"), QString(), QStringLiteral("1.0"), QString(),
             pluginstorefixture::package(QStringLiteral("Tls"), QStringLiteral("t.tls"), QStringLiteral("1.0"))});
    }
    const QString url = QString::fromStdString(tls.baseURL()) + QStringLiteral("/plugin_package/?bundle_id=t.tls&version=1.0");
    ASSERT_TRUE(url.startsWith(QStringLiteral("https://")));
    const PluginObjectPtr entry = PluginObject::loadFromJsonDict(QJsonObject{{"bundle_id", "t.tls"}, {"version", "1.0"}});

    std::optional<bool> result;
    packageHelper().installPackageFromUrl(url, entry, [&](bool ok) { result = ok; });
    ASSERT_TRUE(testenv::waitUntil([&] { return result.has_value(); }, std::chrono::seconds(20)));
    EXPECT_FALSE(*result);
    EXPECT_TRUE(tls.requests().empty());
    EXPECT_FALSE(QFileInfo::exists(cachePath(QStringLiteral("t.tls"), QStringLiteral("1.0"))));
    EXPECT_FALSE(pluginManager().listPlugins().contains(QStringLiteral("t.tls")));

    // Trusted once its CA is.
    packageHelper().httpManager().addCaCertificates(testca::caOf(dir));
    result.reset();
    packageHelper().installPackageFromUrl(url, entry, [&](bool ok) { result = ok; });
    ASSERT_TRUE(testenv::waitUntil([&] { return result.has_value(); }, std::chrono::seconds(20)));
    EXPECT_TRUE(*result);
    EXPECT_TRUE(pluginManager().listPlugins().contains(QStringLiteral("t.tls")));
    tls.stop();
}

TEST_F(PluginWindowTest, AFileThatCannotBeInstalledIsToldToTheUser)
{
    auto alerts = std::make_shared<AlertsFake>();
    Alerts::setCurrent(alerts);
    const QString file = testenv::home() + QStringLiteral("/holiday.jpg");
    ASSERT_TRUE(pluginstorefixture::writeFile(file, QByteArray("not a plugin package")));
    window().show();
    window().addButton()->click();
    ASSERT_NE(window().openPanel(), nullptr);
    window().openPanel()->selectFile(file);
    static_cast<QDialog*>(window().openPanel())->accept();
    ASSERT_TRUE(testenv::waitUntil([&] { return alerts->count() == 1; }));
    EXPECT_EQ(alerts->texts(), QStringList{QStringLiteral("插件安装失败|“holiday.jpg”不是可以安装的插件包。")});
    EXPECT_EQ(alerts->shown().first().parent, &window());
    EXPECT_TRUE(installedIds().isEmpty());

    // A good package says nothing.
    const QString good = testenv::home() + QStringLiteral("/mine.zip");
    ASSERT_TRUE(pluginstorefixture::writeFile(good, pluginstorefixture::package(QStringLiteral("Mine"), QStringLiteral("m.mine"), QStringLiteral("1.0"))));
    window().addButton()->click();
    ASSERT_NE(window().openPanel(), nullptr);
    window().openPanel()->selectFile(good);
    static_cast<QDialog*>(window().openPanel())->accept();
    ASSERT_TRUE(testenv::waitUntil([&] { return installedIds().contains(QStringLiteral("m.mine")); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(alerts->count(), 1);
    Alerts::setCurrent(nullptr);
}

TEST_F(PluginWindowTest, AStoreThatOffersNothingSaysSo)
{
    installUser(QStringLiteral("u.user"), QStringLiteral("1.0"));
    // Everything the store has is installed already.
    serveStore({{QStringLiteral("u.user"), QStringLiteral("User"), QStringLiteral("1.0"), packageUrl(QStringLiteral("u.cpk"))}});
    showAndWaitForStore();
    EXPECT_EQ(window().storeTableView()->rowCount(), 0);
    ASSERT_NE(window().storeEmptyLabel(), nullptr);
    EXPECT_FALSE(window().storeEmptyLabel()->isHidden());
    EXPECT_EQ(window().storeEmptyLabel()->text(), QStringLiteral("插件商店暂时没有可添加的插件"));

    servePackage(QStringLiteral("new.cpk"), QStringLiteral("s.new"), QStringLiteral("1.0"));
    serveStore({{QStringLiteral("u.user"), QStringLiteral("User"), QStringLiteral("1.0"), packageUrl(QStringLiteral("u.cpk"))},
                {QStringLiteral("s.new"), QStringLiteral("New one"), QStringLiteral("1.0"), packageUrl(QStringLiteral("new.cpk"))}});
    showAndWaitForStore();
    EXPECT_EQ(window().storeTableView()->rowCount(), 1);
    EXPECT_TRUE(window().storeEmptyLabel()->isHidden());
}

TEST_F(PluginWindowTest, EscapeClosesTheWindowWhichCarriesTheAppIcon)
{
    EXPECT_FALSE(window().windowIcon().isNull());
    EXPECT_FALSE(window().windowIcon().pixmap(32, 32).isNull());
    window().show();
    ASSERT_TRUE(testenv::waitUntil([&] { return window().isVisible(); }));
    window().activateWindow();
    window().tableView()->setFocus();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window().tableView(), &press);
    EXPECT_FALSE(window().isVisible());
}

// A package runs code as it installs: over plain http anyone on the path could supply it,
// so http is taken only from loopback (the test servers), never from another address.
TEST_F(PluginWindowTest, APlainHttpPackageIsFetchedOnlyFromLoopback)
{
    webdouble::WebServiceDouble plain;
    ASSERT_TRUE(plain.start());
    {
        auto lock = plain.lock();
        plain.pluginRoutes().state().plugins.push_back(
            {QStringLiteral("h.plain"), QStringLiteral("Plain"), QString(), QStringLiteral("1.0"), QString(),
             pluginstorefixture::package(QStringLiteral("Plain"), QStringLiteral("h.plain"), QStringLiteral("1.0"))});
    }
    const QString path = QStringLiteral(":%1/plugin_package/?bundle_id=h.plain&version=1.0").arg(plain.port());
    // A host outside loopback, reached through a proxy that is the loopback server itself:
    // were the URL followed, the request would land there, and no traffic leaves the machine.
    const QString remote = QStringLiteral("http://store.example") + path;
    struct ProxyScope {
        QNetworkProxy previous = QNetworkProxy::applicationProxy();
        ~ProxyScope() { QNetworkProxy::setApplicationProxy(previous); }
    };
    auto proxy = std::make_optional<ProxyScope>();
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), plain.port()));
    const PluginObjectPtr entry = PluginObject::loadFromJsonDict(QJsonObject{{"bundle_id", "h.plain"}, {"version", "1.0"}});

    std::optional<bool> result;
    packageHelper().installPackageFromUrl(remote, entry, [&](bool ok) { result = ok; });
    ASSERT_TRUE(testenv::waitUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(*result);
    EXPECT_FALSE(packageHelper().isRunning(remote));
    EXPECT_TRUE(plain.requests().empty());
    EXPECT_FALSE(QFileInfo::exists(cachePath(QStringLiteral("h.plain"), QStringLiteral("1.0"))));
    EXPECT_FALSE(pluginManager().listPlugins().contains(QStringLiteral("h.plain")));
    // Nor does the store offer it.
    EXPECT_FALSE(PluginStoreList::isPackageURL(remote));
    proxy.reset();

    // The same server reached through loopback is a test server: fetched.
    const QString local = QStringLiteral("http://127.0.0.1") + path;
    EXPECT_TRUE(PluginStoreList::isPackageURL(local));
    result.reset();
    packageHelper().installPackageFromUrl(local, entry, [&](bool ok) { result = ok; });
    ASSERT_TRUE(testenv::waitUntil([&] { return result.has_value(); }, std::chrono::seconds(20)));
    EXPECT_TRUE(*result);
    EXPECT_EQ(plain.requestsTo("/plugin_package/").size(), 1u);
    EXPECT_TRUE(pluginManager().listPlugins().contains(QStringLiteral("h.plain")));
}

// A store that trickles, oversizes or redirects a package elsewhere installs nothing and
// caches nothing, and the download is no longer marked as running.
TEST_F(PluginWindowTest, AHostilePackageDownloadEndsWithoutAFile)
{
    webdouble::WebServiceDouble elsewhere;
    ASSERT_TRUE(elsewhere.startTls((certsDir() + QStringLiteral("/server.pem")).toStdString(),
                                   (certsDir() + QStringLiteral("/server.key")).toStdString()));
    {
        auto lock = elsewhere.lock();
        elsewhere.pluginRoutes().state().plugins.push_back(
            {QStringLiteral("h.bad"), QStringLiteral("Bad"), QString(), QStringLiteral("1.0"), QString(),
             pluginstorefixture::package(QStringLiteral("Bad"), QStringLiteral("h.bad"), QStringLiteral("1.0"))});
    }
    servePackage(QStringLiteral("bad.cpk"), QStringLiteral("h.bad"), QStringLiteral("1.0"));
    HttpSession& session = packageHelper().httpManager();
    // A real package is a few kilobytes; the session's own cap is kept far above that.
    session.setMaxReplySize(64);
    struct Case {
        const char* name;
        webdouble::Fault fault;
    };
    const Case cases[] = {
        {"a byte at a time", webdouble::Fault::trickling(std::chrono::milliseconds(50))},
        {"over the cap", webdouble::Fault()},
        {"redirected to another port",
         webdouble::Fault::redirect(307, elsewhere.baseURL() + "/plugin_package/?bundle_id=h.bad&version=1.0")},
    };
    const QString url = packageUrl(QStringLiteral("bad.cpk"));
    const PluginObjectPtr entry = PluginObject::loadFromJsonDict(QJsonObject{{"bundle_id", "h.bad"}, {"version", "1.0"}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.setDeadline(c.fault.trickle.count() > 0 ? std::chrono::milliseconds(700) : HttpSession::kDefaultDeadline);
        clearFaults();
        answerWith(QStringLiteral("/plugin_package/"), c.fault);
        std::optional<bool> result;
        packageHelper().installPackageFromUrl(url, entry, [&](bool ok) { result = ok; });
        EXPECT_TRUE(packageHelper().isRunning(url));
        ASSERT_TRUE(testenv::waitUntil([&] { return result.has_value(); }, std::chrono::seconds(20)));
        EXPECT_FALSE(*result);
        EXPECT_FALSE(packageHelper().isRunning(url));
        EXPECT_FALSE(QFileInfo::exists(cachePath(QStringLiteral("h.bad"), QStringLiteral("1.0"))));
        EXPECT_TRUE(QDir(PathHelper::getTmpDir()).entryList(QDir::Files).isEmpty());
        EXPECT_FALSE(pluginManager().listPlugins().contains(QStringLiteral("h.bad")));
    }
    EXPECT_TRUE(elsewhere.requests().empty());
    EXPECT_EQ(count(NotificationName::PluginChanged), 0);
}
