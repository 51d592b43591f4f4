#pragma once

#include "windows/preferences/preferencesservices.h"

#include <QWidget>

class QLabel;
class QPushButton;

// The User panel while a user is logged in: who it is, logout, and the encryption window.
class UserInfoViewController : public QWidget {
    Q_OBJECT
public:
    explicit UserInfoViewController(PreferencesServices services, QWidget* parent = nullptr);

    QLabel* userName() const { return m_userName; }
    QPushButton* logoutButton() const { return m_logoutButton; }
    QPushButton* encryptButton() const { return m_encryptButton; }

    // The logout button: asks first, since the logout removes the local history; confirmed,
    // logs out.
    void loginout();
    // The user's logout (sync/userlogout.h): the deletes still owed go out first, then this
    // user's key is dropped while the user id is still known, then the login token: the
    // logout clean-up and "USER_LOGOUTED" follow.
    void logout();
    // Shows the encryption window.
    void encryptButtonClicked();
    // Shows the encryption window and starts the set-up of end-to-end encryption.
    void activeEncryptPINView();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    PreferencesServices m_services;
    // The label's whole text; what it shows may be elided to the pane's width.
    QString m_userNameText;
    QLabel* m_userName = nullptr;
    QPushButton* m_logoutButton = nullptr;
    QPushButton* m_encryptButton = nullptr;
};
