#pragma once

#include "windows/preferences/preferencesservices.h"

#include <QUrl>
#include <QVariantMap>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;

// Panel 3 of the preferences window: the version, the home page and the update check. Made
// while an update is pending ("newversion" newer than this version), it checks at once.
class AboutViewController : public QWidget {
    Q_OBJECT
public:
    explicit AboutViewController(PreferencesServices services, QWidget* parent = nullptr);

    QPushButton* checkUpdate() const { return m_checkUpdate; }
    QLabel* versionLabel() const { return m_versionLabel; }
    QPushButton* homeButton() const { return m_homeButton; }

    // The built-in home page, used while "homepage" is absent or not a web address.
    static QUrl builtinHomePage();
    // Only http and https addresses with a host are opened from server text.
    static bool isWebAddress(const QUrl& url);

    // Opens the home page.
    void homesite();
    // Runs the update check; the button is off until it ends.
    void check_update();

private:
    // A good reply's "data", once its version is stored in "newversion" and the menu rebuild
    // queued; nothing for a failed or refused check.
    static std::optional<QVariantMap> recordReply(const QVariant& result, bool failed,
                                                  const std::function<void()>& rebuildMenu);
    static QString versionOf(const QVariantMap& data);
    // Tells the user what the check found.
    void showReply(const QVariantMap& data);
    // A check that gave no usable reply, said in words: no answer at all, or a refusal.
    void showFailure(bool noAnswer);

    PreferencesServices m_services;
    QLabel* m_versionLabel = nullptr;
    QPushButton* m_homeButton = nullptr;
    QPushButton* m_checkUpdate = nullptr;
};
