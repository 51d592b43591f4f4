#include "support/appprocess.h"
#include "support/testenv.h"
#include "x11/typingwindow.h"
#include "x11/pasteboardclients.h"

#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
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

        ASSERT_TRUE(app.start(20s)) << app.failure().toStdString();
    }

    static QString log() { return AppProcess::log(); }
    // The history as the program stored it.
    static QString history() { return AppProcess::history(); }

    QWidget window;
    QLineEdit* field = nullptr;
    AppProcess app;
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
    ASSERT_TRUE(app.terminate());
    EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process().exitCode(), 0);
    EXPECT_FALSE(QFile::exists(testenv::home() + QStringLiteral("/Library/Nuvarel/nuvarel.lock")));
    // The history stays on disk for the next start.
    EXPECT_TRUE(history().contains(QStringLiteral("copied in another program")));
}
