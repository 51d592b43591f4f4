#include "platform/dispatch.h"
#include "store/clipapphelper.h"
#include "store/clogger.h"
#include "store/pathhelper.h"
#include "support/testenv.h"

#include <QFileInfo>

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

namespace {
struct RecordingDelegate : ClipAppDelegate {
    QList<QUrl> urls;
    bool onMain = true;
    void openURL(const QUrl& url) override
    {
        onMain = onMain && dispatch::isMainThread();
        urls << url;
    }
};
}  // namespace

TEST(ClipAppHelper, HandsUrlsToTheDelegateOnTheMainThreadWithoutWaiting)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    auto& helper = ClipAppHelper::sharedInstance();
    helper.openURL(QUrl(QStringLiteral("https://example.org")));  // no delegate: dropped
    helper.setDelegate(delegate);
    SerialQueue queue(QStringLiteral("plugin"));
    queue.sync([&] { helper.openURL(QUrl(QStringLiteral("https://example.org/a"))); });
    helper.openURL(QUrl());
    ASSERT_TRUE(testenv::waitUntil([&] { return delegate->urls.size() == 1; }));
    EXPECT_TRUE(delegate->onMain);
    delegate.reset();  // weak: a gone delegate drops the URL
    helper.openURL(QUrl(QStringLiteral("https://example.org/b")));
    helper.setDelegate(nullptr);
}

TEST(CLogger, WritesIntoTheLibraryFolder)
{
    CLogger::resetForTests();  // set up again in this test's home
    CLogger::config();
    spdlog::info("hello from the test");
    qWarning("and from Qt");
    spdlog::default_logger()->flush();
    const QString file = PathHelper::getBaseAppLibraryPath(QString::fromLatin1(CLogger::logFileName()));
    EXPECT_TRUE(QFileInfo(file).size() > 0);
    CLogger::resetForTests();  // the file is gone with this test's home
}
