#pragma once

#include "windows/preferences/preferencesservices.h"

#include <QWidget>

#include <functional>
#include <memory>

class FindPwdRequestManager;
class LoginRequestManager;
class QComboBox;
class QLineEdit;
class QPushButton;
class RegisterRequestManager;

// The User panel while nobody is logged in: one e-mail field, one password field, a mode
// pop-up (log in, register, reset the password) and one action button. Every message is an
// alert sheet on the preferences window. A login or registration stores the token, which
// posts "USER_LOGINED"; the window then puts the user pane in this pane's place, so the
// request callbacks do their lasting work (push channel, clip menu) without the pane.
class UserloginViewController : public QWidget {
    Q_OBJECT
public:
    enum Mode { LoginMode = 0, RegisterMode = 1, FindPwdMode = 2 };

    explicit UserloginViewController(PreferencesServices services, QWidget* parent = nullptr);
    ~UserloginViewController() override;

    QComboBox* selectPopUpButton() const { return m_selectPopUpButton; }
    QLineEdit* nameField() const { return m_nameField; }
    QLineEdit* pwdField() const { return m_pwdField; }
    QPushButton* loginButton() const { return m_loginButton; }

    // The e-mail rule: letters, digits and "._%+-" before the "@", a domain, and a last part
    // of 2 to 4 letters, in any case.
    static bool isValidEmail(const QString& email);
    // The e-mail of a step: the field's text with every space removed.
    QString email() const;

    // The actions.
    void selectLogin();
    void selectRegistr();
    void selectFindPwd();
    void login();

private:
    // Where the history of a login that ended by itself is kept and another account is to log
    // in: asks, and on yes purges it; then (or at once when nothing is kept) proceeds.
    void askBeforeAnotherAccount(const QString& address, std::function<void()> proceed);
    // The chosen mode's first step, after the e-mail was checked.
    void startStep(int mode);
    void loginFlow();
    // The first step of a login and of a registration: the service's public key. Runs `then`
    // once it came; otherwise turns the button back on and tells of a network failure, or
    // calls `refused` with the window the alert belongs to.
    void afterPublicKey(std::function<void()> then, std::function<void(QWidget*)> refused);
    void alertDidEndWithReturnCode(int code);
    void FindPwdAlertDidEndWithReturnCode(int code);
    void registerFlow(const QString& email, const QString& password);
    void showAlert(const QString& button, const QString& message, const QString& informative = {});

    PreferencesServices m_services;
    QComboBox* m_selectPopUpButton = nullptr;
    QLineEdit* m_nameField = nullptr;
    QLineEdit* m_pwdField = nullptr;
    QPushButton* m_loginButton = nullptr;
    std::shared_ptr<LoginRequestManager> m_login;
    std::shared_ptr<RegisterRequestManager> m_regis;
    std::shared_ptr<FindPwdRequestManager> m_findPwdManager;
};
