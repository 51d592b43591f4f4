#include "windows/preferences/settingwindowcontroller.h"

SettingWindowController& SettingWindowController::sharedInstance()
{
    static SettingWindowController instance;
    return instance;
}

void SettingWindowController::showWindow(QObject*) {}

void SettingWindowController::showPanel(int) {}

void SettingWindowController::activeEncryptPanel() {}
