#pragma once

#include "service/requestmanager.h"

#include <QVariantMap>

// Stores the account's first key ("PUT /key/"). Body: "key_dict" and "pwd_verifier".
class ZeroPushRequestManager : public TokenRequestManager {
public:
    ZeroPushRequestManager();

    QString methodURL() const override;
    void genPostData() override;
    QVariant parse(const QByteArray& data) override;

    // The new key's key_dict from ZeroManager::generateKey.
    QVariantMap key_dict;
    // ZeroManager::pinVerifierWithBase64 of the new PIN, so the server can check it at the
    // next PIN change. Never the PIN's hash: that is the key that wraps the key.
    QString pwd_verifier;
};
