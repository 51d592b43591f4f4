#include "platform/dispatch.h"
#include "platform/downloadsignal.h"
#include "support/testenv.h"


#include <gtest/gtest.h>

TEST(DownloadSignal, ArrivesOnTheMainThreadAfterThePost)
{
    auto& signal = DownloadSignal::sharedInstance();
    QStringList paths;
    bool onMain = true;
    QObject receiver;
    QObject::connect(&signal, &DownloadSignal::downloadFileFinished, &receiver, [&](const QString& path) {
        onMain = onMain && dispatch::isMainThread();
        paths << path;
    });
    SerialQueue queue(QStringLiteral("saver"));
    queue.sync([] { DownloadSignal::sharedInstance().postDownloadFileFinished(QStringLiteral("/home/u/Downloads/a.png")); });
    signal.postDownloadFileFinished(QStringLiteral("/home/u/Downloads/b.txt"));
    EXPECT_TRUE(paths.isEmpty());
    ASSERT_TRUE(testenv::waitUntil([&] { return paths.size() == 2; }));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(paths, QStringList({QStringLiteral("/home/u/Downloads/a.png"), QStringLiteral("/home/u/Downloads/b.txt")}));
    EXPECT_EQ(DownloadSignal::kName, QStringLiteral("com.apple.DownloadFileFinished"));
}
