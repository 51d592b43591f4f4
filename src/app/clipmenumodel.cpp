#include "app/clipmenumodel.h"

QStringList ClipMenuModel::titles() const
{
    QStringList out;
    for (const ClipMenuItemPtr& item : items) {
        if (item->hidden)
            continue;
        out << (item->separator ? QStringLiteral("-") : item->title);
    }
    return out;
}

ClipMenuItemPtr ClipMenuModel::itemWithTitle(const QString& title) const
{
    for (const ClipMenuItemPtr& item : items)
        if (!item->separator && item->title == title)
            return item;
    return nullptr;
}
