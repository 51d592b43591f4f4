#pragma once

#include "service/accountloginrequestmanager.h"

// Registration ("/register_v2/"); see AccountLoginRequestManager.
class RegisterRequestManager : public AccountLoginRequestManager {
public:
    QString methodURL() const override;
    void genPostData() override;

    // The account e-mail.
    QString username;
    // The account password as typed.
    QString passwd;
};
