#include "store/digest.h"

#include <QCryptographicHash>
#include <QFile>

QString md5HexOfString(const QString& text)
{
    // U+0000 is the one character whose UTF-8 form holds a 0 byte.
    return md5HexOfData(textUpToNul(text).toUtf8());
}

QString textUpToNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul >= 0 ? text.left(nul) : text;
}

QString md5HexOfData(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

std::optional<QString> md5HexOfFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Md5);
    char buffer[1024];
    for (;;) {
        const qint64 n = file.read(buffer, sizeof buffer);
        if (n < 0)
            return std::nullopt;  // never the digest of a prefix
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer, n));
    }
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return QString::fromLatin1(hash.result().toHex());
}

namespace {

bool isLowerHex(const QString& text, qsizetype digits)
{
    if (text.size() != digits)
        return false;
    for (QChar c : text)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    return true;
}

}  // namespace

bool isValidFileHash(const QString& hash)
{
    return isLowerHex(hash, 32);
}

bool isValidKeyHash(const QString& hash)
{
    return isLowerHex(hash, 64);
}
