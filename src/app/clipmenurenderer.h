#pragma once

#include "app/clipmenumodel.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>

class QAction;
class QMenu;

// Draws clip menu models into QMenus and turns what the user does in them back into items.
//
// QMenu differs from the menus the model describes, and this class bridges that:
// - Key equivalents: a QAction shortcut does not fire inside an open popup, so an event
//   filter on every drawn menu does it. The plain key chooses the item whose key it is (the
//   open menu's own items first, then its parents'); Ctrl+key chooses a Control alternate.
// - Alternates: an alternate item gets no action of its own; while Control is held, the item
//   before it shows the alternate's title and chooses the alternate.
// - An item that opens a submenu is still chosen by a click or Return (QMenu would only open
//   the submenu). A submenu that is still empty when its item is first highlighted is filled
//   then: the highlight handler may replace the item's submenu model first.
// - QMenu has no colour per item: the red encryption item relies on its red image.
// - A render asked for while any drawn menu is open waits until they have all closed, so
//   nothing the user is looking at changes or goes away under the pointer.
// Chosen items reach the trigger handler later on the main queue, after the menu has closed.
class ClipMenuRenderer : public QObject {
    Q_OBJECT
public:
    // The chosen item and, inside a submenu, the item that opened it.
    using TriggerHandler = std::function<void(const ClipMenuItemPtr& item, const ClipMenuItemPtr& parent)>;
    using HighlightHandler = std::function<void(const ClipMenuItemPtr& item)>;

    explicit ClipMenuRenderer(QObject* parent = nullptr);
    ~ClipMenuRenderer() override;

    void setTriggerHandler(TriggerHandler handler) { m_trigger = std::move(handler); }
    void setHighlightHandler(HighlightHandler handler) { m_highlight = std::move(handler); }

    // Wherever an item opens this model, the given menu is its submenu (the favourites menu
    // inside the main menu). The menu is drawn by its own render calls.
    void bindMenu(const ClipMenuModelPtr& model, QMenu* menu);
    // Draws the model into the menu in place of what it showed, now or, while a drawn menu is
    // open, once all have closed (the newest model asked for wins).
    void render(QMenu* menu, const ClipMenuModelPtr& model);

    // A drawn menu is on screen.
    bool isOpen() const;
    bool hasPendingRender() const { return !m_pending.empty(); }

    // The item a drawn action stands for (its alternate while Control is held), or null.
    ClipMenuItemPtr itemForAction(QAction* action) const;
    // The text an item is drawn with: its title, and after a tab its key equivalent.
    static QString displayText(const ClipMenuItem& item);
    // A named image of the application's resources; a null icon for an unknown name.
    static QIcon namedImage(const QString& name);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row {
        QPointer<QAction> action;
        ClipMenuItemPtr item;
        ClipMenuItemPtr alternate;
        QPointer<QMenu> submenu;
    };
    struct MenuState {
        QPointer<QMenu> menu;
        ClipMenuModelPtr model;
        ClipMenuItemPtr parentItem;
        QPointer<QMenu> parentMenu;
        QList<Row> rows;
        QList<QPointer<QMenu>> ownedSubmenus;
        bool showingAlternates = false;
        bool drawn = false;
    };

    MenuState& stateFor(QMenu* menu);
    MenuState* findState(const QObject* menu) const;
    void draw(MenuState& state, const ClipMenuModelPtr& model);
    void fillSubmenu(QMenu* submenu);
    void showAlternates(bool on);
    // Finds the row whose key equivalent the key is, in the menu and then its parents.
    bool chooseByKey(MenuState& state, const QString& key, ClipMenuModifier modifier);
    // The item the row chooses now, or null when choosing it does nothing.
    static ClipMenuItemPtr choosable(const MenuState& state, const Row& row);
    void choose(MenuState& state, const Row& row, bool closeMenus);
    void closeFrom(MenuState& state);
    void flushPending();

    TriggerHandler m_trigger;
    HighlightHandler m_highlight;
    std::map<const QObject*, std::unique_ptr<MenuState>> m_states;
    std::map<const ClipMenuModel*, QPointer<QMenu>> m_bound;
    std::map<const QObject*, ClipMenuModelPtr> m_pending;
    bool m_mousePressed = false;
};
