#pragma once

class QObject;

// The plugin window: installed plugins and the plugin store.
//
// Not built yet: showWindow does nothing.
class PluginWindowController {
public:
    static PluginWindowController& sharedInstance();

    // Shows the window in front and asks the store for its list.
    void showWindow(QObject* sender = nullptr);

private:
    PluginWindowController() = default;
};
