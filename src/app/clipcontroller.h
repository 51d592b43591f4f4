#pragma once

#include "platform/dispatch.h"
#include "platform/pasteboardsnapshot.h"
#include "plugins/pluginobject.h"
#include "store/historymodel.h"

#include <QMutex>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct Notification;

// The pasteboard watcher, and the write-back of clips to the pasteboard with the paste.
//
// When the pasteboard announces a change, the poll's check runs 20 ms later; a further
// change within that wait restarts it, so a burst of changes gives one capture. A repeating
// timer on the main thread polls the change count too, as the safety net for changes the
// announcement misses. Each new
// count reads the content into a snapshot on the main thread and queues one capture of it
// on the capture queue: one serial queue, so captures run one at a time in the order the
// changes were seen. A capture decides whether the clip is recorded and whether it is
// secret, stores its body and its row, and wakes the history upload worker; when a row was
// saved or refreshed the clip menu is rebuilt on the main queue.
//
// The main thread may wait for the capture queue (the logout purge, catchClipboard,
// waitForCaptures) because a capture never waits for the main thread: keep it so.
//
// Everything here but skiped() runs on the main thread. The controller is made on first
// use, on the main thread, and lives as long as the process.
class ClipController {
public:
    // The poll interval when "CLIP_MONITOR_SPEED" holds no usable number of seconds.
    static constexpr double kDefaultMonitorSpeed = 0.6;
    // The slowest poll a stored "CLIP_MONITOR_SPEED" may ask for, in seconds; above it the
    // default applies (a huge value would overflow the timer and stop the poll for good).
    static constexpr double kMaxMonitorSpeed = 10.0;
    // How long the pasteboard stays unchanged after an announced change before the capture.
    static constexpr std::chrono::milliseconds kChangeSettle{20};

    // The poll interval in seconds that "CLIP_MONITOR_SPEED" gives: the stored number when it
    // is above 0 and not above 10, else 0.6.
    static double monitorSpeedFromSettings();

    // Made on first use: starts the poll (which polls at once) and follows "USER_LOGOUTED".
    static ClipController& sharedInstance();

    ClipController(const ClipController&) = delete;
    ClipController& operator=(const ClipController&) = delete;

    // (Re)starts the poll timer with the interval of "CLIP_MONITOR_SPEED" (seconds, taken in
    // single precision; 0.6 when absent, not above 0 or above 10) or the test override, and
    // polls once at once.
    void startClipObserver();
    // One poll: a count of 0, or the count the last acting poll saw, does nothing; any other
    // count (or the first poll) queues one capture and is remembered at once.
    void seekClipboard();
    // Captures the current pasteboard now, through the capture queue, and waits for it. YES
    // when a clip row was saved or refreshed.
    bool catchClipboard();
    // After logout: every row and clip file removed, then the current pasteboard captured as
    // the first clip of the empty history, both behind any capture still queued; then
    // "DATA_CHANGED". That clip carries no pending mark: it was copied under no login and
    // goes to no account. A login the service ended (KeepsHistory) keeps the history as is.
    void userLogout(const Notification& notification);

    // Writes the clip's body to the pasteboard, by the kind its type begins with: a text
    // (through the plugin when one is given; an empty or missing result writes nothing and
    // leaves the pasteboard empty), an image under its own format, or a file (the preview
    // link named after the clip's file, plus its path as text). With record NO the written
    // text is remembered as skiped, so the next capture of it is dropped once.
    void sendToClipboard(const HistoryModelPtr& clip, const PluginObjectPtr& plugin, bool record);
    void sendToClipboard(const HistoryModelPtr& clip, const PluginObjectPtr& plugin);
    // Writes a plain text; an empty one writes nothing.
    void sendToClipboard(const QString& string, bool record);
    // Posts the paste keystroke later on the main queue, after the write in hand; returns at
    // once.
    void paste();

    // The count the last acting poll saw; 0 until then.
    qint64 lastChangedCount() const { return m_lastChangedCount; }
    // A change was announced and the check it asked for has not run yet.
    bool changePending() const { return m_settleTimer.isActive(); }
    // The text of the last write made with record NO that no capture has seen yet (any thread).
    std::optional<QString> skiped() const;

    // Replaces the interval of "CLIP_MONITOR_SPEED" (tests); nothing goes back to it. Restarts
    // the poll.
    void setPollInterval(std::optional<std::chrono::milliseconds> interval);
    // The interval the running timer has.
    std::chrono::milliseconds pollInterval() const;
    // The bytes an image clip was captured from, kept for this run (a few recent ones) so that
    // choosing or saving it gives back that very file (a PNG with its gamma chunk, a JPEG) and
    // not a re-encoding of the stored TIFF; nothing when not kept.
    std::optional<QByteArray> capturedImage(const QString& hash) const;
    // Drops those bytes (the history was purged; tests).
    void forgetCapturedImages();
    // Waits until every capture queued so far has run (tests, quitting). Not from the
    // capture queue.
    void waitForCaptures();
    // Tests only: back to the state of a new controller whose poll has not started (no
    // count seen, no interval override, no skiped text), after the captures in hand.
    void resetForTests();

private:
    ClipController();

    // The capture itself, on the capture queue.
    bool catchSnapshot(const PasteboardSnapshot& snapshot);
    bool catchFile(const QByteArray& path);
    bool catchText(const QString& text);
    bool catchImage(const PasteboardSnapshot& snapshot);
    // Stores the body and the row, refreshes the time, marks the change and wakes the upload.
    bool saveRecord(HistoryModel& record, const std::function<void()>& saveBody);

    void rememberCapturedImage(const QString& hash, const QByteArray& encoded);

    void setSkiped(const QString& text);
    // When skiped equals the text: clears it and answers true, in one step.
    bool clearSkipedIfEqual(const QString& text);

    SerialQueue m_captureQueue{QStringLiteral("capture")};
    QTimer m_timer;
    // Single-shot; restarted by every announced change.
    QTimer m_settleTimer;
    qint64 m_lastChangedCount = 0;
    // Capture queue only: the capture in hand stores its row without a pending mark.
    bool m_captureUnmarked = false;
    std::optional<std::chrono::milliseconds> m_intervalOverride;

    // Taken alone: nothing else is locked or called while it is held.
    mutable QMutex m_skipedLock;
    std::optional<QString> m_skiped;
    // Taken alone, as the skiped text's lock. The newest first.
    mutable QMutex m_capturedImagesLock;
    std::vector<std::pair<QString, QByteArray>> m_capturedImages;
};
