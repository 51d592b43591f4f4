#pragma once

#include "service/requestmanager.h"

// Reads the wrapped key the server holds for the account ("GET /key/"). Code 0: the reply's
// "cipher" is the server's key_dict; 404: the account has no key yet.
class ZeroGetRequestManager : public TokenRequestManager {
public:
    ZeroGetRequestManager();

    QString methodURL() const override;
    // The decoded reply, unchanged; nothing for a body that is not a JSON object. The record of
    // a code 0 reply is checked against the current pair as any reply's key is
    // (ZeroManager::checkServerCipher).
    QVariant parse(const QByteArray& data) override;
};
