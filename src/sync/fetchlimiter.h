#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <functional>

class QObject;
class QTimer;

// Bounds the requests that push messages can cause. The channel is open to any client of the
// broker, so the number of messages says nothing about the number of real changes: at most
// kMaxFetches fetches run at once, and a hint that does not fit is folded into a pull, which brings every real change in one request.
// Once a pull was needed, hints keep going to pulls until a pull ends with no hint having
// arrived meanwhile. One pull runs at a time, and a new one starts at least kPullSpacingMs
// after the previous one started.
//
// A hint of a key whose fetch is under way may name a change that fetch's answer predates (the
// second "history_upload_file" of a clip, sent once its body is up): the fetch then runs once
// more when it ends. Further hints meanwhile add nothing: at most one more run per key.
//
// Main thread only; every start function calls its done callback exactly once, on the main
// thread.
class FetchLimiter {
public:
    using Done = std::function<void()>;
    using Start = std::function<void(Done done)>;

    static constexpr int kMaxFetches = 3;
    static constexpr int kPullSpacingMs = 2000;

    explicit FetchLimiter(Start pull);
    ~FetchLimiter();
    FetchLimiter(const FetchLimiter&) = delete;
    FetchLimiter& operator=(const FetchLimiter&) = delete;

    // Starts a fetch, asks the running one of the same key to run once more, or folds it into
    // a pull.
    void fetch(const QString& key, const Start& start);
    // Asks for a pull: at once, or once the running one has ended and the spacing has passed.
    void pull();
    // Nothing runs and nothing waits.
    bool isIdle() const;
    // Forgets everything; completions of earlier work are ignored.
    void reset();

private:
    void schedulePull();
    void startPull();
    void pullEnded(quint64 epoch);

    Start m_pull;
    void runFetch(const QString& key);

    struct Running {
        Start start;
        bool again = false;
    };
    QHash<QString, Running> m_fetching;
    bool m_pullWanted = false;
    bool m_pullRunning = false;
    bool m_pullMode = false;
    QElapsedTimer m_lastPull;
    QObject* m_context = nullptr;
    QTimer* m_pullTimer = nullptr;
    quint64 m_epoch = 0;
};
