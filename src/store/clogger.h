#pragma once

// Logging set-up: a console sink and a rotating file sink in the application library folder.
// Qt's own messages (qDebug, qWarning, ...) go to the same loggers.
class CLogger {
public:
    // Once per process; later calls do nothing.
    static void config();
    // Tests only: back to spdlog's own console logger and Qt's message handler, so the next
    // config() sets up logging again (into the home of the test then running).
    static void resetForTests();
    // Name of the log file inside the application library folder.
    static const char* logFileName();
};
