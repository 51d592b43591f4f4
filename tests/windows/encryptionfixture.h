#pragma once

// The encryption view over a shown window, with scripted alerts, an in-memory keychain, a
// fresh database and user "42" logged in without a key.

#include "service/keyfixture.h"

#include "platform/userdefaults.h"
#include "store/clipapphelper.h"
#include "store/defaultskeys.h"
#include "support/testenv.h"
#include "windows/alerts.h"
#include "windows/fake/alertsfake.h"
#include "windows/encryption/encloadingviewcontroller.h"
#include "windows/encryption/encmainviewcontroller.h"
#include "windows/encryption/encryptaccountpwdviewcontroller.h"
#include "windows/encryption/pinviewcontroller.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace enctest {

// Long enough for a loopback round trip on a loaded machine; waits end as soon as they can.
inline constexpr std::chrono::seconds kFlowTimeout{20};

inline void pressKey(QWidget* widget, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// Types into the field and presses Return in it.
inline void enter(QLineEdit* field, const QString& text)
{
    field->setText(text);
    pressKey(field, Qt::Key_Return);
}

// Remembers the URLs the app asked the desktop to open.
class UrlRecorder : public ClipAppDelegate {
public:
    void openURL(const QUrl& url) override { urls << url; }
    QList<QUrl> urls;
};

class EncryptionViewTest : public keytest::KeyTest {
protected:
    void SetUp() override
    {
        KeyTest::SetUp();
        // No request of these tests may leave the machine: a port where nothing listens,
        // unless a test starts the web service double.
        UserDefaults::standard().setValue(DefaultsKey::ApiBaseURL, QStringLiteral("http://127.0.0.1:1"));
        Alerts::setCurrent(alerts);
        ClipAppHelper::sharedInstance().setDelegate(urls);
        window = std::make_unique<QWidget>();
        view = new EncMainViewController(window.get());
        (new QVBoxLayout(window.get()))->addWidget(view);
        window->resize(480, 260);
        window->show();
    }
    void TearDown() override
    {
        window.reset();
        ClipAppHelper::sharedInstance().setDelegate(nullptr);
        Alerts::setCurrent(nullptr);
        KeyTest::TearDown();
    }

    // The PIN sheet of the flow once it is up; null when none came.
    PINViewController* pinSheet()
    {
        testenv::waitUntil([this] { return view->pinSheet() != nullptr; }, kFlowTimeout);
        return view->pinSheet();
    }
    EncryptAccountPwdViewController* pwdSheet()
    {
        testenv::waitUntil([this] { return view->accountPwdSheet() != nullptr; }, kFlowTimeout);
        return view->accountPwdSheet();
    }
    // Enters each PIN into the PIN sheet that is up, one step each.
    void typePins(const QStringList& pins)
    {
        PINViewController* sheet = pinSheet();
        ASSERT_TRUE(sheet);
        for (const QString& pin : pins)
            enter(sheet->pinField(), pin);
    }
    bool waitForAlerts(int count)
    {
        return testenv::waitUntil([&] { return alerts->count() >= count; }, kFlowTimeout);
    }
    bool loadingShown() const { return view->loadingVC() && view->loadingVC()->isPresented(); }
    // The flow has ended: no flag, no sheet up.
    bool flowEnded() const
    {
        return !view->isSetingUp() && !loadingShown() && !view->pinSheet() && !view->accountPwdSheet();
    }
    // Makes and installs a key under the PIN, as a finished set-up leaves it.
    void installKey(const QString& pin)
    {
        const auto dict = keytest::zm().generateKey(pin);
        ASSERT_TRUE(dict);
        ASSERT_TRUE(keytest::zm().makeKeyAvailable(*dict));
        keytest::drainMainQueue();
    }

    std::shared_ptr<AlertsFake> alerts = std::make_shared<AlertsFake>();
    std::shared_ptr<UrlRecorder> urls = std::make_shared<UrlRecorder>();
    std::unique_ptr<QWidget> window;
    EncMainViewController* view = nullptr;
};

}  // namespace enctest
