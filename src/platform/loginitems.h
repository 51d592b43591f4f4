#pragma once

#include <QString>

#include <memory>

// The user's list of programs started at login, in the role the session login items list
// plays on macOS. Entries are found by the program path they start. Main thread only.
class LoginItems {
public:
    virtual ~LoginItems() = default;

    // An enabled entry starts the program at `path`.
    virtual bool contains(const QString& path) const = 0;
    // Adds an entry that starts `path` (asked to start hidden when `hide`); false when it
    // could not be written.
    virtual bool add(const QString& path, bool hide) = 0;
    // Removes every entry that starts `path`; false when one of them could not be removed
    // (the others are still removed; each failure is logged).
    virtual bool remove(const QString& path) = 0;

    // The list the rest of the system uses: the XDG autostart folder unless replaced.
    static LoginItems& current();
    // Replaces the current list (tests); nullptr restores the XDG one.
    static void setCurrent(std::shared_ptr<LoginItems> items);
};
