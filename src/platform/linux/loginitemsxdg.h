#pragma once

#include "platform/loginitems.h"

#include <QString>

// Launch at login as the freedesktop.org autostart folder ("~/.config/autostart"): an entry
// is a desktop entry there whose Exec starts the program. The entry we write is the
// installed desktop entry ("nuvarel.desktop" among the resources) with Exec pointing at the
// program's path. Entries that are Hidden or have X-GNOME-Autostart-enabled=false are off.
class LoginItemsXdg : public LoginItems {
public:
    // The folder under the user's home (HOME decides).
    LoginItemsXdg();
    explicit LoginItemsXdg(const QString& autostartFolder);

    bool contains(const QString& path) const override;
    // Writes "<folder>/nuvarel.desktop" (replacing it); the folder is made when missing.
    // There is no autostart key for starting hidden: `hide` is not written.
    bool add(const QString& path, bool hide) override;
    bool remove(const QString& path) override;

    QString folder() const { return m_folder; }
    static constexpr const char* kEntryName = "nuvarel.desktop";

    // The program an Exec value starts (its first word, quotes removed); empty for none.
    static QString programOfExec(const QString& exec);
    // The Exec value that starts the program at `path` with no arguments.
    static QString execForPath(const QString& path);

private:
    QString m_folder;
};
