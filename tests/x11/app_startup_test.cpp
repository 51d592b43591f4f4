#include "support/testenv.h"
#include "x11/typingwindow.h"
#include "x11/pasteboardclients.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QWidget>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// The program as the user starts it, on this test's X server and in this test's home, while
// the user works in a window of this process (another X client).
class AppUnderX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        field = showFocusedField(window);
        ASSERT_NE(field, nullptr);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), testenv::home());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), testenv::home() + QStringLiteral("/.config"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        app.setProcessEnvironment(env);
        app.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/nuvarel"));
        app.start();
        ASSERT_TRUE(app.waitForStarted());
        ASSERT_TRUE(testenv::waitUntil([&] { return log().contains(QStringLiteral("launch finished")); }, 20s))
            << log().toStdString();
    }
    void TearDown() override
    {
        if (app.state() != QProcess::NotRunning) {
            app.terminate();
            testenv::waitUntil([&] { return app.state() == QProcess::NotRunning; }, 20s);
        }
    }

    QString log() const
    {
        QFile file(testenv::home() + QStringLiteral("/Library/Nuvarel/nuvarel.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // The history as the program stored it.
    QString history() const
    {
        const ClientRun run =
            runClient(QStringLiteral("sqlite3"), {testenv::home() + QStringLiteral("/Library/Nuvarel/clipDB.sqlite"),
                                                  QStringLiteral("select content from History where category='history';")});
        return QString::fromUtf8(run.output);
    }

    QWidget window;
    QLineEdit* field = nullptr;
    QProcess app;
};

}  // namespace

TEST_F(AppUnderX11, StartsBehindTheHotkeyCapturesAnotherClientsCopyAndQuitsCleanly)
{
    // No tray on a bare X server: the hotkey is the way in.
    EXPECT_TRUE(log().contains(QStringLiteral("no system tray")));
    EXPECT_TRUE(log().contains(QStringLiteral("registered")) && !log().contains(QStringLiteral("not registered")))
        << log().toStdString();

    ASSERT_TRUE(xclipCopy("copied in another program"));
    ASSERT_TRUE(testenv::waitUntil([&] { return history().contains(QStringLiteral("copied in another program")); }, 10s))
        << history().toStdString();

    // The session ends: the program quits cleanly.
    app.terminate();
    ASSERT_TRUE(testenv::waitUntil([&] { return app.state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(testenv::home() + QStringLiteral("/Library/Nuvarel/nuvarel.lock")));
    // The history stays on disk for the next start.
    EXPECT_TRUE(history().contains(QStringLiteral("copied in another program")));
}
