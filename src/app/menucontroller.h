#pragma once

#include "app/clipmenumodel.h"
#include "app/menuservices.h"
#include "platform/sharing.h"
#include "plugins/pluginobject.h"
#include "store/historymodel.h"

#include <QMenu>
#include <QMutex>

#include <memory>
#include <optional>

class ClipMenuRenderer;
struct Notification;

// The status-bar clip menu: the newest history clips with the fixed items, the favourites
// submenu, each clip's action submenu and every action of the menu. Main thread only; made
// on first use, once an application object exists, and kept for the life of the process.
//
// The menus are plain models (mainMenuModel, favMenuModel) drawn into the same two QMenus
// on every rebuild, so the status item keeps pointing at mainMenu. A rebuild asked for while
// the menu is open is drawn when it closes. A clip item's action submenu is built when the
// item is first highlighted after a rebuild.
//
// It rebuilds on "history_delete", "DATA_CHANGED", "ZERO_CHANGED" and
// "ALL_FILE_DOWNLOAD_DONE" (each on the main queue, so posts from any thread are safe),
// pulls the history on "USER_LOGINED" and puts an incoming clip on the pasteboard on
// "FILE_DOWNLOAD_DONE".
class MenuController {
public:
    static MenuController& sharedInstance();

    MenuController(const MenuController&) = delete;
    MenuController& operator=(const MenuController&) = delete;

    // Rebuilds the menu (and the favourites submenu) from the history and gives it.
    QMenu* buildMenu();
    // Rebuilds only the favourites submenu.
    void buildFavouriteMenu();
    // While held, a rebuild does not read the history, which the start-up care keeps busy
    // on the database queue (opening, the sweep, VACUUM): the main thread never waits for
    // it. The menu keeps what it shows (before the first read, the fixed items alone) and is
    // rebuilt on the main queue when the last hold is released, if a rebuild was asked for
    // meanwhile or nothing was read yet. Any thread: a hold taken while a rebuild reads
    // waits for that read, so no read is ever queued behind the blocks it guards.
    void holdHistoryReads();
    void releaseHistoryReads();
    // The menu the status item shows; owned here.
    QMenu* mainMenu();
    QMenu* favMenu();
    // What the two menus hold since their last rebuild.
    const ClipMenuModelPtr& mainMenuModel() const { return m_mainModel; }
    const ClipMenuModelPtr& favMenuModel() const { return m_favModel; }

    static QString reasonablySizedVersionOfString(const QString& text);

    // The menu delegate: an item with a represented object whose submenu is still empty
    // gets its action submenu (subMenu of its clip).
    void menuWillHighlightItem(const ClipMenuItemPtr& item);
    // A clip's action submenu, null for a clip of an unknown kind.
    ClipMenuModelPtr subMenu(const HistoryModelPtr& clip);
    // The share submenu: one item per sharing service that takes a thing of the clip's kind;
    // empty while the clip's body is not on this machine.
    ClipMenuModelPtr share(const HistoryModelPtr& clip);

    // Carries out a chosen item; inside a clip's action submenu the parent is the clip item.
    void perform(const ClipMenuItemPtr& item, const ClipMenuItemPtr& parent);
    // Pops the main menu up at the pointer, leaving the keyboard focus where it was.
    void showMenu();

    // A clip item was chosen: a favourite copy is kept in (or put back into) the history
    // with its favourite value, the clip goes onto the pasteboard (recorded, so the watcher
    // moves it to the top) and is pasted.
    void clickIteam(const HistoryModelPtr& clip);
    // The alternate item of a text clip: as clickIteam, but what goes onto the pasteboard is
    // every history text from the clip's time on, oldest first, one per line, and that
    // merged text is not recorded as a clip of its own.
    void shiftClickIteam(const HistoryModelPtr& clip);

    // The clip's actions.
    // The clip's text through the plugin onto the pasteboard (recorded), then pasted.
    void plugin(const HistoryModelPtr& clip, const PluginObjectPtr& plugin);
    void reminder(const HistoryModelPtr& clip, int fireType);
    // Into "~/Downloads"; the path written, or nothing.
    std::optional<QString> save(const HistoryModelPtr& clip);
    // Favourites a clip that is not one (a favourite copy is made) and unfavourites one that
    // is: with a user logged in the server is told and settles it; without one the copy is
    // deleted and the history row takes minus the current time, as the server path would.
    // Then the menu is rebuilt and the favourites upload worker woken.
    void favourite(const HistoryModelPtr& clip);
    // Unfavourites the clip here: drops its favourite row and marks its value for sync.
    void unfavouriteLocally(const HistoryModelPtr& clip);
    // Hands the clip's body (text, image or file) to the service.
    bool shareClicked(const HistoryModelPtr& clip, const SharingService& service);
    // Clears the secret flag of every row of the clip so it can be uploaded.
    void unlockSecert(const HistoryModelPtr& clip);
    // Deletes the clip here and, when it was synced, on the server.
    void del(const HistoryModelPtr& clip);

    // The fixed items' actions.
    // A history pull, unless one runs, no key is usable or nobody is logged in. Asked for by
    // the user (the menu's item), a pull the service did not answer is told in a notification.
    void push(bool askedByUser = false);
    // A favourites pull, unless one runs or nobody is logged in.
    void syncFavourite();
    void login();
    void setting();
    void encrypt();
    void plugins();
    void quit();

    // Notification work.
    void dataChanged();
    void historyDelete(const Notification& notification);
    void userLogined();
    void allFileDownloadDone(const Notification& notification);
    // Puts a clip another device announced onto the pasteboard once its body is here,
    // when it is the incoming clip; tells the user. Nothing is pasted.
    void fileDownloadDone(const Notification& notification);
    void showNotif(const HistoryModelPtr& clip);

    // A history pull / favourites pull started from the menu is running.
    bool isRefresh() const { return m_isRefresh; }
    bool isSyncFavourite() const { return m_isSyncFavourite; }

    // Tests only: no pull running and the standard services, as in a new controller.
    void resetForTests();

    const MenuServices& services() const { return m_services; }
    void setServices(MenuServices services);
    ClipMenuRenderer& renderer() { return *m_renderer; }

private:
    MenuController();
    // A favourite chosen from the menu keeps a history row of its own.
    static void keepInHistory(const HistoryModel& clip);
    // The stored row of the clip's hash and category as it is now; null when it is gone.
    static HistoryModelPtr currentRow(const HistoryModelPtr& clip);
    void observe();
    void rebuildLater();

    MenuServices m_services;
    std::unique_ptr<QMenu> m_mainMenu;
    std::unique_ptr<QMenu> m_favMenu;
    ClipMenuModelPtr m_mainModel;
    ClipMenuModelPtr m_favModel;
    std::unique_ptr<ClipMenuRenderer> m_renderer;
    bool m_isRefresh = false;
    bool m_isSyncFavourite = false;
    void fillFavourites(bool held);
    // Lock order: taken first; a rebuild reads the history (database blocks, the account
    // state, the key) while holding it.
    QRecursiveMutex m_historyGate;
    // Under m_historyGate: holds not yet released (the opening and the sweep may overlap).
    int m_historyHolds = 0;
    bool m_rebuildPending = false;
    bool m_historyRead = false;
};
