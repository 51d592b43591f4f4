#include "windows/preferences/preferencesservices.h"

#include "app/clipcontroller.h"
#include "app/menucontroller.h"
#include "sync/mqttmanager.h"
#include "windows/encryption/encryptwindowcontroller.h"

#include <QDesktopServices>

#include <spdlog/spdlog.h>

PreferencesServices PreferencesServices::real()
{
    PreferencesServices services;
    services.rebuildMenu = [] { MenuController::sharedInstance().buildMenu(); };
    services.connectMqtt = [] { MqttManager::sharedInstance().connect(); };
    services.restartPoll = [] { ClipController::sharedInstance().startClipObserver(); };
    services.openURL = [](const QUrl& url) {
        if (!QDesktopServices::openUrl(url))
            spdlog::warn("no browser opened {}", url.toString().toStdString());
    };
    services.showEncryptWindow = [] { EncryptWindowController::sharedInstance().showWindow(); };
    services.activeEncrypt = [] {
        EncryptWindowController& window = EncryptWindowController::sharedInstance();
        window.showWindow();
        window.activeEncrypt();
    };
    return services;
}
