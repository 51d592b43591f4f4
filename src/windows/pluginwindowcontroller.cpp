#include "windows/pluginwindowcontroller.h"

PluginWindowController& PluginWindowController::sharedInstance()
{
    static PluginWindowController instance;
    return instance;
}

void PluginWindowController::showWindow(QObject*) {}
