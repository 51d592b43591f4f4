#include "pluginstorefixture.h"

#include "support/testenv.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <zip.h>

#include <stdlib.h>
#include <string.h>

#include <utility>
#include <vector>

namespace pluginstorefixture {

namespace {

// Entries in order; a name ending in "/" is a folder.
QByteArray zipOf(const std::vector<std::pair<QByteArray, QByteArray>>& entries)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("p.zip")));
    int error = 0;
    zip_t* archive = zip_open(path.constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return {};
    for (const auto& [name, data] : entries) {
        if (name.endsWith('/')) {
            zip_dir_add(archive, name.chopped(1).constData(), ZIP_FL_ENC_UTF_8);
            continue;
        }
        // libzip frees the copy once the archive is written.
        void* copy = malloc(static_cast<size_t>(data.size()) + 1);
        memcpy(copy, data.constData(), static_cast<size_t>(data.size()));
        zip_source_t* source = zip_source_buffer(archive, copy, static_cast<zip_uint64_t>(data.size()), 1);
        if (!source || zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_discard(archive);
            return {};
        }
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        return {};
    }
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray luaString(const QString& text)
{
    QByteArray quoted = text.toUtf8();
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + quoted + '"';
}

}  // namespace

QByteArray package(const QString& name, const QString& bundleId, const QString& version, const QString& tag)
{
    const QByteArray info = "plugin_name = " + luaString(name) + "\nplugin_bundle_id = " + luaString(bundleId)
                            + "\nplugin_version = " + luaString(version) + "\nplugin_desc = \"from the store\"\n"
                            + "plugin_author = \"Tester\"\n";
    const QByteArray main = "function main(text) return text .. " + luaString(tag) + " end\n";
    return zipOf({{"Payload/", {}},
                  {"Payload/store.cplugin/", {}},
                  {"Payload/store.cplugin/info.lua", info},
                  {"Payload/store.cplugin/main.lua", main}});
}

QByteArray brokenPackage()
{
    return zipOf({{"Payload/", {}}, {"Payload/readme.txt", "no plugin here"}});
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QJsonObject storeReply(const QList<StoreEntry>& entries)
{
    QJsonObject urls;
    QJsonObject dict;
    int index = 0;
    for (const StoreEntry& e : entries) {
        urls.insert(e.bundleId, e.url);
        dict.insert(QStringLiteral("k%1").arg(index++),
                    QJsonObject{{QStringLiteral("bundle_id"), e.bundleId},
                                {QStringLiteral("name"), e.name},
                                {QStringLiteral("version"), e.version},
                                {QStringLiteral("desc"), QStringLiteral("offered by the store")},
                                {QStringLiteral("author"), QStringLiteral("Store")}});
    }
    return QJsonObject{{QStringLiteral("code"), 0}, {QStringLiteral("plugin_url"), urls},
                       {QStringLiteral("plugin_dict"), dict}};
}

}  // namespace pluginstorefixture
