#pragma once

#include "app/clipmenumodel.h"
#include "plugins/pluginmanager.h"
#include "store/historymodel.h"

#include <QList>
#include <QString>
#include <QStringList>

// Fills the clip menu's models from clip lists and the account state it is given; reads
// nothing else (no database, no settings), so what a menu holds follows from its inputs.
class ClipMenuBuilder {
public:
    ClipMenuBuilder() = delete;

    // What the fixed items of the main menu depend on.
    struct AccountState {
        bool logined = false;
        // The key manager holds a current key (encryption set up).
        bool hasKeyHash = false;
        // A newer version was announced ("newversion") than the one running.
        bool needShowUpdate = false;
        QString newVersion;
    };

    // The 30 key equivalents of the clips, by position: the digit row, then the two letter
    // rows of a QWERTY keyboard.
    static const QStringList& menuKeyEquivalents();
    // The key of a clip at that position of its list; empty from position 30 on.
    static QString keyEquivalentAt(qsizetype position);

    // The menu title of a clip's text: stripped of white space at both ends when shorter
    // than 26 UTF-16 units, else its first 20 units stripped, a space and "…". A surrogate
    // pair at the cut is left out whole rather than split.
    static QString reasonablySizedVersionOfString(const QString& text);

    static ClipMenuItemPtr titleItem(const QString& title);
    static ClipMenuItemPtr separatorItem();

    // The fixed items.
    static ClipMenuItemPtr favouriteMenuIteam(const ClipMenuModelPtr& favMenu);
    static ClipMenuItemPtr loginMenuIteam();
    static ClipMenuItemPtr pushHistoryItem();
    static ClipMenuItemPtr syncFavouriteItem();
    static ClipMenuItemPtr encryptIteam();
    static ClipMenuItemPtr pluginsIteam();
    static ClipMenuItemPtr settingIteam(bool needShowUpdate, const QString& newVersion);
    static ClipMenuItemPtr quitIteam();

    // The item of one clip (title, image and tool tip by its type), with an empty submenu.
    static ClipMenuItemPtr clipItem(const HistoryModelPtr& clip, const QString& keyEquivalent);
    // The hidden Control alternate of a text clip's item: "↑" and its title, merging paste.
    static ClipMenuItemPtr alternateItem(const ClipMenuItem& item);

    // Refills the main menu: title, the history clips (text clips followed by their
    // alternates), the favourites item opening favMenu, then the account, plugin, settings
    // and quit items.
    static void fillMainMenu(ClipMenuModel& menu, const HistoryList& history, const ClipMenuModelPtr& favMenu,
                             const AccountState& state);
    // Refills the favourites submenu: its title with the count, the favourites, and the sync
    // item when logged in.
    static void fillFavouriteMenu(ClipMenuModel& menu, const HistoryList& favourites, bool logined);

    // A clip's action submenu: for text, the plugins by use count (most used first), the
    // "插件列表" title and the reminder items; for images and files, the save item; then
    // favourite, share (shareMenu), unlock for a secret clip, and delete. Null for a clip
    // of any other kind.
    static ClipMenuModelPtr subMenu(const HistoryModel& clip, const PluginDict& plugins,
                                    const QList<int>& reminderTypes, const ClipMenuModelPtr& shareMenu, bool logined);
    // The items of the share submenu, one per service.
    static ClipMenuModelPtr shareMenu(const HistoryModelPtr& clip, const QList<SharingService>& services);
};
