#include "platform/dispatch.h"
#include "support/mainqueue.h"
#include "support/testenv.h"
#include "sync/progressmanager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {
struct Spinner : ProgressProtocol {
    std::vector<float> values;
    bool onMain = true;
    void setProgress(float fraction, bool animated) override
    {
        EXPECT_FALSE(animated);
        onMain = onMain && dispatch::isMainThread();
        values.push_back(fraction);
    }
};
}  // namespace

TEST(ProgressManager, ReportsReachTheReceiverOnMainInOrder)
{
    auto spinner = std::make_shared<Spinner>();
    auto& pm = ProgressManager::sharedInstance();
    pm.registerGlobalProgress(spinner);
    SerialQueue network(QStringLiteral("download manager"));
    network.sync([&] {
        pm.progress({1, 2}, QStringLiteral("h"));
        pm.progress({999, 1000}, QStringLiteral("h"));
        pm.progress({1000, 1000}, QStringLiteral("h"));
        pm.progress({10, -1}, QStringLiteral("h"));  // length not announced
        pm.progress({0, 0}, QStringLiteral("h"));
        pm.progressEnded(QStringLiteral("h"));       // failed or unknown length: stop the spinner
    });
    ASSERT_TRUE(testenv::waitUntil([&] { return spinner->values.size() == 6; }));
    EXPECT_TRUE(spinner->onMain);
    EXPECT_FLOAT_EQ(spinner->values[0], 0.5f);
    EXPECT_NE(spinner->values[1], 1.0f);  // 0.999 keeps spinning
    EXPECT_EQ(spinner->values[2], 1.0f);
    EXPECT_LT(spinner->values[3], 0.0f);
    EXPECT_TRUE(std::isnan(spinner->values[4]));
    EXPECT_EQ(spinner->values[5], 1.0f);
}

TEST(ProgressManager, NoReceiverOrAGoneOneDropsReports)
{
    auto& pm = ProgressManager::sharedInstance();
    pm.progress({1, 1}, QStringLiteral("h"));  // nothing registered
    auto spinner = std::make_shared<Spinner>();
    pm.registerGlobalProgress(spinner);
    std::weak_ptr<Spinner> weak = spinner;
    spinner.reset();
    pm.progress({1, 1}, QStringLiteral("h"));
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_TRUE(weak.expired());
}
