#include "platform/timersource.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

class QtRepeating : public TimerSource::Repeating {
public:
    QtRepeating(std::chrono::milliseconds interval, TimerSource::Block tick)
    {
        // Whole days fit QTimer's int milliseconds; coarse is enough for checks this far apart.
        m_timer.setTimerType(interval >= std::chrono::minutes(1) ? Qt::CoarseTimer : Qt::PreciseTimer);
        m_timer.setInterval(interval);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, std::move(tick));
        m_timer.start();
    }

private:
    QTimer m_timer;
};

class QtTimerSource : public TimerSource {
public:
    void after(std::chrono::milliseconds delay, Block block) override
    {
        QTimer::singleShot(delay, QCoreApplication::instance(), std::move(block));
    }
    std::unique_ptr<Repeating> repeating(std::chrono::milliseconds interval, Block tick) override
    {
        return std::make_unique<QtRepeating>(interval, std::move(tick));
    }
};

}  // namespace

std::shared_ptr<TimerSource> TimerSource::system()
{
    return std::make_shared<QtTimerSource>();
}
