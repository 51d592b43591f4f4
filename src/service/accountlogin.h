#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

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

// A login token longer than this is no token of ours.
inline constexpr qsizetype kMaxTokenChars = 1024;

// A reply object with "code" 0, a "token" (1 to kMaxTokenChars characters of letters, digits
// and "-._~+/=:") and a "user_id" that is a positive integer (a JSON integer, or its plain
// decimal text): stores the token, the user id as decimal text and the e-mail together and
// answers true. Anything else stores nothing.
bool applyReply(const QVariant& reply, const QString& email);

// The user id of a login reply as decimal text; none unless it is a positive integer.
std::optional<QString> userIdOf(const QVariant& value);
// The login token of a reply; none unless it is a usable token.
std::optional<QString> tokenOf(const QVariant& value);

}  // namespace AccountLogin
