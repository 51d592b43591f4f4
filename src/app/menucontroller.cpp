#include "app/menucontroller.h"

#include "app/clipcontroller.h"
#include "app/menupopup.h"
#include "platform/dispatch.h"
#include "store/clipfilemanager.h"
#include "store/dbkeeper.h"

MenuController& MenuController::sharedInstance()
{
    // Never released: the menu is a widget and must not outlive the application object in
    // an exit-time destructor.
    static MenuController* instance = new MenuController();
    return *instance;
}

QMenu* MenuController::buildMenu()
{
    return mainMenu();
}

QMenu* MenuController::mainMenu()
{
    if (!m_mainMenu)
        m_mainMenu = std::make_unique<QMenu>();
    return m_mainMenu.get();
}

void MenuController::showMenu()
{
    MenuPopup::popUp(mainMenu());
}

void MenuController::keepInHistory(const HistoryModel& clip)
{
    if (clip.category() == QStringLiteral("history"))
        return;
    const HistoryModelPtr copy = clip.copy();
    copy->setCategory(QStringLiteral("history"));
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
