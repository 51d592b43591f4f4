#pragma once

#include <QByteArray>

#include <lua.hpp>

#include <optional>
#include <stdint.h>

// The privacy script's two Lua states as the Lua worker holds them: the run state, where the
// chosen script is loaded and every verdict runs, and the test state, where candidates are
// tried. Neither is replaced while the engine lives, so globals of earlier scripts stay
// defined. Single-threaded: the worker serves one request at a time.
//
// Every chunk and call runs under the script limits (luaguard.h).
class PrivacyScriptEngine {
public:
    static constexpr int kVerdictTimeLimitMs = 200;
    static constexpr int kTestTimeLimitMs = 2000;

    PrivacyScriptEngine();
    ~PrivacyScriptEngine();

    PrivacyScriptEngine(const PrivacyScriptEngine&) = delete;
    PrivacyScriptEngine& operator=(const PrivacyScriptEngine&) = delete;

    // In the test state: nothing when the script loads, runs and main("text", "", "") returns
    // without an error; else a message that is never empty (UTF-8).
    std::optional<QByteArray> test(const QByteArray& script);
    // Runs the chunk in the run state; false when it failed (the run state keeps its main).
    bool load(const QByteArray& script);
    // main(from, extension, content) in the run state: a number result truncated toward
    // zero and clamped to int32; 0 for anything else, an error or no main. Nothing when the
    // call ran out of time or memory, or its answer came after the limit (a slow C call the
    // count hook cannot stop): such a verdict may have been a refusal.
    std::optional<int32_t> verdict(const QByteArray& from, const QByteArray& extension, const QByteArray& content);

    // The verdict a number result gives: truncated toward zero, clamped to int32, NaN 0.
    static int32_t verdictFromNumber(double number);

    // For tests in the same process.
    lua_State* state() const { return m_state; }
    lua_State* test_state() const { return m_testState; }

private:
    lua_State* m_state = nullptr;
    lua_State* m_testState = nullptr;
};
