#include "store/pathhelper.h"

#include <QDir>

namespace {

QString libraryFolder()
{
    return QDir::homePath() + QStringLiteral("/Library/Nuvarel");
}

// A null name means "the folder itself"; an empty or unsafe one is refused.
QString folderWithName(const QString& folder, const QString& name)
{
    QDir().mkpath(folder);
    if (name.isNull())
        return folder;
    if (!PathHelper::isSafeComponent(name))
        return QString();
    return folder + QLatin1Char('/') + name;
}

QString subFolder(const char* sub, const QString& name)
{
    return folderWithName(libraryFolder() + QLatin1Char('/') + QLatin1String(sub), name);
}

}  // namespace

bool PathHelper::isSafeComponent(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(u'\0'));
}

QString PathHelper::getBaseAppLibraryPath(const QString& name) { return folderWithName(libraryFolder(), name); }
QString PathHelper::getBaseFilePath(const QString& name) { return subFolder("files", name); }
QString PathHelper::getZipsFilePath(const QString& name) { return subFolder("zips", name); }
QString PathHelper::getEncFilePath(const QString& name) { return subFolder("encrypts", name); }
QString PathHelper::getPreviewsFilePath(const QString& name) { return subFolder("previews", name); }
QString PathHelper::getPluginsBaseDir() { return subFolder("plugins", QString()); }
QString PathHelper::getPluginsPackageCachePath(const QString& name) { return subFolder("plugin_cache", name); }
QString PathHelper::getTmpDir(const QString& name) { return subFolder("tmp", name); }
QString PathHelper::getDataFilePath(const QString& name) { return subFolder("datas", name); }
