#pragma once

#include "service/requestmanager.h"

// Fetches the server's public key ("/public_key/"), always sent, with the plain common query.
// A reply whose "public_key" decodes to exactly 32 bytes stores it under "server_public_key";
// anything else leaves the stored key as it was. The result is the decoded reply.
class SyncPublicKeyRequestManager : public RequestManager {
public:
    SyncPublicKeyRequestManager();

    QString methodURL() const override;
    bool isContinueRequest() const override;
    QVariant parse(const QByteArray& data) override;
};
