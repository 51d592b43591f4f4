#pragma once

#include "platform/sharing.h"
#include "plugins/pluginobject.h"
#include "store/historymodel.h"

#include <QIcon>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

struct ClipMenuItem;
struct ClipMenuModel;
using ClipMenuItemPtr = std::shared_ptr<ClipMenuItem>;
using ClipMenuModelPtr = std::shared_ptr<ClipMenuModel>;

// What choosing an item does; the menu's controller carries each one out.
enum class ClipMenuAction {
    None,
    ClickItem,       // put the clip on the clipboard and paste it
    ShiftClickItem,  // paste the clip merged with every newer text clip
    Plugin,
    Reminder,
    Save,
    Favourite,
    ShareClicked,
    UnlockSecert,
    Delete,
    Push,
    SyncFavourite,
    Login,
    Setting,
    Encrypt,
    Plugins,
    Quit,
};

// The modifier of an item's key equivalent. Command is the menu's own key: inside the open
// menu the plain key chooses the item. Control stays Control.
enum class ClipMenuModifier { Command, Control };

// One item of the clip menu, as plain data: what the menu shows and what choosing it does.
// The model is read by tests and drawn by ClipMenuRenderer.
struct ClipMenuItem {
    bool separator = false;
    QString title;
    // The title is drawn in the platform's red (the encryption item).
    bool redTitle = false;
    // A named image of the application's resources ("user", "ic_sync_18pt", ...).
    QString imageName;
    // An image of its own (a clip's thumbnail, a sharing service's icon).
    QIcon image;
    QString toolTip;
    // One character, or empty for none.
    QString keyEquivalent;
    ClipMenuModifier keyEquivalentModifier = ClipMenuModifier::Command;
    bool enabled = true;
    bool hidden = false;
    // Stands in for the item before it while Control is held.
    bool alternate = false;
    ClipMenuAction action = ClipMenuAction::None;

    // The represented object: a clip (clip items; with shareService, a share item), a plugin
    // or a reminder fire type.
    HistoryModelPtr clip;
    PluginObjectPtr plugin;
    std::optional<int> fireType;
    std::optional<SharingService> shareService;

    // Null when the item opens no submenu. A clip item's submenu starts empty and is filled
    // when the item is first highlighted.
    ClipMenuModelPtr submenu;

    bool hasRepresentedObject() const { return clip || plugin || fireType || shareService; }
};

// A menu's items, in order.
struct ClipMenuModel {
    QList<ClipMenuItemPtr> items;

    static ClipMenuModelPtr create() { return std::make_shared<ClipMenuModel>(); }
    void clear() { items.clear(); }
    void append(ClipMenuItemPtr item) { items.append(std::move(item)); }
    qsizetype size() const { return items.size(); }
    bool isEmpty() const { return items.isEmpty(); }
    const ClipMenuItemPtr& at(qsizetype i) const { return items.at(i); }
    // The visible titles in order, a separator as "-" (for tests and logs).
    QStringList titles() const;
    // The first item with that title, or null.
    ClipMenuItemPtr itemWithTitle(const QString& title) const;
};
