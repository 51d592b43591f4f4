#include "plugins/advanceprivacymanager.h"
#include "store/clipuserdefaults.h"
#include "support/testenv.h"
#include "windows/alerts.h"
#include "windows/fake/alertsfake.h"
#include "windows/scripteditwindowcontroller.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {

const QString kScriptKey = QStringLiteral("privacy_script");

std::optional<QString> storedScript()
{
    return ClipUserDefaults::standardUserDefaults().string(kScriptKey);
}

// The editor as the privacy pane opens it: a window-modal dialog over a shown window,
// opened without waiting.
struct Editor {
    explicit Editor(AdvancePrivacyManager& manager)
    {
        parent.resize(400, 300);
        parent.show();
        controller = new ScriptEditWindowController(&parent, &manager);
        QObject::connect(controller, &QDialog::finished, [this](int code) { finished << code; });
        controller->open();
    }
    void setText(const QString& text) { controller->textEditView()->setPlainText(text); }
    QString text() const { return controller->textEditView()->toPlainText(); }

    QWidget parent;
    ScriptEditWindowController* controller = nullptr;
    QList<int> finished;  // the codes the dialog ended with
};

// Scripted alerts for the length of a test.
struct ScopedAlerts {
    ScopedAlerts() { Alerts::setCurrent(fake); }
    ~ScopedAlerts() { Alerts::setCurrent(nullptr); }
    std::shared_ptr<AlertsFake> fake = std::make_shared<AlertsFake>();
};

}  // namespace

TEST(ScriptEditWindowController, OpensWindowModalWithTheScriptAndTheLuaVersion)
{
    AdvancePrivacyManager manager;
    Editor editor(manager);
    EXPECT_TRUE(editor.controller->isVisible());
    EXPECT_EQ(editor.controller->windowModality(), Qt::WindowModal);
    EXPECT_EQ(editor.text(), manager.defaultScript().value_or(QString()));
    EXPECT_FALSE(editor.text().isEmpty());
    EXPECT_EQ(editor.controller->errorLabelView()->text(), QString());
    EXPECT_EQ(manager.luaVersion(), QStringLiteral("502"));
    EXPECT_EQ(editor.controller->luaLabel()->text(), QStringLiteral("Lua 5.2"));
    EXPECT_EQ(ScriptEditWindowController::luaVersionText(QStringLiteral("504")), QStringLiteral("Lua 5.4"));
    EXPECT_EQ(ScriptEditWindowController::luaVersionText(QString()), QStringLiteral("Lua"));
    for (QPushButton* b : {editor.controller->testButton(), editor.controller->doneButton(),
                           editor.controller->cancelButton(), editor.controller->revertButton()})
        EXPECT_FALSE(b->text().isEmpty());
}

TEST(ScriptEditWindowController, TestShowsTheErrorOrClearsIt)
{
    AdvancePrivacyManager manager;
    Editor editor(manager);
    editor.setText(QStringLiteral("function main( return 1 end"));
    editor.controller->testButton()->click();
    EXPECT_TRUE(editor.controller->errorLabelView()->text().contains(QStringLiteral("expected")));
    editor.setText(QString());
    editor.controller->testButton()->click();
    EXPECT_EQ(editor.controller->errorLabelView()->text(), QStringLiteral("不能为空!"));
    editor.setText(QStringLiteral("function main(f, e, c) return 1 end"));
    editor.controller->testButton()->click();
    EXPECT_EQ(editor.controller->errorLabelView()->text(), QString());
    // Testing stores nothing and finishes nothing.
    EXPECT_EQ(storedScript(), std::nullopt);
    EXPECT_EQ(editor.finished.size(), 0);
}

TEST(ScriptEditWindowController, DoneRefusesABrokenScriptAndKeepsTheStoredOne)
{
    const QString stored = QStringLiteral("function main(f, e, c) return 1 end");
    ClipUserDefaults::standardUserDefaults().setValue(kScriptKey, stored);
    AdvancePrivacyManager manager;
    Editor editor(manager);
    EXPECT_EQ(editor.text(), stored);

    // The alert waits for the test, as it would for the user.
    ScopedAlerts scoped;
    const std::shared_ptr<AlertsFake>& alerts = scoped.fake;
    alerts->setHold(true);
    const QString broken = QStringLiteral("function main(f, e, c) return 1 <b>");
    editor.setText(broken);
    editor.controller->doneButton()->click();
    ASSERT_EQ(alerts->count(), 1);
    const AlertsFake::Shown shown = alerts->shown().first();
    EXPECT_EQ(shown.parent, editor.controller);
    EXPECT_EQ(shown.alert.icon, Alert::Icon::Warning);
    EXPECT_EQ(shown.alert.messageText, QStringLiteral("错啦!"));
    const QString error = manager.testScript(broken).value_or(QString());
    ASSERT_FALSE(error.isEmpty());
    EXPECT_EQ(shown.alert.informativeText,
              QStringLiteral("不能正确运行! 这里有问题:") + error + QStringLiteral("\n可以再改改，或者点击取消!"));
    EXPECT_EQ(shown.alert.buttons, QStringList{QStringLiteral("我再改改")});
    EXPECT_EQ(storedScript(), stored);

    // Closing the alert leaves the editor open with the text as it was.
    ASSERT_TRUE(alerts->answerNext(0));
    EXPECT_TRUE(editor.controller->isVisible());
    EXPECT_EQ(editor.text(), broken);
    EXPECT_EQ(editor.finished.size(), 0);
    EXPECT_EQ(storedScript(), stored);
    EXPECT_EQ(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("x")), 1);
}

TEST(ScriptEditWindowController, DoneStoresAndReloadsThenEndsWithOne)
{
    AdvancePrivacyManager manager;
    Editor editor(manager);
    const QString script = QStringLiteral("function main(f, e, c) if c == 'skip me' then return -1 end return 0 end");
    editor.setText(script);
    ScopedAlerts alerts;
    editor.controller->doneButton()->click();
    EXPECT_EQ(alerts.fake->count(), 0);
    ASSERT_EQ(editor.finished.size(), 1);
    EXPECT_EQ(editor.finished.first(), 1);
    EXPECT_FALSE(editor.controller->isVisible());
    EXPECT_EQ(storedScript(), script);
    EXPECT_EQ(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("skip me")), -1);
}

TEST(ScriptEditWindowController, RevertThenCancelStoresNothingRevertThenDoneStoresTheDefault)
{
    const QString stored = QStringLiteral("function main(f, e, c) return 1 end");
    ClipUserDefaults::standardUserDefaults().setValue(kScriptKey, stored);
    AdvancePrivacyManager manager;
    {
        Editor editor(manager);
        editor.controller->revertButton()->click();
        EXPECT_EQ(editor.text(), manager.defaultScript().value_or(QString()));
        EXPECT_EQ(storedScript(), stored);
        editor.controller->cancelButton()->click();
        ASSERT_EQ(editor.finished.size(), 1);
        EXPECT_EQ(editor.finished.first(), 0);
        EXPECT_EQ(storedScript(), stored);
        EXPECT_EQ(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("note")), 1);
    }
    {
        Editor editor(manager);
        editor.controller->revertButton()->click();
        editor.controller->doneButton()->click();
        ASSERT_EQ(editor.finished.size(), 1);
        EXPECT_EQ(editor.finished.first(), 1);
        EXPECT_EQ(storedScript(), manager.defaultScript());
        EXPECT_EQ(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("note")), 0);
    }
}

TEST(ScriptEditWindowController, ShowsAStoredScriptThatFailsSoItCanBeFixed)
{
    // Loops: start-up gives up on it after its time limit and runs the default.
    const QString looping = QStringLiteral("while true do end");
    ClipUserDefaults::standardUserDefaults().setValue(kScriptKey, looping);
    AdvancePrivacyManager manager;
    Editor editor(manager);
    EXPECT_EQ(editor.text(), looping);
    editor.setText(QStringLiteral("function main(f, e, c) return 1 end"));
    editor.controller->doneButton()->click();
    ASSERT_EQ(editor.finished.size(), 1);
    EXPECT_EQ(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("note")), 1);
}
