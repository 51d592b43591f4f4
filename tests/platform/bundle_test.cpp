#include "platform/bundle.h"
#include "platform/linux/systemdeviceinfo.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

TEST(Bundle, VersionComesFromTheBuild)
{
    EXPECT_FALSE(Bundle::shortVersion().isEmpty());
    EXPECT_FALSE(Bundle::buildVersion().isEmpty());
}

TEST(Bundle, FindsResourcesInTheOverrideFolderFirst)
{
    const QString folder = testenv::home() + QStringLiteral("/res");
    QDir().mkpath(folder + QStringLiteral("/plugins.bundle"));
    QFile f(folder + QStringLiteral("/privacy.lua"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    Bundle::setResourceOverride(folder);
    EXPECT_EQ(Bundle::pathForResource(QStringLiteral("privacy"), QStringLiteral("lua")), f.fileName());
    EXPECT_EQ(Bundle::builtinPluginsPath(), folder + QStringLiteral("/plugins.bundle"));
    EXPECT_TRUE(Bundle::pathForResource(QStringLiteral("absent"), QStringLiteral("lua")).isEmpty());
    Bundle::setResourceOverride(QString());
}

TEST(DeviceInfo, SystemVersionHasThreeNumbers)
{
    SystemDeviceInfo info;
    const auto v = info.osVersion();
    EXPECT_GT(v[0], 0);
    EXPECT_GE(v[1], 0);
    EXPECT_GE(v[2], 0);
    EXPECT_EQ(info.osTypePrefix(), QStringLiteral("linux_"));
    EXPECT_FALSE(info.hostName().isEmpty());
}

TEST(Bundle, FindsHelperProgramsNextToTheProgramOnly)
{
    // The tests run from the build tree's bin folder, beside the Lua worker.
    EXPECT_EQ(Bundle::pathForAuxiliaryExecutable(QStringLiteral("nuvarel-luaworker")),
              QCoreApplication::applicationDirPath() + QStringLiteral("/nuvarel-luaworker"));
    // A resource beside it is not a program.
    ASSERT_TRUE(QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/privacy.lua")));
    EXPECT_TRUE(Bundle::pathForAuxiliaryExecutable(QStringLiteral("privacy.lua")).isEmpty());
    EXPECT_TRUE(Bundle::pathForAuxiliaryExecutable(QStringLiteral("absent-helper")).isEmpty());
}
