#pragma once

// The program as the user starts it: the build's nuvarel on the test's X server, in the test's
// home, with its log and history read from outside as any other program would. Ended (asked to
// quit, then waited for) when the object goes.

#include <QProcess>
#include <QString>

#include <chrono>

class AppProcess {
public:
    AppProcess() = default;
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // Starts the program and waits for its launch to finish: one more "launch finished" in its
    // log than before (the status item can show from then on). False, with the log in
    // failure(), when it did not start or launch in time.
    bool start(std::chrono::milliseconds within = std::chrono::seconds(30));
    // Asks it to quit (as a session's end does) and waits until it has.
    bool terminate(std::chrono::milliseconds within = std::chrono::seconds(20));
    // kill -9, and waits until it is gone.
    bool kill9(std::chrono::milliseconds within = std::chrono::seconds(20));

    QProcess& process() { return m_process; }
    const QProcess& process() const { return m_process; }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    const QString& failure() const { return m_failure; }

    // A file or folder of the program's library folder in the test's home.
    static QString library(const QString& name = QString());
    static QString log();
    // The contents of the history rows of that category, as the sqlite3 program reads them.
    static QString history(const QString& category = QStringLiteral("history"));

private:
    QProcess m_process;
    QString m_failure;
};

#include "app/appdelegate.h"

#include <memory>

// The whole start-up of the program inside the test's own process, on the test's X server:
// made, it leaves the singletons as a new process finds them; launch() runs the launch;
// finish() (or the destructor) terminates it and lets go of the display's grabs and
// connections while the X server still runs.
class AppInThisProcess {
public:
    AppInThisProcess();
    ~AppInThisProcess();
    AppInThisProcess(const AppInThisProcess&) = delete;
    AppInThisProcess& operator=(const AppInThisProcess&) = delete;

    void launch(AppDelegate::Services services = AppDelegate::Services::system());
    void finish();
    bool launched() const { return m_delegate != nullptr; }

private:
    std::shared_ptr<AppDelegate> m_delegate;
    bool m_finished = false;
};
