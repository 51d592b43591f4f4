#include "windows/preferences/generalviewcontroller.h"
#include "app/clipcontroller.h"
#include "windows/preferences/hotkeyrecorder.h"

#include "platform/linux/loginitemsxdg.h"
#include "store/dbkeeper.h"
#include "store/pathhelper.h"
#include "store/utils.h"
#include "windows/progressoverlay.h"

#include "preferencesfixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

using namespace std::chrono_literals;

namespace {

class GeneralPaneTest : public PreferencesTest {
protected:
    GeneralViewController* general() { return showPane<GeneralViewController>(0); }

    static void press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(widget, &event);
    }

    // Seven history rows, two of them favourites, and the two favourite copies.
    void sevenRowsTwoFavourites()
    {
        for (int i = 0; i < 7; ++i)
            savedText(QStringLiteral("clip %1").arg(i), 1000 + i, i < 2 ? 5000 + i : 0);
        for (int i = 0; i < 2; ++i)
            savedText(QStringLiteral("clip %1").arg(i), 1000 + i, 5000 + i, QStringLiteral("favourite"));
    }

    static QString autostartEntry() { return testenv::home() + QStringLiteral("/.config/autostart/nuvarel.desktop"); }
};

}  // namespace

TEST_F(GeneralPaneTest, EachSliderStopStoresItsIntervalAndRestartsThePoll)
{
    struct Case {
        int moveTo;
        double stored;
        const char* label;
        int sitsAt;
    };
    const Case cases[] = {
        {40, 0.3, "0.3", 40}, {0, 0.1, "0.1", 0},   {20, 0.2, "0.2", 20}, {60, 0.4, "0.4", 60},
        {80, 0.5, "0.5", 80}, {100, 0.6, "0.6", 100}, {47, 0.3, "0.3", 40}, {91, 0.6, "0.6", 100},
    };
    GeneralViewController* pane = general();
    for (const Case& c : cases) {
        restartedWith.clear();
        pane->speedSlider()->setValue(c.moveTo);
        EXPECT_EQ(pane->speedSlider()->value(), c.sitsAt) << c.moveTo;
        EXPECT_DOUBLE_EQ(UserDefaults::standard().value(DefaultsKey::ClipMonitorSpeed).toDouble(), c.stored) << c.moveTo;
        EXPECT_EQ(pane->speedLabel()->text(), QLatin1String(c.label)) << c.moveTo;
        // The poll restarted once, after the new interval was stored.
        ASSERT_EQ(restartedWith.size(), 1) << c.moveTo;
        EXPECT_DOUBLE_EQ(restartedWith.first().toDouble(), c.stored);
    }
    EXPECT_DOUBLE_EQ(GeneralViewController::intervalForPosition(33), 0.6);
}

// The label follows a drag stop by stop; only the release stores and restarts the poll.
TEST_F(GeneralPaneTest, WhileDraggingTheLabelFollowsTheHandleAndTheReleaseStores)
{
    GeneralViewController* pane = general();
    QSlider* slider = pane->speedSlider();
    slider->setSliderDown(true);
    for (const auto& [position, label] : {std::pair{83, "0.5"}, {47, "0.3"}, {40, "0.3"}, {9, "0.1"}, {22, "0.2"}}) {
        slider->setSliderPosition(position);
        EXPECT_EQ(pane->speedLabel()->text(), QLatin1String(label)) << position;
    }
    EXPECT_TRUE(restartedWith.isEmpty());
    EXPECT_FALSE(UserDefaults::standard().contains(DefaultsKey::ClipMonitorSpeed));
    slider->setSliderDown(false);
    EXPECT_EQ(slider->value(), 20);
    EXPECT_DOUBLE_EQ(UserDefaults::standard().value(DefaultsKey::ClipMonitorSpeed).toDouble(), 0.2);
    ASSERT_EQ(restartedWith.size(), 1);
    EXPECT_EQ(pane->speedLabel()->text(), QStringLiteral("0.2"));
}

TEST_F(GeneralPaneTest, TheStoredIntervalPlacesTheSliderWhenItIsOneOfTheStops)
{
    struct Case {
        QVariant stored;
        int slider;
        const char* label;
    };
    const Case cases[] = {
        {QVariant(), 100, "0.6"},
        {QVariant(0.3), 40, "0.3"},
        {QVariant(0.1), 0, "0.1"},
        // Not a stop: the slider stays where the pane put it, the label shows the value.
        {QVariant(0.25), 100, "0.25"},
        {QVariant(QStringLiteral("fast")), 100, "0.6"},
        // What the watcher polls with: a value it cannot use shows as the default it uses.
        {QVariant(25), 100, "0.6"},
        {QVariant(0), 100, "0.6"},
        {QVariant(-0.3), 100, "0.6"},
        {QVariant(10.5), 100, "0.6"},
        {QVariant(10), 100, "10"},
        {QVariant(QStringLiteral("0.4")), 60, "0.4"},
    };
    for (const Case& c : cases) {
        UserDefaults::standard().setValue(DefaultsKey::ClipMonitorSpeed, c.stored);
        GeneralViewController pane(recorders());
        EXPECT_EQ(pane.speedSlider()->value(), c.slider) << c.stored.toString().toStdString();
        EXPECT_EQ(pane.speedLabel()->text(), QLatin1String(c.label));
        EXPECT_DOUBLE_EQ(ClipController::monitorSpeedFromSettings(), pane.speedLabel()->text().toDouble());
    }
    EXPECT_TRUE(restartedWith.isEmpty()) << "showing the pane changes nothing";
}

TEST_F(GeneralPaneTest, LaunchAtLoginWritesAndRemovesTheAutostartEntry)
{
    LoginItems::setCurrent(std::make_shared<LoginItemsXdg>());
    GeneralViewController* pane = general();
    EXPECT_FALSE(pane->startupButton()->isChecked());

    pane->startupButton()->click();
    ASSERT_TRUE(QFile::exists(autostartEntry()));
    QFile entry(autostartEntry());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=") + LoginItemsXdg::execForPath(QCoreApplication::applicationFilePath()) + QStringLiteral("\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nName=Nuvarel\n")));
    EXPECT_EQ(text.count(QStringLiteral("Exec=")), 1);

    // A new pane reads the state again.
    pane = showPane<GeneralViewController>(0);
    EXPECT_TRUE(pane->startupButton()->isChecked());

    pane->startupButton()->click();
    EXPECT_FALSE(QFile::exists(autostartEntry()));
    EXPECT_FALSE(showPane<GeneralViewController>(0)->startupButton()->isChecked());
}

TEST_F(GeneralPaneTest, TheCheckBoxShowsTheRealStateWhenTheEntryCannotBeChanged)
{
    // A file where the autostart folder should be: the entry cannot be written.
    LoginItems::setCurrent(std::make_shared<LoginItemsXdg>());
    ASSERT_TRUE(QDir().mkpath(testenv::home() + QStringLiteral("/.config")));
    QFile blocker(testenv::home() + QStringLiteral("/.config/autostart"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    GeneralViewController* pane = general();
    pane->startupButton()->click();
    EXPECT_FALSE(pane->startupButton()->isChecked());

    // Removal refused: the entry is still there, and the box says so.
    auto items = std::make_shared<LoginItemsFake>();
    items->paths << QCoreApplication::applicationFilePath();
    items->failRemove = true;
    LoginItems::setCurrent(items);
    pane = showPane<GeneralViewController>(0);
    ASSERT_TRUE(pane->startupButton()->isChecked());
    pane->startupButton()->click();
    EXPECT_TRUE(pane->startupButton()->isChecked());
    EXPECT_EQ(items->hides, QList<bool>{});
}

TEST_F(GeneralPaneTest, AutoSetPasteboardFollowsItsCheckBox)
{
    GeneralViewController* pane = general();
    EXPECT_FALSE(pane->setAutoPB()->isChecked());
    pane->setAutoPB()->click();
    EXPECT_TRUE(Utils::isAutoSetPasteboard());
    EXPECT_TRUE(showPane<GeneralViewController>(0)->setAutoPB()->isChecked());
    pane = showPane<GeneralViewController>(0);
    pane->setAutoPB()->click();
    EXPECT_FALSE(Utils::isAutoSetPasteboard());
}

TEST_F(GeneralPaneTest, TheRecorderRecordsTheCurrentHotkeyAgainAndANewOne)
{
    const Shortcut current = Shortcut::defaultShortcut();
    ASSERT_EQ(hotkeys->registeredShortcut(), current);
    GeneralViewController* pane = general();
    HotkeyRecorder* recorder = pane->shortcutView();
    EXPECT_EQ(recorder->displayText(), QStringLiteral("Super+Shift+V"));

    // While recording, the current hotkey is let go so pressing it reaches the recorder.
    recorder->field()->click();
    ASSERT_TRUE(recorder->isRecording());
    EXPECT_EQ(hotkeys->registeredShortcut(), std::nullopt);
    press(recorder, Qt::Key_V, Qt::ShiftModifier | Qt::MetaModifier);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(hotkeys->registeredShortcut(), current);

    // A new one is registered and stored at once; a key without a modifier is no hotkey.
    recorder->field()->click();
    press(recorder, Qt::Key_K);
    EXPECT_TRUE(recorder->isRecording());
    press(recorder, Qt::Key_Control);
    EXPECT_TRUE(recorder->isRecording());
    press(recorder, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    const Shortcut recorded{40, Shortcut::ControlFlag | Shortcut::OptionFlag};
    EXPECT_EQ(hotkeys->registeredShortcut(), recorded);
    EXPECT_EQ(shortcuts->shortcut(), recorded);
    EXPECT_EQ(UserDefaults::standard().integerForKey(DefaultsKey::KeyCode), 40);
    EXPECT_EQ(UserDefaults::standard().integerForKey(DefaultsKey::ModifierFlags),
              Shortcut::ControlFlag | Shortcut::OptionFlag);
    EXPECT_EQ(recorder->displayText(), QStringLiteral("Ctrl+Alt+K"));

    // Escape ends recording and keeps the hotkey.
    recorder->field()->click();
    press(recorder, Qt::Key_Escape);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(hotkeys->registeredShortcut(), recorded);

    // Clearing switches it off.
    recorder->clearButton()->click();
    EXPECT_EQ(hotkeys->registeredShortcut(), std::nullopt);
    EXPECT_TRUE(ShortcutController::isShortcutOff());
    EXPECT_EQ(recorder->displayText(), QStringLiteral("点击录制快捷键"));
    // Recording while off and giving up leaves it off.
    recorder->field()->click();
    press(recorder, Qt::Key_Escape);
    EXPECT_EQ(hotkeys->registeredShortcut(), std::nullopt);
    EXPECT_EQ(showPane<GeneralViewController>(0)->shortcutView()->shortcutValue(), std::nullopt);
}

TEST_F(GeneralPaneTest, ClearingLoggedOutKeepsTheFavouritesAndReportsTheRowsRemoved)
{
    sevenRowsTwoFavourites();
    GeneralViewController* pane = general();

    alerts->scriptAnswers({1});
    pane->clearButton()->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return alerts->count() == 1 && alerts->pendingCount() == 0; }));
    EXPECT_EQ(DBKeeper::getAllHistoryAtCategory(QStringLiteral("history")).size(), 7) << "取消 clears nothing";

    alerts->scriptAnswers({0});
    pane->clearButton()->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return alerts->count() == 3; }));
    EXPECT_EQ(alerts->texts().at(1),
              QStringLiteral("清空历史纪录?|点击清空将会删除您的所有历史纪录(除收藏外)"));
    EXPECT_EQ(alerts->shown().at(1).alert.buttons, (QStringList{QStringLiteral("清空历史纪录"), QStringLiteral("取消")}));
    EXPECT_EQ(alerts->messages().at(2), QStringLiteral("共清空了：5条"));
    EXPECT_EQ(DBKeeper::getAllHistoryAtCategory(QStringLiteral("history")).size(), 2);
    EXPECT_EQ(DBKeeper::getAllHistoryAtCategory(QStringLiteral("favourite")).size(), 2);
    EXPECT_TRUE(QFile::exists(PathHelper::getBaseFilePath(md5HexOfString(QStringLiteral("clip 0")))));
    EXPECT_FALSE(QFile::exists(PathHelper::getBaseFilePath(md5HexOfString(QStringLiteral("clip 6")))));
    EXPECT_EQ(dataChangedPosts, 1);
    EXPECT_TRUE(testenv::waitUntil([&] { return window().findChildren<ProgressOverlay*>().isEmpty(); }));
}

TEST_F(GeneralPaneTest, ClearingLoggedInReportsTheServersCountOrFails)
{
    struct Case {
        const char* name;
        std::optional<webdouble::Fault> fault;
        QString message;
        qsizetype historyLeft;
    };
    const Case cases[] = {
        {"the server's count", webdouble::Fault::rawBody(R"({"code":0,"count":12})"), QStringLiteral("共清空了：12条"), 2},
        {"no count", webdouble::Fault::rawBody(R"({"code":0})"), QStringLiteral("共清空了：5条"), 2},
        {"a negative count", webdouble::Fault::rawBody(R"({"code":0,"count":-3})"), QStringLiteral("共清空了：5条"), 2},
        {"the double's own reply", std::nullopt, QStringLiteral("共清空了：0条"), 2},
        {"a refusal", webdouble::Fault::replyCode(1), QStringLiteral("清空失败"), 7},
        {"no JSON", webdouble::Fault::rawBody("<html>"), QStringLiteral("清空失败"), 7},
        {"a server error", webdouble::Fault::status(500), QStringLiteral("清空失败"), 7},
    };
    logInAs(QStringLiteral("eve@example.com"));
    for (const Case& c : cases) {
        DBKeeper::removeAllData();
        sevenRowsTwoFavourites();
        server.clearFaults();
        if (c.fault)
            server.setFault("/clear_history/", *c.fault);
        alerts->clear();
        const int postsBefore = dataChangedPosts;
        alerts->scriptAnswers({0});
        general()->clearButton()->click();
        ASSERT_TRUE(testenv::waitUntil([&] { return alerts->count() == 2; }, 20s)) << c.name;
        EXPECT_EQ(alerts->messages().at(1), c.message) << c.name;
        EXPECT_EQ(DBKeeper::getAllHistoryAtCategory(QStringLiteral("history")).size(), c.historyLeft) << c.name;
        EXPECT_EQ(dataChangedPosts - postsBefore, c.historyLeft == 2 ? 1 : 0) << c.name;
        EXPECT_TRUE(testenv::waitUntil([&] { return window().findChildren<ProgressOverlay*>().isEmpty(); })) << c.name;
    }
    EXPECT_EQ(server.requestsTo("/clear_history/").size(), 7u);
}

TEST_F(GeneralPaneTest, UnderTheClearingOverlayNoKeyReachesTheWindow)
{
    logInAs(QStringLiteral("kim@example.com"));
    window();
    // The window shows its panel again after the login: let that happen first.
    drainMainQueue();
    sevenRowsTwoFavourites();
    // The clear stays on its way long enough for the keys below.
    server.setFault("/clear_history/", webdouble::Fault::delayed(3s));
    GeneralViewController* pane = general();
    QPushButton* clear = pane->clearButton();
    window().activateWindow();
    clear->setFocus();
    alerts->scriptAnswers({0, 0, 0});
    clear->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return server.requestsTo("/clear_history/").size() == 1; }, 20s));
    ASSERT_EQ(window().findChildren<ProgressOverlay*>().size(), 1u);

    // What a user's keyboard does under the overlay: Space and Return on the button, the arrows
    // and a letter on the sidebar, Tab, Escape.
    QWidget* sideBar = window().settingSideBar();
    const struct {
        QWidget* to;
        int key;
    } presses[] = {
        {clear, Qt::Key_Space}, {clear, Qt::Key_Return}, {sideBar, Qt::Key_Down},
        {sideBar, Qt::Key_End}, {clear, Qt::Key_Tab},    {&window(), Qt::Key_Escape},
    };
    for (const auto& p : presses) {
        QKeyEvent shortcut(QEvent::ShortcutOverride, p.key, Qt::NoModifier);
        QApplication::sendEvent(p.to, &shortcut);
        press(p.to, p.key);
        QKeyEvent release(QEvent::KeyRelease, p.key, Qt::NoModifier);
        QApplication::sendEvent(p.to, &release);
    }
    // A press that still reaches the button starts no second clear.
    EXPECT_FALSE(clear->isEnabled());
    clear->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(window().selectedIndex(), 0);
    EXPECT_EQ(window().currentViewController(), pane);
    EXPECT_TRUE(window().isVisible());

    ASSERT_TRUE(testenv::waitUntil([&] { return alerts->count() >= 2; }, 20s));
    EXPECT_EQ(alerts->messages(), (QStringList{QStringLiteral("清空历史纪录?"), QStringLiteral("共清空了：0条")}));
    EXPECT_EQ(server.requestsTo("/clear_history/").size(), 1u);
    EXPECT_EQ(DBKeeper::getAllHistoryAtCategory(QStringLiteral("history")).size(), 2);

    // Once the overlay is gone the keyboard works again.
    ASSERT_TRUE(testenv::waitUntil([&] { return window().findChildren<ProgressOverlay*>().isEmpty(); }));
    EXPECT_TRUE(clear->isEnabled());
    window().settingSideBar()->setFocus();
    press(window().settingSideBar(), Qt::Key_Down);
    EXPECT_EQ(window().selectedIndex(), 1);
}

TEST_F(GeneralPaneTest, TheRecorderTakesOnlyCombinationsThatCannotBreakTyping)
{
    struct Case {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        // The hotkey it becomes; nothing when refused.
        std::optional<Shortcut> accepted;
    };
    const qint64 shift = Shortcut::ShiftFlag;
    const qint64 control = Shortcut::ControlFlag;
    const qint64 alt = Shortcut::OptionFlag;
    const qint64 super = Shortcut::CommandFlag;
    const Case cases[] = {
        {"F5 alone", Qt::Key_F5, Qt::NoModifier, Shortcut{96, 0}},
        {"Shift+F5", Qt::Key_F5, Qt::ShiftModifier, Shortcut{96, shift}},
        {"Ctrl+Alt+K", Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, Shortcut{40, control | alt}},
        {"Super+V", Qt::Key_V, Qt::MetaModifier, Shortcut{9, super}},
        {"Shift+Super+V", Qt::Key_V, Qt::ShiftModifier | Qt::MetaModifier, Shortcut::defaultShortcut()},
        {"Ctrl+Shift+K", Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier, Shortcut{40, control | shift}},
        {"Ctrl+Alt+Shift+V", Qt::Key_V, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier,
         Shortcut{9, control | alt | shift}},
        {"Alt+Space", Qt::Key_Space, Qt::AltModifier, Shortcut{49, alt}},
        {"Alt+Escape", Qt::Key_Escape, Qt::AltModifier, Shortcut{53, alt}},
        {"A", Qt::Key_A, Qt::NoModifier, std::nullopt},
        {"Shift+A", Qt::Key_A, Qt::ShiftModifier, std::nullopt},
        {"Shift+Tab", Qt::Key_Backtab, Qt::ShiftModifier, std::nullopt},
        {"Shift+Space", Qt::Key_Space, Qt::ShiftModifier, std::nullopt},
        {"Shift+Return", Qt::Key_Return, Qt::ShiftModifier, std::nullopt},
        {"Alt+E", Qt::Key_E, Qt::AltModifier, std::nullopt},
        {"Alt+Shift+E", Qt::Key_E, Qt::AltModifier | Qt::ShiftModifier, std::nullopt},
        {"Ctrl+V, the paste keystroke", Qt::Key_V, Qt::ControlModifier, std::nullopt},
        {"Ctrl+C", Qt::Key_C, Qt::ControlModifier, std::nullopt},
        {"Ctrl+X", Qt::Key_X, Qt::ControlModifier, std::nullopt},
        {"Ctrl+Z", Qt::Key_Z, Qt::ControlModifier, std::nullopt},
        {"Ctrl+A", Qt::Key_A, Qt::ControlModifier, std::nullopt},
        // A terminal's paste and copy, an editor's redo.
        {"Ctrl+Shift+V", Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier, std::nullopt},
        {"Ctrl+Shift+C", Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, std::nullopt},
        {"Ctrl+Shift+Z", Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, std::nullopt},
    };
    HotkeyRecorder* recorder = general()->shortcutView();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Shortcut> before = shortcuts->shortcut();
        recorder->field()->click();
        ASSERT_TRUE(recorder->isRecording());
        press(recorder, c.key, c.modifiers);
        if (c.accepted) {
            EXPECT_FALSE(recorder->isRecording());
            EXPECT_EQ(shortcuts->shortcut(), c.accepted);
            EXPECT_EQ(hotkeys->registeredShortcut(), c.accepted);
            EXPECT_EQ(ShortcutController::storedShortcut(), c.accepted);
            EXPECT_TRUE(recorder->hintText().isEmpty());
            continue;
        }
        // Refused: named under the field, recording goes on, nothing changes.
        EXPECT_TRUE(recorder->isRecording());
        EXPECT_TRUE(recorder->hintText().contains(QStringLiteral("不能用作快捷键"))) << recorder->hintText().toStdString();
        EXPECT_EQ(shortcuts->shortcut(), before);
        EXPECT_EQ(ShortcutController::storedShortcut(), before);
        press(recorder, Qt::Key_Escape);
        EXPECT_FALSE(recorder->isRecording());
        EXPECT_TRUE(recorder->hintText().isEmpty());
        EXPECT_EQ(hotkeys->registeredShortcut(), before);
    }
    EXPECT_TRUE(alerts->messages().isEmpty());
    EXPECT_EQ(HotkeyRecorder::refusalFor(Shortcut::pasteKeystroke()), HotkeyRecorder::Refusal::PasteKeystroke);
    EXPECT_EQ(HotkeyRecorder::refusalFor(Shortcut{8, control}), HotkeyRecorder::Refusal::StandardShortcut);
    EXPECT_EQ(HotkeyRecorder::refusalFor(Shortcut{0, shift}), HotkeyRecorder::Refusal::NeedsModifier);
    // The three are refused for what they do elsewhere, and the hint says so.
    for (const qint64 keyCode : {9, 8, 6})
        EXPECT_EQ(HotkeyRecorder::refusalFor(Shortcut{keyCode, control | shift}), HotkeyRecorder::Refusal::TerminalShortcut)
            << keyCode;
    recorder->field()->click();
    press(recorder, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(recorder->hintText(), QStringLiteral("Ctrl+Shift+V 不能用作快捷键: 终端用它复制或粘贴, 编辑器用它重做"));
    press(recorder, Qt::Key_Escape);
}

TEST_F(GeneralPaneTest, AHotkeyAnotherProgramHoldsIsNotTakenAndThePreviousOneStays)
{
    const Shortcut taken{38, Shortcut::ControlFlag | Shortcut::OptionFlag};  // Ctrl+Alt+J
    hotkeys->taken << taken;
    HotkeyRecorder* recorder = general()->shortcutView();
    for (const std::optional<Shortcut>& previous : {std::optional<Shortcut>(Shortcut::defaultShortcut()),
                                                    std::optional<Shortcut>()}) {
        SCOPED_TRACE(previous ? "with a hotkey" : "with the hotkey off");
        alerts->clear();
        if (!previous)
            recorder->clearButton()->click();
        recorder->field()->click();
        press(recorder, Qt::Key_J, Qt::ControlModifier | Qt::AltModifier);
        EXPECT_FALSE(recorder->isRecording());
        EXPECT_EQ(hotkeys->registeredShortcut(), previous);
        EXPECT_EQ(shortcuts->shortcut(), previous);
        EXPECT_EQ(recorder->shortcutValue(), previous);
        if (previous) {
            EXPECT_EQ(ShortcutController::storedShortcut(), previous);
        } else {
            EXPECT_TRUE(ShortcutController::isShortcutOff());
        }
        ASSERT_TRUE(testenv::waitUntil([&] { return alerts->count() == 1; }));
        EXPECT_EQ(alerts->messages(), QStringList{QStringLiteral("组合键 Ctrl+Alt+J 已被其他程序占用")});
        EXPECT_EQ(alerts->shown().first().alert.informativeText,
                  previous ? QStringLiteral("快捷键仍为 Super+Shift+V。") : QStringLiteral("快捷键仍为关闭。"));
        EXPECT_EQ(alerts->shown().first().parent, &window());
    }
    // A free one is taken at once.
    recorder->field()->click();
    press(recorder, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    const Shortcut free{40, Shortcut::ControlFlag | Shortcut::OptionFlag};
    EXPECT_EQ(hotkeys->registeredShortcut(), free);
    EXPECT_EQ(ShortcutController::storedShortcut(), free);
}

TEST_F(GeneralPaneTest, TheRecorderStartsAndClearsFromTheKeyboard)
{
    HotkeyRecorder* recorder = general()->shortcutView();
    EXPECT_EQ(recorder->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    for (int start : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        press(recorder, start);
        EXPECT_TRUE(recorder->isRecording()) << start;
        press(recorder, Qt::Key_Escape);
        EXPECT_FALSE(recorder->isRecording()) << start;
        EXPECT_EQ(shortcuts->shortcut(), Shortcut::defaultShortcut());
    }
    press(recorder, Qt::Key_Backspace);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(shortcuts->shortcut(), std::nullopt);
    EXPECT_TRUE(ShortcutController::isShortcutOff());
}
