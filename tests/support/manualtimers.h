#pragma once

#include "platform/timersource.h"

#include <algorithm>
#include <memory>
#include <vector>

// A clock the test moves by hand: advance() runs every timer that falls due on the way, in
// time order, at its own time.
class ManualTimers : public TimerSource {
public:
    using ms = std::chrono::milliseconds;

    void after(ms delay, Block block) override { add(delay, ms(0), std::move(block), nullptr); }

    std::unique_ptr<Repeating> repeating(ms interval, Block tick) override
    {
        auto alive = std::make_shared<bool>(true);
        add(interval, interval, std::move(tick), alive);
        return std::make_unique<Handle>(alive);
    }

    void advance(ms by)
    {
        const ms target = now + by;
        for (;;) {
            std::erase_if(m_entries, [](const Entry& e) { return e.alive && !*e.alive; });
            auto next = std::min_element(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
                return a.due != b.due ? a.due < b.due : a.order < b.order;
            });
            if (next == m_entries.end() || next->due > target)
                break;
            now = next->due;
            Block block = next->block;
            if (next->interval > ms(0))
                next->due += next->interval;
            else
                m_entries.erase(next);
            block();
        }
        now = target;
    }

    int liveRepeating() const
    {
        return static_cast<int>(std::count_if(m_entries.begin(), m_entries.end(),
                                              [](const Entry& e) { return e.alive && *e.alive; }));
    }
    int pendingOnce() const
    {
        return static_cast<int>(std::count_if(m_entries.begin(), m_entries.end(), [](const Entry& e) { return !e.alive; }));
    }

    ms now{0};

private:
    struct Handle : Repeating {
        explicit Handle(std::shared_ptr<bool> a) : alive(std::move(a)) {}
        ~Handle() override { *alive = false; }
        std::shared_ptr<bool> alive;
    };
    struct Entry {
        ms due;
        ms interval;
        Block block;
        std::shared_ptr<bool> alive;  // null for a one-shot
        int order;
    };
    void add(ms delay, ms interval, Block block, std::shared_ptr<bool> alive)
    {
        m_entries.push_back({now + delay, interval, std::move(block), std::move(alive), m_order++});
    }

    std::vector<Entry> m_entries;
    int m_order = 0;
};
