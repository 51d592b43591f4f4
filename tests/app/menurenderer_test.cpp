#include "app/clipmenubuilder.h"
#include "app/clipmenurenderer.h"
#include "support/mainqueue.h"
#include "support/testenv.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

HistoryModelPtr textClip(const QString& text, int n)
{
    auto c = std::make_shared<HistoryModel>();
    c->setType(QStringLiteral("text_txt+enc"));
    c->setContent(text);
    c->setFile_hash(QStringLiteral("%1").arg(n, 32, 16, QLatin1Char('0')));
    return c;
}

struct Chosen {
    ClipMenuItemPtr item;
    ClipMenuItemPtr parent;
};

void key(QWidget* target, QEvent::Type type, int code, Qt::KeyboardModifiers mods, const QString& text = QString())
{
    QKeyEvent event(type, code, mods, text);
    QApplication::sendEvent(target, &event);
}

QStringList texts(const QMenu& menu)
{
    QStringList out;
    for (QAction* a : menu.actions())
        if (a->isVisible())
            out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

class MenuRendering : public ::testing::Test {
protected:
    void SetUp() override
    {
        history = {textClip(QStringLiteral("first & one"), 1), textClip(QStringLiteral("second"), 2)};
        ClipMenuBuilder::fillFavouriteMenu(*favModel, {textClip(QStringLiteral("kept"), 3)}, true);
        ClipMenuBuilder::fillMainMenu(*mainModel, history, favModel, {true, false, false, {}});
        renderer.setTriggerHandler([this](const ClipMenuItemPtr& item, const ClipMenuItemPtr& parent) {
            chosen.push_back({item, parent});
        });
        renderer.setHighlightHandler([this](const ClipMenuItemPtr& item) {
            ++highlights;
            item->submenu = ClipMenuBuilder::subMenu(*item->clip, {}, {0, 3}, ClipMenuModel::create(), true);
        });
        renderer.bindMenu(favModel, &favMenu);
        renderer.render(&mainMenu, mainModel);
        renderer.render(&favMenu, favModel);
    }
    void open()
    {
        mainMenu.popup(QPoint(10, 10));
        ASSERT_TRUE(testenv::waitUntil([&] { return mainMenu.isVisible(); }));
    }
    bool waitChosen(size_t n) { return testenv::waitUntil([&] { return chosen.size() == n; }); }

    HistoryList history;
    ClipMenuModelPtr mainModel = ClipMenuModel::create();
    ClipMenuModelPtr favModel = ClipMenuModel::create();
    QMenu mainMenu;
    QMenu favMenu;
    ClipMenuRenderer renderer;
    std::vector<Chosen> chosen;
    int highlights = 0;
};

}  // namespace

TEST_F(MenuRendering, DrawsTitlesKeysImagesAndTheFavouritesMenu)
{
    EXPECT_EQ(texts(mainMenu), QStringList({QStringLiteral("历史纪录"), QStringLiteral("first && one\t1"),
                                            QStringLiteral("second\t2"), QStringLiteral("-"), QStringLiteral("收藏"),
                                            QStringLiteral("-"), QStringLiteral("同步历史记录"),
                                            QStringLiteral("激活端对端加密"), QStringLiteral("插件"),
                                            QStringLiteral("设置"), QStringLiteral("退出")}));
    const QList<QAction*> actions = mainMenu.actions();
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_EQ(actions[1]->toolTip(), QStringLiteral("first & one"));
    EXPECT_TRUE(mainMenu.toolTipsVisible());
    ASSERT_TRUE(actions[1]->menu());
    EXPECT_TRUE(actions[1]->menu()->isEmpty());
    EXPECT_EQ(actions[4]->menu(), &favMenu);
    EXPECT_EQ(texts(favMenu), QStringList({QStringLiteral("收藏 (1个)"), QStringLiteral("kept\t1"), QStringLiteral("-"),
                                           QStringLiteral("同步收藏")}));
    // The named images are resources of the program.
    for (int i : {6, 7, 8, 9, 10})
        EXPECT_FALSE(actions[i]->icon().isNull()) << actions[i]->text().toStdString();
    EXPECT_EQ(renderer.itemForAction(actions[7])->action, ClipMenuAction::Encrypt);
    EXPECT_TRUE(ClipMenuRenderer::namedImage(QStringLiteral("no such image")).isNull());
}

TEST_F(MenuRendering, PlainKeyChoosesAClipControlShowsAndChoosesItsAlternate)
{
    open();
    key(&mainMenu, QEvent::KeyPress, Qt::Key_2, Qt::NoModifier, QStringLiteral("2"));
    ASSERT_TRUE(waitChosen(1));
    EXPECT_FALSE(mainMenu.isVisible());
    EXPECT_EQ(chosen[0].item->action, ClipMenuAction::ClickItem);
    EXPECT_EQ(chosen[0].item->clip, history[1]);

    open();
    QAction* first = mainMenu.actions()[1];
    key(&mainMenu, QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
    EXPECT_EQ(first->text(), QStringLiteral("↑first && one\tCtrl+1"));
    EXPECT_EQ(renderer.itemForAction(first)->action, ClipMenuAction::ShiftClickItem);
    key(&mainMenu, QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
    EXPECT_EQ(first->text(), QStringLiteral("first && one\t1"));

    key(&mainMenu, QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
    key(&mainMenu, QEvent::KeyPress, Qt::Key_1, Qt::ControlModifier);
    ASSERT_TRUE(waitChosen(2));
    EXPECT_EQ(chosen[1].item->action, ClipMenuAction::ShiftClickItem);
    EXPECT_EQ(chosen[1].item->clip, history[0]);
    key(&mainMenu, QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);

    // A key no item has leaves the menu open.
    open();
    key(&mainMenu, QEvent::KeyPress, Qt::Key_Z, Qt::NoModifier, QStringLiteral("z"));
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_TRUE(mainMenu.isVisible());
    EXPECT_EQ(chosen.size(), 2u);
    mainMenu.hide();
}

TEST_F(MenuRendering, ClipSubmenuIsFilledOnFirstHighlightAndItsItemsKnowTheirClip)
{
    open();
    QAction* first = mainMenu.actions()[1];
    QMenu* submenu = first->menu();
    mainMenu.setActiveAction(first);
    ASSERT_TRUE(testenv::waitUntil([&] { return !submenu->isEmpty(); }));
    EXPECT_EQ(highlights, 1);
    EXPECT_EQ(texts(*submenu).mid(0, 4), QStringList({QStringLiteral("插件列表"), QStringLiteral("-"),
                                                      QStringLiteral("稍后提醒 ⏰"), QStringLiteral("明天提醒 ⏰")}));
    // Highlighted again: built once per rebuild.
    mainMenu.setActiveAction(mainMenu.actions()[6]);
    mainMenu.setActiveAction(first);
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_EQ(highlights, 1);

    QAction* later = submenu->actions()[2];
    later->trigger();
    ASSERT_TRUE(waitChosen(1));
    EXPECT_EQ(chosen[0].item->action, ClipMenuAction::Reminder);
    EXPECT_EQ(chosen[0].item->fireType, 0);
    EXPECT_EQ(chosen[0].parent->clip, history[0]);
    mainMenu.hide();
}

TEST_F(MenuRendering, RebuildWhileOpenWaitsUntilTheMenuCloses)
{
    open();
    QAction* before = mainMenu.actions()[1];
    ClipMenuBuilder::fillMainMenu(*mainModel, {textClip(QStringLiteral("newer"), 9)}, favModel, {});
    renderer.render(&mainMenu, mainModel);
    EXPECT_TRUE(renderer.hasPendingRender());
    EXPECT_EQ(mainMenu.actions()[1], before);
    EXPECT_EQ(before->text(), QStringLiteral("first && one\t1"));

    mainMenu.hide();
    ASSERT_TRUE(testenv::waitUntil([&] { return !renderer.hasPendingRender(); }));
    EXPECT_EQ(mainMenu.actions()[1]->text(), QStringLiteral("newer\t1"));
    EXPECT_EQ(texts(mainMenu).last(), QStringLiteral("退出"));
    EXPECT_TRUE(texts(mainMenu).contains(QStringLiteral("登录/注册")));
}

TEST_F(MenuRendering, ClickOrReturnOnAClipChoosesItThoughItOpensASubmenu)
{
    open();
    QAction* second = mainMenu.actions()[2];
    const QPoint inside = mainMenu.actionGeometry(second).center();
    // The release of the press that opened the menu chooses nothing.
    QMouseEvent strayRelease(QEvent::MouseButtonRelease, inside, mainMenu.mapToGlobal(inside), Qt::LeftButton,
                             Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&mainMenu, &strayRelease);
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_TRUE(chosen.empty());

    QMouseEvent press(QEvent::MouseButtonPress, inside, mainMenu.mapToGlobal(inside), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, mainMenu.mapToGlobal(inside), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&mainMenu, &press);
    QApplication::sendEvent(&mainMenu, &release);
    ASSERT_TRUE(waitChosen(1));
    EXPECT_EQ(chosen[0].item->clip, history[1]);
    EXPECT_FALSE(mainMenu.isVisible());

    open();
    mainMenu.setActiveAction(mainMenu.actions()[1]);
    key(&mainMenu, QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    ASSERT_TRUE(waitChosen(2));
    EXPECT_EQ(chosen[1].item->clip, history[0]);

    // The favourites item only opens its menu.
    open();
    mainMenu.setActiveAction(mainMenu.actions()[4]);
    key(&mainMenu, QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_EQ(chosen.size(), 2u);
    favMenu.hide();
    mainMenu.hide();
}
