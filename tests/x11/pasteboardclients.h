#pragma once

#include "support/testenv.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>

// Outside X clients (xclip, xdotool, setxkbmap) run while this process keeps its event loop
// going: a client that reads the clipboard this process owns waits for our answer.
struct ClientRun {
    bool finished = false;
    int exitCode = -1;
    QByteArray output;
};

inline ClientRun runClient(const QString& program, const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    process.start(program, arguments);
    ClientRun run;
    if (!process.waitForStarted())
        return run;
    process.write(input);
    process.closeWriteChannel();
    run.finished = testenv::waitUntil([&] { return process.state() == QProcess::NotRunning; },
                                      std::chrono::milliseconds(10000));
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = process.readAllStandardOutput();
    return run;
}

// Another client copies: xclip takes the CLIPBOARD selection and serves it from the
// background until someone else owns it.
inline bool xclipCopy(const QByteArray& data, const QString& target = {})
{
    QStringList arguments{QStringLiteral("-selection"), QStringLiteral("clipboard")};
    if (!target.isEmpty())
        arguments << QStringLiteral("-t") << target;
    const ClientRun run = runClient(QStringLiteral("xclip"), arguments, data);
    return run.finished && run.exitCode == 0;
}

// Another client pastes the given target (xclip's default is UTF8_STRING).
inline ClientRun xclipPaste(const QString& target = {})
{
    QStringList arguments{QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")};
    if (!target.isEmpty())
        arguments << QStringLiteral("-t") << target;
    return runClient(QStringLiteral("xclip"), arguments);
}
