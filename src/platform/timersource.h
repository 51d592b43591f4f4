#pragma once

#include <chrono>
#include <functional>
#include <memory>

// Timers on the main queue for the long-lived controllers, behind an interface so that tests
// run a clock of their own instead of waiting.
class TimerSource {
public:
    using Block = std::function<void()>;

    // A repeating timer; destroying it stops it.
    class Repeating {
    public:
        virtual ~Repeating() = default;
    };

    virtual ~TimerSource() = default;

    // Runs the block once, the delay from now.
    virtual void after(std::chrono::milliseconds delay, Block block) = 0;
    // Runs the tick every interval from now on, the first one an interval from now.
    virtual std::unique_ptr<Repeating> repeating(std::chrono::milliseconds interval, Block tick) = 0;

    // QTimer on the main thread.
    static std::shared_ptr<TimerSource> system();
};
