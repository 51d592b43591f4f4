// From the hotkey to the clip menu on screen: the key press goes through the X server (XTest),
// the passive grab and the native event filter to the pop-up, and the time ends when the menu
// has painted. Goal: under 50 ms. Runs on a private Xvfb of its own, so it never grabs keys on
// the user's desktop.

#include "app/menupopup.h"
#include "support/xserver/privatexserver.h"
#include "platform/userdefaults.h"
#include "platform/x11/globalhotkeyx11.h"
#include "platform/x11/x11pastekeystroke.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMenu>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <string>

namespace {

// Notes when the menu has painted.
class PaintWatch : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

bool spinUntil(const std::function<bool()>& done, int timeoutMs = 2000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// A menu the size of a full one: 30 clips with their shortcuts, then a favourites submenu of
// 30 more and the fixed items.
void fillMenu(QMenu& menu)
{
    const QString keys = QStringLiteral("1234567890qwertyuiopasdfghjkl;");
    for (int i = 0; i < 30; ++i)
        menu.addAction(QStringLiteral("剪贴板里的第 %1 条文字，长度大约三十个字符").arg(i))->setShortcut(QKeySequence(keys.at(i)));
    menu.addSeparator();
    QMenu* favourites = menu.addMenu(QStringLiteral("收藏"));
    for (int i = 0; i < 30; ++i)
        favourites->addAction(QStringLiteral("收藏的第 %1 条").arg(i));
    menu.addSeparator();
    for (const char* item : {"登录", "同步", "加密", "插件", "设置", "退出"})
        menu.addAction(QString::fromUtf8(item));
}

void BM_HotkeyToMenuShown(benchmark::State& state)
{
    QMenu menu;
    fillMenu(menu);
    PaintWatch watch;
    menu.installEventFilter(&watch);

    // Ctrl+V as the hotkey, so the platform's own XTest keystroke can press it.
    GlobalHotkeyX11 monitor;
    const Shortcut ctrlV{9, Shortcut::ControlFlag};
    if (monitor.registerShortcut(ctrlV, [&] { MenuPopup::popUp(&menu, QPoint(200, 100)); }) !=
        GlobalHotkey::Status::Registered) {
        state.SkipWithError("the hotkey could not be registered");
        return;
    }
    X11PasteKeystroke keystroke;
    for (auto _ : state) {
        watch.painted = false;
        QElapsedTimer timer;
        timer.start();
        if (!keystroke.postCommandV() || !spinUntil([&] { return watch.painted; })) {
            state.SkipWithError("the menu did not show");
            break;
        }
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        menu.hide();
        spinUntil([&] { return !menu.isVisible(); });
        // Let the keyboard grab go before the next press.
        QThread::msleep(5);
        QCoreApplication::processEvents();
    }
    monitor.unregisterAllShortcuts();
}
BENCHMARK(BM_HotkeyToMenuShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

}  // namespace

// Caches that system libraries keep for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:libQt6Gui\nleak:libQt6DBus\nleak:libxcb\nleak:libX11\n";
}

int main(int argc, char** argv)
{
    if (!startPrivateXServer()) {
        fprintf(stderr, "could not start Xvfb\n");
        return 1;
    }
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    {
        QApplication app(argc, argv);
        UserDefaults::useFile(home.path() + QStringLiteral("/settings.ini"));
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    return 0;
}
