#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QTimer>

// A bare system tray on the test's X server, as a desktop panel provides one: it owns the
// "_NET_SYSTEM_TRAY_S0" selection, announces itself and docks the icon windows that ask, one
// 24-pixel slot each from the top-left corner of the screen. Its own Xlib connection is
// served from the main thread's event loop. The icons place and size themselves inside it.
class XEmbedTray : public QObject {
public:
    XEmbedTray();
    ~XEmbedTray() override;

    XEmbedTray(const XEmbedTray&) = delete;
    XEmbedTray& operator=(const XEmbedTray&) = delete;

    // True once the selection is ours and the announcement sent.
    bool isRunning() const { return m_running; }
    int dockedIcons() const { return static_cast<int>(m_icons.size()); }
    // Since an icon last docked or went: Qt docks a new icon window again when it learns of
    // the tray a second time (the announcement after it had already found the selection).
    qint64 msSinceChange() const { return m_changed.elapsed(); }
    // The middle of the first docked icon where it is now, in screen coordinates.
    QPoint firstIconCentre() const;

    static constexpr int kSlot = 24;

private:
    void serve();

    void* m_display = nullptr;
    unsigned long m_window = 0;
    bool m_running = false;
    // Docked icon windows, in slot order (an icon may ask more than once).
    QList<unsigned long> m_icons;
    QElapsedTimer m_changed;
    QTimer m_pump;
};
