#include "platform/linux/systempasteboard.h"
#include "platform/x11/x11pastekeystroke.h"
#include "support/testenv.h"
#include "x11/pasteboardclients.h"
#include "x11/typingwindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct KeyPress {
    int key;
    Qt::KeyboardModifiers modifiers;
};

// A window that notes every key press it gets.
class KeyRecorder : public QWidget {
public:
    KeyRecorder()
    {
        setFocusPolicy(Qt::StrongFocus);
        resize(200, 100);
    }
    std::vector<KeyPress> presses;

protected:
    void keyPressEvent(QKeyEvent* event) override { presses.push_back({event->key(), event->modifiers()}); }
};

bool setLayout(const QStringList& arguments)
{
    const ClientRun run = runClient(QStringLiteral("setxkbmap"), arguments);
    return run.finished && run.exitCode == 0;
}

bool sawPaste(const KeyRecorder& recorder, int key)
{
    for (const KeyPress& press : recorder.presses)
        if (press.key == key && press.modifiers == Qt::ControlModifier)
            return true;
    return false;
}

class PasteKeystrokeX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        X11PasteKeystroke::forgetCachedKeyCode();
    }
};

}  // namespace

TEST_F(PasteKeystrokeX11, PastesAnotherClientsTextIntoTheFocusedField)
{
    QWidget window;
    QLineEdit* field = showFocusedField(window);
    ASSERT_NE(field, nullptr);

    ASSERT_TRUE(xclipCopy("pasted through XTest"));
    SystemPasteboard pasteboard;
    ASSERT_TRUE(testenv::waitUntil([&] { return pasteboard.snapshot().string() == QStringLiteral("pasted through XTest"); }));

    X11PasteKeystroke keystroke;
    ASSERT_TRUE(keystroke.postCommandV());
    EXPECT_TRUE(testenv::waitUntil([&] { return field->text() == QStringLiteral("pasted through XTest"); }))
        << field->text().toStdString();
    EXPECT_NE(X11PasteKeystroke::cachedKeyCode(), 0);
    EXPECT_EQ(keystroke.keyStringForKeyCode(X11PasteKeystroke::cachedKeyCode()), QStringLiteral("V"));
}

TEST_F(PasteKeystrokeX11, ReleasesModifiersStillHeldFromTheHotkey)
{
    KeyRecorder recorder;
    ASSERT_TRUE(showFocused(recorder, recorder));
    const ClientRun hold = runClient(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("shift+super+alt")});
    ASSERT_TRUE(hold.finished && hold.exitCode == 0);
    testenv::waitUntil([&] { return !recorder.presses.empty(); }, std::chrono::milliseconds(1000));
    recorder.presses.clear();

    ASSERT_TRUE(X11PasteKeystroke().postCommandV());
    EXPECT_TRUE(testenv::waitUntil([&] { return sawPaste(recorder, Qt::Key_V); }));
    for (const KeyPress& press : recorder.presses) {
        if (press.key == Qt::Key_V) {
            EXPECT_EQ(press.modifiers, Qt::ControlModifier);
        }
    }
}

TEST_F(PasteKeystrokeX11, FindsVInTheCurrentLayoutOnceAndKeepsIt)
{
    KeyRecorder recorder;
    ASSERT_TRUE(showFocused(recorder, recorder));
    X11PasteKeystroke keystroke;

    // A layout without a Latin V: nothing is posted and the search runs again next time.
    ASSERT_TRUE(setLayout({QStringLiteral("ru")}));
    EXPECT_FALSE(keystroke.postCommandV());
    EXPECT_EQ(X11PasteKeystroke::cachedKeyCode(), 0);

    ASSERT_TRUE(setLayout({QStringLiteral("us")}));
    ASSERT_TRUE(keystroke.postCommandV());
    const quint16 found = X11PasteKeystroke::cachedKeyCode();
    ASSERT_NE(found, 0);
    EXPECT_TRUE(testenv::waitUntil([&] { return sawPaste(recorder, Qt::Key_V); }));

    // On Dvorak the V moved elsewhere, but the key code found first is kept.
    ASSERT_TRUE(setLayout({QStringLiteral("-layout"), QStringLiteral("us"), QStringLiteral("-variant"), QStringLiteral("dvorak")}));
    const std::optional<QString> nowThere = keystroke.keyStringForKeyCode(found);
    ASSERT_TRUE(nowThere.has_value());
    ASSERT_NE(*nowThere, QStringLiteral("V"));
    recorder.presses.clear();
    ASSERT_TRUE(keystroke.postCommandV());
    EXPECT_EQ(X11PasteKeystroke::cachedKeyCode(), found);
    const int keyNowThere = nowThere->at(0).unicode();
    EXPECT_TRUE(testenv::waitUntil([&] { return sawPaste(recorder, keyNowThere); }));
    setLayout({QStringLiteral("us")});
}

TEST_F(PasteKeystrokeX11, KeyStringsComeFromTheCurrentLayout)
{
    X11PasteKeystroke keystroke;
    std::map<QString, int> codes;
    for (int code = 8; code < 256; ++code)
        if (const auto key = keystroke.keyStringForKeyCode(code))
            codes.emplace(*key, code);
    EXPECT_EQ(codes.count(QStringLiteral("V")), 1u);
    EXPECT_EQ(codes.count(QStringLiteral("1")), 1u);
    EXPECT_EQ(codes.count(QStringLiteral("v")), 0u) << "upper-cased";
    EXPECT_FALSE(keystroke.keyStringForKeyCode(-1).has_value());
    EXPECT_FALSE(keystroke.keyStringForKeyCode(256).has_value());
    EXPECT_FALSE(keystroke.keyStringForKeyCode(0).has_value());
}
