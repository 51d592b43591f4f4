#include "store/digest.h"
#include "x11/clipx11fixture.h"

#include <QElapsedTimer>

// With the poll at its slowest, another client's copy is still captured: the X server tells
// the clipboard of the new owner, and the watcher acts on that.
TEST_F(ClipX11Test, AnotherClientsCopyIsCapturedOnTheChangeLongBeforeThePoll)
{
    const std::chrono::hours poll(1);
    watcher->setPollInterval(poll);  // polls once now, then not for an hour
    watcher->waitForCaptures();
    for (int i = 0; i < 3; ++i) {
        const QString text = QStringLiteral("copied with xclip while the poll sleeps, number %1").arg(i);
        QElapsedTimer timer;
        timer.start();
        ASSERT_TRUE(xclipCopy(text.toUtf8()));
        const HistoryModelPtr clip = waitForRow(md5HexOfString(text));
        ASSERT_TRUE(clip) << text.toStdString();
        EXPECT_LT(std::chrono::milliseconds(timer.elapsed()), poll);
        EXPECT_EQ(clip->type(), QStringLiteral("text_txt+enc"));
    }
}
