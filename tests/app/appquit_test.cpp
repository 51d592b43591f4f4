#include "app/appdelegate.h"
#include "app/clipcontroller.h"
#include "app/statusbarcontroller.h"
#include "platform/fake/pasteboardfake.h"
#include "platform/fake/pastekeystrokefake.h"
#include "plugins/advanceprivacymanager.h"
#include "store/dbfetcher.h"
#include "store/dbkeeper.h"
#include "store/utils.h"
#include "support/testenv.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

// The application's own start-up and quit, with an in-memory pasteboard.
TEST(AppQuit, CapturesStillQueuedAtQuitAreStoredBeforeTheDatabaseCloses)
{
    DBFetcher::resetSharedInstance();
    auto pasteboard = std::make_shared<PasteboardFake>();
    Pasteboard::setGeneral(pasteboard);
    PasteKeystroke::setCurrent(std::make_shared<PasteKeystrokeFake>());
    // Each capture takes a while: a privacy script that thinks for 50 ms before it says "record".
    Utils::setAdvancePrivacy(true);
    AdvancePrivacyManager::sharedInstance().setScriptContent(
        QStringLiteral("function main(from, ext, content) local t = os.clock() "
                       "while os.clock() - t < 0.05 do end return 0 end"));

    auto delegate = std::make_shared<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    ClipController& watcher = ClipController::sharedInstance();
    watcher.setPollInterval(1h);
    watcher.waitForCaptures();

    constexpr int kCopies = 6;
    for (int i = 0; i < kCopies; ++i) {
        pasteboard->offer({{QStringLiteral("text/plain"), QStringLiteral("copy number %1").arg(i).toUtf8()}});
        watcher.seekClipboard();
    }
    delegate->applicationWillTerminate();
    EXPECT_FALSE(DBFetcher::sharedInstance().isOpen());

    // The next start finds every copy.
    DBFetcher::resetSharedInstance();
    QStringList stored;
    for (const HistoryModelPtr& clip : DBKeeper::getAllHistory())
        stored << clip->content().value_or(QString());
    for (int i = 0; i < kCopies; ++i)
        EXPECT_TRUE(stored.contains(QStringLiteral("copy number %1").arg(i))) << i;

    delegate.reset();
    StatusBarController::releaseSharedInstance();
}
