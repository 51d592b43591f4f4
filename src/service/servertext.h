#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// Text a server sends that the system keeps (in the settings store or beside a clip) is
// bounded where it is stored: a hostile reply must not grow the settings file by megabytes
// or hand the menu a version string it has to compare character by character.
namespace ServerText {

// A version the update check announces ("newversion").
inline constexpr qsizetype kMaxVersionChars = 64;
// A web page address of the init reply.
inline constexpr qsizetype kMaxAddressChars = 2048;

// The value when it is a non-empty text of at most maxChars UTF-16 units; none otherwise.
std::optional<QString> bounded(const QVariant& value, qsizetype maxChars);

}  // namespace ServerText
