#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// Real plugin packages and store replies for the plugin window tests.
namespace pluginstorefixture {

// The bytes of a zip package holding one plugin (Payload/<folder>.cplugin/ with info.lua and
// a main.lua whose main returns the text with the tag appended).
QByteArray package(const QString& name, const QString& bundleId, const QString& version,
                   const QString& tag = QStringLiteral("!"));
// A zip that extracts but holds no plugin folder (install code 4).
QByteArray brokenPackage();
// Writes the bytes to the path; false on failure.
bool writeFile(const QString& path, const QByteArray& bytes);

// One store entry for the reply.
struct StoreEntry {
    QString bundleId;
    QString name;
    QString version;
    QString url;
};
// A store reply with code 0 holding the entries (keys of "plugin_dict" are "k<index>").
QJsonObject storeReply(const QList<StoreEntry>& entries);

}  // namespace pluginstorefixture
