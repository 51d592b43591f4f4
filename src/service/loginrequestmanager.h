#pragma once

#include "service/accountloginrequestmanager.h"

// Login ("/login_v2/"); see AccountLoginRequestManager.
class LoginRequestManager : public AccountLoginRequestManager {
public:
    QString methodURL() const override;
    void genPostData() override;

    // The account e-mail.
    QString user;
    // The account password as typed.
    QString passwd;
};
