#pragma once

#include "platform/globalhotkey.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <memory>

// The global hotkey on an X11 desktop: a passive grab of the key on the root window of Qt's own
// X connection, once for each combination of caps lock and num lock (X matches modifiers
// exactly, so without those the hotkey would die while either lock is on), and a native event
// filter that sees the key press before Qt does. A grab another client holds already comes back
// as BadAccess and is reported as Taken. Without an X11 connection (Wayland, the offscreen
// platform) every registration reports Unavailable.
//
// Lives on the main thread, inside the lifetime of the QGuiApplication.
class GlobalHotkeyX11 : public GlobalHotkey, private QAbstractNativeEventFilter {
public:
    GlobalHotkeyX11();
    ~GlobalHotkeyX11() override;

    GlobalHotkeyX11(const GlobalHotkeyX11&) = delete;
    GlobalHotkeyX11& operator=(const GlobalHotkeyX11&) = delete;

    Status registerShortcut(const Shortcut& shortcut, Action action) override;
    void unregisterAllShortcuts() override;
    std::optional<Shortcut> registeredShortcut() const override;

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    struct Grab;
    std::unique_ptr<Grab> m_grab;
    // Queued actions are posted to it, so none runs after the monitor is gone.
    QObject m_context;
    // Bumped by every change of registration, so a press queued before it is dropped.
    quint64 m_generation = 0;
    bool m_filterInstalled = false;
};
