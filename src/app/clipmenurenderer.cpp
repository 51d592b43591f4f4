#include "app/clipmenurenderer.h"

#include "platform/dispatch.h"

#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <utility>

// Qt resources inside a static library are only linked in when something names them.
static void initMenuResources()
{
    Q_INIT_RESOURCE(menu);
}

namespace {

QString keyOfEvent(const QKeyEvent& event)
{
    const int key = event.key();
    if (key <= 0x20 || key > 0x7e)
        return QString();
    return QString(QChar(key)).toLower();
}

QString shortcutText(const ClipMenuItem& item)
{
    if (item.keyEquivalent.isEmpty())
        return QString();
    const QString key = item.keyEquivalent.toUpper();
    return item.keyEquivalentModifier == ClipMenuModifier::Control ? QStringLiteral("Ctrl+%1").arg(key) : key;
}

}  // namespace

ClipMenuRenderer::ClipMenuRenderer(QObject* parent)
    : QObject(parent)
{
    initMenuResources();
}

ClipMenuRenderer::~ClipMenuRenderer()
{
    for (auto& [menu, state] : m_states)
        if (state->menu)
            state->menu->removeEventFilter(this);
}

QIcon ClipMenuRenderer::namedImage(const QString& name)
{
    // Menus are drawn on the main thread only; every rebuild asks for the same few images.
    static QHash<QString, QIcon> cache;
    if (auto found = cache.constFind(name); found != cache.constEnd())
        return *found;
    initMenuResources();
    QIcon icon;
    for (const char* ext : {".svg", ".png"}) {
        const QString path = QStringLiteral(":/icons/") + name + QLatin1String(ext);
        if (!name.isEmpty() && QFile::exists(path)) {
            icon = QIcon(path);
            break;
        }
    }
    cache.insert(name, icon);
    return icon;
}

QString ClipMenuRenderer::displayText(const ClipMenuItem& item)
{
    QString title = item.title;
    // "&" would mark a mnemonic, a tab would start the shortcut column, a line break would
    // make the item tall: a clip's text may hold any of them.
    title.replace(QLatin1Char('&'), QLatin1String("&&"));
    for (QChar c : {QChar(u'\t'), QChar(u'\n'), QChar(u'\r')})
        title.replace(c, QLatin1Char(' '));
    const QString shortcut = shortcutText(item);
    return shortcut.isEmpty() ? title : title + QLatin1Char('\t') + shortcut;
}

ClipMenuRenderer::MenuState& ClipMenuRenderer::stateFor(QMenu* menu)
{
    auto found = m_states.find(menu);
    if (found != m_states.end())
        return *found->second;
    auto state = std::make_unique<MenuState>();
    state->menu = menu;
    menu->installEventFilter(this);
    menu->setToolTipsVisible(true);
    connect(menu, &QMenu::hovered, this, [this, menu](QAction* action) {
        MenuState* st = findState(menu);
        if (!st)
            return;
        for (const Row& row : st->rows)
            if (row.action == action && row.submenu)
                fillSubmenu(row.submenu);
    });
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { fillSubmenu(menu); });
    connect(menu, &QMenu::aboutToHide, this, [this] {
        // After the menu is gone and a chosen item has been handed on.
        dispatch::mainAsync([self = QPointer<ClipMenuRenderer>(this)] {
            if (self)
                self->flushPending();
        });
    });
    connect(menu, &QObject::destroyed, this, [this](QObject* gone) {
        m_states.erase(gone);
        m_pending.erase(gone);
    });
    MenuState& ref = *state;
    m_states.emplace(menu, std::move(state));
    return ref;
}

ClipMenuRenderer::MenuState* ClipMenuRenderer::findState(const QObject* menu) const
{
    // Looked up by address only: the object may be a menu half destroyed.
    auto found = m_states.find(menu);
    return found == m_states.end() ? nullptr : found->second.get();
}

void ClipMenuRenderer::bindMenu(const ClipMenuModelPtr& model, QMenu* menu)
{
    m_bound[model.get()] = menu;
    MenuState& state = stateFor(menu);
    state.model = model;
}

void ClipMenuRenderer::render(QMenu* menu, const ClipMenuModelPtr& model)
{
    if (!menu || !model)
        return;
    if (isOpen()) {
        m_pending[menu] = model;
        return;
    }
    m_pending.erase(menu);
    draw(stateFor(menu), model);
}

bool ClipMenuRenderer::isOpen() const
{
    for (const auto& [menu, state] : m_states)
        if (state->menu && state->menu->isVisible())
            return true;
    return false;
}

void ClipMenuRenderer::flushPending()
{
    if (isOpen())
        return;
    auto pending = std::move(m_pending);
    m_pending.clear();
    for (auto& [menu, model] : pending)
        if (MenuState* state = findState(menu))
            draw(*state, model);
}

void ClipMenuRenderer::draw(MenuState& state, const ClipMenuModelPtr& model)
{
    QMenu* menu = state.menu;
    state.model = model;
    state.rows.clear();
    state.showingAlternates = false;
    for (const QPointer<QMenu>& sub : std::exchange(state.ownedSubmenus, {}))
        delete sub.data();
    menu->clear();
    state.drawn = true;

    for (const ClipMenuItemPtr& item : model->items) {
        if (item->separator) {
            state.rows.append({menu->addSeparator(), item, nullptr, nullptr});
            continue;
        }
        if (item->alternate) {
            // Stands in for the item before it while Control is held.
            for (auto row = state.rows.rbegin(); row != state.rows.rend(); ++row) {
                if (!row->item->separator) {
                    row->alternate = item;
                    break;
                }
            }
            continue;
        }
        auto* action = new QAction(displayText(*item), menu);
        QIcon icon = item->image.isNull() ? namedImage(item->imageName) : item->image;
        if (!icon.isNull())
            action->setIcon(icon);
        action->setToolTip(item->toolTip.isEmpty() ? item->title : item->toolTip);
        action->setEnabled(item->enabled);
        action->setVisible(!item->hidden);
        Row row{action, item, nullptr, nullptr};
        if (item->submenu) {
            auto bound = m_bound.find(item->submenu.get());
            QMenu* submenu = nullptr;
            if (bound != m_bound.end() && bound->second) {
                submenu = bound->second;
            } else {
                submenu = new QMenu(menu);
                state.ownedSubmenus.append(submenu);
            }
            MenuState& sub = stateFor(submenu);
            sub.parentItem = item;
            sub.parentMenu = menu;
            if (bound == m_bound.end()) {
                sub.drawn = false;
                sub.model = item->submenu;
                if (!item->submenu->isEmpty())
                    draw(sub, item->submenu);
            }
            action->setMenu(submenu);
            row.submenu = submenu;
        }
        connect(action, &QAction::triggered, this, [this, menu, action] {
            MenuState* st = findState(menu);
            if (!st)
                return;
            for (const Row& r : st->rows)
                if (r.action == action)
                    choose(*st, r, false);
        });
        menu->addAction(action);
        state.rows.append(row);
    }
}

void ClipMenuRenderer::fillSubmenu(QMenu* submenu)
{
    MenuState* state = findState(submenu);
    if (!state || !state->parentItem || !state->menu->isEmpty())
        return;
    // Bound menus (favourites) are drawn by their own renders.
    if (m_bound.count(state->model.get()))
        return;
    const ClipMenuItemPtr item = state->parentItem;
    if (m_highlight && item->submenu && item->submenu->isEmpty() && item->hasRepresentedObject())
        m_highlight(item);
    if (item->submenu && !item->submenu->isEmpty())
        draw(*state, item->submenu);
}

ClipMenuItemPtr ClipMenuRenderer::itemForAction(QAction* action) const
{
    for (const auto& [menu, state] : m_states)
        for (const Row& row : state->rows)
            if (row.action == action)
                return state->showingAlternates && row.alternate ? row.alternate : row.item;
    return nullptr;
}

void ClipMenuRenderer::showAlternates(bool on)
{
    for (auto& [menu, state] : m_states) {
        if (state->showingAlternates == on)
            continue;
        state->showingAlternates = on;
        for (const Row& row : state->rows)
            if (row.alternate && row.action)
                row.action->setText(displayText(on ? *row.alternate : *row.item));
    }
}

ClipMenuItemPtr ClipMenuRenderer::choosable(const MenuState& state, const Row& row)
{
    const ClipMenuItemPtr item = state.showingAlternates && row.alternate ? row.alternate : row.item;
    if (!item || item->separator || !item->enabled || item->action == ClipMenuAction::None)
        return nullptr;
    return item;
}

void ClipMenuRenderer::choose(MenuState& state, const Row& row, bool closeMenus)
{
    const ClipMenuItemPtr item = choosable(state, row);
    if (!item)
        return;
    if (closeMenus)
        closeFrom(state);
    const ClipMenuItemPtr parent = state.parentItem;
    if (m_trigger)
        dispatch::mainAsync([handler = m_trigger, item, parent] { handler(item, parent); });
}

void ClipMenuRenderer::closeFrom(MenuState& state)
{
    // Innermost first: the open submenu, then each menu that opened it.
    for (MenuState* st = &state; st; st = st->parentMenu ? findState(st->parentMenu) : nullptr)
        if (st->menu)
            st->menu->hide();
}

bool ClipMenuRenderer::chooseByKey(MenuState& state, const QString& key, ClipMenuModifier modifier)
{
    for (MenuState* st = &state; st; st = st->parentMenu ? findState(st->parentMenu) : nullptr) {
        for (const Row& row : st->rows) {
            for (const ClipMenuItemPtr& item : {row.item, row.alternate}) {
                if (!item || item->separator || !item->enabled || item->keyEquivalent != key
                    || item->keyEquivalentModifier != modifier)
                    continue;
                if (item->action == ClipMenuAction::None)
                    return true;  // the key is taken, by an item that does nothing
                closeFrom(state);
                const ClipMenuItemPtr parent = st->parentItem;
                if (m_trigger)
                    dispatch::mainAsync([handler = m_trigger, item, parent] { handler(item, parent); });
                return true;
            }
        }
    }
    return false;
}

bool ClipMenuRenderer::eventFilter(QObject* watched, QEvent* event)
{
    MenuState* state = findState(watched);
    if (!state)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Show:
        if (!state->parentMenu)
            m_mousePressed = false;
        showAlternates(QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier));
        break;
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Control) {
            showAlternates(true);
            break;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            // An item with a submenu is chosen by Return too, not only opened.
            QAction* active = state->menu->activeAction();
            for (const Row& row : state->rows) {
                if (row.action == active && row.submenu && choosable(*state, row)) {
                    choose(*state, row, true);
                    return true;
                }
            }
            break;
        }
        const QString text = keyOfEvent(*key);
        if (text.isEmpty())
            break;
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if (mods == Qt::NoModifier)
            return chooseByKey(*state, text, ClipMenuModifier::Command);
        if (mods == Qt::ControlModifier)
            return chooseByKey(*state, text, ClipMenuModifier::Control);
        break;
    }
    case QEvent::KeyRelease:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Control)
            showAlternates(false);
        break;
    case QEvent::MouseButtonPress:
        m_mousePressed = true;
        break;
    case QEvent::MouseButtonRelease: {
        // Only a click made inside the menu, not the release of the press that opened it.
        if (!std::exchange(m_mousePressed, false))
            break;
        auto* mouse = static_cast<QMouseEvent*>(event);
        QAction* action = state->menu->actionAt(mouse->position().toPoint());
        for (const Row& row : state->rows) {
            if (action && row.action == action && row.submenu && choosable(*state, row)) {
                choose(*state, row, true);
                return true;
            }
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
