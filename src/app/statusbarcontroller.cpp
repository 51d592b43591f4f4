#include "app/statusbarcontroller.h"

#include "app/menucontroller.h"

#include <spdlog/spdlog.h>

// The resource file lives in a static library; nothing else would pull it into the program.
static void initAppResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(app);
        return true;
    }();
    Q_UNUSED(done);
}

namespace {

constexpr int kFrames = 8;
constexpr int kFrameMs = 90;

std::shared_ptr<StatusBarController>& shared()
{
    static std::shared_ptr<StatusBarController> instance;
    return instance;
}

}  // namespace

std::shared_ptr<StatusBarController> StatusBarController::sharedInstance()
{
    auto& instance = shared();
    if (!instance) {
        instance = create(Menu{[] { return MenuController::sharedInstance().mainMenu(); },
                               [] { MenuController::sharedInstance().showMenu(); }});
    }
    return instance;
}

void StatusBarController::releaseSharedInstance()
{
    shared().reset();
}

std::shared_ptr<StatusBarController> StatusBarController::create(Menu menu)
{
    std::shared_ptr<StatusBarController> controller(new StatusBarController(std::move(menu)));
    ProgressManager::sharedInstance().registerGlobalProgress(controller);
    return controller;
}

QIcon StatusBarController::taskIcon()
{
    initAppResources();
    return QIcon(QStringLiteral(":/icons/task-icon.png"));
}

int StatusBarController::frameCount()
{
    return kFrames;
}

StatusBarController::StatusBarController(Menu menu)
    : m_menu(std::move(menu))
{
    initAppResources();
    // Asked for first so that a menu controller made on demand exists before the icon does.
    if (m_menu.mainMenu)
        m_menu.mainMenu();
    for (int i = 0; i < kFrames; ++i)
        m_frames.append(QIcon(QStringLiteral(":/icons/spinner-%1.png").arg(i)));
    m_spinTimer.setInterval(kFrameMs);
    connect(&m_spinTimer, &QTimer::timeout, this, &StatusBarController::nextFrame);

    m_trayItem.setIcon(taskIcon());
    m_trayItem.setToolTip(QStringLiteral("Nuvarel"));
    // No context menu of the tray's own: a right click asks for the menu too, and shows the
    // same clip menu as a left click, as a real menu of ours.
    connect(&m_trayItem, &QSystemTrayIcon::activated, this, &StatusBarController::activated);
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        spdlog::warn("no system tray on this desktop; the hotkey opens the clip menu");
    m_trayItem.show();
}

StatusBarController::~StatusBarController()
{
    m_spinTimer.stop();
    m_trayItem.hide();
}

void StatusBarController::setProgress(float fraction, bool animated)
{
    Q_UNUSED(animated);
    if (fraction == 1.0f)
        stopLoading();
    else
        startLoading();
}

void StatusBarController::startLoading()
{
    if (m_loading)
        return;
    m_loading = true;
    m_frame = -1;
    nextFrame();
    m_spinTimer.start();
}

void StatusBarController::stopLoading()
{
    if (!m_loading)
        return;
    m_loading = false;
    m_spinTimer.stop();
    m_frame = -1;
    m_trayItem.setIcon(taskIcon());
}

void StatusBarController::test()
{
    if (m_menu.showMenu)
        m_menu.showMenu();
}

void StatusBarController::showMessage(const QString& title, const QString& text)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable() || !m_trayItem.isVisible()) {
        spdlog::info("{}: {}", title.toStdString(), text.toStdString());
        return;
    }
    m_trayItem.showMessage(title, text, taskIcon());
}

void StatusBarController::activated(QSystemTrayIcon::ActivationReason reason)
{
    // A double click has already delivered its first click as a Trigger.
    if (reason == QSystemTrayIcon::DoubleClick)
        return;
    test();
}

void StatusBarController::nextFrame()
{
    m_frame = (m_frame + 1) % kFrames;
    m_trayItem.setIcon(m_frames.at(m_frame));
}
