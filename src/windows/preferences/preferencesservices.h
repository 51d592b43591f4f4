#pragma once

#include <QUrl>

#include <functional>

class ShortcutController;

// What the preferences panes reach outside the window: the clip menu, the push channel, the
// pasteboard poll, the desktop's browser and the encryption window. The defaults call the
// real application objects; tests put recorders in their place.
struct PreferencesServices {
    // Rebuilds the clip menu (buildMenu).
    std::function<void()> rebuildMenu;
    // Connects the MQTT push channel of the logged-in user.
    std::function<void()> connectMqtt;
    // Restarts the pasteboard poll with the stored interval (startClipObserver).
    std::function<void()> restartPoll;
    // Opens a web address in the default browser.
    std::function<void(const QUrl&)> openURL;
    // Shows the encryption window.
    std::function<void()> showEncryptWindow;
    // Shows the encryption window and starts the set-up of end-to-end encryption.
    std::function<void()> activeEncrypt;
    // The hotkey controller the General pane sets; the application's when none.
    ShortcutController* shortcuts = nullptr;

    static PreferencesServices real();
};
