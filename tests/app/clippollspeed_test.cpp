#include "app/clipfixture.h"

#include "store/clipuserdefaults.h"
#include "store/defaultskeys.h"

using namespace cliptest;

namespace {

class ClipPollSpeedTest : public ClipTest {};

}  // namespace

// A hand-stored poll speed the timer cannot hold (above about 2147483 s the milliseconds
// overflow and the poll stops for good) or that would leave copies unseen for minutes reads
// as the default, as 0 and broken values do; any value up to 10 s is taken as it is.
TEST_F(ClipPollSpeedTest, ASpeedAboveTenSecondsReadsAsTheDefault)
{
    const struct {
        QVariant stored;
        int milliseconds;
    } cases[] = {
        {QVariant(0.25), 250},
        {QVariant(QStringLiteral("0.25")), 250},
        {QVariant(10.0), 10000},
        {QVariant(10.5), 600},
        {QVariant(2147484.0), 600},
        {QVariant(1e30), 600},
        {QVariant(QStringLiteral("1e308")), 600},
        {QVariant(QStringLiteral("inf")), 600},
        {QVariant(QStringLiteral("nan")), 600},
        {QVariant(qint64(86400)), 600},
    };
    ClipController& controller = ClipController::sharedInstance();
    controller.setPollInterval(std::nullopt);  // from the setting
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.toString().toStdString());
        ClipUserDefaults::standardUserDefaults().setValue(DefaultsKey::ClipMonitorSpeed, c.stored);
        controller.startClipObserver();
        EXPECT_EQ(controller.pollInterval(), std::chrono::milliseconds(c.milliseconds));
    }
    controller.setPollInterval(std::chrono::hours(1));
}
