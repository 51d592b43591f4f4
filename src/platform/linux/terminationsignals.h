#pragma once

#include <functional>

// The desktop ending the program the Unix way (SIGTERM at session logout or shutdown, SIGINT,
// SIGHUP): instead of dying at once, the program is told on the main thread and can quit
// through its event loop, so what it does at termination (closing the database) still runs.
class TerminationSignals {
public:
    // Installs the handlers (again on every call) and replaces the callback. Call on the main
    // thread, with the application object made.
    static void install(std::function<void(int signal)> callback);
};
