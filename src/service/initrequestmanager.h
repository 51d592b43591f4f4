#pragma once

#include "service/requestmanager.h"

// The start-up handshake ("/init/"), sent at start and after each wake. What its reply
// changes (web pages, the server's public key, an expired login) happens in parse.
class InitRequestManager : public RequestManager {
public:
    InitRequestManager();

    QString methodURL() const override;
    bool isContinueRequest() const override;
    QVariant parse(const QByteArray& data) override;

    // The host's name, form-encoded.
    QString device_name;
};
