#include "plugins/luaworkerclient.h"

#include <algorithm>
#include <atomic>

#include "platform/bundle.h"
#include "platform/dispatch.h"

#include <QFile>
#include <QMutex>

#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

using namespace luaworker;

namespace {

long long nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

long long deadlineIn(int ms)
{
    return nowNs() + static_cast<long long>(ms) * 1000000LL;
}

// Tests only: the shortest deadline a call gets, so a test can act on a worker mid-call on a
// loaded machine before the real deadline would stop it.
std::atomic<int> g_callDeadlineFloorMs{0};

long long callDeadlineIn(int ms)
{
    return deadlineIn(std::max(ms, g_callDeadlineFloorMs.load()));
}

// Lock order: the last lock taken (a privacy call holds AdvancePrivacyManager's lock around
// it); only the test's observer runs inside.
QMutex g_stopObserverLock;
LuaWorkerClient::StopObserver g_stopObserver;

// Milliseconds left, rounded up, so poll never wakes just before the deadline.
int msLeft(long long deadlineNs)
{
    const long long left = deadlineNs - nowNs();
    return left <= 0 ? 0 : static_cast<int>((left + 999999) / 1000000);
}

const char* roleName(LuaWorkerClient::Role role)
{
    return role == LuaWorkerClient::Role::Plugins ? "plugins" : "privacy";
}

// The parent-death signal a worker asks for fires when the thread that started it ends, so
// workers are started from one thread that lives as long as the process.
SerialQueue& spawnQueue()
{
    static SerialQueue* queue = new SerialQueue(QStringLiteral("lua worker start"));
    return *queue;
}

pid_t spawnWorker(const QByteArray& program, LuaWorkerClient::Role role, int childFd)
{
    pid_t pid = -1;
    spawnQueue().sync([&] {
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        // The dup'ed descriptor loses close-on-exec; every other one of ours keeps it.
        posix_spawn_file_actions_adddup2(&actions, childFd, kWorkerSocketFd);
        // A group of its own: a kill also ends whatever programs a script started.
        posix_spawnattr_setpgroup(&attributes, 0);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD})
            sigaddset(&defaults, sig);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        const QByteArray parent = QByteArray::number(static_cast<qlonglong>(getpid()));
        char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(roleName(role)),
                        const_cast<char*>(parent.constData()), nullptr};
        if (posix_spawn(&pid, program.constData(), &actions, &attributes, argv, environ) != 0)
            pid = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    });
    return pid;
}

}  // namespace

LuaWorkerClient::LuaWorkerClient(Role role)
    : m_role(role)
{
}

LuaWorkerClient::~LuaWorkerClient()
{
    kill();
}

QString LuaWorkerClient::executablePath()
{
    return Bundle::pathForAuxiliaryExecutable(QStringLiteral("nuvarel-luaworker"));
}

bool LuaWorkerClient::running()
{
    if (m_pid < 0)
        return false;
    // An idle worker says nothing: anything to read, or the end of the stream, means it died
    // (or a script wrote to the socket) since the last call.
    pollfd p = {m_fd, POLLIN, 0};
    if (poll(&p, 1, 0) != 0) {
        spdlog::warn("lua worker ({}) ended between calls", roleName(m_role));
        kill();
        return false;
    }
    return true;
}

bool LuaWorkerClient::start()
{
    kill();
    const QString program = executablePath();
    if (program.isEmpty()) {
        spdlog::error("lua worker program nuvarel-luaworker not found");
        return false;
    }
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    int childFd = fds[1];
    if (childFd == kWorkerSocketFd) {
        // dup2 onto itself would keep close-on-exec set.
        childFd = fcntl(fds[1], F_DUPFD_CLOEXEC, kWorkerSocketFd + 1);
        close(fds[1]);
    }
    const pid_t pid = childFd < 0 ? -1 : spawnWorker(QFile::encodeName(program), m_role, childFd);
    if (childFd >= 0)
        close(childFd);
    if (pid < 0) {
        close(fds[0]);
        spdlog::error("lua worker ({}) could not be started", roleName(m_role));
        return false;
    }
    m_pid = pid;
    m_fd = fds[0];
    m_reader = FrameReader();

    QByteArray hello;
    if (waitForFrame(deadlineIn(kStartTimeLimitMs), hello) != Wait::Frame) {
        spdlog::error("lua worker ({}) did not start", roleName(m_role));
        kill();
        return false;
    }
    Reader r(hello);
    quint32 version = 0;
    r.in() >> version;
    if (r.kind() != Hello || !r.ok() || version != kProtocolVersion) {
        kill();
        return false;
    }
    return true;
}

void LuaWorkerClient::stop()
{
    kill();
}

void LuaWorkerClient::kill()
{
    if (m_pid > 0) {
        ::kill(-m_pid, SIGKILL);
        ::kill(m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_fd >= 0)
        close(m_fd);
    m_pid = -1;
    m_fd = -1;
    m_reader = FrameReader();
}

void LuaWorkerClient::stopAfter(Outcome outcome)
{
    kill();
    QMutexLocker lock(&g_stopObserverLock);
    if (g_stopObserver)
        g_stopObserver(m_role, outcome);
}

void LuaWorkerClient::setCallDeadlineFloorForTesting(int ms)
{
    g_callDeadlineFloorMs = std::max(0, ms);
}

void LuaWorkerClient::setStopObserverForTesting(StopObserver observer)
{
    QMutexLocker lock(&g_stopObserverLock);
    g_stopObserver = std::move(observer);
}

LuaWorkerClient::Wait LuaWorkerClient::waitForFrame(long long deadlineNs, QByteArray& payload)
{
    char buffer[65536];
    for (;;) {
        if (std::optional<QByteArray> next = m_reader.next()) {
            payload = *next;
            return Wait::Frame;
        }
        if (m_reader.failed())
            return Wait::Lost;
        const int left = msLeft(deadlineNs);
        if (left <= 0)
            return Wait::Late;
        pollfd p = {m_fd, POLLIN, 0};
        const int ready = poll(&p, 1, left);
        if (ready < 0 && errno != EINTR)
            return Wait::Lost;
        if (ready <= 0)
            continue;
        const ssize_t n = read(m_fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return Wait::Lost;
        m_reader.append(buffer, n);
    }
}

LuaWorkerClient::Result LuaWorkerClient::call(const QByteArray& request, int deadlineMs, const EventHandler& onEvent)
{
    Result result;
    if (m_pid < 0 || request.size() > qsizetype(kMaxFrameBytes))
        return result;
    long long deadline = callDeadlineIn(deadlineMs);
    const QByteArray bytes = frame(request);
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p = {m_fd, POLLOUT, 0};
            if (poll(&p, 1, msLeft(deadline)) > 0)
                continue;
            if (msLeft(deadline) > 0)
                continue;
            result.outcome = Outcome::Late;
        } else {
            result.outcome = Outcome::Lost;
        }
        spdlog::warn("lua worker ({}) did not take a request; stopped", roleName(m_role));
        stopAfter(result.outcome);
        return result;
    }
    for (;;) {
        QByteArray payload;
        const Wait wait = waitForFrame(deadline, payload);
        if (wait != Wait::Frame) {
            result.outcome = wait == Wait::Late ? Outcome::Late : Outcome::Lost;
            spdlog::warn("lua worker ({}) {}; stopped", roleName(m_role),
                         wait == Wait::Late ? "did not answer in time" : "ended during a call");
            stopAfter(result.outcome);
            return result;
        }
        const quint8 kind = static_cast<quint8>(payload.at(0));
        if (isEvent(kind)) {
            if (onEvent) {
                const int next = onEvent(payload);
                if (next >= 0)
                    deadline = callDeadlineIn(next);
            }
            continue;
        }
        result.outcome = Outcome::Replied;
        result.reply = payload;
        return result;
    }
}
