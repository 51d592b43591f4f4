#pragma once

#include "sync/progressmanager.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <memory>

class QMenu;

// The tray icon: the image "task-icon", the clip menu at the pointer when the icon is
// activated (clicked or asked for its menu), and a spinner of animated icon frames while a
// transfer reports progress below exactly 1.0. Registers itself as the global progress
// receiver when made. On a desktop without a system tray the icon waits for one to appear
// (a panel that starts after the app) and the hotkey is the way into the menu.
// Main thread only.
class StatusBarController : public QObject, public ProgressProtocol {
    Q_OBJECT
public:
    // How the controller reaches the clip menu.
    struct Menu {
        std::function<QMenu*()> mainMenu;
        std::function<void()> showMenu;
    };

    // The application's controller, made on first call at start-up.
    static std::shared_ptr<StatusBarController> sharedInstance();
    // Drops the application's controller (before the application object goes).
    static void releaseSharedInstance();

    // A controller of its own (tests), already registered as the progress receiver.
    static std::shared_ptr<StatusBarController> create(Menu menu);
    ~StatusBarController() override;

    // 1.0 exactly stops the spinner; every other value (NaN too) starts it.
    void setProgress(float fraction, bool animated) override;
    void startLoading();
    void stopLoading();
    // The icon's action: shows the clip menu.
    void test();

    bool isLoading() const { return m_loading; }
    QSystemTrayIcon* trayItem() { return &m_trayItem; }
    // The icon currently shown: "task-icon" at rest, a spinner frame while loading.
    int currentFrame() const { return m_frame; }
    static int frameCount();

    // A message from the icon (where notifications have no service); logged without a tray.
    void showMessage(const QString& title, const QString& text);

    static QIcon taskIcon();

private:
    explicit StatusBarController(Menu menu);
    void activated(QSystemTrayIcon::ActivationReason reason);
    void nextFrame();

    Menu m_menu;
    QSystemTrayIcon m_trayItem;
    QList<QIcon> m_frames;
    QTimer m_spinTimer;
    bool m_loading = false;
    int m_frame = -1;
};
