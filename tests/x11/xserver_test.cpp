#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>

#include "support/testenv.h"

#include <gtest/gtest.h>

// The X11 suite runs against a private Xvfb; outside clients (xclip) share its clipboard.
TEST(XServer, OutsideClientsShareThePrivateClipboard)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard")});
    ASSERT_TRUE(xclip.waitForStarted());
    xclip.write("from outside");
    xclip.closeWriteChannel();
    ASSERT_TRUE(xclip.waitForFinished());
    ASSERT_TRUE(testenv::waitUntil(
        [] { return QGuiApplication::clipboard()->text() == QStringLiteral("from outside"); }));
}
