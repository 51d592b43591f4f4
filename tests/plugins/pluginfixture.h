#pragma once

#include "plugins/engine/plugin.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Real plugin folders and real zip archives for the engine tests.
namespace pluginfixture {

void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// Names in the folder, sorted, without "." and "..".
QStringList entries(const QString& folder);

// The text of an info.lua that sets name, bundle id and version.
QByteArray infoLua(const QByteArray& name, const QByteArray& bundleId, const QByteArray& version = "1.0");
// Makes folder (with parents) and writes info.lua and main.lua into it; a null text writes no file.
void makePlugin(const QString& folder, const QByteArray& info, const QByteArray& main);

// A Lua chunk compiled to bytecode.
QByteArray bytecodeOf(const QByteArray& source);

struct ZipEntry {
    QByteArray name;  // ending in "/" for a folder
    QByteArray data;
    bool store = false;  // kept uncompressed, so its bytes appear as they are in the archive
};
// Writes a zip archive with libzip, entries in the given order.
void makeZip(const QString& path, const std::vector<ZipEntry>& entries);
// The entries of a package holding one plugin folder named folderName under top.
std::vector<ZipEntry> packageEntries(const QByteArray& info, const QByteArray& main,
                                     const QByteArray& folderName = "demo.cplugin",
                                     const QByteArray& top = "Payload");

struct StateDeleter {
    void operator()(clip_plugin_state* s) const { plugin_state_free(s); }
};
using StatePtr = std::unique_ptr<clip_plugin_state, StateDeleter>;
// A state over the given folders (both made).
StatePtr makeState(const QString& pluginsFolder, const QString& tmpFolder);

// The test's plugins folder, under its temporary home.
QString pluginsDir();
// A state over the test's plugins and tmp folders, scanned.
StatePtr scannedState();

// What the plugin returns for text, or "<none>".
QByteArray run(plugin* record, const char* text);

}  // namespace pluginfixture
