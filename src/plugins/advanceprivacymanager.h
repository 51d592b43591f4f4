#pragma once

#include "plugins/worker/privacyscriptengine.h"

#include <QRecursiveMutex>
#include <QString>

#include <memory>
#include <optional>
#include <stdint.h>

class LuaWorkerClient;

// The privacy script: a Lua chunk defining main(from, extension, content) whose number
// result is the verdict for a captured clip (-1: not recorded, 1: recorded as secret,
// anything else: recorded). The stored script lives under "privacy_script"; without it the
// bundled privacy.lua is the script.
//
// The script runs in a Lua worker process of its own (luaworkerclient.h), started on first
// use, with two Lua states: the run state, where the chosen script is loaded and every
// verdict runs, and the test state, where candidates are tried so a broken one never
// disturbs the run state. Globals of earlier scripts stay defined in them for as long as
// that worker lives. Every operation holds one re-entrant lock for its whole length; calls
// come from the main thread and from capture workers.
//
// Limits: a verdict 200 ms, a test (and a load) 2 s, each with a little slack for the answer.
// A worker that has not answered by then, or that ends by itself, is killed and the call
// gets its error outcome (test failed with a message); the next call starts a fresh worker
// and loads the script again. A verdict that is late, lost or unreadable counts as secret,
// since it may have been a refusal: the clip is kept here and never uploaded. A stored
// script that takes the worker down while loading three times in a row is replaced by the
// default script for the rest of the run; the stored text stays, so the editor shows it
// for fixing.
class AdvancePrivacyManager {
public:
    static constexpr int kVerdictTimeLimitMs = PrivacyScriptEngine::kVerdictTimeLimitMs;
    static constexpr int kTestTimeLimitMs = PrivacyScriptEngine::kTestTimeLimitMs;
    static constexpr int kGraceMs = 250;
    static constexpr int kLostLoadsBeforeDefault = 3;
    // The verdict that records a clip as secret.
    static constexpr int32_t kSecretVerdict = 1;

    static AdvancePrivacyManager& sharedInstance();

    // Starts the worker, then loadScript. The application uses sharedInstance; tests make
    // instances of their own.
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
    // text, otherwise Lua's message (or a fixed text when the error value has none, or when
    // the candidate stalled or ended the worker).
    std::optional<QString> testScript(const QString& text);

    // main(from, extension, content) in the run state, the texts passed whole. A number
    // result (or a string Lua reads as one) truncated toward zero and clamped to the 32-bit
    // range; 0 for anything else the script answers, an error in it or no main. 1 (secret),
    // with a log line, when the answer came after the limit (or the script ran out of
    // memory), never came, the worker was lost or could not start, or the answer could not
    // be read.
    int32_t saveOptionFrom(const QString& from, const QString& extension, const QString& content);

    // The Lua version as a whole number: "502" for Lua 5.2.
    QString luaVersion();

    // The verdict a number result gives: truncated toward zero, clamped to int32, NaN 0.
    static int32_t verdictFromNumber(double number) { return PrivacyScriptEngine::verdictFromNumber(number); }

private:
    enum class Step { Passed, Failed, Lost };
    Step testOnWorker(const QByteArray& script, QString* message);
    bool loadOnWorker(const QByteArray& script);
    bool ensureWorker();
    void noteLostLoad(const QString& script);

    // Lock order: taken alone (the settings store locks inside it). Guards everything below.
    mutable QRecursiveMutex m_lock;
    std::unique_ptr<LuaWorkerClient> m_worker;
    // The script whose loading took the worker down, and how often in a row.
    QString m_lostScript;
    int m_lostLoads = 0;
    // Replaced by the default for the rest of the run.
    std::optional<QString> m_replacedScript;
};
