#include "app/clipmenurenderer.h"
#include "menufixture.h"
#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "support/mainqueue.h"

#include <QAction>

using namespace menutest;
using namespace std::chrono_literals;

namespace {

class MenuBuild : public MenuTest {};

}  // namespace

TEST_F(MenuBuild, MenusComeFromTheDatabaseAndTheAccount)
{
    savedText(QStringLiteral("older"), 1000);
    savedText(QStringLiteral("newer"), 2000);
    for (int i = 0; i < 3; ++i)
        savedText(QStringLiteral("fav %1").arg(i), 3000 + i, QStringLiteral("favourite"));

    QMenu* shown = menu().buildMenu();
    EXPECT_EQ(shown, menu().mainMenu());
    EXPECT_EQ(menu().mainMenuModel()->titles(),
              QStringList({QStringLiteral("历史纪录"), QStringLiteral("newer"), QStringLiteral("older"),
                           QStringLiteral("-"), QStringLiteral("收藏"), QStringLiteral("-"),
                           QStringLiteral("登录/注册"), QStringLiteral("插件"), QStringLiteral("设置"),
                           QStringLiteral("退出")}));
    EXPECT_EQ(menu().favMenuModel()->titles(),
              QStringList({QStringLiteral("收藏 (3个)"), QStringLiteral("fav 2"), QStringLiteral("fav 1"),
                           QStringLiteral("fav 0"), QStringLiteral("-")}));
    // Drawn: every visible item, the two alternates not among them.
    int visible = 0;
    for (QAction* a : shown->actions())
        visible += a->isVisible() ? 1 : 0;
    EXPECT_EQ(visible, 10);
    EXPECT_EQ(shown->actions()[4]->menu(), menu().favMenu());

    // Logged in without a key: the sync items and the red encryption item.
    login();
    menu().buildMenu();
    QStringList titles = menu().mainMenuModel()->titles();
    EXPECT_TRUE(titles.contains(QStringLiteral("同步历史记录")));
    EXPECT_TRUE(titles.contains(QStringLiteral("激活端对端加密")));
    EXPECT_FALSE(titles.contains(QStringLiteral("登录/注册")));
    EXPECT_EQ(menu().favMenuModel()->titles().last(), QStringLiteral("同步收藏"));

    keyHash = QString(64, u'a');
    ClipUserDefaults::standardUserDefaults().setValue(QStringLiteral("newversion"), QStringLiteral("999.0.0"));
    menu().buildMenu();
    titles = menu().mainMenuModel()->titles();
    EXPECT_FALSE(titles.contains(QStringLiteral("激活端对端加密")));
    EXPECT_TRUE(titles.contains(QStringLiteral("设置 (!新版本 999.0.0)")));
    EXPECT_EQ(menu().mainMenuModel()->itemWithTitle(QStringLiteral("设置 (!新版本 999.0.0)"))->imageName,
              QStringLiteral("new-version"));

    // An older announced version is no update.
    ClipUserDefaults::standardUserDefaults().setValue(QStringLiteral("newversion"), QStringLiteral("0.0.1"));
    menu().buildMenu();
    EXPECT_TRUE(menu().mainMenuModel()->titles().contains(QStringLiteral("设置")));
}

TEST_F(MenuBuild, EveryObservedNotificationRebuildsOnTheMainQueue)
{
    menu().buildMenu();
    int n = 0;
    for (const QString& name : {QStringLiteral("DATA_CHANGED"), QStringLiteral("ZERO_CHANGED"),
                               QStringLiteral("history_delete"), QStringLiteral("ALL_FILE_DOWNLOAD_DONE")}) {
        SCOPED_TRACE(name.toStdString());
        const QString text = QStringLiteral("clip %1").arg(++n);
        savedText(text, 1000 + n);
        // Posted from another thread, as sync does.
        dispatch::globalAsync([name] { NotificationCenter::defaultCenter().post(name); });
        ASSERT_TRUE(testenv::waitUntil([&] { return menu().mainMenuModel()->at(1)->title == text; }));
    }
}

// While start-up keeps the database busy the menu does not read it: before its first read it
// shows the fixed items alone, afterwards what it showed; the rebuilds asked for meanwhile
// come when the last hold is released, from whichever thread releases it.
TEST_F(MenuBuild, HeldHistoryReadsKeepTheMenuAndRebuildOnTheLastRelease)
{
    savedText(QStringLiteral("first"), 1000);
    menu().holdHistoryReads();
    menu().buildMenu();
    const QStringList fixedOnly = menu().mainMenuModel()->titles();
    EXPECT_FALSE(fixedOnly.contains(QStringLiteral("first")));
    EXPECT_TRUE(fixedOnly.contains(QStringLiteral("退出")));
    menu().releaseHistoryReads();
    ASSERT_TRUE(testenv::waitUntil([&] { return menu().mainMenuModel()->titles().contains(QStringLiteral("first")); }));

    menu().holdHistoryReads();
    menu().holdHistoryReads();
    savedText(QStringLiteral("second"), 2000);
    NotificationCenter::defaultCenter().post(QStringLiteral("DATA_CHANGED"));
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_EQ(menu().mainMenuModel()->at(1)->title, QStringLiteral("first"));
    menu().releaseHistoryReads();
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_EQ(menu().mainMenuModel()->at(1)->title, QStringLiteral("first")) << "one hold is still taken";
    dispatch::globalAsync([] { MenuController::sharedInstance().releaseHistoryReads(); });
    EXPECT_TRUE(testenv::waitUntil([&] { return menu().mainMenuModel()->at(1)->title == QStringLiteral("second"); }));
}

TEST_F(MenuBuild, TextClipSubmenuIsBuiltOnFirstHighlight)
{
    ClipReminderHelper::setClock([] { return QDateTime(QDate(2024, 5, 6), QTime(9, 30)); });
    const HistoryModelPtr clip = savedText(QStringLiteral("some text"));
    menu().buildMenu();
    const ClipMenuItemPtr item = clipItems(*menu().mainMenuModel()).front();
    ASSERT_TRUE(item->submenu);
    EXPECT_TRUE(item->submenu->isEmpty());

    menu().menuWillHighlightItem(item);
    EXPECT_EQ(item->submenu->titles(),
              QStringList({QStringLiteral("插件列表"), QStringLiteral("-"), QStringLiteral("稍后提醒 ⏰"),
                           QStringLiteral("中午提醒 ⏰"), QStringLiteral("晚上提醒 ⏰"), QStringLiteral("明天提醒 ⏰"),
                           QStringLiteral("-"), QStringLiteral("收藏"), QStringLiteral("-"), QStringLiteral("分享"),
                           QStringLiteral("-"), QStringLiteral("删除")}));
    const ClipMenuModelPtr built = item->submenu;
    // Once per rebuild.
    plugins.insert(QStringLiteral("p"), std::make_shared<PluginObject>());
    menu().menuWillHighlightItem(item);
    EXPECT_EQ(item->submenu, built);

    // With plugins, after the next rebuild.
    auto plugin = std::make_shared<PluginObject>();
    plugin->setSource(PluginObject::Source::Builtin);
    plugin->setPlugin_name(QStringLiteral("转为大写"));
    plugins = {{QStringLiteral("com.nuvarel.plugin.uppercase"), plugin}};
    menu().buildMenu();
    const ClipMenuItemPtr again = clipItems(*menu().mainMenuModel()).front();
    menu().menuWillHighlightItem(again);
    EXPECT_EQ(again->submenu->titles().mid(0, 2), QStringList({QStringLiteral("转为大写"), QStringLiteral("插件列表")}));
    EXPECT_EQ(again->submenu->at(0)->plugin, plugin);
}

TEST_F(MenuBuild, UnknownKindOpensAnEmptySubmenuAndDoesNothing)
{
    auto clip = savedText(QStringLiteral("from a newer client"));
    clip->setType(QStringLiteral("video_mp4"));
    historytest::RawDb(historytest::dbPath())
        .exec(QStringLiteral("update History set type = 'video_mp4'"));
    menu().buildMenu();
    const ClipMenuItemPtr item = clipItems(*menu().mainMenuModel()).front();
    EXPECT_EQ(item->title, QStringLiteral("未知类型，请更新客户端"));
    menu().menuWillHighlightItem(item);
    ASSERT_TRUE(item->submenu);
    EXPECT_TRUE(item->submenu->isEmpty());
    const int written = keystroke->posted;
    menu().perform(item, nullptr);
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_EQ(keystroke->posted, written);
}

TEST_F(MenuBuild, IncomingClipGoesOntoThePasteboardOnceItsBodyIsHere)
{
    const HistoryModelPtr clip = savedText(QStringLiteral("from my phone"));
    const HistoryModelPtr other = savedText(QStringLiteral("something else"));
    ConfigureManager::sharedInstance().setIncommingHash(clip->file_hash());

    NotificationCenter::defaultCenter().post(QStringLiteral("FILE_DOWNLOAD_DONE"), QVariant::fromValue(other));
    ASSERT_TRUE(testenv::waitForMainQueue());
    EXPECT_TRUE(pasteboard->data(QStringLiteral("text/plain")).isEmpty());
    EXPECT_EQ(notifications->count(), 0);

    NotificationCenter::defaultCenter().post(QStringLiteral("FILE_DOWNLOAD_DONE"), QVariant::fromValue(clip));
    ASSERT_TRUE(testenv::waitUntil([&] { return notifications->count() == 1; }));
    EXPECT_EQ(pasteboard->data(QStringLiteral("text/plain")), QByteArray("from my phone"));
    EXPECT_EQ(notifications->delivered().front().title, QStringLiteral("已设置剪贴板"));
    EXPECT_EQ(notifications->delivered().front().informativeText, QStringLiteral("from my phone"));
    // Nothing pasted; the watcher is the one to clear the hash, as it sees that change.
    EXPECT_TRUE(testenv::waitUntil([] { return !ConfigureManager::sharedInstance().incommingHash(); }));
    watcher().waitForCaptures();
    EXPECT_EQ(keystroke->posted, 0);
}

TEST_F(MenuBuild, NotificationOfAClipByKind)
{
    auto image = std::make_shared<HistoryModel>();
    image->setType(QStringLiteral("image_data+zip+enc"));
    image->setContent(QString::fromLatin1(cliptest::encoded(cliptest::picture(), "PNG").toBase64()));
    auto file = std::make_shared<HistoryModel>();
    file->setType(QStringLiteral("file_pdf"));
    file->setContent(QStringLiteral("report.pdf"));

    menu().showNotif(image);
    menu().showNotif(file);
    ASSERT_EQ(notifications->count(), 2);
    const UserNotification shownImage = notifications->delivered()[0];
    EXPECT_EQ(shownImage.title, QStringLiteral("已设置剪贴板"));
    EXPECT_EQ(shownImage.contentImage.size(), QSize(64, 48));
    EXPECT_TRUE(shownImage.playsDefaultSound);
    EXPECT_EQ(notifications->delivered()[1].informativeText, QStringLiteral("文件内容"));
}
