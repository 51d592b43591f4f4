#pragma once

#include <QJsonObject>
#include <QString>

#include <map>

namespace webdouble {

class WebServiceDouble;

// "/key/" (GET, PUT, POST) and "/revert_key/" (POST), all with a login token.
//
// The account's wrapped key is kept as the client's key_dict, never opened. With it the
// PIN verifier ("pwd_verifier" of the upload body) the PIN change checks "last_pwd_hash"
// against.
// Choices:
// - GET: {"code": 0, "cipher": key_dict}; {"code": 404} when the account holds no key.
// - PUT (first key): stores key_dict and verifier, {"code": 0}; {"code": 409} when the
//   account already holds a key; {"code": 400} without a key_dict object.
// - POST (PIN change): {"code": 404} without a stored key; {"code": 401} when
//   "last_pwd_hash" differs from the stored verifier; {"code": 400} when the new key_dict
//   carries another "key_hash" (a PIN change re-wraps the same key); else stores, 0.
// - revert: "pwd_hash_cipher" must open to the MD5 hex of the account password, else
//   {"code": -5}; then the key_dict and verifier replace the stored ones, {"code": 0}.
class KeyRoutes {
public:
    struct StoredKey {
        QJsonObject keyDict;
        QString pwdVerifier;
    };
    struct State {
        std::map<qint64, StoredKey> keys;  // by user id
    };

    void install(WebServiceDouble& server);
    // {"key_hash", "cipher_hash"} of the account's key, or {} without one. Under the lock.
    QJsonObject fingerprint(qint64 userId) const;
    State& state() { return m_state; }

private:
    WebServiceDouble* m_server = nullptr;
    State m_state;
};

}  // namespace webdouble
