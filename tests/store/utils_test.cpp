#include "store/clipuserdefaults.h"
#include "store/deviceidentity.h"
#include "store/utils.h"
#include "support/testenv.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <gtest/gtest.h>

#include <algorithm>

namespace {
std::optional<QString> larger(const char* a, const char* b)
{
    return Utils::largeVersion(QString::fromLatin1(a), QString::fromLatin1(b));
}

QByteArray png(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::red);
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, "PNG");
    return out;
}

QSize jpegSize(const QString& base64)
{
    QByteArray bytes = QByteArray::fromBase64(base64.toLatin1());
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    QBuffer b(&bytes);
    b.open(QIODevice::ReadOnly);
    return QImageReader(&b).read().size();
}
}  // namespace

TEST(Utils, VersionComparison)
{
    EXPECT_EQ(larger("1.10", "1.9"), QStringLiteral("1.10"));
    EXPECT_EQ(larger("1.9", "1.10"), QStringLiteral("1.10"));
    EXPECT_FALSE(larger("2.0", "2.0.0"));
    EXPECT_FALSE(larger("1.2", "1.2"));
    EXPECT_EQ(larger("2.0.0.1", "2.0"), QStringLiteral("2.0.0.1"));
    EXPECT_EQ(larger("1.2", "1.2.1"), QStringLiteral("1.2.1"));
    EXPECT_EQ(larger("1.2b", "1.1"), QStringLiteral("1.2b"));  // leading digits only
    EXPECT_FALSE(larger("x.1", "0.1"));                        // no digits reads 0
}

// Versions come from the server: no component, however long, may overflow or be misread.
TEST(Utils, VersionComparisonOfLongComponents)
{
    struct Case {
        const char* one;
        const char* two;
        const char* larger;  // nullptr: equal
    };
    const Case cases[] = {
        {"1.99999999999999999999", "1.5", "1.99999999999999999999"},
        {"1.9223372036854775808", "1.9223372036854775807", "1.9223372036854775808"},
        {"1.123456789012345678901234567890", "1.123456789012345678901234567891", "1.123456789012345678901234567891"},
        {"2.000000000000000000000000000010", "2.10", nullptr},
        {"1.-99999999999999999999", "1.0", "1.0"},
        {"1.-3", "1.-4", "1.-3"},
        // The extra components' sum: signed 64-bit addition would overflow here.
        {"1.0.9223372036854775807.9223372036854775807", "1.0", "1.0.9223372036854775807.9223372036854775807"},
        {"1.0.-9223372036854775807.-9223372036854775807.-9", "1.0", "1.0"},
        {"1.0.99999999999999999999999", "1.0", "1.0.99999999999999999999999"},
        {"1.0.+7", "1", "1.0.+7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.one) + " vs " + c.two);
        const auto forward = larger(c.one, c.two);
        const auto backward = larger(c.two, c.one);
        if (c.larger) {
            EXPECT_EQ(forward, QString::fromLatin1(c.larger));
            EXPECT_EQ(backward, QString::fromLatin1(c.larger));
        } else {
            EXPECT_FALSE(forward);
            EXPECT_FALSE(backward);
        }
    }
}

TEST(Utils, UpdateFlagFollowsNewversion)
{
    auto& d = ClipUserDefaults::standardUserDefaults();
    EXPECT_FALSE(Utils::isNeedShowUpdate());
    d.setValue(QStringLiteral("newversion"), QString());
    EXPECT_FALSE(Utils::isNeedShowUpdate());
    d.setValue(QStringLiteral("newversion"), appShortVersion());
    EXPECT_FALSE(Utils::isNeedShowUpdate());
    d.setValue(QStringLiteral("newversion"), QStringLiteral("0.0.1"));
    EXPECT_FALSE(Utils::isNeedShowUpdate());
    d.setValue(QStringLiteral("newversion"), appShortVersion() + QStringLiteral(".1"));
    EXPECT_TRUE(Utils::isNeedShowUpdate());
    d.setValue(QStringLiteral("newversion"), QStringLiteral("999.0"));
    EXPECT_TRUE(Utils::isNeedShowUpdate());
}

TEST(Utils, TextTypes)
{
    const QString http4096 = QStringLiteral("http://") + QString(4096 - 7, QLatin1Char('a'));
    const QString http4097 = http4096 + QLatin1Char('a');
    EXPECT_EQ(Utils::typeFromString(http4096), QStringLiteral("text_url_http"));
    EXPECT_EQ(Utils::typeFromString(http4097), QStringLiteral("text_large"));
    EXPECT_EQ(Utils::typeFromString(QStringLiteral("https://x")), QStringLiteral("text_url_http"));
    EXPECT_EQ(Utils::typeFromString(QStringLiteral("HTTP://x")), QStringLiteral("text_txt"));
    EXPECT_EQ(Utils::typeFromString(QStringLiteral(" http://x")), QStringLiteral("text_txt"));
    EXPECT_EQ(Utils::typeFromString(QString()), QStringLiteral("text_txt"));
}

TEST(Utils, ImageFormatsAndModifiers)
{
    const struct { QByteArray data; std::optional<QString> type; } images[] = {
        {QByteArray("\xff\xd8"), QStringLiteral("jpg")}, {QByteArray("\x89PNG"), QStringLiteral("png")},
        {QByteArray("GIF8"), QStringLiteral("gif")},     {QByteArray("II*"), QStringLiteral("tiff")},
        {QByteArray("MM"), QStringLiteral("tiff")},      {QByteArray("BM"), std::nullopt},
        {QByteArray(), std::nullopt},
    };
    for (const auto& row : images)
        EXPECT_EQ(Utils::typeFromImageData(row.data), row.type);

    EXPECT_EQ(Utils::externTypeList(QStringLiteral("image_data+zip+enc")),
              (QStringList{QStringLiteral("zip"), QStringLiteral("enc")}));
    EXPECT_EQ(Utils::externTypeList(QStringLiteral("text_txt")), QStringList());
    EXPECT_FALSE(Utils::externTypeList(std::nullopt));

    EXPECT_TRUE(isSyncableType(QStringLiteral("text")));
    EXPECT_TRUE(isSyncableType(QStringLiteral("file_pdf+zip+enc")));
    EXPECT_FALSE(isSyncableType(QStringLiteral("plugin_x")));
    EXPECT_FALSE(isSyncableType(std::nullopt));
    EXPECT_EQ(syncableTypes(), (QStringList{QStringLiteral("text"), QStringLiteral("image"), QStringLiteral("file")}));
}

TEST(Utils, TextSummary)
{
    const QString pair = QString::fromUtf16(u"\U0001F600");
    const struct { QString in; QString out; } cases[] = {
        {QStringLiteral("one   two\n  three"), QStringLiteral("one two three")},
        {QStringLiteral("a\r\nb\rc\nd"), QStringLiteral("abcd")},
        {QStringLiteral("a") + QChar(0x2028) + QStringLiteral("b"), QStringLiteral("ab")},
        {QStringLiteral("x\t\ty"), QStringLiteral("x\t\ty")},  // only U+0020 collapses
        {QString(31, QLatin1Char('a')) + QStringLiteral("\nrest"), QString(30, QLatin1Char('a'))},
        // exactly 30 goes on to the next line, which then pushes it over
        {QString(30, QLatin1Char('a')) + QStringLiteral("\nb"), QString(30, QLatin1Char('a'))},
        {QString(20, QLatin1Char('a')) + QStringLiteral("\nbcd"), QString(20, QLatin1Char('a')) + QStringLiteral("bcd")},
        {QString(28, QLatin1Char('a')) + pair, QString(28, QLatin1Char('a')) + pair},
        // the cut would split the pair: one unit earlier
        {QString(29, QLatin1Char('a')) + pair, QString(29, QLatin1Char('a'))},
        {QString(), QString()},
        {QStringLiteral("\n\n"), QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clipTextSummary(c.in), c.out) << c.in.toStdString();
}

TEST(Utils, ThumbnailSizes)
{
    EXPECT_EQ(jpegSize(imageThumbnailBase64(png(200, 100)).value()), QSize(80, 40));
    EXPECT_EQ(jpegSize(imageThumbnailBase64(png(30, 20)).value()), QSize(60, 40));
    EXPECT_EQ(jpegSize(imageThumbnailBase64(png(400, 40)).value()), QSize(120, 12));
    // So wide that the height would truncate to 0: still one pixel high.
    EXPECT_EQ(jpegSize(imageThumbnailBase64(png(5000, 1)).value()).height(), 1);
    // So narrow that the width would truncate to 0: still one pixel wide.
    EXPECT_EQ(jpegSize(imageThumbnailBase64(png(1, 1000)).value()).width(), 1);
    EXPECT_FALSE(imageThumbnailBase64(QByteArray("not an image")).has_value());
    EXPECT_FALSE(imageThumbnailBase64(QByteArray()).has_value());
    const QString b64 = imageThumbnailBase64(png(10, 10)).value();
    EXPECT_FALSE(b64.contains(QLatin1Char('\n')));
}

TEST(Utils, APictureBeyondTheDefaultDecodeLimitStillGetsItsThumbnail)
{
    // Qt's default limit (128 MiB decoded) in force, as for any reader in the process that
    // did not raise it; put back afterwards.
    const int previous = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(128);
    struct Restore {
        int limit;
        ~Restore() { QImageReader::setAllocationLimit(limit); }
    } restore{previous};

    // 6000 x 6000 and 8192 x 4608 (a stitched screenshot) take 137 and 144 MiB decoded.
    const struct {
        QSize size;
        const char* format;
        QSize thumbnail;
    } cases[] = {
        {{6000, 6000}, "PNG", {40, 40}},
        {{8192, 4608}, "JPEG", {71, 40}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        QByteArray encoded;
        {
            QImage picture(c.size, QImage::Format_RGB32);
            picture.fill(Qt::darkGreen);
            for (int y = 0; y < picture.height(); y += 97)
                std::fill_n(reinterpret_cast<QRgb*>(picture.scanLine(y)), picture.width(), qRgb(250, 200, 0));
            QBuffer buffer(&encoded);
            buffer.open(QIODevice::WriteOnly);
            ASSERT_TRUE(picture.save(&buffer, c.format));
        }
        const std::optional<QString> thumbnail = imageThumbnailBase64(encoded);
        ASSERT_TRUE(thumbnail.has_value());
        EXPECT_EQ(jpegSize(*thumbnail), c.thumbnail);
    }
}

TEST(Utils, SecretTestUsesKeyWordsAndTheSwitch)
{
    EXPECT_TRUE(Utils::isSecret(QStringLiteral("my PassWord is")));
    EXPECT_TRUE(Utils::isSecret(QStringLiteral("银行卡")));
    EXPECT_FALSE(Utils::isSecret(QStringLiteral("hello")));
    ClipUserDefaults::standardUserDefaults().setValue(QStringLiteral("userKeyWords"), QStringList{QStringLiteral("?")});
    EXPECT_TRUE(Utils::isSecret(QStringLiteral("password")));  // a typed "?" breaks nothing
    EXPECT_TRUE(Utils::isSecret(QStringLiteral("what?")));
    EXPECT_FALSE(Utils::isSecret(QStringLiteral("what")));
    EXPECT_FALSE(Utils::isSecret(QStringLiteral("password") + QString(4096, QLatin1Char('x'))));
    Utils::setAnalySecert(false);
    EXPECT_FALSE(Utils::isSecret(QStringLiteral("password")));
}

TEST(Utils, SwitchesReadTheirDefaults)
{
    EXPECT_TRUE(Utils::isNeedAnalyseSecert());
    EXPECT_TRUE(Utils::isFileAsSecert());
    EXPECT_FALSE(Utils::isAutoSetPasteboard());
    EXPECT_FALSE(Utils::isAdvancePrivacy());
    Utils::setFileAsSecert(false);
    Utils::setAutoSetPasteboard(true);
    Utils::setAdvancePrivacy(true);
    EXPECT_FALSE(Utils::isFileAsSecert());
    EXPECT_TRUE(Utils::isAutoSetPasteboard());
    EXPECT_TRUE(Utils::isAdvancePrivacy());
}

TEST(Utils, FormEncoding)
{
    EXPECT_EQ(urlencode(QStringLiteral("a b&c")), QStringLiteral("a+b%26c"));
    EXPECT_EQ(urlencode(QStringLiteral("é")), QStringLiteral("%C3%A9"));
    EXPECT_EQ(urlencode(QStringLiteral("-._~AZaz09")), QStringLiteral("-._~AZaz09"));
    EXPECT_EQ(urlencode(QStringLiteral("/+=")), QStringLiteral("%2F%2B%3D"));
}
