#include "windows/preferences/privacyviewcontroller.h"

#include "store/utils.h"

#include "preferencesfixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

namespace {

class PrivacyPaneTest : public PreferencesTest {
protected:
    PrivacyViewController* privacy() { return showPane<PrivacyViewController>(2); }

    static QStringList rows(const QTableWidget* table)
    {
        QStringList out;
        for (int row = 0; row < table->rowCount(); ++row)
            out << table->item(row, 0)->text();
        return out;
    }
};

}  // namespace

TEST_F(PrivacyPaneTest, TheTwentySixthWordIsRefusedWithTheLimitSheet)
{
    ConfigureManager& account = ConfigureManager::sharedInstance();
    for (int i = 0; i < 25; ++i)
        ASSERT_TRUE(account.addNewWord(QStringLiteral("w%1").arg(i)));
    PrivacyViewController* pane = privacy();
    ASSERT_EQ(pane->tableView()->rowCount(), 25);

    pane->addButton()->click();
    ASSERT_TRUE(testenv::waitUntil([&] { return alerts->count() == 1 && alerts->pendingCount() == 0; }));
    EXPECT_EQ(alerts->texts(), QStringList{QStringLiteral("超过最大数量|关键字最多可以添加25")});
    EXPECT_EQ(alerts->shown().first().alert.buttons, QStringList{QStringLiteral("知道了")});
    EXPECT_EQ(alerts->shown().first().parent, &window());
    EXPECT_EQ(pane->tableView()->rowCount(), 25);
    EXPECT_EQ(account.customKeyWords().size(), 25);
}

// "+" opens a new row to type the word into; the placeholder is only a hint, and a row left
// empty (Escape, or Return on nothing) stores nothing.
TEST_F(PrivacyPaneTest, AddingOpensANewRowAndStoresOnlyWhatIsTyped)
{
    PrivacyViewController* pane = privacy();
    window().activateWindow();
    const auto editor = [&]() { return qobject_cast<QLineEdit*>(pane->tableView()->indexWidget(pane->tableView()->currentIndex())); };
    const auto key = [&](int k) {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
        QApplication::sendEvent(editor(), &press);
        QCoreApplication::processEvents();
    };
    for (const auto& [typed, closing] : {std::pair{QString(), int(Qt::Key_Escape)}, {QString(), int(Qt::Key_Return)},
                                         {QStringLiteral("新关键字"), int(Qt::Key_Return)}, {QStringLiteral("银行"), int(Qt::Key_Return)}}) {
        SCOPED_TRACE(typed.toStdString());
        const QStringList before = ConfigureManager::sharedInstance().customKeyWords();
        pane->addButton()->click();
        ASSERT_NE(editor(), nullptr);
        EXPECT_EQ(editor()->placeholderText(), QStringLiteral("新关键字"));
        EXPECT_EQ(pane->tableView()->rowCount(), before.size() + 1);
        EXPECT_EQ(ConfigureManager::sharedInstance().customKeyWords(), before) << "nothing stored while typing";
        editor()->setText(typed);
        key(closing);
        const QStringList after = typed.isEmpty() ? before : before + QStringList{typed};
        EXPECT_EQ(ConfigureManager::sharedInstance().customKeyWords(), after);
        EXPECT_EQ(rows(pane->tableView()), after);
        EXPECT_EQ(pane->keyWords(), after);
    }
    // A word typed in as the placeholder's text is the user's own choice and stays.
    EXPECT_EQ(pane->keyWords(), (QStringList{QStringLiteral("新关键字"), QStringLiteral("银行")}));

    // An edit in place stores the word; an empty edit is refused and the old word shows.
    pane->tableView()->item(1, 0)->setText(QStringLiteral("银行"));
    EXPECT_EQ(ConfigureManager::sharedInstance().customKeyWords(), (QStringList{QStringLiteral("新关键字"), QStringLiteral("银行")}));
    pane->tableView()->item(0, 0)->setText(QString());
    EXPECT_EQ(rows(pane->tableView()), (QStringList{QStringLiteral("新关键字"), QStringLiteral("银行")}));
    EXPECT_TRUE(Utils::isSecret(QStringLiteral("明天去银行")));

    // Remove: nothing without a selection, the selected row with one.
    pane->tableView()->clearSelection();
    pane->removeButton()->click();
    EXPECT_EQ(pane->tableView()->rowCount(), 2);
    pane->tableView()->selectRow(0);
    pane->removeButton()->click();
    EXPECT_EQ(rows(pane->tableView()), QStringList{QStringLiteral("银行")});
    EXPECT_TRUE(alerts->messages().isEmpty());
}

TEST_F(PrivacyPaneTest, TheBuiltInTableListsTheEightWordsReadOnly)
{
    PrivacyViewController* pane = privacy();
    const QStringList eight = {QStringLiteral("名"), QStringLiteral("卡"), QStringLiteral("号"), QStringLiteral("账"),
                               QStringLiteral("码"), QStringLiteral("password"), QStringLiteral("account"),
                               QStringLiteral("username")};
    QTableWidget* table = pane->sysKeyWordsTableView();
    EXPECT_EQ(rows(table), eight);
    EXPECT_EQ(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    for (int row = 0; row < table->rowCount(); ++row)
        EXPECT_FALSE(table->item(row, 0)->flags() & Qt::ItemIsEditable) << row;
    EXPECT_EQ(table->property("tag").toInt(), 2);
    EXPECT_EQ(pane->tableView()->property("tag").toInt(), 1);
    // An edit that reached the table anyway changes no stored word.
    table->item(0, 0)->setText(QStringLiteral("x"));
    EXPECT_EQ(ConfigureManager::sharedInstance().sysKeyWords(), eight);
    EXPECT_TRUE(ConfigureManager::sharedInstance().customKeyWords().isEmpty());
}

TEST_F(PrivacyPaneTest, TheTwoSwitchesAreWrittenAtOnce)
{
    PrivacyViewController* pane = privacy();
    EXPECT_TRUE(pane->analySecertButton()->isChecked());
    EXPECT_TRUE(pane->fileAsSecertButton()->isChecked());
    pane->analySecertButton()->click();
    EXPECT_FALSE(Utils::isNeedAnalyseSecert());
    pane->fileAsSecertButton()->click();
    EXPECT_FALSE(Utils::isFileAsSecert());
    pane = privacy();
    EXPECT_FALSE(pane->analySecertButton()->isChecked());
    EXPECT_FALSE(pane->fileAsSecertButton()->isChecked());
    pane->analySecertButton()->click();
    EXPECT_TRUE(Utils::isNeedAnalyseSecert());
}

TEST_F(PrivacyPaneTest, TheAdvancedModeFollowsTheSettingHoweverItsSheetCloses)
{
    struct Case {
        const char* name;
        int answer;  // -2: Escape
        bool on;
    };
    const Case cases[] = {{"取消", 0, false}, {"开启", 1, true}, {"Escape", -2, false}, {"another code", 7, false}};
    for (const Case& c : cases) {
        Utils::setAdvancePrivacy(false);
        alerts->clear();
        alerts->setHold(true);
        PrivacyViewController* pane = privacy();
        EXPECT_TRUE(pane->editScriptButton()->isHidden()) << c.name;
        pane->advancePrivacyButton()->click();
        ASSERT_EQ(alerts->pendingCount(), 1) << c.name;
        const Alert alert = alerts->shown().first().alert;
        EXPECT_EQ(alert.messageText, QStringLiteral("确认开启高级隐私模式?"));
        EXPECT_EQ(alert.informativeText,
                  QStringLiteral("高级隐私模式需要lua编程或有编程基础的用户，开启后简单的关键字识别将不再使用，请谨慎选择."));
        EXPECT_EQ(alert.buttons, (QStringList{QStringLiteral("取消"), QStringLiteral("开启")}));
        alerts->answerNext(c.answer == -2 ? alert.escapeIndex() : c.answer);
        EXPECT_EQ(Utils::isAdvancePrivacy(), c.on) << c.name;
        EXPECT_EQ(pane->advancePrivacyButton()->isChecked(), c.on) << c.name;
        EXPECT_EQ(!pane->editScriptButton()->isHidden(), c.on) << c.name;
    }
    alerts->setHold(false);

    // Turning it off asks nothing.
    Utils::setAdvancePrivacy(true);
    alerts->clear();
    PrivacyViewController* pane = privacy();
    EXPECT_FALSE(pane->editScriptButton()->isHidden());
    pane->advancePrivacyButton()->click();
    EXPECT_EQ(alerts->count(), 0);
    EXPECT_FALSE(Utils::isAdvancePrivacy());
    EXPECT_TRUE(pane->editScriptButton()->isHidden());
}

TEST_F(PrivacyPaneTest, TheScriptEditorOpensAsASheetOverTheWindow)
{
    Utils::setAdvancePrivacy(true);
    PrivacyViewController* pane = privacy();
    pane->editScriptButton()->click();
    QPointer<ScriptEditWindowController> editor = pane->controllerWindow();
    ASSERT_TRUE(editor);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->windowModality(), Qt::WindowModal);
    EXPECT_EQ(editor->parentWidget(), &window());
    // A second click while it is open opens no second editor.
    pane->editScriptButton()->click();
    EXPECT_EQ(pane->controllerWindow(), editor.data());

    editor->cancelButton()->click();
    EXPECT_EQ(pane->controllerWindow(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(editor.isNull());
}

TEST_F(PrivacyPaneTest, AWordGivenUpOnAsTooCostlyIsNamedUntilItIsChanged)
{
    ConfigureManager& account = ConfigureManager::sharedInstance();
    ASSERT_TRUE(account.addNewWord(QStringLiteral("银行")));
    ASSERT_TRUE(account.addNewWord(QStringLiteral("(x+x+)+y")));
    PrivacyViewController* pane = privacy();
    EXPECT_TRUE(pane->costlyWordsLabel()->isHidden());

    // A capture's key-word test gives up on it.
    EXPECT_TRUE(Utils::isSecret(QString(40, QLatin1Char('x')) + QStringLiteral("! y")));
    window().showPanel(1);
    pane = privacy();  // made anew, as each time the panel is shown
    EXPECT_FALSE(pane->costlyWordsLabel()->isHidden());
    EXPECT_EQ(pane->costlyWordsLabel()->text(),
              QStringLiteral("以下关键字过于复杂，匹配时被放弃：“(x+x+)+y”。可能含有它们的文本一律记为机密，请改写这些关键字。"));

    pane->tableView()->item(1, 0)->setText(QStringLiteral("x+y"));
    EXPECT_TRUE(pane->costlyWordsLabel()->isHidden());
}
