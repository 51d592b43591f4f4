#pragma once

#include "service/requestmanager.h"

// Asks for the password-reset mail ("/forget_pwd/"), always sent. The result is the decoded
// reply; code 0 means the mail went out, 1002 that no account has the address.
class FindPwdRequestManager : public RequestManager {
public:
    QString methodURL() const override;
    // The common query and "&user_email=" with the address form-encoded, so a "+" or "&" in
    // it reaches the server as typed; escaped.
    QString combinURL() const override;
    bool isContinueRequest() const override;
    QVariant parse(const QByteArray& data) override;

    QString user_email;
};
