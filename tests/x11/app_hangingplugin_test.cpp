#include "support/appprocess.h"
#include "support/testenv.h"
#include "x11/pasteboardclients.h"
#include "x11/typingwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QWidget>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

// The program as the user starts it, with a user plugin whose main never returns: it hangs
// inside one Lua C call, where no count hook can stop it.
class AppWithHangingPlugin : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        field = showFocusedField(window);
        ASSERT_NE(field, nullptr);

        const QString plugin = testenv::home() + QStringLiteral("/Library/Nuvarel/plugins/hang.cplugin");
        ASSERT_TRUE(QDir().mkpath(plugin));
        // Sorted first among the plugins of equal count, so it is the submenu's first item.
        writeFile(plugin + QStringLiteral("/info.lua"), "plugin_name = 'Hang' plugin_bundle_id = 'aaa.hang'\n");
        writeFile(plugin + QStringLiteral("/main.lua"),
                  "function main(t)\n"
                  "  io.open('" + QFile::encodeName(marker()) + "', 'w'):close()\n"
                  "  string.find(string.rep('a', 40), string.rep('a?', 40) .. string.rep('a', 40))\n"
                  "  return t\n"
                  "end\n");

        ASSERT_TRUE(app.start(20s)) << app.failure().toStdString();
    }

    static QString marker() { return testenv::home() + QStringLiteral("/plugin-started"); }
    static QString log() { return AppProcess::log(); }
    static QString history() { return AppProcess::history(); }
    // The program's visible windows: none until its menu opens (no tray on a bare X server).
    int visibleWindows() const
    {
        const ClientRun run = runClient(QStringLiteral("xdotool"),
                                        {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--pid"), QString::number(app.process().processId())});
        return int(run.output.trimmed().isEmpty() ? 0 : run.output.trimmed().split('\n').size());
    }
    bool key(const QString& keys) const
    {
        const ClientRun run = runClient(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
        return run.finished && run.exitCode == 0;
    }

    QWidget window;
    QLineEdit* field = nullptr;
    AppProcess app;
};

}  // namespace

TEST_F(AppWithHangingPlugin, AClipCopiedWhileThePluginHangsIsStillCaptured)
{
    ASSERT_TRUE(xclipCopy("text for the plugin"));
    ASSERT_TRUE(testenv::waitUntil([&] { return history().contains(QStringLiteral("text for the plugin")); }, 10s))
        << history().toStdString();

    // The hotkey opens the clip menu; the newest clip's submenu starts with the plugin.
    ASSERT_TRUE(runClient(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("400"),
                                                      QStringLiteral("300")})
                    .finished);
    ASSERT_TRUE(key(QStringLiteral("shift+super+v")));
    ASSERT_TRUE(testenv::waitUntil([&] { return visibleWindows() >= 1; }, 10s)) << log().toStdString();
    ASSERT_TRUE(key(QStringLiteral("Down")));
    ASSERT_TRUE(key(QStringLiteral("Right")));
    ASSERT_TRUE(testenv::waitUntil([&] { return visibleWindows() >= 2; }, 10s));
    ASSERT_TRUE(key(QStringLiteral("Return")));
    ASSERT_TRUE(testenv::waitUntil([&] { return QFileInfo::exists(marker()); }, 10s)) << log().toStdString();

    // Another program copies while the plugin still runs.
    ASSERT_TRUE(xclipCopy("copied while the plugin hangs"));
    EXPECT_TRUE(testenv::waitUntil([&] { return history().contains(QStringLiteral("copied while the plugin hangs")); },
                                   10s))
        << history().toStdString();
    EXPECT_TRUE(app.running());
    // The capture need not wait for the plugin's deadline; the stop comes at it.
    EXPECT_TRUE(testenv::waitUntil([&] { return log().contains(QStringLiteral("gave no answer in time")); }, 10s))
        << log().toStdString();
}
