#pragma once

#include <QObject>

#include <memory>

// The machine going to sleep and waking up, in the role of the workspace's will-sleep and
// did-wake notifications on macOS. Signals arrive on the main thread. Where the desktop gives no
// such events, none arrive: that is not an error.
class PowerEvents : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The events the rest of the system observes: logind's on the system bus unless replaced.
    // Connect after any replacement: connections stay with the object they were made on.
    static PowerEvents& current();
    // Replaces the current source (tests); nullptr restores the logind one.
    static void setCurrent(std::shared_ptr<PowerEvents> events);

signals:
    void willSleep();
    void didWake();
};
