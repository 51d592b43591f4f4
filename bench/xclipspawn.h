#pragma once

// Starts xclip as another client taking the CLIPBOARD selection with this text on its standard
// input, without QProcess, so the benchmarks time only xclip and the program under test. Its
// foreground process exits once it owns the selection. Returns its pid, or -1 when it did not
// start or the text could not be handed over.

#include <QByteArray>

#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

extern char** environ;

inline pid_t startXclip(const QByteArray& text)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    char arg0[] = "xclip", arg1[] = "-selection", arg2[] = "clipboard";
    char* argv[] = {arg0, arg1, arg2, nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, "xclip", &actions, nullptr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[0]);
    if (write(pipeFds[1], text.constData(), size_t(text.size())) != text.size())
        pid = -1;
    close(pipeFds[1]);
    return pid;
}
