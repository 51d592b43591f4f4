#include "plugins/engine/package.h"
#include "plugins/engine/plugininstall.h"
#include "pluginfixture.h"
#include "store/digest.h"
#include "store/pathhelper.h"
#include "support/testenv.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

using namespace pluginfixture;

namespace {

QString installedName(const QByteArray& bundleId)
{
    return md5HexOfData(bundleId) + QStringLiteral(".cplugin");
}

QByteArray versionMain(const QByteArray& version)
{
    return "function main(t) return '" + version + ":' .. t end\n";
}

// Sets the recorded uncompressed size of the named entry, in its local and central headers.
void patchRecordedSize(QByteArray& zip, const QByteArray& name, quint32 size)
{
    const auto put32 = [&](qsizetype at) {
        for (int i = 0; i < 4; ++i)
            zip[at + i] = static_cast<char>((size >> (8 * i)) & 0xff);
    };
    int patched = 0;
    for (qsizetype at = 0; (at = zip.indexOf("PK", at)) >= 0; ++at) {
        if (zip.mid(at, 4) == QByteArray("PK\x03\x04", 4) && zip.mid(at + 30, name.size()) == name) {
            put32(at + 22);
            ++patched;
        } else if (zip.mid(at, 4) == QByteArray("PK\x01\x02", 4) && zip.mid(at + 46, name.size()) == name) {
            put32(at + 24);
            ++patched;
        }
    }
    ASSERT_EQ(patched, 2);
}

class PluginPackage : public ::testing::Test {
protected:
    void SetUp() override
    {
        plugins = PathHelper::getPluginsBaseDir();
        tmp = PathHelper::getTmpDir();
        state = makeState(plugins, tmp);
        ASSERT_TRUE(state);
    }

    // Each package gets a file of its own unless named.
    QString package(const std::vector<ZipEntry>& list, const QString& name = QString())
    {
        const QString file = name.isEmpty() ? QStringLiteral("p%1.cpk").arg(++packages) : name;
        const QString path = testenv::home() + QStringLiteral("/") + file;
        makeZip(path, list);
        return path;
    }
    int install(const QString& path) { return plugin_install_package(path.toUtf8().constData(), state.get()); }
    int installVersion(const QByteArray& bundleId, const QByteArray& version)
    {
        return install(package(packageEntries(infoLua("Demo", bundleId, version), versionMain(version))));
    }

    QString plugins;
    QString tmp;
    int packages = 0;
    StatePtr state;
};

}  // namespace

TEST_F(PluginPackage, InstallReplacesTheSameBundleIdWhateverTheVersion)
{
    const QString folder = plugins + QStringLiteral("/") + installedName("com.demo");
    for (const char* version : {"1.0", "2.0", "1.0"}) {
        SCOPED_TRACE(version);
        ASSERT_EQ(installVersion("com.demo", version), PLUGIN_INSTALL_OK);
        EXPECT_EQ(entries(plugins), QStringList{installedName("com.demo")});
        ASSERT_EQ(state->count, 1);  // reloaded
        EXPECT_STREQ(state->plugins[0]->version, version);
        EXPECT_EQ(QString::fromUtf8(state->plugins[0]->path), folder + QStringLiteral("/"));
        EXPECT_EQ(run(state->plugins[0], "x"), QByteArray(version) + ":x");
        EXPECT_EQ(entries(tmp), QStringList());  // the extraction folder is gone
    }
}

TEST_F(PluginPackage, InstalledFilesKeepTheirBytes)
{
    QByteArray data;
    for (int i = 0; i < 10000; ++i)
        data.append(static_cast<char>((i * 31) ^ (i >> 3)));
    std::vector<ZipEntry> list = packageEntries(infoLua("Demo", "com.demo"), versionMain("1"));
    list.push_back({"Payload/demo.cplugin/data.bin", data});
    list.push_back({"Payload/demo.cplugin/stored.bin", data, true});
    list.push_back({"Payload/demo.cplugin/empty.txt", QByteArray()});
    list.push_back({"Payload/demo.cplugin/sub/", {}});
    list.push_back({"Payload/demo.cplugin/sub/x.lua", "return 1"});
    list.push_back({"outside.txt", "extracted but not installed"});
    ASSERT_EQ(install(package(list)), PLUGIN_INSTALL_OK);
    const QString folder = plugins + QStringLiteral("/") + installedName("com.demo");
    EXPECT_EQ(readFile(folder + QStringLiteral("/data.bin")), data);
    EXPECT_EQ(readFile(folder + QStringLiteral("/stored.bin")), data);
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/empty.txt")));
    EXPECT_EQ(readFile(folder + QStringLiteral("/sub/x.lua")), "return 1");
    EXPECT_FALSE(QFileInfo(folder + QStringLiteral("/data.bin")).permissions().testFlag(QFileDevice::ExeOwner));
    EXPECT_EQ(entries(tmp), QStringList());
}

TEST_F(PluginPackage, FailuresGiveTheirCodeAndKeepTheInstalledVersion)
{
    ASSERT_EQ(installVersion("com.demo", "1.0"), PLUGIN_INSTALL_OK);
    const QString installed = plugins + QStringLiteral("/") + installedName("com.demo");

    const QByteArray info = infoLua("Demo", "com.demo", "9.9");
    const QByteArray main = versionMain("9.9");
    std::vector<ZipEntry> payloadFile = {{"Payload", "a file"}};
    std::vector<ZipEntry> filesFirst = {{"Payload/demo.cplugin/info.lua", info},
                                        {"Payload/demo.cplugin/main.lua", main},
                                        {"Payload/", {}},
                                        {"Payload/demo.cplugin/", {}}};
    std::vector<ZipEntry> pluginLink = packageEntries(info, main);
    struct Case {
        const char* what;
        QString path;
        int code;
    };
    const Case cases[] = {
        {"no file", testenv::home() + QStringLiteral("/absent.cpk"), PLUGIN_INSTALL_NO_PACKAGE},
        {"lower-case payload", package(packageEntries(info, main, "demo.cplugin", "payload")), PLUGIN_INSTALL_NO_PAYLOAD},
        {"payload is a file", package(payloadFile), PLUGIN_INSTALL_NO_PAYLOAD},
        {"folder not ending in .cplugin", package(packageEntries(info, main, "demo.plugin")), PLUGIN_INSTALL_NO_PLUGIN},
        {"no bundle id", package(packageEntries("plugin_name = 'Demo'\nplugin_version = '9.9'\n", main)),
         PLUGIN_INSTALL_BAD_INFO},
        {"no info.lua", package({{"Payload/", {}}, {"Payload/demo.cplugin/", {}}, {"Payload/demo.cplugin/main.lua", main}}),
         PLUGIN_INSTALL_BAD_INFO},
        {"info.lua never ends", package(packageEntries("plugin_name='D' plugin_bundle_id='com.demo' while true do end", main)),
         PLUGIN_INSTALL_BAD_INFO},
        {"files before their folders", package(filesFirst), PLUGIN_INSTALL_EXTRACT_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(install(c.path), c.code);
        EXPECT_EQ(entries(plugins), QStringList{installedName("com.demo")});
        EXPECT_EQ(readFile(installed + QStringLiteral("/main.lua")), versionMain("1.0"));
        EXPECT_EQ(entries(tmp), QStringList());
        ASSERT_EQ(state->count, 1);
        EXPECT_STREQ(state->plugins[0]->version, "1.0");
    }
}

TEST_F(PluginPackage, InfoLuaReadsItsStringsAndCannotTouchFilesOrRunPrograms)
{
    const QString byIo = testenv::home() + QStringLiteral("/written-by-io");
    const QString byOs = testenv::home() + QStringLiteral("/written-by-os");
    const QByteArray strings = "plugin_name = 'Hostile' plugin_bundle_id = 'com.hostile'\n";
    const QByteArray main = versionMain("1.0");
    struct Case {
        const char* what;
        QByteArray info;
        int code;
    };
    const Case cases[] = {
        {"io", "io.open('" + byIo.toUtf8() + "', 'w'):write('x')\n" + strings, PLUGIN_INSTALL_BAD_INFO},
        {"os", "os.execute('touch " + byOs.toUtf8() + "')\n" + strings, PLUGIN_INSTALL_BAD_INFO},
        {"io after the strings", strings + "io.open('" + byIo.toUtf8() + "', 'w'):write('x')\n", PLUGIN_INSTALL_BAD_INFO},
        {"require", "require('io')\n" + strings, PLUGIN_INSTALL_BAD_INFO},
        {"a file loaded as code", "dofile('" + byIo.toUtf8() + "')\n" + strings, PLUGIN_INSTALL_BAD_INFO},
        {"a chunk from a string", "load('x = 1')()\n" + strings, PLUGIN_INSTALL_BAD_INFO},
        {"the strings, made with the string library",
         "plugin_name = ('demo'):upper() plugin_bundle_id = string.format('com.%s', 'fine')\n"
         "plugin_version = tostring(2) .. '.0' plugin_author = select(2, pcall(error, 'me', 0))\n",
         PLUGIN_INSTALL_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(install(package(packageEntries(c.info, main))), c.code);
        EXPECT_FALSE(QFileInfo::exists(byIo));
        EXPECT_FALSE(QFileInfo::exists(byOs));
    }
    ASSERT_EQ(state->count, 1);
    EXPECT_STREQ(state->plugins[0]->name, "DEMO");
    EXPECT_STREQ(state->plugins[0]->bundle_id, "com.fine");
    EXPECT_STREQ(state->plugins[0]->version, "2.0");
    EXPECT_STREQ(state->plugins[0]->author, "me");
}

TEST_F(PluginPackage, DamagedArchivesFailToExtract)
{
    ASSERT_EQ(installVersion("com.demo", "1.0"), PLUGIN_INSTALL_OK);
    const QByteArray marker = "0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz";
    std::vector<ZipEntry> list = packageEntries(infoLua("Demo", "com.demo", "2.0"), versionMain("2.0"));
    list.push_back({"Payload/demo.cplugin/data.txt", marker, true});

    const QString crc = package(list, QStringLiteral("crc.cpk"));
    QByteArray bytes = readFile(crc);
    const qsizetype at = bytes.indexOf(marker);
    ASSERT_GE(at, 0);
    bytes[at + 10] = 'X';
    writeFile(crc, bytes);

    const QString corrupt = testenv::home() + QStringLiteral("/corrupt.cpk");
    writeFile(corrupt, "PK\x03\x04 this is not really a zip archive at all");
    const QString truncated = testenv::home() + QStringLiteral("/truncated.cpk");
    const QByteArray whole = readFile(package(list, QStringLiteral("whole.cpk")));
    writeFile(truncated, whole.left(whole.size() / 2));

    // Deflated data that inflates to more, or to less, than its headers say.
    QStringList sized;
    for (const quint32 size : {static_cast<quint32>(marker.size() - 1), static_cast<quint32>(marker.size() + 1)}) {
        std::vector<ZipEntry> deflated = packageEntries(infoLua("Demo", "com.demo", "2.0"), versionMain("2.0"));
        deflated.push_back({"Payload/demo.cplugin/data.txt", marker});
        const QString path = package(deflated);
        QByteArray zip = readFile(path);
        patchRecordedSize(zip, "Payload/demo.cplugin/data.txt", size);
        writeFile(path, zip);
        sized << path;
    }

    for (const QString& path : QStringList{crc, corrupt, truncated} + sized) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(install(path), PLUGIN_INSTALL_EXTRACT_FAILED);
        ASSERT_EQ(state->count, 1);
        EXPECT_STREQ(state->plugins[0]->version, "1.0");
        EXPECT_EQ(entries(tmp), QStringList());
    }
    // The undamaged copy installs.
    EXPECT_EQ(install(testenv::home() + QStringLiteral("/whole.cpk")), PLUGIN_INSTALL_OK);
}

TEST_F(PluginPackage, EntriesThatWouldLeaveTheFolderAreRefused)
{
    const QByteArray info = infoLua("Demo", "com.demo");
    const QByteArray main = versionMain("1");
    const QString outside = testenv::home() + QStringLiteral("/escaped");
    const QByteArray absolute = outside.toUtf8() + "/abs.txt";
    const QByteArray names[] = {"../x",           "Payload/../../x",         "Payload/demo.cplugin/../../../x",
                                absolute,         "..",                      "Payload/..",
                                "../escaped/",    "Payload/demo.cplugin/.."};
    QDir().mkpath(outside);
    for (const QByteArray& name : names) {
        SCOPED_TRACE(name.constData());
        std::vector<ZipEntry> list = packageEntries(info, main);
        list.push_back({name, "escaped"});
        EXPECT_EQ(install(package(list)), PLUGIN_INSTALL_EXTRACT_FAILED);
        EXPECT_EQ(entries(outside), QStringList());
        EXPECT_FALSE(QFileInfo::exists(testenv::home() + QStringLiteral("/Library/Nuvarel/x")));
        EXPECT_FALSE(QFileInfo::exists(testenv::home() + QStringLiteral("/Library/x")));
        EXPECT_EQ(entries(tmp), QStringList());
        EXPECT_EQ(entries(plugins), QStringList());
    }
    EXPECT_TRUE(package_entry_name_is_safe("a/b..c/..d/x"));
    EXPECT_TRUE(package_entry_name_is_safe("./a"));
    EXPECT_FALSE(package_entry_name_is_safe(""));
}

TEST_F(PluginPackage, PackagesAreBounded)
{
    const QByteArray info = infoLua("Demo", "com.demo");
    const QByteArray main = versionMain("1");
    std::vector<ZipEntry> many = packageEntries(info, main);
    // The filler is stored, not deflated: a deflate stream per entry made writing the archive
    // the slowest part of the test, and the bound counts entries however they are packed.
    while (many.size() <= static_cast<size_t>(PACKAGE_MAX_ENTRIES))
        many.push_back({"Payload/f" + QByteArray::number(static_cast<qulonglong>(many.size())), "x", true});
    EXPECT_EQ(install(package(many, QStringLiteral("many.cpk"))), PLUGIN_INSTALL_EXTRACT_FAILED);

    std::vector<ZipEntry> big = packageEntries(info, main);
    big.push_back({"Payload/demo.cplugin/half1", QByteArray(static_cast<qsizetype>(PACKAGE_MAX_BYTES / 2), '\0')});
    big.push_back({"Payload/demo.cplugin/half2", QByteArray(static_cast<qsizetype>(PACKAGE_MAX_BYTES / 2), '\0')});
    EXPECT_EQ(install(package(big, QStringLiteral("big.cpk"))), PLUGIN_INSTALL_EXTRACT_FAILED);
    EXPECT_EQ(entries(tmp), QStringList());
    EXPECT_EQ(entries(plugins), QStringList());

    // Just inside both bounds it installs.
    many.resize(PACKAGE_MAX_ENTRIES);
    EXPECT_EQ(install(package(many, QStringLiteral("many.cpk"))), PLUGIN_INSTALL_OK);
}

// A folder tree deeper than 64 names is refused before anything is written; 64 deep installs.
TEST_F(PluginPackage, DeepFolderTreesAreRefused)
{
    const auto deepPackage = [&](int depth) {
        std::vector<ZipEntry> list = packageEntries(infoLua("Deep", "com.deep"), versionMain("1"));
        QByteArray folder = "Payload/demo.cplugin/";
        for (int level = 3; level <= depth; ++level) {
            folder += "d/";
            list.push_back({folder, {}});
        }
        return list;
    };
    EXPECT_EQ(package_entry_depth("Payload/demo.cplugin/info.lua"), 3);
    EXPECT_EQ(package_entry_depth("Payload//demo.cplugin/"), 2);
    EXPECT_EQ(package_entry_depth(""), 0);

    EXPECT_EQ(install(package(deepPackage(PACKAGE_MAX_DEPTH + 1))), PLUGIN_INSTALL_EXTRACT_FAILED);
    EXPECT_EQ(entries(tmp), QStringList());
    EXPECT_EQ(entries(plugins), QStringList());

    ASSERT_EQ(install(package(deepPackage(PACKAGE_MAX_DEPTH))), PLUGIN_INSTALL_OK);
    ASSERT_EQ(state->count, 1);
    EXPECT_EQ(plugin_remove(state->plugins[0]->path, state.get()), 0);
    EXPECT_EQ(entries(plugins), QStringList());
}

// Removal holds a few descriptors, not one per level: a tree far deeper than the descriptors
// the process may still open goes whole, and the next install of its bundle id works.
TEST_F(PluginPackage, RemovalOfADeepTreeNeedsFewDescriptors)
{
    ASSERT_EQ(installVersion("com.deep", "1"), PLUGIN_INSTALL_OK);
    const QString folder = plugins + QStringLiteral("/") + installedName("com.deep");
    QString deepest = folder;
    for (int level = 0; level < 300; ++level)
        deepest += QStringLiteral("/d");
    ASSERT_TRUE(QDir().mkpath(deepest));
    writeFile(deepest + QStringLiteral("/leaf.txt"), "x");
    writeFile(folder + QStringLiteral("/d/d/side.txt"), "y");

    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit few = saved;
    few.rlim_cur = static_cast<rlim_t>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size() + 32);
    ASSERT_LT(few.rlim_cur, saved.rlim_cur);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
    const int result = plugin_remove_tree(folder.toUtf8().constData());
    setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_EQ(result, 0);
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(installVersion("com.deep", "2"), PLUGIN_INSTALL_OK);
    EXPECT_EQ(entries(plugins), QStringList{installedName("com.deep")});
}

TEST_F(PluginPackage, AFailedWriteFailsTheInstall)
{
    std::vector<ZipEntry> list = packageEntries(infoLua("Demo", "com.demo"), versionMain("1"));
    list.push_back({"Payload/demo.cplugin/big.bin", QByteArray(256 * 1024, 'z')});
    const QString path = package(list);

    // A file-size limit makes writes fail the way a full disk does.
    signal(SIGXFSZ, SIG_IGN);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int code = install(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);

    EXPECT_EQ(code, PLUGIN_INSTALL_EXTRACT_FAILED);
    EXPECT_EQ(entries(plugins), QStringList());
    EXPECT_EQ(entries(tmp), QStringList());
    EXPECT_EQ(install(path), PLUGIN_INSTALL_OK);
}

TEST_F(PluginPackage, AFailedInstallDoesNotPoisonTheNext)
{
    // Left behind in a shared extraction folder, "aaa.cplugin" would be found again by the next install.
    ASSERT_EQ(install(package(packageEntries("plugin_name = 'Broken'\n", versionMain("0"), "aaa.cplugin"))),
              PLUGIN_INSTALL_BAD_INFO);
    ASSERT_EQ(install(package(packageEntries(infoLua("Good", "com.good"), versionMain("1"), "zzz.cplugin"))),
              PLUGIN_INSTALL_OK);
    EXPECT_EQ(entries(plugins), QStringList{installedName("com.good")});
    ASSERT_EQ(state->count, 1);
    EXPECT_STREQ(state->plugins[0]->name, "Good");

    // The tmp folder itself may be gone by now.
    ASSERT_TRUE(QDir(tmp).removeRecursively());
    EXPECT_EQ(installVersion("com.other", "1"), PLUGIN_INSTALL_OK);
}

TEST_F(PluginPackage, RemoveDeletesTheFolderAndReloads)
{
    ASSERT_EQ(installVersion("com.a", "1"), PLUGIN_INSTALL_OK);
    ASSERT_EQ(installVersion("com.b", "1"), PLUGIN_INSTALL_OK);
    ASSERT_EQ(state->count, 2);
    const int gone = QByteArray(state->plugins[0]->bundle_id) == "com.a" ? 0 : 1;
    EXPECT_EQ(plugin_remove(state->plugins[gone]->path, state.get()), 0);
    EXPECT_EQ(entries(plugins), QStringList{installedName("com.b")});
    ASSERT_EQ(state->count, 1);
    EXPECT_STREQ(state->plugins[0]->bundle_id, "com.b");

    EXPECT_EQ(plugin_remove(nullptr, state.get()), 0);
    EXPECT_EQ(plugin_remove("", state.get()), 0);
    EXPECT_EQ(state->count, 1);
}

TEST_F(PluginPackage, RemovalNeverFollowsLinksOrLeavesThePluginsFolder)
{
    const QString outside = testenv::home() + QStringLiteral("/outside");
    makePlugin(outside + QStringLiteral("/real.cplugin"), infoLua("Linked", "com.linked"), versionMain("1"));
    makePlugin(outside + QStringLiteral("/inner"), infoLua("x", "y"), "return 1");
    // A linked plugin folder, and a link inside a real one.
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/real.cplugin"), plugins + QStringLiteral("/link.cplugin")));
    makePlugin(plugins + QStringLiteral("/own.cplugin"), infoLua("Own", "com.own"), versionMain("1"));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/inner"), plugins + QStringLiteral("/own.cplugin/inner")));
    plugin_scan_folder(state.get());
    ASSERT_EQ(state->count, 2);

    const QStringList outsideBefore = entries(outside + QStringLiteral("/real.cplugin"));
    // Paths outside the plugins folder are left alone.
    for (const QString& other : {outside + QStringLiteral("/real.cplugin/"), plugins, plugins + QStringLiteral("/"),
                                 plugins + QStringLiteral("/.."), plugins + QStringLiteral("/own.cplugin/inner")}) {
        plugin_remove(other.toUtf8().constData(), state.get());
        EXPECT_EQ(entries(outside + QStringLiteral("/real.cplugin")), outsideBefore) << other.toStdString();
        EXPECT_EQ(entries(plugins), (QStringList{QStringLiteral("link.cplugin"), QStringLiteral("own.cplugin")}));
    }
    ASSERT_EQ(state->count, 2);

    for (int i = 0; i < state->count; ++i) {
        if (QByteArray(state->plugins[i]->bundle_id) == "com.linked") {
            plugin_remove(state->plugins[i]->path, state.get());
            break;
        }
    }
    EXPECT_EQ(entries(plugins), QStringList{QStringLiteral("own.cplugin")});
    EXPECT_EQ(entries(outside + QStringLiteral("/real.cplugin")), outsideBefore);

    plugin_remove((plugins + QStringLiteral("/own.cplugin/")).toUtf8().constData(), state.get());
    EXPECT_EQ(entries(plugins), QStringList());
    EXPECT_EQ(entries(outside + QStringLiteral("/inner")),
              (QStringList{QStringLiteral("info.lua"), QStringLiteral("main.lua")}));
    EXPECT_EQ(state->count, 0);
}

TEST_F(PluginPackage, FindPackageFolderAndMd5Hex)
{
    const QString payload = testenv::home() + QStringLiteral("/Payload");
    QDir().mkpath(payload + QStringLiteral("/a.plugin"));
    writeFile(payload + QStringLiteral("/file.cplugin"), "x");
    char path[PLUGIN_PATH_SIZE];
    char name[PLUGIN_PATH_SIZE];
    EXPECT_EQ(plugin_find_package_folder(payload.toUtf8().constData(), path, name), 1);
    QDir().mkpath(payload + QStringLiteral("/b.cplugin"));
    ASSERT_EQ(plugin_find_package_folder(payload.toUtf8().constData(), path, name), 0);
    EXPECT_EQ(QString::fromUtf8(path), payload + QStringLiteral("/b.cplugin"));
    EXPECT_STREQ(name, "b.cplugin");

    char hex[33];
    md5_hex("abc", hex);
    EXPECT_STREQ(hex, "900150983cd24fb0d6963f7d28e17f72");
    md5_hex("", hex);
    EXPECT_STREQ(hex, "d41d8cd98f00b204e9800998ecf8427e");
}
