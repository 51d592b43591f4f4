#pragma once

// A preferences window against the web service double: scripted alerts, recorders in place
// of the clip menu, the push channel, the poll and the browser, an in-memory hotkey monitor
// and login items list, and a hotkey controller of the test's own.

#include "app/shortcutcontroller.h"
#include "platform/fake/globalhotkeyfake.h"
#include "platform/loginitems.h"
#include "platform/fake/loginitemsfake.h"
#include "platform/notificationcenter.h"
#include "store/clipfilemanager.h"
#include "store/digest.h"
#include "store/historymodel.h"
#include "store/notificationnames.h"
#include "support/webservicetest.h"
#include "windows/alerts.h"
#include "windows/fake/alertsfake.h"
#include "windows/preferences/settingwindowcontroller.h"
#include "windows/preferences/userloginviewcontroller.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

#include <memory>

class PreferencesTest : public webtest::WebServiceTest {
protected:
    void SetUp() override
    {
        webtest::WebServiceTest::SetUp();
        SettingWindowController::resetSharedInstanceForTesting();
        Alerts::setCurrent(alerts);
        GlobalHotkey::setCurrent(hotkeys);
        LoginItems::setCurrent(loginItems);
        shortcuts = std::make_unique<ShortcutController>([this] { ++hotkeyPresses; });
        dataChanged = NotificationCenter::defaultCenter().addObserver(
            NotificationName::DataChanged, nullptr, [this](const Notification&) { ++dataChangedPosts; });
    }
    void TearDown() override
    {
        NotificationCenter::defaultCenter().removeObserver(dataChanged);
        SettingWindowController::resetSharedInstanceForTesting();
        // Rebuilds the window queued still call this test's recorders: run them now.
        drainMainQueue();
        shortcuts.reset();
        Alerts::setCurrent(nullptr);
        GlobalHotkey::setCurrent(nullptr);
        LoginItems::setCurrent(nullptr);
        webtest::WebServiceTest::TearDown();
        drainMainQueue();
    }

    static void drainMainQueue()
    {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

    PreferencesServices recorders()
    {
        PreferencesServices services;
        services.rebuildMenu = [this] { ++menuRebuilds; };
        services.connectMqtt = [this] { ++mqttConnects; };
        services.restartPoll = [this] {
            restartedWith << UserDefaults::standard().value(DefaultsKey::ClipMonitorSpeed);
        };
        services.openURL = [this](const QUrl& url) { opened << url; };
        services.showEncryptWindow = [this] { ++encryptShows; };
        services.activeEncrypt = [this] { ++encryptActivations; };
        services.shortcuts = shortcuts.get();
        return services;
    }

    // The shared window with the recorders; its first panel is made with them too.
    SettingWindowController& window()
    {
        SettingWindowController& window = SettingWindowController::sharedInstance();
        if (!windowReady) {
            window.setServices(recorders());
            window.showWindow();
            windowReady = true;
        }
        return window;
    }

    template <class Pane>
    Pane* shownPane()
    {
        return qobject_cast<Pane*>(window().currentViewController());
    }

    template <class Pane>
    Pane* showPane(int index)
    {
        window().showPanel(index);
        return shownPane<Pane>();
    }

    // A history (or favourite) row with its body on disk.
    static HistoryModelPtr savedText(const QString& text, qint64 time, qint64 favourite = 0,
                                     const QString& category = QStringLiteral("history"))
    {
        auto clip = std::make_shared<HistoryModel>();
        const QString hash = md5HexOfString(text);
        ClipFileManager::sharedInstance().saveString(text, hash);
        clip->setFile_hash(hash);
        clip->setContent(text);
        clip->setType(QStringLiteral("text_txt+enc"));
        clip->setTimestamp(QVariant(time));
        clip->setFavourite(QVariant(favourite));
        clip->setCategory(category);
        clip->save();
        return clip;
    }

    // Logs in through the double: an account and a token the server knows.
    void logInAs(const QString& email, const QString& password = QStringLiteral("secret"))
    {
        server.addAccount(email, password);
        logIn(email, server.issueToken(email));
    }

    // The login pane's mode (login, register, reset) and its two fields.
    static UserloginViewController* fillLoginPane(UserloginViewController* pane, int mode, const QString& email,
                                                  const QString& password)
    {
        pane->selectPopUpButton()->setCurrentIndex(mode);
        pane->nameField()->setText(email);
        pane->pwdField()->setText(password);
        return pane;
    }

    // Presses the login pane's button and waits until the pane is idle again (or replaced)
    // with `alertsShown` alerts answered.
    void pressAndWait(UserloginViewController* pane, int alertsShown)
    {
        QPointer<UserloginViewController> guard(pane);
        pane->loginButton()->click();
        ASSERT_TRUE(testenv::waitUntil(
            [&] {
                return alerts->count() == alertsShown && alerts->pendingCount() == 0
                    && (!guard || guard->loginButton()->isEnabled());
            },
            std::chrono::seconds(20)))
            << alerts->texts().join(QLatin1Char('|')).toStdString();
    }

    std::shared_ptr<AlertsFake> alerts = std::make_shared<AlertsFake>();
    std::shared_ptr<GlobalHotkeyFake> hotkeys = std::make_shared<GlobalHotkeyFake>();
    std::shared_ptr<LoginItemsFake> loginItems = std::make_shared<LoginItemsFake>();
    std::unique_ptr<ShortcutController> shortcuts;
    bool windowReady = false;
    int hotkeyPresses = 0;
    int menuRebuilds = 0;
    int mqttConnects = 0;
    int encryptShows = 0;
    int encryptActivations = 0;
    int dataChangedPosts = 0;
    NotificationCenter::Token dataChanged = 0;
    QVariantList restartedWith;
    QList<QUrl> opened;
};
