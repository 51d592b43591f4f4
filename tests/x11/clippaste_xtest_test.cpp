#include "app/menucontroller.h"
#include "store/dbkeeper.h"
#include "store/digest.h"
#include "x11/clipx11fixture.h"
#include "x11/typingwindow.h"

#include <QDateTime>
#include <QLineEdit>
#include <QWidget>

TEST_F(ClipX11Test, AChosenTextClipIsPastedIntoTheFocusedFieldOfAnotherWindow)
{
    const QString text = QStringLiteral("pasted from the history \u2713");
    ASSERT_TRUE(xclipCopy(text.toUtf8()));
    const HistoryModelPtr clip = waitForRow(md5HexOfString(text));
    ASSERT_TRUE(clip);

    // Someone copies something else before the clip is chosen again.
    ASSERT_TRUE(xclipCopy("a later copy"));
    const HistoryModelPtr later = waitForRow(md5HexOfString(QStringLiteral("a later copy")));
    ASSERT_TRUE(later);
    // Times are whole seconds, and clips of the same second list in no set order: choose
    // the clip in a later second than that copy.
    ASSERT_TRUE(testenv::waitUntil(
        [&] { return QDateTime::currentSecsSinceEpoch() > later->timestamp().toLongLong(); },
        std::chrono::milliseconds(3000)));

    QWidget window;
    QLineEdit* field = showFocusedField(window);
    ASSERT_NE(field, nullptr);

    const qint64 seen = watcher->lastChangedCount();
    MenuController::sharedInstance().clickIteam(clip);
    EXPECT_TRUE(testenv::waitUntil([&] { return field->text() == text; })) << field->text().toStdString();
    EXPECT_EQ(QString::fromUtf8(xclipPaste().output), text) << "other clients read the clip too";

    // The watcher sees our write as the same clip.
    ASSERT_TRUE(waitForPollAfter(seen));
    watcher->waitForCaptures();
    EXPECT_EQ(DBKeeper::getAllHistory().size(), 2);
    EXPECT_EQ(DBKeeper::getAllHistory().front()->file_hash(), md5HexOfString(text)) << "moved to the top";
}
