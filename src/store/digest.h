#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// 32 lower-case hex digits of an MD5.

// The UTF-8 bytes of the text up to its first NUL.
QString md5HexOfString(const QString& text);
// The text up to its first NUL: what md5HexOfString hashes, so what a text clip is. A
// text's body holds exactly this, never the tail, so the body's name is its digest.
QString textUpToNul(const QString& text);
QString md5HexOfData(const QByteArray& data);
// Streams the file in 1024-byte reads. Nothing when it cannot be opened or a read fails.
std::optional<QString> md5HexOfFile(const QString& path);

// The one check of each hash form a server, a file name or a key record may bring.
// True for 32 lower-case hex digits: the only form a file_hash may take.
bool isValidFileHash(const QString& hash);
// True for 64 lower-case hex digits: the only form a key_hash (and a key's cipher hash) may take.
bool isValidKeyHash(const QString& hash);
