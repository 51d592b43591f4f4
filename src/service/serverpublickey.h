#pragma once

#include <QByteArray>
#include <QVariant>

#include <optional>

// The server's public key for sealed boxes, kept under "server_public_key" as 32 raw bytes.
namespace ServerPublicKey {

inline constexpr qsizetype kBytes = 32;

// The stored key when it is exactly 32 bytes; nothing otherwise.
std::optional<QByteArray> stored();
void store(const QByteArray& key);
void remove();
// A reply's Base64 text that decodes cleanly to exactly 32 bytes.
std::optional<QByteArray> decode(const QVariant& base64Text);

}  // namespace ServerPublicKey
