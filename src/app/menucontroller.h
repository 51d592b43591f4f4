#pragma once

#include "store/historymodel.h"

#include <QMenu>

#include <memory>

// The status-bar clip menu and the actions of its clip items. Main thread only; made on
// first use, once an application object exists, and kept for the life of the process.
class MenuController {
public:
    static MenuController& sharedInstance();

    MenuController(const MenuController&) = delete;
    MenuController& operator=(const MenuController&) = delete;

    // Rebuilds the menu from the history and gives it.
    QMenu* buildMenu();
    // The menu the status item shows; owned here.
    QMenu* mainMenu();
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

private:
    MenuController() = default;
    // A favourite chosen from the menu keeps a history row of its own.
    static void keepInHistory(const HistoryModel& clip);

    std::unique_ptr<QMenu> m_mainMenu;
};
