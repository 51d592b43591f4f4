#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

// Every test runs with its own temporary HOME and settings file (set up by the test main
// before each test), so nothing a test writes reaches the user's files or another test.
namespace testenv {

// The temporary home of the running test.
QString home();
// The settings file of the running test.
QString settingsFile();

// Runs the main thread's event loop until the condition holds or the time is up.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

}  // namespace testenv
