#include "platform/linux/terminationsignals.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <memory>
#include <vector>

namespace {

// Puts the default dispositions back, so a signal after the test ends the process as usual.
struct DefaultDispositions {
    ~DefaultDispositions()
    {
        TerminationSignals::install([](int) {});
        for (int s : {SIGTERM, SIGINT, SIGHUP})
            std::signal(s, SIG_DFL);
    }
};

}  // namespace

TEST(TerminationSignals, TheSignalReachesTheMainThreadAndErrnoIsLeftAsItWas)
{
    DefaultDispositions restore;
    auto seen = std::make_shared<std::vector<int>>();
    TerminationSignals::install([seen](int signal) { seen->push_back(signal); });

    ASSERT_EQ(std::raise(SIGHUP), 0);
    ASSERT_TRUE(testenv::waitUntil([&] { return !seen->empty(); }));
    EXPECT_EQ(seen->front(), SIGHUP);

    // Far more signals than the socket between handler and main thread holds (a one-byte
    // write takes far more than a byte of the socket's send buffer) while the main thread is
    // not reading: once it is full every write in the handler fails with EAGAIN.
    constexpr int kSignals = 20000;
    int changed = 0;
    for (int i = 0; i < kSignals; ++i) {
        errno = ENOTTY;
        std::raise(SIGHUP);
        if (errno != ENOTTY)
            ++changed;
    }
    EXPECT_EQ(changed, 0);
    const size_t before = seen->size();
    ASSERT_TRUE(testenv::waitUntil([&] { return seen->size() > before; }));
}
