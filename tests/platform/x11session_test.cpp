#include "platform/x11/x11session.h"

#include <gtest/gtest.h>

TEST(X11Session, ThePlatformIsTheOneQtWillUse)
{
    struct Case {
        QStringList arguments;
        const char* variable;
        const char* platform;
    };
    const Case cases[] = {
        {{"nuvarel"}, "", "xcb"},
        {{"nuvarel"}, "offscreen", "offscreen"},
        {{"nuvarel"}, "xcb:nomitshm", "xcb"},
        {{"nuvarel"}, "wayland;xcb", "wayland"},
        {{"nuvarel", "-platform", "offscreen"}, "xcb", "offscreen"},
        {{"nuvarel", "--platform", "minimal"}, "", "minimal"},
        {{"nuvarel", "-platform"}, "offscreen", "offscreen"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(X11Session::platformName(c.arguments, QString::fromLatin1(c.variable)),
                  QString::fromLatin1(c.platform))
            << c.arguments.join(' ').toStdString() << " / " << c.variable;
    EXPECT_EQ(X11Session::displayName({"nuvarel", "-display", ":7"}), QStringLiteral(":7"));
    EXPECT_EQ(X11Session::displayName({"nuvarel"}), QString());
}

TEST(X11Session, OnlyTheX11PlatformNeedsADisplay)
{
    // No server listens on display 9999.
    EXPECT_FALSE(X11Session::available({"nuvarel", "-display", ":9999"}, QString()));
    EXPECT_FALSE(X11Session::available({"nuvarel", "-display", ":9999"}, QStringLiteral("xcb")));
    EXPECT_TRUE(X11Session::available({"nuvarel", "-display", ":9999"}, QStringLiteral("offscreen")));
}
