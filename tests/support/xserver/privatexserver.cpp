#include "privatexserver.h"

#include <QByteArray>
#include <QtGlobal>

#include <csignal>
#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {
pid_t g_server = 0;
}

bool startPrivateXServer()
{
    if (g_server > 0)
        return true;
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number.push_back(c);
    close(fds[0]);
    if (number.empty()) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        return false;
    }
    g_server = pid;
    std::atexit([] {
        kill(g_server, SIGTERM);
        waitpid(g_server, nullptr, 0);
    });
    qputenv("DISPLAY", QByteArray((":" + number).c_str()));
    qputenv("QT_QPA_PLATFORM", QByteArray("xcb"));
    return true;
}
