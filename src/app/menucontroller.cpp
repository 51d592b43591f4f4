#include "app/menucontroller.h"

#include "app/clipcontroller.h"
#include "app/clipdownloadshelper.h"
#include "app/clipkindtable.h"
#include "app/clipmenubuilder.h"
#include "app/clipmenurenderer.h"
#include "app/clipreminderhelper.h"
#include "app/menupopup.h"
#include "platform/dispatch.h"
#include "platform/notificationcenter.h"
#include "platform/usernotifications.h"
#include "store/clipcategories.h"
#include "store/clipfilemanager.h"
#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "store/dbfetcher.h"
#include "store/dbkeeper.h"
#include "store/defaultskeys.h"
#include "store/notificationnames.h"
#include "store/pathhelper.h"
#include "store/utils.h"
#include "windows/pluginwindowcontroller.h"
#include "windows/preferences/settingwindowcontroller.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QImage>
#include <QUrl>

#include <spdlog/spdlog.h>

namespace {

const QString kHistory = ClipCategory::History;
const QString kFavourite = ClipCategory::Favourite;

std::optional<ClipBody> bodyOf(const HistoryModelPtr& clip)
{
    return clip ? clipBodyOf(clip->type()) : std::nullopt;
}

QString hashOf(const HistoryModelPtr& clip)
{
    return clip->file_hash().value_or(QString());
}

}  // namespace

MenuController& MenuController::sharedInstance()
{
    // Never released: the menu is a widget and must not outlive the application object in
    // an exit-time destructor.
    static MenuController* instance = new MenuController();
    return *instance;
}

MenuController::MenuController()
    : m_services(MenuServices::standard())
    , m_mainModel(ClipMenuModel::create())
    , m_favModel(ClipMenuModel::create())
    , m_renderer(std::make_unique<ClipMenuRenderer>())
{
    m_renderer->setTriggerHandler(
        [this](const ClipMenuItemPtr& item, const ClipMenuItemPtr& parent) { perform(item, parent); });
    m_renderer->setHighlightHandler([this](const ClipMenuItemPtr& item) { menuWillHighlightItem(item); });
    m_renderer->bindMenu(m_favModel, favMenu());
    mainMenu();
    observe();
}

void MenuController::setServices(MenuServices services)
{
    m_services = std::move(services);
}

void MenuController::resetForTests()
{
    m_services = MenuServices::standard();
    m_isRefresh = false;
    m_isSyncFavourite = false;
    {
        QMutexLocker gate(&m_historyGate);
        m_historyHolds = 0;
    }
    m_rebuildPending = false;
}

void MenuController::observe()
{
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(NotificationName::HistoryDelete, nullptr,
                       [this](const Notification& n) { historyDelete(n); });
    center.addObserver(NotificationName::DataChanged, nullptr, [this](const Notification&) { dataChanged(); });
    center.addObserver(NotificationName::ZeroChanged, nullptr, [this](const Notification&) { dataChanged(); });
    center.addObserver(NotificationName::UserLogined, nullptr, [this](const Notification&) { userLogined(); });
    center.addObserver(NotificationName::AllFileDownloadDone, nullptr,
                       [this](const Notification& n) { allFileDownloadDone(n); });
    center.addObserver(NotificationName::FileDownloadDone, nullptr,
                       [this](const Notification& n) { fileDownloadDone(n); });
}

QMenu* MenuController::mainMenu()
{
    if (!m_mainMenu)
        m_mainMenu = std::make_unique<QMenu>();
    return m_mainMenu.get();
}

QMenu* MenuController::favMenu()
{
    if (!m_favMenu)
        m_favMenu = std::make_unique<QMenu>();
    return m_favMenu.get();
}

QString MenuController::reasonablySizedVersionOfString(const QString& text)
{
    return ClipMenuBuilder::reasonablySizedVersionOfString(text);
}

void MenuController::holdHistoryReads()
{
    QMutexLocker gate(&m_historyGate);
    ++m_historyHolds;
}

void MenuController::releaseHistoryReads()
{
    {
        QMutexLocker gate(&m_historyGate);
        if (m_historyHolds == 0 || --m_historyHolds > 0)
            return;
    }
    dispatch::mainAsync([this] {
        if (m_rebuildPending || !m_historyRead)
            buildMenu();
    });
}

QMenu* MenuController::buildMenu()
{
    QMutexLocker gate(&m_historyGate);
    const bool held = m_historyHolds > 0;
    if (held) {
        m_rebuildPending = true;
        if (m_historyRead)
            return mainMenu();
    }
    fillFavourites(held);
    ClipMenuBuilder::AccountState state;
    state.logined = ConfigureManager::sharedInstance().isLogined();
    state.hasKeyHash = state.logined && m_services.currentKeyHash && m_services.currentKeyHash().has_value();
    state.needShowUpdate = Utils::isNeedShowUpdate();
    if (state.needShowUpdate)
        state.newVersion =
            ClipUserDefaults::standardUserDefaults().string(DefaultsKey::NewVersion).value_or(QString());
    const HistoryList history = held ? HistoryList() : DBKeeper::getAllHistory();
    ClipMenuBuilder::fillMainMenu(*m_mainModel, history, m_favModel, state);
    m_renderer->render(mainMenu(), m_mainModel);
    if (!held) {
        m_rebuildPending = false;
        if (!m_historyRead)
            spdlog::info("clip menu ready with {} clips", history.size());
        m_historyRead = true;
    }
    return mainMenu();
}

void MenuController::buildFavouriteMenu()
{
    QMutexLocker gate(&m_historyGate);
    const bool held = m_historyHolds > 0;
    if (held && m_historyRead) {
        m_rebuildPending = true;
        return;
    }
    fillFavourites(held);
}

void MenuController::fillFavourites(bool held)
{
    const HistoryList favourites = held ? HistoryList() : DBKeeper::getAllFavourites();
    ClipMenuBuilder::fillFavouriteMenu(*m_favModel, favourites, ConfigureManager::sharedInstance().isLogined());
    m_renderer->render(favMenu(), m_favModel);
}

void MenuController::rebuildLater()
{
    dispatch::mainAsync([this] { buildMenu(); });
}

void MenuController::menuWillHighlightItem(const ClipMenuItemPtr& item)
{
    if (!item || !item->submenu || !item->submenu->isEmpty() || !item->hasRepresentedObject())
        return;
    if (ClipMenuModelPtr menu = subMenu(item->clip))
        item->submenu = menu;
}

ClipMenuModelPtr MenuController::subMenu(const HistoryModelPtr& clip)
{
    if (!clip)
        return nullptr;
    const std::optional<ClipBody> body = bodyOf(clip);
    if (!body)
        return nullptr;
    const bool text = *body == ClipBody::Text;
    const PluginDict plugins = text && m_services.listPlugins ? m_services.listPlugins() : PluginDict();
    const QList<int> reminders = text ? ClipReminderHelper::avalilabeTypes() : QList<int>();
    return ClipMenuBuilder::subMenu(*clip, plugins, reminders, share(clip),
                                    ConfigureManager::sharedInstance().isLogined());
}

ClipMenuModelPtr MenuController::share(const HistoryModelPtr& clip)
{
    if (!clip || !ClipFileManager::sharedInstance().isHistoryFileExist(*clip))
        return ClipMenuModel::create();
    std::optional<SharingItem> sample;
    if (const std::optional<ClipBody> body = bodyOf(clip)) {
        switch (*body) {
        case ClipBody::Text: sample = SharingItem::fromText(QString()); break;
        case ClipBody::Image: sample = SharingItem::fromImage(QImage()); break;
        case ClipBody::File:
            sample = SharingItem::fromFileUrl(QUrl::fromLocalFile(ClipFileManager::sharedInstance().makePreviewLink(*clip)));
            break;
        }
    }
    const QList<SharingService> services =
        sample ? Sharing::current().sharingServicesForItem(*sample) : QList<SharingService>();
    return ClipMenuBuilder::shareMenu(clip, services);
}

void MenuController::perform(const ClipMenuItemPtr& item, const ClipMenuItemPtr& parent)
{
    if (!item)
        return;
    const HistoryModelPtr parentClip = parent ? parent->clip : nullptr;
    // The menu holds copies made when it was built; a reply may have changed the row since
    // (its server id above all), and a clip deleted meanwhile has nothing left to act on.
    auto now = [](const HistoryModelPtr& clip, const auto& action) {
        if (const HistoryModelPtr row = currentRow(clip))
            action(row);
    };
    switch (item->action) {
    case ClipMenuAction::None: break;
    case ClipMenuAction::ClickItem: clickIteam(item->clip); break;
    case ClipMenuAction::ShiftClickItem: shiftClickIteam(item->clip); break;
    case ClipMenuAction::Plugin: plugin(parentClip, item->plugin); break;
    case ClipMenuAction::Reminder:
        now(parentClip, [&](const HistoryModelPtr& row) { reminder(row, item->fireType.value_or(-1)); });
        break;
    case ClipMenuAction::Save: now(parentClip, [this](const HistoryModelPtr& row) { save(row); }); break;
    case ClipMenuAction::Favourite:
        now(parentClip, [&](const HistoryModelPtr& row) {
            // The item offered what the menu's copy showed; when the row already is that way
            // (a pull took another device's decision meanwhile), there is nothing to do.
            const bool offeredFavourite = DBFetcher::integerFromValue(parentClip->favourite()) <= 0;
            if (offeredFavourite == (DBFetcher::integerFromValue(row->favourite()) <= 0))
                favourite(row);
            else
                buildMenu();
        });
        break;
    case ClipMenuAction::ShareClicked:
        if (item->shareService)
            now(item->clip, [&](const HistoryModelPtr& row) { shareClicked(row, *item->shareService); });
        break;
    case ClipMenuAction::UnlockSecert: now(parentClip, [this](const HistoryModelPtr& row) { unlockSecert(row); }); break;
    case ClipMenuAction::Delete: now(parentClip, [this](const HistoryModelPtr& row) { del(row); }); break;
    case ClipMenuAction::Push: push(true); break;
    case ClipMenuAction::SyncFavourite: syncFavourite(); break;
    case ClipMenuAction::Login: login(); break;
    case ClipMenuAction::Setting: setting(); break;
    case ClipMenuAction::Encrypt: encrypt(); break;
    case ClipMenuAction::Plugins: plugins(); break;
    case ClipMenuAction::Quit: quit(); break;
    }
}

HistoryModelPtr MenuController::currentRow(const HistoryModelPtr& clip)
{
    if (!clip || !clip->file_hash())
        return nullptr;
    auto row = std::make_shared<HistoryModel>();
    row->setFile_hash(clip->file_hash());
    row->setCategory(clip->category());
    if (!row->isExist())
        return nullptr;
    row->fetch();
    return row;
}

void MenuController::showMenu()
{
    MenuPopup::popUp(mainMenu());
}

void MenuController::keepInHistory(const HistoryModel& clip)
{
    if (clip.category() == ClipCategory::History)
        return;
    const HistoryModelPtr copy = clip.copy();
    copy->setCategory(ClipCategory::History);
    if (copy->isExist()) {
        copy->fetch();
        copy->setFavourite(clip.favourite());
    }
    copy->save();
}

void MenuController::clickIteam(const HistoryModelPtr& clip)
{
    if (!clip)
        return;
    keepInHistory(*clip);
    ClipController& controller = ClipController::sharedInstance();
    controller.sendToClipboard(clip, nullptr);
    controller.paste();
}

void MenuController::shiftClickIteam(const HistoryModelPtr& clip)
{
    if (!clip)
        return;
    keepInHistory(*clip);
    dispatch::mainAsync([since = clip->timestamp()] {
        QString merged;
        for (const HistoryModelPtr& item : DBKeeper::getHistoryGreatThan(since)) {
            const std::optional<QString> body =
                ClipFileManager::sharedInstance().getStringWithMd5(item->file_hash().value_or(QString()));
            // A body that is gone (or no text) is left out, separator and all.
            if (!body)
                continue;
            if (!merged.isEmpty() && !merged.endsWith(QLatin1Char('\n')))
                merged += QLatin1Char('\n');
            merged += *body;
        }
        ClipController& controller = ClipController::sharedInstance();
        controller.sendToClipboard(merged, false);
        controller.paste();
    });
}

void MenuController::plugin(const HistoryModelPtr& clip, const PluginObjectPtr& plugin)
{
    if (!clip)
        return;
    ClipController& controller = ClipController::sharedInstance();
    controller.sendToClipboard(clip, plugin);
    controller.paste();
}

void MenuController::reminder(const HistoryModelPtr& clip, int fireType)
{
    ClipReminderHelper::addReminderItem(clip, fireType);
}

std::optional<QString> MenuController::save(const HistoryModelPtr& clip)
{
    if (!clip)
        return std::nullopt;
    const std::optional<QString> path = ClipDownloadsHelper::saveToDownloads(*clip);
    // The user is told where the file went, or that it did not.
    UserNotification notification;
    notification.playsDefaultSound = false;
    if (path) {
        notification.title = QStringLiteral("已保存到下载文件夹");
        notification.informativeText = *path;
    } else {
        notification.title = QStringLiteral("未能保存到下载文件夹");
        notification.informativeText = QStringLiteral("下载文件夹中已有同名文件, 或此剪贴无法保存。");
    }
    UserNotifications::current().deliverNotification(notification);
    return path;
}

void MenuController::favourite(const HistoryModelPtr& clip)
{
    if (!clip)
        return;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (DBFetcher::integerFromValue(clip->favourite()) <= 0) {
        clip->fetch();
        clip->setCategory(kFavourite);
        clip->setFavourite(now);
        clip->save();
        clip->increase_change_count();
    } else if (ConfigureManager::sharedInstance().isLogined()) {
        // The request gets a record of its own: this one goes on to be saved below with the
        // value it keeps until the server's answer settles it.
        const HistoryModelPtr request = clip->copy();
        request->setFavourite(-now);
        if (m_services.setFavourite)
            m_services.setFavourite(request, [this, request](bool refused) {
                if (refused)
                    unfavouriteLocally(request);
                buildMenu();
            });
    } else {
        clip->setFavourite(-now);
        unfavouriteLocally(clip);
        return;
    }
    clip->setCategory(kHistory);
    clip->save();
    buildMenu();
    if (m_services.processFavourites)
        m_services.processFavourites();
}

void MenuController::unfavouriteLocally(const HistoryModelPtr& clip)
{
    // Unfavourited, at this time: what the server path would send, so sync sees the later
    // decision and the menu offers "收藏" again. The mark carries it to the server once it
    // can be sent.
    DBKeeper::deleteClipItem(clip->file_hash(), kFavourite);
    clip->setCategory(kHistory);
    clip->save();
    clip->increase_change_count();
    buildMenu();
    if (m_services.processFavourites)
        m_services.processFavourites();
}

bool MenuController::shareClicked(const HistoryModelPtr& clip, const SharingService& service)
{
    if (!clip)
        return false;
    ClipFileManager& files = ClipFileManager::sharedInstance();
    std::optional<SharingItem> item;
    const std::optional<ClipBody> body = bodyOf(clip);
    if (!body)
        return false;
    switch (*body) {
    case ClipBody::Text:
        if (const auto text = files.getStringWithMd5(hashOf(clip)))
            item = SharingItem::fromText(*text);
        break;
    case ClipBody::Image: {
        const QString path = PathHelper::getBaseFilePath(hashOf(clip));
        if (!path.isEmpty() && files.isExist(path))
            item = SharingItem::fromImage(QImage(path));
        break;
    }
    case ClipBody::File: item = SharingItem::fromFileUrl(QUrl::fromLocalFile(files.makePreviewLink(*clip))); break;
    }
    if (!item)
        return false;
    return Sharing::current().performWithItem(service, *item);
}

void MenuController::unlockSecert(const HistoryModelPtr& clip)
{
    if (!clip)
        return;
    clip->signSecert(false);
    if (m_services.processHistory)
        m_services.processHistory();
    rebuildLater();
}

void MenuController::del(const HistoryModelPtr& clip)
{
    if (!clip || !m_services.deleteClip)
        return;
    m_services.deleteClip(clip->copy(), [this] { buildMenu(); });
}

void MenuController::push(bool askedByUser)
{
    if (m_isRefresh)
        return;
    if (!m_services.keyState || m_services.keyState() == 0)
        return;
    if (!ConfigureManager::sharedInstance().isLogined())
        return;
    if (!m_services.pullHistory)
        return;
    m_isRefresh = true;
    m_services.pullHistory([this, askedByUser] {
        buildMenu();
        if (m_services.processHistory)
            m_services.processHistory();
        m_isRefresh = false;
        // The user chose 同步历史记录 and would otherwise see an unchanged menu, nothing more.
        if (askedByUser && m_services.lastPullFailed && m_services.lastPullFailed()) {
            UserNotification notification;
            notification.title = QStringLiteral("同步历史记录失败");
            notification.informativeText = QStringLiteral("网络问题, 请稍后重试");
            UserNotifications::current().deliverNotification(notification);
        }
    });
}

void MenuController::syncFavourite()
{
    if (m_isSyncFavourite || !ConfigureManager::sharedInstance().isLogined() || !m_services.pullFavourites)
        return;
    m_isSyncFavourite = true;
    m_services.pullFavourites([this] {
        buildFavouriteMenu();
        m_isSyncFavourite = false;
    });
}

void MenuController::login()
{
    SettingWindowController& window = SettingWindowController::sharedInstance();
    window.showWindow();
    window.showPanel(1);
}

void MenuController::setting()
{
    SettingWindowController& window = SettingWindowController::sharedInstance();
    window.showWindow();
    if (Utils::isNeedShowUpdate())
        window.showPanel(3);
}

void MenuController::encrypt()
{
    SettingWindowController& window = SettingWindowController::sharedInstance();
    window.showWindow();
    window.showPanel(1);
    window.activeEncryptPanel();
}

void MenuController::plugins()
{
    PluginWindowController::sharedInstance().showWindow();
}

void MenuController::quit()
{
    QCoreApplication::quit();
}

void MenuController::dataChanged()
{
    rebuildLater();
}

void MenuController::historyDelete(const Notification&)
{
    rebuildLater();
}

void MenuController::userLogined()
{
    push();
}

void MenuController::allFileDownloadDone(const Notification&)
{
    rebuildLater();
}

void MenuController::fileDownloadDone(const Notification& notification)
{
    const HistoryModelPtr clip = notification.object.value<HistoryModelPtr>();
    dispatch::mainAsync([this, clip] {
        if (!clip)
            return;
        const std::optional<QString> incoming = ConfigureManager::sharedInstance().incommingHash();
        if (!incoming || *incoming != clip->file_hash())
            return;
        // The incoming hash stays: the watcher clears it when it sees this clip.
        ClipController::sharedInstance().sendToClipboard(clip, nullptr);
        showNotif(clip);
    });
}

void MenuController::showNotif(const HistoryModelPtr& clip)
{
    if (!clip)
        return;
    UserNotification notification;
    notification.title = QStringLiteral("已设置剪贴板");
    if (const std::optional<ClipBody> body = bodyOf(clip)) {
        switch (*body) {
        case ClipBody::Text: notification.informativeText = clip->content().value_or(QString()); break;
        case ClipBody::Image:
            notification.contentImage =
                QImage::fromData(QByteArray::fromBase64(clip->content().value_or(QString()).toLatin1()));
            break;
        case ClipBody::File: notification.informativeText = QStringLiteral("文件内容"); break;
        }
    }
    UserNotifications::current().deliverNotification(notification);
}
