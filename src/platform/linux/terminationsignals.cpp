#include "platform/linux/terminationsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <spdlog/spdlog.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_fds[2] = {-1, -1};
std::function<void(int)> g_callback;

// Only async-signal-safe work here: the number goes through the socket to the main thread.
void onSignal(int signal)
{
    // The interrupted code may be about to read errno: a failed write (a full socket) must
    // not change it under its feet.
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_fds[0], &number, 1);
    errno = savedErrno;
}

bool makeSocketPair()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0) {
        spdlog::warn("termination signals: no socket pair; the program ends without clean-up");
        return false;
    }
    ::fcntl(g_fds[0], F_SETFL, O_NONBLOCK);
    auto* notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        unsigned char number = 0;
        if (::read(g_fds[1], &number, 1) != 1)
            return;
        spdlog::info("signal {} received; quitting", static_cast<int>(number));
        if (g_callback)
            g_callback(number);
    });
    return true;
}

}  // namespace

void TerminationSignals::install(std::function<void(int signal)> callback)
{
    g_callback = std::move(callback);
    // The handlers are (re)installed on every call: someone may have put the default back.
    if (g_fds[0] == -1 && !makeSocketPair())
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
