#include "platform/fake/pastekeystrokefake.h"
#include "platform/x11/x11pastekeystroke.h"

#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

namespace {

// Collects what is logged while it lives.
class LogCapture {
public:
    LogCapture()
        : m_sink(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(64))
        , m_previous(spdlog::default_logger())
    {
        m_sink->set_pattern("%v");
        m_sink->set_level(spdlog::level::trace);
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("capture", m_sink));
    }
    ~LogCapture() { spdlog::set_default_logger(m_previous); }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> lines = m_sink->last_formatted();
        for (std::string& line : lines)
            while (!line.empty() && line.back() == '\n')
                line.pop_back();
        return lines;
    }

private:
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> m_sink;
    std::shared_ptr<spdlog::logger> m_previous;
};

}  // namespace

TEST(X11PasteKeystroke, WithoutADisplayLogsNoEventSourceAndPostsNothing)
{
    X11PasteKeystroke::forgetCachedKeyCode();
    X11PasteKeystroke keystroke(QStringLiteral(":59999"));
    LogCapture log;
    EXPECT_FALSE(keystroke.postCommandV());
    EXPECT_FALSE(keystroke.postCommandV()) << "a display that cannot be reached is tried again, and fails again";
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"No event source", "No event source"}));
    EXPECT_EQ(X11PasteKeystroke::cachedKeyCode(), 0);
    EXPECT_FALSE(keystroke.keyStringForKeyCode(55).has_value());
}

TEST(PasteKeystroke, FreeFunctionsGoToTheCurrentKeystroke)
{
    auto fake = std::make_shared<PasteKeystrokeFake>();
    fake->layout[9] = QStringLiteral("V");
    PasteKeystroke::setCurrent(fake);
    EXPECT_TRUE(postCommandV());
    EXPECT_EQ(fake->posted, 1);
    EXPECT_EQ(keyStringForKeyCode(9), QStringLiteral("V"));
    EXPECT_FALSE(keyStringForKeyCode(-1).has_value());

    fake->hasEventSource = false;
    LogCapture log;
    EXPECT_FALSE(postCommandV());
    EXPECT_EQ(fake->posted, 1);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"No event source"});
    PasteKeystroke::setCurrent(nullptr);
}
