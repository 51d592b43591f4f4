#include "support/appprocess.h"

#include "app/clipcontroller.h"
#include "app/menucontroller.h"
#include "app/shortcutcontroller.h"
#include "app/statusbarcontroller.h"
#include "platform/globalhotkey.h"
#include "platform/pasteboard.h"
#include "platform/pastekeystroke.h"
#include "store/configuremanager.h"
#include "store/dbfetcher.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcessEnvironment>

AppProcess::~AppProcess()
{
    if (running())
        terminate();
}

QString AppProcess::library(const QString& name)
{
    return testenv::home() + QStringLiteral("/Library/Nuvarel/") + name;
}

QString AppProcess::log()
{
    QFile file(library(QStringLiteral("nuvarel.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString AppProcess::history(const QString& category)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"),
                 {library(QStringLiteral("clipDB.sqlite")),
                  QStringLiteral("select content from History where category='%1';").arg(category)});
    if (!sqlite.waitForFinished(30000))
        return QString();
    return QString::fromUtf8(sqlite.readAllStandardOutput());
}

bool AppProcess::start(std::chrono::milliseconds within)
{
    const int launches = log().count(QStringLiteral("launch finished"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), testenv::home());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), testenv::home() + QStringLiteral("/.config"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_process.setProcessEnvironment(env);
    m_process.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/nuvarel"));
    m_process.start();
    if (!m_process.waitForStarted()) {
        m_failure = QStringLiteral("the program did not start: ") + m_process.errorString();
        return false;
    }
    if (!testenv::waitUntil([&] { return log().count(QStringLiteral("launch finished")) > launches || !running(); },
                            within)
        || !running()) {
        m_failure = QStringLiteral("no launch finished; the log:\n") + log();
        return false;
    }
    return true;
}

bool AppProcess::terminate(std::chrono::milliseconds within)
{
    m_process.terminate();
    return testenv::waitUntil([&] { return !running(); }, within);
}

bool AppProcess::kill9(std::chrono::milliseconds within)
{
    m_process.kill();
    return testenv::waitUntil([&] { return !running(); }, within);
}

AppInThisProcess::AppInThisProcess()
{
    DBFetcher::resetSharedInstance();
    ConfigureManager::sharedInstance().resetForTests();
    // Nothing an earlier test left on the clipboard or in the watcher counts here.
    ClipController::sharedInstance().resetForTests();
    Pasteboard::general().clearContents();
    MenuController::sharedInstance().resetForTests();
}

AppInThisProcess::~AppInThisProcess()
{
    finish();
}

void AppInThisProcess::launch(AppDelegate::Services services)
{
    m_delegate = std::make_shared<AppDelegate>(std::move(services));
    m_delegate->applicationDidFinishLaunching();
    // Made by an earlier test: its hotkey went with that test's monitor.
    ShortcutController::sharedInstance().resetForTests();
}

void AppInThisProcess::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_delegate) {
        m_delegate->applicationWillTerminate();
        m_delegate.reset();
    }
    StatusBarController::releaseSharedInstance();
    DBFetcher::resetSharedInstance();
    // Display connections and grabs go while the private X server still runs.
    GlobalHotkey::setCurrent(nullptr);
    PasteKeystroke::setCurrent(nullptr);
    Pasteboard::setGeneral(nullptr);
}
