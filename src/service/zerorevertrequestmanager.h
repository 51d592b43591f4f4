#pragma once

#include "service/requestmanager.h"

#include <QVariantMap>

// Replaces the account's key after the account password has been confirmed
// ("POST /revert_key/"). Body: "key_dict", "pwd_verifier" and "pwd_hash_cipher", the MD5 hex
// of the password sealed to the stored server public key (left out when none of 32 bytes is
// stored). Code -5: the account password is wrong.
class ZeroRevertRequestManager : public TokenRequestManager {
public:
    ZeroRevertRequestManager();

    QString methodURL() const override;
    void genPostData() override;
    QVariant parse(const QByteArray& data) override;

    // The replacement key's key_dict from ZeroManager::generateKey.
    QVariantMap key_dict;
    // The account password as typed; only its sealed MD5 leaves the machine.
    QString pwd;
    // ZeroManager::pinVerifierWithBase64 of the new PIN.
    QString pwd_verifier;
};
