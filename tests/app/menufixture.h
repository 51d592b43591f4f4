#pragma once

// The clip menu tests: the real menu controller, watcher, database and clip files under the
// test's home, the in-memory pasteboard and keystroke of the watcher tests, fake desktop
// services, and in place of the key manager and the sync requests entries that record what
// they are asked and answer only when the test says so.

#include "app/clipreminderhelper.h"
#include "app/menucontroller.h"
#include "app/menuservices.h"
#include "clipfixture.h"
#include "platform/fake/remindersfake.h"
#include "platform/fake/sharingfake.h"
#include "platform/fake/usernotificationsfake.h"
#include "store/clipfilemanager.h"
#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "support/mainqueue.h"

#include <QDateTime>

#include <vector>

namespace menutest {

struct Request {
    HistoryModelPtr clip;
    MenuServices::Done done;
    // Ends the request as never sent.
    MenuServices::FavouriteDone answer;
};

class MenuTest : public cliptest::ClipTest {
protected:
    void SetUp() override
    {
        ClipTest::SetUp();
        watcher();
        menu().resetForTests();
        notifications = std::make_shared<UserNotificationsFake>();
        UserNotifications::setCurrent(notifications);
        sharing = std::make_shared<SharingFake>();
        Sharing::setCurrent(sharing);
        reminders = std::make_shared<RemindersFake>();
        Reminders::setFactory([this] { return reminders; });

        MenuServices s;
        s.listPlugins = [this] { return plugins; };
        s.keyState = [this] { return keyState; };
        s.currentKeyHash = [this] { return keyHash; };
        s.pullHistory = [this](MenuServices::Done done) { pulls.push_back(done); };
        s.lastPullFailed = [this] { return lastPullFailed; };
        s.pullFavourites = [this](MenuServices::Done done) { favouritePulls.push_back(done); };
        s.setFavourite = [this](const HistoryModelPtr& c, MenuServices::FavouriteDone done) {
            setFavourites.push_back({c, [done] { done(false); }, done});
        };
        s.deleteClip = [this](const HistoryModelPtr& c, MenuServices::Done done) { deletes.push_back({c, done, nullptr}); };
        s.processHistory = [this] { ++historyProcesses; };
        s.processFavourites = [this] { ++favouriteProcesses; };
        menu().setServices(s);
    }
    void TearDown() override
    {
        menu().setServices(MenuServices::standard());
        ClipReminderHelper::setClock(nullptr);
        Reminders::setFactory(nullptr);
        Sharing::setCurrent(nullptr);
        UserNotifications::setCurrent(nullptr);
        ClipTest::TearDown();
    }

    static MenuController& menu() { return MenuController::sharedInstance(); }

    // Logged in, and "USER_LOGINED" handled.
    static void login()
    {
        ConfigureManager::sharedInstance().setLoginUserToken(QStringLiteral("token"));
        ASSERT_TRUE(testenv::waitForMainQueue());
    }

    // A history (or favourite) row with its body on disk.
    static HistoryModelPtr savedText(const QString& text, qint64 time = 1000,
                                     const QString& category = QStringLiteral("history"))
    {
        auto clip = std::make_shared<HistoryModel>();
        const QString hash = md5HexOfString(text);
        ClipFileManager::sharedInstance().saveString(text, hash);
        clip->setFile_hash(hash);
        clip->setContent(text);
        clip->setType(QStringLiteral("text_txt+enc"));
        clip->setTimestamp(QVariant(time));
        clip->setCategory(category);
        clip->save();
        return clip;
    }

    // The clip items of a menu model, in order.
    static QList<ClipMenuItemPtr> clipItems(const ClipMenuModel& model)
    {
        QList<ClipMenuItemPtr> out;
        for (const ClipMenuItemPtr& item : model.items)
            if (item->clip && !item->alternate)
                out << item;
        return out;
    }

    static qint64 now() { return QDateTime::currentSecsSinceEpoch(); }

    std::shared_ptr<UserNotificationsFake> notifications;
    std::shared_ptr<SharingFake> sharing;
    std::shared_ptr<RemindersFake> reminders;
    PluginDict plugins;
    int keyState = 0;
    std::optional<QString> keyHash;
    std::vector<MenuServices::Done> pulls;
    bool lastPullFailed = false;
    std::vector<MenuServices::Done> favouritePulls;
    std::vector<Request> setFavourites;
    std::vector<Request> deletes;
    int historyProcesses = 0;
    int favouriteProcesses = 0;
};

}  // namespace menutest
