#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// What login and registration share: the body with the sealed password hash, and taking a
// successful reply into the account state.
namespace AccountLogin {

// {"username": email, "pwd_hash": Base64 of the MD5 hex of the password sealed to the stored
// server public key}; "pwd_hash" is left out when no usable key is stored.
QByteArray body(const QString& email, const QString& password);

// Each login or registration sent takes the next number; only the reply of the latest one
// may log a user in, so a slow reply of an earlier attempt cannot replace a newer login.
quint64 nextSequence();
bool isLatest(quint64 sequence);

// A reply object with "code" 0, a non-empty "token" and a "user_id" (number or non-empty
// text): stores the token, the user id as text and the e-mail, in that order, and answers
// true. Anything else stores nothing.
bool applyReply(const QVariant& reply, const QString& email);

}  // namespace AccountLogin
