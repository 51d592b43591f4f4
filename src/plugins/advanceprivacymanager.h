#pragma once

#include <QRecursiveMutex>
#include <QString>

#include <lua.hpp>

#include <optional>
#include <stdint.h>

// The privacy script: a Lua chunk defining main(from, extension, content) whose number
// result is the verdict for a captured clip (-1: not recorded, 1: recorded as secret,
// anything else: recorded). The stored script lives under "privacy_script"; without it the
// bundled privacy.lua is the script.
//
// Two Lua states live as long as the manager: the run state, where the chosen script is
// loaded and every verdict runs, and the test state, where candidates are tried so a broken
// one never disturbs the run state. Neither is ever replaced, so globals of earlier scripts
// stay defined. Every operation holds one re-entrant lock for its whole length; calls come
// from the main thread and from capture workers.
//
// Script code runs under the script limits: a verdict 200 ms, a test (and a load) 2 s. A
// script that loops or fails therefore costs at most that and never stops start-up.
class AdvancePrivacyManager {
public:
    static constexpr int kVerdictTimeLimitMs = 200;
    static constexpr int kTestTimeLimitMs = 2000;

    static AdvancePrivacyManager& sharedInstance();

    // Opens both states with all standard libraries, then loadScript. The application uses
    // sharedInstance; tests make instances of their own.
    AdvancePrivacyManager();
    ~AdvancePrivacyManager();

    AdvancePrivacyManager(const AdvancePrivacyManager&) = delete;
    AdvancePrivacyManager& operator=(const AdvancePrivacyManager&) = delete;

    // Tests scriptContent; when it fails (or there is none) takes defaultScript untested, and
    // runs the chosen chunk in the run state. A failing chunk is ignored: the run state keeps
    // the main it had. With no text at all nothing is loaded.
    void loadScript();

    // The bundled privacy.lua as UTF-8; nothing when it cannot be read.
    std::optional<QString> defaultScript() const;
    // The stored script, else defaultScript.
    std::optional<QString> scriptContent() const;
    // Stores the text under "privacy_script", then loadScript.
    void setScriptContent(const QString& text);

    // Nothing when the candidate loads, runs and main("text", "", "") returns without an
    // error, in the test state; else a message that is never empty: "不能为空!" for an empty
    // text, otherwise Lua's message (or a fixed text when the error value has none).
    std::optional<QString> testScript(const QString& text);

    // main(from, extension, content) in the run state, the texts pushed with their lengths.
    // A number result (or a string Lua reads as one) truncated toward zero and clamped to
    // the 32-bit range; 0 for anything else, an error, a timeout or no main. The stack of the
    // run state is left as it was.
    int32_t saveOptionFrom(const QString& from, const QString& extension, const QString& content);

    // lua_version of the run state as a whole number: "502" for Lua 5.2.
    QString luaVersion();

    // For tests: use them under no other thread's call.
    lua_State* state() const { return m_state; }
    lua_State* test_state() const { return m_testState; }

    // The verdict a number result gives: truncated toward zero, clamped to int32, NaN 0.
    static int32_t verdictFromNumber(double number);

private:
    mutable QRecursiveMutex m_lock;
    lua_State* m_state = nullptr;
    lua_State* m_testState = nullptr;
};
