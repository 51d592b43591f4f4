#include "pluginfixture.h"

#include "support/testenv.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <zip.h>

#include <stdlib.h>

namespace pluginfixture {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QByteArray infoLua(const QByteArray& name, const QByteArray& bundleId, const QByteArray& version)
{
    return "plugin_name = \"" + name + "\"\nplugin_bundle_id = \"" + bundleId + "\"\nplugin_version = \"" + version
        + "\"\nplugin_desc = \"a test plugin\"\nplugin_author = \"tests\"\n";
}

void makePlugin(const QString& folder, const QByteArray& info, const QByteArray& main)
{
    ASSERT_TRUE(QDir().mkpath(folder));
    if (!info.isNull())
        writeFile(folder + QStringLiteral("/info.lua"), info);
    if (!main.isNull())
        writeFile(folder + QStringLiteral("/main.lua"), main);
}

namespace {
int appendChunk(lua_State*, const void* p, size_t size, void* ud)
{
    static_cast<QByteArray*>(ud)->append(static_cast<const char*>(p), static_cast<qsizetype>(size));
    return 0;
}
}  // namespace

QByteArray bytecodeOf(const QByteArray& source)
{
    lua_State* L = luaL_newstate();
    QByteArray out;
    if (luaL_loadstring(L, source.constData()) == LUA_OK)
        lua_dump(L, appendChunk, &out);
    lua_close(L);
    return out;
}

void makeZip(const QString& path, const std::vector<ZipEntry>& list)
{
    int error = 0;
    zip_t* archive = zip_open(path.toUtf8().constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr) << error;
    for (const ZipEntry& e : list) {
        if (e.name.endsWith('/')) {
            ASSERT_GE(zip_dir_add(archive, e.name.chopped(1).constData(), ZIP_FL_ENC_UTF_8), 0) << e.name.constData();
            continue;
        }
        // libzip takes over the copy and frees it when the archive is written.
        void* copy = nullptr;
        if (!e.data.isEmpty()) {
            copy = malloc(static_cast<size_t>(e.data.size()));
            memcpy(copy, e.data.constData(), static_cast<size_t>(e.data.size()));
        }
        zip_source_t* source = zip_source_buffer(archive, copy, static_cast<zip_uint64_t>(e.data.size()), 1);
        ASSERT_NE(source, nullptr);
        const zip_int64_t index = zip_file_add(archive, e.name.constData(), source, ZIP_FL_ENC_UTF_8);
        ASSERT_GE(index, 0) << e.name.constData() << ": " << zip_strerror(archive);
        if (e.store) {
            ASSERT_EQ(zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0), 0);
        }
    }
    ASSERT_EQ(zip_close(archive), 0) << zip_strerror(archive);
}

std::vector<ZipEntry> packageEntries(const QByteArray& info, const QByteArray& main, const QByteArray& folderName,
                                     const QByteArray& top)
{
    const QByteArray folder = top + "/" + folderName + "/";
    return {{top + "/", {}}, {folder, {}}, {folder + "info.lua", info}, {folder + "main.lua", main}};
}

StatePtr makeState(const QString& pluginsFolder, const QString& tmpFolder)
{
    QDir().mkpath(pluginsFolder);
    QDir().mkpath(tmpFolder);
    StatePtr state(plugin_state_new());
    if (state)
        plugin_state_set_folders(pluginsFolder.toUtf8().constData(), tmpFolder.toUtf8().constData(), state.get());
    return state;
}

QString pluginsDir()
{
    return testenv::home() + QStringLiteral("/plugins");
}

StatePtr scannedState()
{
    StatePtr state = makeState(pluginsDir(), testenv::home() + QStringLiteral("/tmp"));
    plugin_scan_folder(state.get());
    return state;
}

QByteArray run(plugin* record, const char* text)
{
    char* result = plugin_process_text(record, text);
    if (!result)
        return "<none>";
    QByteArray out(result);
    free(result);
    return out;
}

}  // namespace pluginfixture
