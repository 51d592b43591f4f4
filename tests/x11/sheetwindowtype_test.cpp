#include "support/testenv.h"
#include "windows/encryption/encloadingviewcontroller.h"
#include "windows/encryption/pinviewcontroller.h"
#include "x11/pasteboardclients.h"

#include <QGuiApplication>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

// One property of a window as xprop prints it ("NAME(TYPE) = VALUE").
QByteArray windowProperty(WId window, const char* name)
{
    const ClientRun run = runClient(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window),
                                                             QString::fromLatin1(name)});
    return run.finished && run.exitCode == 0 ? run.output.trimmed() : QByteArray();
}

}  // namespace

// What the window manager reads from each kind of sheet: a dialog, transient for its window.
TEST(SheetWindowTypeX11, SheetsAreDialogsTransientForTheirWindow)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QWidget window;
    window.resize(400, 300);
    window.show();
    ASSERT_TRUE(testenv::waitUntil([&] { return window.isVisible(); }));

    auto* pin = new PINViewController(1);
    auto* loading = new ENCLoadingViewController;
    for (SheetDialog* sheet : std::initializer_list<SheetDialog*>{pin, loading}) {
        const char* name = sheet->metaObject()->className();
        sheet->presentAsSheetOver(&window);
        ASSERT_TRUE(testenv::waitUntil([&] { return sheet->isVisible(); })) << name;
        QByteArray type;
        ASSERT_TRUE(testenv::waitUntil([&] {
            type = windowProperty(sheet->winId(), "_NET_WM_WINDOW_TYPE");
            return !type.isEmpty();
        })) << name;
        // The first type is the one the window manager takes (Qt adds NORMAL as a fallback).
        EXPECT_TRUE(type.contains("= _NET_WM_WINDOW_TYPE_DIALOG")) << name << ": " << type.toStdString();
        EXPECT_FALSE(type.contains("UTILITY")) << name;
        const QByteArray transient = windowProperty(sheet->winId(), "WM_TRANSIENT_FOR");
        EXPECT_TRUE(transient.endsWith("0x" + QByteArray::number(window.winId(), 16))) << name << ": "
                                                                                      << transient.toStdString();
        sheet->dismiss();
    }
    delete pin;
    delete loading;
}
