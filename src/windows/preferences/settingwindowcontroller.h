#pragma once

class QObject;

// The preferences window with its General, User, Privacy and About panels.
//
// Not built yet: every operation does nothing.
class SettingWindowController {
public:
    static SettingWindowController& sharedInstance();

    // Shows the window in front, the application activated.
    void showWindow(QObject* sender = nullptr);
    // 0 to 3 selects and shows that panel; any other index does nothing.
    void showPanel(int index);
    // When the User panel of a logged-in user is on show, starts the encryption set-up.
    void activeEncryptPanel();

private:
    SettingWindowController() = default;
};
