#include "platform/bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>

namespace {
QMutex g_mutex;
QString g_override;
}

QString Bundle::shortVersion()
{
    return QStringLiteral(NUVAREL_VERSION);
}

QString Bundle::buildVersion()
{
    return QStringLiteral(NUVAREL_BUILD);
}

void Bundle::setResourceOverride(const QString& folder)
{
    QMutexLocker lock(&g_mutex);
    g_override = folder;
}

QString Bundle::pathForResource(const QString& name, const QString& type)
{
    const QString file = type.isEmpty() ? name : name + QLatin1Char('.') + type;
    QStringList folders;
    {
        QMutexLocker lock(&g_mutex);
        if (!g_override.isEmpty())
            folders << g_override;
    }
    const QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (!exeDir.isEmpty()) {
        folders << exeDir << exeDir + QStringLiteral("/../share/nuvarel");
    }
    folders << QStringLiteral(NUVAREL_DATADIR) << QStringLiteral(":");
    for (const QString& folder : folders) {
        const QString path = QDir::cleanPath(folder + QLatin1Char('/') + file);
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
}

QString Bundle::builtinPluginsPath()
{
    return pathForResource(QStringLiteral("plugins"), QStringLiteral("bundle"));
}

QString Bundle::pathForAuxiliaryExecutable(const QString& name)
{
    QStringList folders;
    const QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (!exeDir.isEmpty())
        folders << exeDir << exeDir + QStringLiteral("/../libexec/nuvarel");
    folders << QStringLiteral(NUVAREL_LIBEXECDIR);
    for (const QString& folder : folders) {
        const QFileInfo file(QDir::cleanPath(folder + QLatin1Char('/') + name));
        if (file.isFile() && file.isExecutable())
            return file.filePath();
    }
    return QString();
}
