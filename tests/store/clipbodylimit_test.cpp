#include "store/clipbodylimit.h"

#include <gtest/gtest.h>

#include <limits>

// Capture, the sync requests, the download and the menu all ask this one question; a body of
// exactly the limit is kept and synced, one byte more is not.
TEST(ClipBodyLimit, TheLimitItselfIsAllowedAndOneByteMoreIsNot)
{
    const struct {
        double bytes;
        bool tooLarge;
    } cases[] = {
        {5767167, false},
        {5767168, false},
        {5767169, true},
        // A size no float holds is over outright; an unreadable one (NaN) never is.
        {1e300, true},
        {-1e300, false},
        {std::numeric_limits<double>::quiet_NaN(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(ClipBodyLimit::tooLarge(c.bytes), c.tooLarge);
    }
}
