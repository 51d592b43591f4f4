#pragma once

#include "platform/loginitems.h"

#include <QStringList>

// An in-memory login items list. `failAdd` / `failRemove` make the next writes fail as a
// read-only folder would, leaving the list as it was.
class LoginItemsFake : public LoginItems {
public:
    bool contains(const QString& path) const override { return paths.contains(path); }
    bool add(const QString& path, bool hide) override;
    bool remove(const QString& path) override;

    QStringList paths;
    bool failAdd = false;
    bool failRemove = false;
    // The hide flag of every add, in order.
    QList<bool> hides;
};
