#include "app/clipmenubuilder.h"

#include "app/clipkindtable.h"
#include "app/clipreminderhelper.h"
#include "store/clipbodylimit.h"
#include "store/dbfetcher.h"

#include <QByteArray>
#include <QImage>
#include <QPixmap>

#include <algorithm>

namespace {

bool isText(const HistoryModel& clip)
{
    return clipBodyOf(clip.type()) == ClipBody::Text;
}

ClipMenuItemPtr actionItem(const QString& title, ClipMenuAction action, const QString& imageName = QString())
{
    auto item = std::make_shared<ClipMenuItem>();
    item->title = title;
    item->action = action;
    item->imageName = imageName;
    return item;
}

// The clip's thumbnail, stored as Base64 in its content.
QIcon thumbnailOf(const QString& base64)
{
    const QImage image = QImage::fromData(QByteArray::fromBase64(base64.toLatin1()));
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

// Over the capture and sync limit (5.5 MiB); "5M" is only the wording.
bool isTooLargeToUpload(const HistoryModel& clip)
{
    const float bytes = clip.file_size().toFloat();
    return ClipBodyLimit::tooLarge(bytes);
}

}  // namespace

const QStringList& ClipMenuBuilder::menuKeyEquivalents()
{
    static const QStringList keys = QStringLiteral("1 2 3 4 5 6 7 8 9 0 q w e r t y u i o p a s d f g h j k l ;")
                                        .split(QLatin1Char(' '));
    return keys;
}

QString ClipMenuBuilder::keyEquivalentAt(qsizetype position)
{
    const QStringList& keys = menuKeyEquivalents();
    return position >= 0 && position < keys.size() ? keys.at(position) : QString();
}

QString ClipMenuBuilder::reasonablySizedVersionOfString(const QString& text)
{
    if (text.size() < 26)
        return text.trimmed();
    qsizetype cut = 20;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return QStringLiteral("%1 …").arg(text.left(cut).trimmed());
}

ClipMenuItemPtr ClipMenuBuilder::titleItem(const QString& title)
{
    auto item = actionItem(title, ClipMenuAction::None);
    item->enabled = false;
    return item;
}

ClipMenuItemPtr ClipMenuBuilder::separatorItem()
{
    auto item = std::make_shared<ClipMenuItem>();
    item->separator = true;
    item->enabled = false;
    return item;
}

ClipMenuItemPtr ClipMenuBuilder::favouriteMenuIteam(const ClipMenuModelPtr& favMenu)
{
    auto item = actionItem(QStringLiteral("收藏"), ClipMenuAction::None);
    item->submenu = favMenu;
    return item;
}

ClipMenuItemPtr ClipMenuBuilder::loginMenuIteam()
{
    return actionItem(QStringLiteral("登录/注册"), ClipMenuAction::Login, QStringLiteral("user"));
}

ClipMenuItemPtr ClipMenuBuilder::pushHistoryItem()
{
    return actionItem(QStringLiteral("同步历史记录"), ClipMenuAction::Push, QStringLiteral("ic_sync_18pt"));
}

ClipMenuItemPtr ClipMenuBuilder::syncFavouriteItem()
{
    return actionItem(QStringLiteral("同步收藏"), ClipMenuAction::SyncFavourite, QStringLiteral("ic_sync_18pt"));
}

ClipMenuItemPtr ClipMenuBuilder::encryptIteam()
{
    auto item = actionItem(QStringLiteral("激活端对端加密"), ClipMenuAction::Encrypt,
                           QStringLiteral("baseline_vpn_key_red_18pt"));
    item->redTitle = true;
    return item;
}

ClipMenuItemPtr ClipMenuBuilder::pluginsIteam()
{
    return actionItem(QStringLiteral("插件"), ClipMenuAction::Plugins, QStringLiteral("ic_extension_18pt"));
}

ClipMenuItemPtr ClipMenuBuilder::settingIteam(bool needShowUpdate, const QString& newVersion)
{
    if (needShowUpdate)
        return actionItem(QStringLiteral("设置 (!新版本 %1)").arg(newVersion), ClipMenuAction::Setting,
                          QStringLiteral("new-version"));
    return actionItem(QStringLiteral("设置"), ClipMenuAction::Setting, QStringLiteral("ic_settings_applications_18pt"));
}

ClipMenuItemPtr ClipMenuBuilder::quitIteam()
{
    return actionItem(QStringLiteral("退出"), ClipMenuAction::Quit, QStringLiteral("ic_exit_to_app_18pt"));
}

ClipMenuItemPtr ClipMenuBuilder::clipItem(const HistoryModelPtr& clip, const QString& keyEquivalent)
{
    auto item = std::make_shared<ClipMenuItem>();
    const QString content = clip->content().value_or(QString());
    const QString summary = reasonablySizedVersionOfString(content);
    item->action = ClipMenuAction::ClickItem;
    if (const ClipKindUi* row = clipKindUi(clip->type())) {
        const bool secret = row->secretTitle && clip->secert().toBool();
        const char* title = row->title;
        if (secret)
            title = row->secretTitle;
        else if (row->tooLargeTitle && isTooLargeToUpload(*clip))
            title = row->tooLargeTitle;
        item->title = QString::fromUtf8(title);
        if (item->title.contains(QLatin1String("%1")))
            item->title = item->title.arg(summary);
        const char* imageName = secret ? row->secretImageName : row->imageName;
        if (imageName)
            item->imageName = QString::fromUtf8(imageName);
        if (row->body == ClipBody::Image)
            item->image = thumbnailOf(content);
        else
            item->toolTip = content;
    } else {
        // A kind from a newer client.
        item->title = QStringLiteral("未知类型，请更新客户端");
        item->action = ClipMenuAction::None;
        item->toolTip = content;
    }
    item->keyEquivalent = keyEquivalent;
    item->clip = clip;
    item->submenu = ClipMenuModel::create();
    return item;
}

ClipMenuItemPtr ClipMenuBuilder::alternateItem(const ClipMenuItem& item)
{
    auto alternate = std::make_shared<ClipMenuItem>(item);
    alternate->action = ClipMenuAction::ShiftClickItem;
    alternate->title = QStringLiteral("↑%1").arg(item.title);
    alternate->alternate = true;
    alternate->keyEquivalentModifier = ClipMenuModifier::Control;
    alternate->hidden = true;
    alternate->submenu = ClipMenuModel::create();
    return alternate;
}

void ClipMenuBuilder::fillMainMenu(ClipMenuModel& menu, const HistoryList& history, const ClipMenuModelPtr& favMenu,
                                   const AccountState& state)
{
    menu.clear();
    menu.append(titleItem(QStringLiteral("历史纪录")));
    for (qsizetype i = 0; i < history.size(); ++i) {
        const HistoryModelPtr& clip = history.at(i);
        // A clip without content gets no item, but still uses up its key.
        if (!clip || !clip->content())
            continue;
        ClipMenuItemPtr item = clipItem(clip, keyEquivalentAt(i));
        menu.append(item);
        if (isText(*clip))
            menu.append(alternateItem(*item));
    }
    menu.append(separatorItem());
    menu.append(favouriteMenuIteam(favMenu));
    menu.append(separatorItem());
    menu.append(state.logined ? pushHistoryItem() : loginMenuIteam());
    if (state.logined && !state.hasKeyHash)
        menu.append(encryptIteam());
    menu.append(pluginsIteam());
    menu.append(settingIteam(state.needShowUpdate, state.newVersion));
    menu.append(quitIteam());
}

void ClipMenuBuilder::fillFavouriteMenu(ClipMenuModel& menu, const HistoryList& favourites, bool logined)
{
    menu.clear();
    menu.append(titleItem(QStringLiteral("收藏 (%1个)").arg(favourites.size())));
    for (qsizetype i = 0; i < favourites.size(); ++i) {
        const HistoryModelPtr& clip = favourites.at(i);
        if (!clip || !clip->content())
            continue;
        menu.append(clipItem(clip, keyEquivalentAt(i)));
    }
    menu.append(separatorItem());
    if (logined)
        menu.append(syncFavouriteItem());
}

ClipMenuModelPtr ClipMenuBuilder::subMenu(const HistoryModel& clip, const PluginDict& plugins,
                                          const QList<int>& reminderTypes, const ClipMenuModelPtr& shareMenu,
                                          bool logined)
{
    ClipMenuModelPtr menu = ClipMenuModel::create();
    const std::optional<ClipBody> body = clipBodyOf(clip.type());
    if (!body)
        return nullptr;
    if (*body == ClipBody::Text) {
        QList<PluginObjectPtr> sorted;
        for (const PluginObjectPtr& plugin : plugins)
            if (plugin)
                sorted << plugin;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const PluginObjectPtr& a, const PluginObjectPtr& b) { return a->count() > b->count(); });
        for (const PluginObjectPtr& plugin : sorted) {
            auto item = actionItem(plugin->plugin_name().value_or(QString()), ClipMenuAction::Plugin,
                                   QStringLiteral("ic_extension_18pt"));
            item->toolTip = plugin->plugin_desc().value_or(QString());
            item->plugin = plugin;
            menu->append(item);
        }
        menu->append(titleItem(QStringLiteral("插件列表")));
        menu->append(separatorItem());
        for (int type : reminderTypes) {
            auto item = actionItem(ClipReminderHelper::stringFromType(type), ClipMenuAction::Reminder);
            item->fireType = type;
            menu->append(item);
        }
    } else {
        menu->append(actionItem(QStringLiteral("保存到下载文件夹"), ClipMenuAction::Save));
    }
    menu->append(separatorItem());
    const bool isFavourite = DBFetcher::integerFromValue(clip.favourite()) > 0;
    menu->append(actionItem(isFavourite ? QStringLiteral("取消收藏") : QStringLiteral("收藏"), ClipMenuAction::Favourite));
    menu->append(separatorItem());
    auto share = actionItem(QStringLiteral("分享"), ClipMenuAction::None);
    share->submenu = shareMenu ? shareMenu : ClipMenuModel::create();
    menu->append(share);
    menu->append(separatorItem());
    if (clip.secert().toBool()) {
        menu->append(actionItem(logined ? QStringLiteral("解除机密并上传") : QStringLiteral("解除机密"),
                                ClipMenuAction::UnlockSecert, QStringLiteral("unlock")));
        menu->append(separatorItem());
    }
    menu->append(actionItem(QStringLiteral("删除"), ClipMenuAction::Delete));
    return menu;
}

ClipMenuModelPtr ClipMenuBuilder::shareMenu(const HistoryModelPtr& clip, const QList<SharingService>& services)
{
    ClipMenuModelPtr menu = ClipMenuModel::create();
    for (const SharingService& service : services) {
        auto item = actionItem(service.title, ClipMenuAction::ShareClicked);
        item->image = service.image;
        item->clip = clip;
        item->shareService = service;
        menu->append(item);
    }
    return menu;
}
