#include "store/digest.h"
#include "support/testenv.h"

#include <QFile>

#include <gtest/gtest.h>

TEST(Digest, Rfc1321Vectors)
{
    const struct { const char* in; const char* md5; } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(md5HexOfString(QString::fromLatin1(c.in)), QLatin1String(c.md5)) << c.in;
        EXPECT_EQ(md5HexOfData(QByteArray(c.in)), QLatin1String(c.md5)) << c.in;
    }
}

TEST(Digest, StringIsHashedAsUtf8UpToTheFirstNul)
{
    const QString withNul = QStringLiteral("abc") + QChar(u'\0') + QStringLiteral("def");
    EXPECT_EQ(md5HexOfString(withNul), md5HexOfString(QStringLiteral("abc")));
    EXPECT_EQ(md5HexOfString(QStringLiteral("名")), md5HexOfData(QByteArray("\xe5\x90\x8d")));
}

TEST(Digest, FileIsStreamedAndMissingFileGivesNothing)
{
    const QString path = testenv::home() + QStringLiteral("/body");
    QByteArray data;
    for (int i = 0; i < 5000; ++i)
        data.append(static_cast<char>(i * 7));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
    f.close();
    EXPECT_EQ(md5HexOfFile(path).value(), md5HexOfData(data));
    EXPECT_FALSE(md5HexOfFile(testenv::home() + QStringLiteral("/absent")).has_value());
    // A folder opens but cannot be read: never a digest of nothing.
    EXPECT_FALSE(md5HexOfFile(testenv::home()).has_value());
}

TEST(Digest, FileHashForm)
{
    EXPECT_TRUE(isValidFileHash(QStringLiteral("d41d8cd98f00b204e9800998ecf8427e")));
    for (const char* bad : {"", "../x", "D41D8CD98F00B204E9800998ECF8427E", "d41d8cd98f00b204e9800998ecf8427",
                            "d41d8cd98f00b204e9800998ecf8427e\n", "d41d8cd98f00b204e9800998ecf8427g"})
        EXPECT_FALSE(isValidFileHash(QString::fromLatin1(bad))) << bad;
}

TEST(Digest, KeyHashForm)
{
    const QString good = QStringLiteral("0123456789abcdef").repeated(4);
    EXPECT_TRUE(isValidKeyHash(good));
    const QString bad[] = {
        QString(),
        good.left(63),                           // one digit short
        good + QLatin1Char('0'),                 // one too many
        good.toUpper(),                          // upper case
        good.left(63) + QLatin1Char('g'),        // not hex
        good.left(63) + QLatin1Char('\n'),       // a trailing line break
        QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"),  // a file hash is not a key hash
    };
    for (const QString& text : bad)
        EXPECT_FALSE(isValidKeyHash(text)) << text.toStdString();
    EXPECT_FALSE(isValidFileHash(good));
}
