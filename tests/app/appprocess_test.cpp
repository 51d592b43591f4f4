#include "platform/linux/instancelockfile.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// The program itself, started in this test's home on the offscreen platform.
class AppProcess : public ::testing::Test {
protected:
    void start(QProcess& process)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), testenv::home());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), testenv::home() + QStringLiteral("/.config"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("DISPLAY"));
        process.setProcessEnvironment(env);
        process.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/nuvarel"));
        process.start();
        ASSERT_TRUE(process.waitForStarted()) << process.errorString().toStdString();
    }
    bool finished(QProcess& process)
    {
        return testenv::waitUntil([&] { return process.state() == QProcess::NotRunning; }, 20s);
    }
    QString lockFile() const
    {
        return testenv::home() + QStringLiteral("/Library/Nuvarel/") + QLatin1String(InstanceLockFile::FileName);
    }
    QString log() const
    {
        QFile file(testenv::home() + QStringLiteral("/Library/Nuvarel/nuvarel.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

}  // namespace

TEST_F(AppProcess, ASecondStartIsRefusedAndTheRunningOneShowsItsMenuAndEndsCleanlyOnTerm)
{
    QProcess first;
    start(first);
    ASSERT_TRUE(testenv::waitUntil([&] { return log().contains(QStringLiteral("launch finished")); }, 20s)) << log().toStdString();
    EXPECT_TRUE(QFile::exists(lockFile()));

    QProcess second;
    start(second);
    ASSERT_TRUE(finished(second));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 1);
    const QString said = QString::fromUtf8(second.readAllStandardError());
    EXPECT_TRUE(said.contains(QStringLiteral("Nuvarel 已经在运行")) && said.contains(QString::number(first.processId())))
        << said.toStdString();
    // The running instance came forward with its menu, and the second start says so.
    EXPECT_TRUE(said.contains(QStringLiteral("已打开正在运行的 Nuvarel 的菜单"))) << said.toStdString();
    EXPECT_TRUE(log().contains(QStringLiteral("the clip menu is shown for a second start"))) << log().toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);

    // The session ending: the program quits through its loop and gives the lock back.
    first.terminate();
    ASSERT_TRUE(finished(first));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(lockFile()));

    QProcess third;
    start(third);
    ASSERT_TRUE(testenv::waitUntil([&] { return log().count(QStringLiteral("launch finished")) == 2; }, 20s));
    EXPECT_EQ(log().count(QStringLiteral("signal 15 received")), 1);
    EXPECT_EQ(third.state(), QProcess::Running);
    third.terminate();
    ASSERT_TRUE(finished(third));
    EXPECT_EQ(third.exitCode(), 0);
}

// Without an X display the program says why in one line and exits with 1, instead of the
// abort of Qt's X11 plugin.
TEST_F(AppProcess, WithoutAnXDisplayItSaysSoAndExits)
{
    for (const QString& display : {QString(), QStringLiteral(":9999")}) {
        SCOPED_TRACE(display.toStdString());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), testenv::home());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), testenv::home() + QStringLiteral("/.config"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (display.isEmpty())
            env.remove(QStringLiteral("DISPLAY"));
        else
            env.insert(QStringLiteral("DISPLAY"), display);
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/nuvarel"));
        process.start();
        ASSERT_TRUE(process.waitForStarted()) << process.errorString().toStdString();
        ASSERT_TRUE(finished(process));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 1);
        EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()),
                  QStringLiteral("no X display: Nuvarel needs an X11 session\n"));
    }
}
