#pragma once

#include "service/requestmanager.h"

// The start-up handshake ("/init/"), sent at start and after each wake, logged in or not.
// Its reply, in parse: the key check of the "cipher" object; on code 0 the web pages and the
// server's public key are stored (a missing or unusable value removes the stored one); on
// another code with "token_expire" 1 the login the request carried is logged out.
class InitRequestManager : public RequestManager {
public:
    InitRequestManager();

    QString methodURL() const override;
    // The common query, "&device_name=", and the login token when logged in; escaped.
    QString combinURL() const override;
    bool isContinueRequest() const override;
    // The decoded reply object; invalid for anything else.
    QVariant parse(const QByteArray& data) override;

    // The host's name, form-encoded.
    QString device_name;
};
