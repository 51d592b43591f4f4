#include "platform/linux/loginitemsxdg.h"
#include "platform/nmloginitems.h"

#include "support/testenv.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

class LoginItemsXdgTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(folder)); }
    void TearDown() override { LoginItems::setCurrent(nullptr); }

    void writeEntry(const QString& name, const QString& body)
    {
        QFile file(QDir(folder).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(body.toUtf8());
    }

    QString folder = testenv::home() + QStringLiteral("/.config/autostart");
    QString program = testenv::home() + QStringLiteral("/bin/nuvarel");
};

}  // namespace

TEST(LoginItemsXdgExec, ExecValuesRoundTripThroughTheQuotingRules)
{
    struct Case {
        QString path;
        QString exec;
    };
    const Case cases[] = {
        {QStringLiteral("/usr/bin/nuvarel"), QStringLiteral("/usr/bin/nuvarel")},
        {QStringLiteral("/opt/My Apps/nuvarel"), QStringLiteral("\"/opt/My Apps/nuvarel\"")},
        {QStringLiteral("/opt/a\"b$c`d\\e/nuvarel"), QStringLiteral("\"/opt/a\\\"b\\$c\\`d\\\\e/nuvarel\"")},
        {QStringLiteral("/home/用户/nuvarel"), QStringLiteral("\"/home/用户/nuvarel\"")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoginItemsXdg::execForPath(c.path), c.exec);
        EXPECT_EQ(LoginItemsXdg::programOfExec(c.exec), c.path);
    }
    EXPECT_EQ(LoginItemsXdg::programOfExec(QStringLiteral("/usr/bin/nuvarel --hidden %U")), QStringLiteral("/usr/bin/nuvarel"));
    EXPECT_EQ(LoginItemsXdg::programOfExec(QStringLiteral("\"/unclosed")), QString());
    EXPECT_EQ(LoginItemsXdg::programOfExec(QString()), QString());
}

TEST_F(LoginItemsXdgTest, AddContainsAndRemoveWorkOnTheAutostartFolder)
{
    LoginItemsXdg items;
    EXPECT_EQ(items.folder(), folder);
    EXPECT_FALSE(items.contains(program));
    ASSERT_TRUE(items.add(program, false));
    EXPECT_TRUE(items.contains(program));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/nuvarel.desktop")));
    // Another program's entry is neither seen nor touched.
    writeEntry(QStringLiteral("other.desktop"), QStringLiteral("[Desktop Entry]\nType=Application\nExec=/usr/bin/other\n"));
    EXPECT_FALSE(items.contains(QStringLiteral("/usr/bin/nuvarel")));
    // Every entry that starts the program goes, whatever its name.
    writeEntry(QStringLiteral("old-copy.desktop"),
               QStringLiteral("[Desktop Entry]\nType=Application\nExec=") + program + QStringLiteral(" --x\n"));
    ASSERT_TRUE(items.remove(program));
    EXPECT_FALSE(items.contains(program));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("other.desktop")});
}

TEST_F(LoginItemsXdgTest, DisabledEntriesAndOtherGroupsDoNotCount)
{
    struct Case {
        const char* name;
        QString body;
        bool counts;
    };
    const QString exec = QStringLiteral("Exec=") + program + QStringLiteral("\n");
    const Case cases[] = {
        {"plain", QStringLiteral("[Desktop Entry]\n") + exec, true},
        {"hidden", QStringLiteral("[Desktop Entry]\nHidden=true\n") + exec, false},
        {"switched off", QStringLiteral("[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n") + exec, false},
        {"an action's Exec", QStringLiteral("[Desktop Entry]\nExec=/usr/bin/x\n[Desktop Action a]\n") + exec, false},
        {"a relative program", QStringLiteral("[Desktop Entry]\nExec=nuvarel\n"), false},
    };
    LoginItemsXdg items;
    for (const Case& c : cases) {
        writeEntry(QStringLiteral("case.desktop"), c.body);
        EXPECT_EQ(items.contains(program), c.counts) << c.name;
    }
}

TEST_F(LoginItemsXdgTest, NMLoginItemsRefusesNoPath)
{
    LoginItems::setCurrent(std::make_shared<LoginItemsXdg>());
    EXPECT_FALSE(NMLoginItems::pathInLoginItems(QString()));
    EXPECT_FALSE(NMLoginItems::addPathToLoginItems(QString(), false));
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(NMLoginItems::addPathToLoginItems(program, false));
    EXPECT_TRUE(NMLoginItems::pathInLoginItems(program));
    EXPECT_TRUE(NMLoginItems::removePathFromLoginItems(program));
    EXPECT_FALSE(NMLoginItems::pathInLoginItems(program));
}
