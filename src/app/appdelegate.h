#pragma once

#include "platform/timersource.h"
#include "service/requestmanager.h"
#include "store/clipapphelper.h"
#include "store/defaultskeys.h"

#include <QObject>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

class PowerEvents;
class StatusBarController;

// The application delegate: once launching has finished it makes the long-lived services in
// a fixed order, reacts to the machine going to sleep and waking up, checks for a newer
// version 10 seconds after start and then every 48 hours, and at termination lets the
// captures still queued finish before it closes the database. It is also where plugins'
// app.openURL ends (through ClipAppHelper). Main thread only; made as a shared_ptr.
class AppDelegate : public ClipAppDelegate, public std::enable_shared_from_this<AppDelegate> {
public:
    // What the delegate reaches, one step each, so that tests can watch the order and run
    // a clock of their own. system() is the application's.
    struct Services {
        std::function<PowerEvents&()> powerEvents;
        std::function<bool()> isLogined;
        std::function<void()> connectMqtt;
        // The catch-up pull's listener for a key that becomes usable.
        std::function<void()> makeCatchUp;
        std::function<void()> closeMqtt;
        std::function<std::shared_ptr<RequestManager>()> makeInitRequest;
        std::function<std::shared_ptr<RequestManager>()> makeCheckUpdateRequest;
        std::function<std::shared_ptr<StatusBarController>()> makeStatusItem;
        std::function<void()> makePrivacyEngine;
        std::function<void()> makeShortcutController;
        // Starts opening the history file (its integrity check and layout) off the main
        // thread, so it runs while the rest of start-up does; the menu reads the history
        // once it is open.
        std::function<void()> openHistory;
        // The pasteboard watcher, whose first poll runs at once.
        std::function<void()> makeClipController;
        // Start-up care of the history that capture need not wait for, off the main thread
        // and after the first capture: the bodies no row names are removed, then the file is
        // compacted, while the menu's history reads are held. Returns at once.
        std::function<void()> tidyHistory;
        std::function<void()> buildMenu;
        // Skips the start-up care not yet begun, waits for what has begun, then for the
        // captures already queued.
        std::function<void()> finishCaptures;
        // Stops the MQTT client and waits for its thread, which must not outlive the logger.
        std::function<void()> finishMqtt;
        std::function<void()> closeDatabase;
        std::function<void(const QUrl&)> openURL;
        std::shared_ptr<TimerSource> timers;

        static Services system();
    };

    // The start-up care of the history (whole-file check, sweep, compaction) is still under
    // way: what it ends with (a held menu rebuild) may still come.
    static bool startUpCareRunning();

    static constexpr std::chrono::seconds kFirstCheckDelay{10};
    static constexpr std::chrono::seconds kCheckInterval{172800};
    static constexpr const char* kNewVersionKey = DefaultsKey::NewVersion.data();

    explicit AppDelegate(Services services = Services::system());
    ~AppDelegate() override;

    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Start-up, in this order: the history file starts opening; the delegate of ClipAppHelper;
    // sleep and wake observed; MQTT connected when a user is logged in; the init request; the
    // status item; the privacy script engine, the hotkey controller and the pasteboard
    // watcher; the history tidied; the menu built; the update check scheduled.
    void applicationDidFinishLaunching();
    // The captures still queued run, the MQTT client's thread ends, then the database
    // closes. Runs once.
    void applicationWillTerminate();

    void regSystemNotifications();
    void receiveWakeNotif();
    void receiveSleepNotif();

    // Sends a new init request, kept until the next one replaces it.
    void initRequest();
    // 10 seconds from now: a new repeating 48-hour check replaces the old one and runs at once.
    void checkVersion();
    // Sends one update check.
    void startCheckVersion();
    // The update check's completion. Only a reply that is an object with the integer "code" 0
    // counts: its "data"."version" text is stored under "newversion" (anything else there
    // removes the key) and the menu is rebuilt on the main queue. Every other outcome changes
    // nothing.
    void updateCheckFinished(const QVariant& result, int status, const std::optional<RequestError>& error);

    void openURL(const QUrl& url) override;

    std::shared_ptr<StatusBarController> statusController() const { return m_statusController; }
    std::shared_ptr<RequestManager> clipInitManager() const { return m_clipInitManager; }
    bool hasUpdateCheckTimer() const { return m_updateCheckTimer != nullptr; }

private:
    Services m_services;
    std::shared_ptr<StatusBarController> m_statusController;
    std::shared_ptr<RequestManager> m_clipInitManager;
    // The update check in flight, kept until the next one.
    std::shared_ptr<RequestManager> m_updateCheckRequest;
    std::unique_ptr<TimerSource::Repeating> m_updateCheckTimer;
    // Power connections end with the delegate.
    QObject m_context;
    bool m_launched = false;
    bool m_terminated = false;
};
