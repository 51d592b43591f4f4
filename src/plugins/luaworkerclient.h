#pragma once

#include "plugins/worker/luaworkerprotocol.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <sys/types.h>

// The application's end of one Lua worker process (nuvarel-luaworker, protocol in
// worker/luaworkerprotocol.h). The worker is started on demand; a call that is not answered
// within its deadline gets the worker killed (SIGKILL to its process group), and a worker
// that exits by itself, or sends something malformed, is treated the same way. Either way
// the call reports it and the next start makes a fresh worker.
//
// Not thread-safe: its owner serialises the calls (the plugin queue, the privacy lock).
class LuaWorkerClient {
public:
    enum class Role { Plugins, Privacy };

    enum class Outcome {
        Replied,      // reply holds the worker's answer
        Late,         // no answer within the deadline: the worker was killed
        Lost,         // the worker ended or misbehaved before answering
        Unavailable,  // no worker running (or the request was too large to send)
    };
    struct Result {
        Outcome outcome = Outcome::Unavailable;
        QByteArray reply;
    };

    // Called with each event the worker sends during a call. Returns a new deadline in
    // milliseconds from now, or a negative number to keep the current one.
    using EventHandler = std::function<int(const QByteArray& event)>;

    // Time a new worker has to say hello.
    static constexpr int kStartTimeLimitMs = 5000;

    explicit LuaWorkerClient(Role role);
    // Kills the worker.
    ~LuaWorkerClient();

    LuaWorkerClient(const LuaWorkerClient&) = delete;
    LuaWorkerClient& operator=(const LuaWorkerClient&) = delete;

    // True when a worker is running and idle. A worker found to have died since the last
    // call is reaped here, so the caller starts a fresh one before its next request.
    bool running();
    // Starts a worker and waits for its hello; false when none could be started.
    bool start();
    // Kills the worker, if any.
    void stop();

    // Sends one request and waits for its reply for at most deadlineMs (events may move the
    // deadline). Late and Lost leave no worker running.
    Result call(const QByteArray& request, int deadlineMs, const EventHandler& onEvent = {});

    pid_t pid() const { return m_pid; }

    // Tests only: told, on the calling thread, of every call that ended with its worker killed
    // (Late or Lost), once the worker is gone; an empty function stops it.
    using StopObserver = std::function<void(Role role, Outcome outcome)>;
    static void setStopObserverForTesting(StopObserver observer);
    // Tests only: no call's deadline is shorter than this (0, the default, leaves them as they are).
    static void setCallDeadlineFloorForTesting(int ms);

    // Where the worker program is: next to the executable or in the installed libexec folder.
    static QString executablePath();

private:
    enum class Wait { Frame, Late, Lost };
    Wait waitForFrame(long long deadlineNs, QByteArray& payload);
    void kill();
    // Kills the worker after a call it did not answer, and tells the test observer.
    void stopAfter(Outcome outcome);

    Role m_role;
    pid_t m_pid = -1;
    int m_fd = -1;
    luaworker::FrameReader m_reader;
};
