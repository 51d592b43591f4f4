#include "store/pathhelper.h"
#include "support/testenv.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

TEST(PathHelper, FoldersLieUnderHomeAndComeBackAfterRemoval)
{
    const QString base = testenv::home() + QStringLiteral("/Library/Nuvarel");
    EXPECT_EQ(PathHelper::getBaseAppLibraryPath(), base);
    const struct { QString (*getter)(const QString&); const char* folder; } table[] = {
        {PathHelper::getBaseFilePath, "files"}, {PathHelper::getZipsFilePath, "zips"},
        {PathHelper::getEncFilePath, "encrypts"}, {PathHelper::getPreviewsFilePath, "previews"},
        {PathHelper::getPluginsPackageCachePath, "plugin_cache"}, {PathHelper::getTmpDir, "tmp"},
        {PathHelper::getDataFilePath, "datas"},
    };
    for (int round = 0; round < 2; ++round) {
        for (const auto& row : table) {
            const QString folder = base + QLatin1Char('/') + QLatin1String(row.folder);
            EXPECT_EQ(row.getter(QString()), folder);
            EXPECT_TRUE(QFileInfo(folder).isDir()) << row.folder;
            EXPECT_EQ(row.getter(QStringLiteral("abc")), folder + QStringLiteral("/abc"));
            EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/abc")));
        }
        EXPECT_EQ(PathHelper::getPluginsBaseDir(), base + QStringLiteral("/plugins"));
        EXPECT_TRUE(QFileInfo(base + QStringLiteral("/plugins")).isDir());
        QDir(base).removeRecursively();  // removed while running
    }
}

TEST(PathHelper, NamesThatAreNotOneComponentGiveNoPath)
{
    const QString nul = QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b");
    for (const QString& name : {QStringLiteral(""), QStringLiteral("."), QStringLiteral(".."),
                                QStringLiteral("../x"), QStringLiteral("a/b"), QStringLiteral("/etc"), nul}) {
        EXPECT_TRUE(PathHelper::getBaseFilePath(name).isEmpty()) << name.toStdString();
        EXPECT_TRUE(PathHelper::getBaseAppLibraryPath(name).isEmpty());
    }
    EXPECT_FALSE(PathHelper::getBaseFilePath(QStringLiteral("..a")).isEmpty());
}
