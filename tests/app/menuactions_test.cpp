#include "app/clipdownloadshelper.h"
#include "menufixture.h"
#include "platform/notificationcenter.h"
#include "plugins/pluginmanager.h"
#include "platform/userdefaults.h"
#include "store/dbkeeper.h"
#include "support/mainqueue.h"
#include "store/defaultskeys.h"
#include "windows/pluginwindowcontroller.h"

#include <QDir>

using namespace menutest;
using namespace std::chrono_literals;

namespace {

class MenuActions : public MenuTest {
protected:
    // The clip's action submenu, as a highlight of its item in the main menu builds it.
    ClipMenuModelPtr actionsOf(const QString& hash)
    {
        menu().buildMenu();
        for (const ClipMenuItemPtr& item : clipItems(*menu().mainMenuModel())) {
            if (item->clip->file_hash() == hash) {
                menu().menuWillHighlightItem(item);
                parentItem = item;
                return item->submenu;
            }
        }
        return nullptr;
    }
    // Chooses the item of the last submenu built.
    void choose(const ClipMenuModelPtr& submenu, const QString& title)
    {
        const ClipMenuItemPtr item = submenu->itemWithTitle(title);
        ASSERT_TRUE(item) << title.toStdString();
        menu().perform(item, parentItem);
    }
    HistoryModelPtr historyRow(const QString& hash) { return row(hash); }

    ClipMenuItemPtr parentItem;
};

}  // namespace

TEST_F(MenuActions, PluginTransformsThePastedTextIntoAClipOfItsOwn)
{
    const HistoryModelPtr clip = savedText(QStringLiteral("make me loud"));
    plugins = PluginManager::sharedInstance().listPlugins();
    const ClipMenuModelPtr submenu = actionsOf(*clip->file_hash());
    ASSERT_TRUE(submenu);
    choose(submenu, QStringLiteral("转为大写"));
    EXPECT_EQ(pasteboard->data(QStringLiteral("text/plain")), QByteArray("MAKE ME LOUD"));
    ASSERT_TRUE(testenv::waitUntil([&] { return keystroke->posted == 1; }));
    // Recorded: the watcher takes the result as a new clip.
    poll();
    EXPECT_TRUE(row(md5HexOfString(QStringLiteral("MAKE ME LOUD"))));
}

TEST_F(MenuActions, ReminderAndSaveItemsReachTheirClip)
{
    ClipReminderHelper::setClock([] { return QDateTime(QDate(2024, 5, 6), QTime(9, 30)); });
    const HistoryModelPtr text = savedText(QStringLiteral("dentist"));
    choose(actionsOf(*text->file_hash()), QStringLiteral("明天提醒 ⏰"));
    ASSERT_TRUE(testenv::waitUntil([&] { return reminders->saved().size() == 1; }));
    EXPECT_EQ(reminders->saved().front().title, QStringLiteral("dentist"));
    EXPECT_EQ(reminders->saved().front().alarms.front(), QDateTime(QDate(2024, 5, 7), QTime(9, 0)));

    const QByteArray tiff = cliptest::clipTiff(cliptest::picture());
    auto image = std::make_shared<HistoryModel>();
    image->setFile_hash(md5HexOfData(tiff));
    ClipFileManager::sharedInstance().saveData(tiff, *image->file_hash());
    image->setType(QStringLiteral("image_data+zip+enc"));
    image->setContent(QStringLiteral("AAAA"));
    image->setTimestamp(QVariant(qint64(5000)));
    image->save();
    const ClipMenuModelPtr submenu = actionsOf(*image->file_hash());
    EXPECT_EQ(submenu->at(0)->title, QStringLiteral("保存到下载文件夹"));
    notifications->clear();
    choose(submenu, QStringLiteral("保存到下载文件夹"));
    const QString saved = ClipDownloadsHelper::downloadsFolder() + QLatin1Char('/') + *image->file_hash() + QStringLiteral(".jpg");
    EXPECT_TRUE(QFile::exists(saved));
    // Said on screen, with the place.
    ASSERT_EQ(notifications->count(), 1);
    EXPECT_EQ(notifications->delivered().at(0).title, QStringLiteral("已保存到下载文件夹"));
    EXPECT_EQ(notifications->delivered().at(0).informativeText, saved);
}

// A PNG copied in this run saves as that PNG; a save that cannot be made says so.
TEST_F(MenuActions, ACapturedPngSavesAsItselfAndAFailedSaveIsTold)
{
    const QByteArray png = cliptest::encoded(cliptest::picture(3), "PNG");
    copyImage(png);
    poll();
    const HistoryList captured = DBKeeper::getAllHistory();
    ASSERT_EQ(captured.size(), 1);
    const QString hash = *captured.front()->file_hash();
    notifications->clear();
    choose(actionsOf(hash), QStringLiteral("保存到下载文件夹"));
    const QString saved = ClipDownloadsHelper::downloadsFolder() + QLatin1Char('/') + hash + QStringLiteral(".png");
    EXPECT_EQ(cliptest::readFile(saved), png);
    ASSERT_EQ(notifications->count(), 1);
    EXPECT_EQ(notifications->delivered().at(0).informativeText, saved);

    // A body that is no image saves nothing, and the user hears so.
    auto broken = std::make_shared<HistoryModel>();
    const QByteArray noImage("no picture in here");
    broken->setFile_hash(md5HexOfData(noImage));
    ClipFileManager::sharedInstance().saveData(noImage, *broken->file_hash());
    broken->setType(QStringLiteral("image_data+zip+enc"));
    broken->setContent(QStringLiteral("AAAA"));
    broken->setTimestamp(QVariant(qint64(6000)));
    broken->save();
    notifications->clear();
    choose(actionsOf(*broken->file_hash()), QStringLiteral("保存到下载文件夹"));
    ASSERT_EQ(notifications->count(), 1);
    EXPECT_EQ(notifications->delivered().at(0).title, QStringLiteral("未能保存到下载文件夹"));
}

TEST_F(MenuActions, FavouriteAndUnfavouriteLoggedOut)
{
    const HistoryModelPtr clip = savedText(QStringLiteral("keep me"));
    const QString hash = *clip->file_hash();
    choose(actionsOf(hash), QStringLiteral("收藏"));

    const HistoryModelPtr copy = row(hash, QStringLiteral("favourite"));
    ASSERT_TRUE(copy);
    EXPECT_NEAR(double(copy->favourite().toLongLong()), double(now()), 2);
    EXPECT_GT(copy->change_timestamp().toDouble(), 0);
    EXPECT_EQ(historyRow(hash)->favourite(), copy->favourite());
    EXPECT_EQ(favouriteProcesses, 1);
    EXPECT_EQ(menu().favMenuModel()->at(0)->title, QStringLiteral("收藏 (1个)"));

    // From the main menu again: it now offers to unfavourite.
    const ClipMenuModelPtr submenu = actionsOf(hash);
    ASSERT_TRUE(submenu->itemWithTitle(QStringLiteral("取消收藏")));
    choose(submenu, QStringLiteral("取消收藏"));
    EXPECT_FALSE(row(hash, QStringLiteral("favourite")));
    // Minus the time of unfavouriting, so it no longer counts as a favourite.
    EXPECT_NEAR(double(historyRow(hash)->favourite().toLongLong()), double(-now()), 2);
    // Pending, so the next sync sends the later decision.
    EXPECT_GT(historyRow(hash)->change_timestamp().toDouble(), 0);
    EXPECT_TRUE(setFavourites.empty());
    EXPECT_EQ(favouriteProcesses, 2);
    EXPECT_EQ(menu().favMenuModel()->at(0)->title, QStringLiteral("收藏 (0个)"));
    EXPECT_TRUE(actionsOf(hash)->itemWithTitle(QStringLiteral("收藏")));
}

TEST_F(MenuActions, UnfavouriteLoggedInAsksTheServerWithARecordOfItsOwn)
{
    login();
    const HistoryModelPtr clip = savedText(QStringLiteral("keep me"));
    const QString hash = *clip->file_hash();
    // Favouriting sends nothing itself; the upload worker takes the new row.
    choose(actionsOf(hash), QStringLiteral("收藏"));
    EXPECT_TRUE(setFavourites.empty());
    EXPECT_EQ(favouriteProcesses, 1);
    const qint64 value = row(hash, QStringLiteral("favourite"))->favourite().toLongLong();

    // From the favourites menu this time.
    menu().buildMenu();
    const ClipMenuItemPtr favItem = clipItems(*menu().favMenuModel()).front();
    menu().menuWillHighlightItem(favItem);
    parentItem = favItem;
    choose(favItem->submenu, QStringLiteral("取消收藏"));
    ASSERT_EQ(setFavourites.size(), 1u);
    const Request& sent = setFavourites.front();
    EXPECT_NE(sent.clip, favItem->clip);
    EXPECT_EQ(sent.clip->file_hash(), hash);
    EXPECT_NEAR(double(sent.clip->favourite().toLongLong()), double(-now()), 2);
    // The menu's record keeps its value; the server's answer settles the rows.
    EXPECT_EQ(favItem->clip->favourite().toLongLong(), value);
    EXPECT_TRUE(row(hash, QStringLiteral("favourite")));
    EXPECT_EQ(historyRow(hash)->favourite().toLongLong(), value);
    EXPECT_EQ(favouriteProcesses, 2);

    DBKeeper::deleteClipItem(hash, QStringLiteral("favourite"));
    sent.done();
    EXPECT_EQ(menu().favMenuModel()->at(0)->title, QStringLiteral("收藏 (0个)"));
}

// The server never hears of a secret clip (nor of one it does not know, nor without a key):
// the unfavourite is then kept here, marked for the favourites worker.
TEST_F(MenuActions, UnfavouriteTheServerRefusesIsKeptHereAndMarked)
{
    login();
    const HistoryModelPtr clip = savedText(QStringLiteral("secret favourite"));
    const QString hash = *clip->file_hash();
    ASSERT_TRUE(historytest::RawDb(historytest::dbPath())
                    .exec(QStringLiteral("update History set secert = 1 where file_hash = ?"), {hash}));
    choose(actionsOf(hash), QStringLiteral("收藏"));
    ASSERT_TRUE(row(hash, QStringLiteral("favourite")));

    choose(actionsOf(hash), QStringLiteral("取消收藏"));
    ASSERT_EQ(setFavourites.size(), 1u);
    const int processesBefore = favouriteProcesses;
    ASSERT_TRUE(historytest::RawDb(historytest::dbPath()).exec(QStringLiteral("update History set change_timestamp = 0"), {}));
    setFavourites.front().answer(true);

    EXPECT_FALSE(row(hash, QStringLiteral("favourite")));
    const HistoryModelPtr history = historyRow(hash);
    EXPECT_NEAR(double(history->favourite().toLongLong()), double(-now()), 2);
    EXPECT_GT(history->change_timestamp().toLongLong(), 0) << "marked for the favourites worker";
    EXPECT_TRUE(history->secert().toBool());
    EXPECT_EQ(favouriteProcesses, processesBefore + 1);
    EXPECT_TRUE(clipItems(*menu().favMenuModel()).empty());
    EXPECT_TRUE(actionsOf(hash)->itemWithTitle(QStringLiteral("收藏")));
}

// 同步历史记录 that the service did not answer says so once; the pull a login starts by
// itself, and one that was answered, say nothing.
TEST_F(MenuActions, AHistorySyncTheServiceDidNotAnswerIsToldInWords)
{
    keyState = 1;
    login();
    ASSERT_EQ(pulls.size(), 1u) << "the login's own pull";
    lastPullFailed = true;
    pulls.front()();
    EXPECT_EQ(notifications->count(), 0);

    menu().buildMenu();
    const ClipMenuItemPtr item = menu().mainMenuModel()->itemWithTitle(QStringLiteral("同步历史记录"));
    ASSERT_TRUE(item);
    for (const bool failed : {true, false}) {
        SCOPED_TRACE(failed);
        notifications->clear();
        pulls.clear();
        menu().perform(item, nullptr);
        ASSERT_EQ(pulls.size(), 1u);
        lastPullFailed = failed;
        pulls.front()();
        ASSERT_EQ(notifications->count(), failed ? 1 : 0);
        if (failed) {
            EXPECT_EQ(notifications->delivered().at(0).title, QStringLiteral("同步历史记录失败"));
            EXPECT_EQ(notifications->delivered().at(0).informativeText, QStringLiteral("网络问题, 请稍后重试"));
        }
    }
}

TEST_F(MenuActions, TwoQuickHistorySyncsSendOnePull)
{
    keyState = 1;
    menu().push();
    EXPECT_TRUE(pulls.empty()) << "logged out";
    keyState = 0;
    login();
    menu().push();
    EXPECT_TRUE(pulls.empty()) << "no key";

    keyState = 1;
    menu().buildMenu();
    const ClipMenuItemPtr item = menu().mainMenuModel()->itemWithTitle(QStringLiteral("同步历史记录"));
    ASSERT_TRUE(item);
    menu().perform(item, nullptr);
    menu().perform(item, nullptr);
    ASSERT_EQ(pulls.size(), 1u);
    EXPECT_TRUE(menu().isRefresh());

    savedText(QStringLiteral("pulled"));
    pulls.front()();
    EXPECT_FALSE(menu().isRefresh());
    EXPECT_EQ(historyProcesses, 1);
    EXPECT_EQ(menu().mainMenuModel()->at(1)->title, QStringLiteral("pulled"));
    menu().perform(item, nullptr);
    EXPECT_EQ(pulls.size(), 2u);
    pulls.back()();
}

TEST_F(MenuActions, LoginPullsOnlyWithAKey)
{
    login();
    EXPECT_TRUE(pulls.empty());
    ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
    ASSERT_TRUE(testenv::waitForMainQueue());
    keyState = 1;
    login();
    EXPECT_EQ(pulls.size(), 1u);
    pulls.front()();
}

TEST_F(MenuActions, FavouritesSyncOneAtATimeAndOnlyLoggedIn)
{
    menu().syncFavourite();
    EXPECT_TRUE(favouritePulls.empty());
    login();
    menu().buildMenu();
    const ClipMenuItemPtr item = menu().favMenuModel()->itemWithTitle(QStringLiteral("同步收藏"));
    ASSERT_TRUE(item);
    menu().perform(item, nullptr);
    menu().perform(item, nullptr);
    ASSERT_EQ(favouritePulls.size(), 1u);
    EXPECT_TRUE(menu().isSyncFavourite());
    savedText(QStringLiteral("fav"), 1000, QStringLiteral("favourite"));
    favouritePulls.front()();
    EXPECT_FALSE(menu().isSyncFavourite());
    EXPECT_EQ(menu().favMenuModel()->at(0)->title, QStringLiteral("收藏 (1个)"));
}

TEST_F(MenuActions, UnlockClearsTheSecretFlagAndWakesTheUpload)
{
    const HistoryModelPtr clip = savedText(QStringLiteral("password 1"));
    const QString hash = *clip->file_hash();
    clip->signSecert(true);
    EXPECT_TRUE(actionsOf(hash)->itemWithTitle(QStringLiteral("解除机密")));
    login();
    const ClipMenuModelPtr submenu = actionsOf(hash);
    EXPECT_FALSE(submenu->itemWithTitle(QStringLiteral("解除机密")));
    choose(submenu, QStringLiteral("解除机密并上传"));
    EXPECT_FALSE(historyRow(hash)->secert().toBool());
    EXPECT_EQ(historyProcesses, 1);
    ASSERT_TRUE(testenv::waitUntil(
        [&] { return menu().mainMenuModel()->at(1)->title == QStringLiteral("password 1"); }));
}

TEST_F(MenuActions, DeleteHandsOverACopyAndRebuildsWhenDone)
{
    const HistoryModelPtr clip = savedText(QStringLiteral("gone soon"));
    choose(actionsOf(*clip->file_hash()), QStringLiteral("删除"));
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_NE(deletes.front().clip, parentItem->clip);
    EXPECT_EQ(deletes.front().clip->file_hash(), clip->file_hash());
    DBKeeper::deleteClipItem(clip->file_hash());
    deletes.front().done();
    EXPECT_EQ(menu().mainMenuModel()->at(1)->separator, true);
}

// The menu was built before a reply changed the row: an action takes the row as it is now
// (its server id, a favourite another device made), and a clip deleted meanwhile is left alone.
TEST_F(MenuActions, AnActionTakesTheRowAsItIsNowNotTheMenusCopy)
{
    const HistoryModelPtr clip = savedText(QStringLiteral("posted meanwhile"));
    const QString hash = *clip->file_hash();
    ClipMenuModelPtr submenu = actionsOf(hash);
    ASSERT_TRUE(DBKeeper::updateHistoryID(QVariant(42), QVariant(43), hash));
    choose(submenu, QStringLiteral("删除"));
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes.front().clip->history_id().toLongLong(), 42);

    // Favourited on another device after the menu offered "收藏": nothing is sent or changed.
    submenu = actionsOf(hash);
    ASSERT_TRUE(submenu->itemWithTitle(QStringLiteral("收藏")));
    const qint64 elsewhere = now() - 30;
    ASSERT_TRUE(DBKeeper::setFavourite(QVariant(elsewhere), clip->file_hash()));
    choose(submenu, QStringLiteral("收藏"));
    EXPECT_EQ(historyRow(hash)->favourite().toLongLong(), elsewhere);
    EXPECT_TRUE(setFavourites.empty());
    EXPECT_EQ(favouriteProcesses, 0);

    // Deleted after the menu was built: nothing left to act on.
    submenu = actionsOf(hash);
    DBKeeper::deleteClipItem(clip->file_hash());
    choose(submenu, QStringLiteral("删除"));
    EXPECT_EQ(deletes.size(), 1u);
}

TEST_F(MenuActions, ShareOffersTheServicesForTheKindAndHandsOverTheBody)
{
    const SharingService mail{QStringLiteral("email"), QStringLiteral("邮件"), QIcon()};
    sharing->services[SharingItem::Kind::Text] = {mail};
    const HistoryModelPtr clip = savedText(QStringLiteral("share me"));
    const ClipMenuModelPtr shareMenu = actionsOf(*clip->file_hash())->itemWithTitle(QStringLiteral("分享"))->submenu;
    ASSERT_EQ(shareMenu->titles(), QStringList{QStringLiteral("邮件")});
    ASSERT_EQ(sharing->asked.size(), 1);
    EXPECT_EQ(sharing->asked.front().kind, SharingItem::Kind::Text);
    menu().perform(shareMenu->at(0), nullptr);
    ASSERT_EQ(sharing->performed.size(), 1);
    EXPECT_EQ(sharing->performed.front().service.identifier, QStringLiteral("email"));
    EXPECT_EQ(sharing->performed.front().item.text, QStringLiteral("share me"));

    // A file is offered and shared as the file URL of its preview, named after the file.
    sharing->services[SharingItem::Kind::File] = {mail};
    auto file = std::make_shared<HistoryModel>();
    file->setFile_hash(md5HexOfData("pdf body"));
    ClipFileManager::sharedInstance().saveData("pdf body", *file->file_hash());
    file->setType(QStringLiteral("file_pdf+zip+enc"));
    file->setFile_name(QStringLiteral("../report.pdf"));
    file->setContent(QStringLiteral("report.pdf"));
    // A menu item's clip is a stored row, which the action reads again.
    file->save();
    ClipMenuModelPtr fileShare = menu().share(file);
    ASSERT_EQ(fileShare->size(), 1);
    EXPECT_EQ(sharing->asked.last().fileUrl.fileName(), QStringLiteral("report.pdf"));
    menu().perform(fileShare->at(0), nullptr);
    EXPECT_EQ(sharing->performed.last().item.fileUrl,
              QUrl::fromLocalFile(PathHelper::getPreviewsFilePath(QStringLiteral("report.pdf"))));

    // No body here, no services.
    auto missing = std::make_shared<HistoryModel>();
    missing->setFile_hash(md5HexOfString(QStringLiteral("not here")));
    missing->setType(QStringLiteral("text_txt"));
    const qsizetype asked = sharing->asked.size();
    EXPECT_TRUE(menu().share(missing)->isEmpty());
    EXPECT_EQ(sharing->asked.size(), asked);
}

TEST_F(MenuActions, ThePluginsItemOpensThePluginWindow)
{
    // No service to reach: the window's store request fails and it keeps its cached list.
    UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QStringLiteral("http://127.0.0.1:9"));
    menu().buildMenu();
    const ClipMenuItemPtr item = menu().mainMenuModel()->itemWithTitle(QStringLiteral("插件"));
    ASSERT_TRUE(item);
    menu().perform(item, nullptr);
    PluginWindowController& window = PluginWindowController::sharedInstance();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("插件"));
    // The shipped built-in plugins are listed as installed.
    EXPECT_TRUE(window.installedArray().size() >= 5);
    window.hide();
}
