#include "app/appdelegate.h"
#include "app/menucontroller.h"
#include "app/statusbarcontroller.h"
#include "platform/globalhotkey.h"
#include "platform/linux/instancelockfile.h"
#include "platform/pasteboard.h"
#include "platform/pastekeystroke.h"
#include "platform/reminders.h"
#include "platform/linux/remindersalarmwatcher.h"
#include "platform/linux/remindersicalendar.h"
#include "platform/sharing.h"
#include "platform/linux/sharingdesktop.h"
#include "platform/linux/terminationsignals.h"
#include "platform/linux/usernotificationsdbus.h"
#include "platform/x11/x11session.h"
#include "store/clogger.h"
#include "store/pathhelper.h"
#include "windows/qttranslations.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include <spdlog/spdlog.h>

#if defined(__SANITIZE_ADDRESS__)
// The test build: what system libraries keep for the life of the process (libdbus's caches,
// OpenSSL's state under Qt's TLS backend) is not a leak of ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdbus\nleak:libfontconfig\nleak:libglib\nleak:libQt6DBus\nleak:libxcb\nleak:libX11\n"
           "leak:libcrypto\nleak:libssl\n";
}
#endif

int main(int argc, char* argv[])
{
    // Qt's X11 plugin aborts without a display; say why instead.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        const char* qpaPlatform = std::getenv("QT_QPA_PLATFORM");
        if (!X11Session::available(arguments, QString::fromLocal8Bit(qpaPlatform ? qpaPlatform : ""))) {
            std::fprintf(stderr, "%s\n", X11Session::kNoDisplayMessage);
            return 1;
        }
    }
    // Before anything reads the settings, whose location follows these names.
    QCoreApplication::setApplicationName(QStringLiteral("Nuvarel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Nuvarel"));
    CLogger::config();
    QApplication app(argc, argv);
    // A tray application: closing a window never ends it.
    app.setQuitOnLastWindowClosed(false);
    // Before any window: Qt's stock dialogs speak the interface's language.
    QtTranslations::install();

    // Two processes must never share the database and the clipboard.
    InstanceLockFile lock(PathHelper::getBaseAppLibraryPath());
    if (const InstanceLock::Result locked = lock.tryLock(); locked != InstanceLock::Result::Acquired) {
        // The user started the app to use it: the running one shows its menu instead.
        const bool cameForward = locked == InstanceLock::Result::AlreadyRunning && lock.askOwnerToComeForward();
        // The console logger writes it to stderr as well.
        spdlog::error("{}{}", lock.errorMessage().toStdString(),
                      cameForward ? "已打开正在运行的 Nuvarel 的菜单。" : "");
        return 1;
    }

    const QString remindersFile = PathHelper::getBaseAppLibraryPath(QStringLiteral("reminders.ics"));
    Reminders::setFactory([remindersFile] { return std::make_shared<RemindersICalendar>(remindersFile); });
    RemindersAlarmWatcher alarms(remindersFile);
    alarms.start();
    Sharing::setCurrent(std::make_shared<SharingDesktop>(PathHelper::getTmpDir()));
    auto notifications = std::make_shared<UserNotificationsDBus>();
    UserNotifications::setCurrent(notifications);

    auto delegate = std::make_shared<AppDelegate>();
    // The delegate outlives the event loop; the lambdas below run only inside it.
    AppDelegate* const appDelegate = delegate.get();
    TerminationSignals::install([](int) { QCoreApplication::quit(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &app, [appDelegate] { appDelegate->applicationWillTerminate(); });
    // Launching has finished once the event loop runs.
    QTimer::singleShot(0, &app, [appDelegate, notifications, &lock] {
        appDelegate->applicationDidFinishLaunching();
        lock.listen([] {
            MenuController::sharedInstance().showMenu();
            spdlog::info("the clip menu is shown for a second start");
        });
        // Notifications no desktop service takes show as the tray icon's message.
        std::weak_ptr<StatusBarController> tray = appDelegate->statusController();
        notifications->setFallback([tray](const UserNotification& n) {
            if (const auto controller = tray.lock())
                controller->showMessage(n.title, n.informativeText);
        });
    });
    const int result = app.exec();

    // Everything that holds windows or X resources goes while the application still exists.
    notifications->setFallback({});
    delegate.reset();
    StatusBarController::releaseSharedInstance();
    // The hotkey's grab and the display connections of the clipboard and the paste keystroke.
    GlobalHotkey::setCurrent(nullptr);
    PasteKeystroke::setCurrent(nullptr);
    Pasteboard::setGeneral(nullptr);
    return result;
}
