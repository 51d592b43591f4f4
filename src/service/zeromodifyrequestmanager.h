#pragma once

#include "service/requestmanager.h"

#include <QVariantMap>

// Stores the key re-wrapped under a new PIN ("POST /key/"). Body: "key_dict", "last_pwd_hash"
// (the current PIN's verifier) and "pwd_verifier" (the new PIN's). Code 401: the server holds
// another verifier for the current PIN.
class ZeroModifyRequestManager : public TokenRequestManager {
public:
    ZeroModifyRequestManager();

    QString methodURL() const override;
    void genPostData() override;
    QVariant parse(const QByteArray& data) override;

    // The re-wrapped key_dict from ZeroManager::modifyKeyWithPwd.
    QVariantMap key_dict;
    // ZeroManager::pinVerifierWithBase64 of the current PIN, sent as "last_pwd_hash". Never the
    // PIN's hash (hashPwdWithBase64): that would hand the server the key that wraps the key.
    QString curPwdVerifierB64;
    // ZeroManager::pinVerifierWithBase64 of the new PIN.
    QString pwd_verifier;
};
