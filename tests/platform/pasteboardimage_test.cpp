#include "platform/pasteboardimage.h"
#include "support/bmpheader.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QtEndian>

#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <map>

namespace {

// A picture with opaque, semi-transparent and fully transparent pixels of distinct colours.
QImage testPicture(bool withAlpha)
{
    QImage image(37, 23, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = !withAlpha ? 255 : (x % 5 == 0 ? 0 : (x % 5) * 60);
            image.setPixel(x, y, qRgba(x * 7 % 256, y * 11 % 256, (x * y) % 256, alpha));
        }
    return image;
}

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format)) << format;
    return bytes;
}

// A 1x1 GIF89a (one white pixel): Qt reads GIF but cannot write it.
QByteArray tinyGif()
{
    static const unsigned char gif[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0,
                                        0xff, 0xff, 0xff, 0x2c, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44,
                                        1, 0, 0x3b};
    return QByteArray(reinterpret_cast<const char*>(gif), sizeof gif);
}

// The tags of a little-endian TIFF's first directory: tag -> first value (short or long).
std::map<int, quint32> tiffTags(const QByteArray& tiff)
{
    std::map<int, quint32> tags;
    if (tiff.size() < 8 || !tiff.startsWith("II*"))
        return tags;
    const auto* p = reinterpret_cast<const uchar*>(tiff.constData());
    const quint32 ifd = qFromLittleEndian<quint32>(p + 4);
    if (ifd + 2 > static_cast<quint32>(tiff.size()))
        return tags;
    const int count = qFromLittleEndian<quint16>(p + ifd);
    for (int i = 0; i < count; ++i) {
        const uchar* e = p + ifd + 2 + 12 * i;
        if (e + 12 > p + tiff.size())
            break;
        const int tag = qFromLittleEndian<quint16>(e);
        const int type = qFromLittleEndian<quint16>(e + 2);
        tags[tag] = type == 3 ? qFromLittleEndian<quint16>(e + 8) : qFromLittleEndian<quint32>(e + 8);
    }
    return tags;
}

// Collects the messages logged while it lives.
class LogCapture {
public:
    LogCapture() : m_sink(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(64)), m_previous(spdlog::default_logger())
    {
        m_sink->set_pattern("%v");
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("capture", m_sink));
    }
    ~LogCapture() { spdlog::set_default_logger(m_previous); }
    bool contains(const std::string& part) const
    {
        const auto lines = m_sink->last_formatted();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != l.npos; });
    }

private:
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> m_sink;
    std::shared_ptr<spdlog::logger> m_previous;
};

}  // namespace

TEST(PasteboardImage, DecodesPicturesBeyondQtsDefaultLimitAndLogsOneItStillCannotRead)
{
    // 8192 x 4608, a stitched screenshot: 144 MiB decoded, over Qt's default 128.
    QByteArray png;
    {
        QImage screenshot(8192, 4608, QImage::Format_RGB32);
        screenshot.fill(Qt::white);
        for (int y = 0; y < screenshot.height(); y += 64)
            std::fill_n(reinterpret_cast<QRgb*>(screenshot.scanLine(y)), screenshot.width(), qRgb(20, 40, 200));
        png = encode(screenshot, "PNG");
    }
    const QImage decoded = PasteboardImage::decode(png);
    EXPECT_EQ(decoded.size(), QSize(8192, 4608));
    EXPECT_EQ(decoded.pixel(5, 64), qRgb(20, 40, 200));

    // 20000 x 20000 would take 1.5 GiB: refused, and said so.
    LogCapture log;
    EXPECT_TRUE(PasteboardImage::decode(bmpHeader(20000, 20000)).isNull());
    EXPECT_TRUE(log.contains("could not be decoded"));
    EXPECT_FALSE(PasteboardImage::decode(bmpHeader(2, 2)).isNull()) << "the same header, small, reads";
}

TEST(PasteboardImage, TellsTheImageTypeByContent)
{
    const QImage picture = testPicture(false);
    const struct {
        QByteArray data;
        QString type;
    } cases[] = {
        {encode(picture, "TIFF"), QStringLiteral("image/tiff")},
        {encode(picture, "PNG"), QStringLiteral("image/png")},
        {encode(picture, "JPEG"), QStringLiteral("image/jpeg")},
        {encode(picture, "BMP"), QStringLiteral("image/bmp")},
        {tinyGif(), QStringLiteral("image/gif")},
        {QByteArray("plain words, no picture"), QString()},
        {QByteArray(), QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PasteboardImage::mimeTypeOf(c.data), c.type) << c.type.toStdString();
}

TEST(PasteboardImage, TiffIsLzwCompressedWithoutProfileAndStableAcrossRoundTrips)
{
    QImage wideGamut = testPicture(true);
    wideGamut.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    wideGamut.setText(QStringLiteral("Description"), QStringLiteral("from a camera"));
    wideGamut.setDotsPerMeterX(5000);
    QImage deep = testPicture(true).convertToFormat(QImage::Format_RGBA64);

    const struct {
        const char* name;
        QByteArray source;
    } cases[] = {
        {"png with alpha", encode(testPicture(true), "PNG")},
        {"opaque png", encode(testPicture(false), "PNG")},
        {"jpeg", encode(testPicture(false), "JPEG")},
        {"bmp", encode(testPicture(false), "BMP")},
        {"gif", tinyGif()},
        {"png with a profile, a resolution and text", encode(wideGamut, "PNG")},
        {"16-bit png", encode(deep, "PNG")},
        {"foreign tiff", encode(wideGamut, "TIFF")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto first = PasteboardImage::tiffRepresentation(PasteboardImage::decode(c.source));
        ASSERT_TRUE(first.has_value());
        const auto tags = tiffTags(*first);
        ASSERT_FALSE(tags.empty());
        EXPECT_EQ(tags.at(259), 5u);  // compression: LZW
        EXPECT_EQ(tags.count(34675), 0u);  // no ICC profile
        EXPECT_EQ(tags.count(270), 0u);  // no description

        // Written back as TIFF and captured again.
        const auto again = PasteboardImage::tiffRepresentation(PasteboardImage::decode(*first));
        ASSERT_TRUE(again.has_value());
        EXPECT_EQ(*again, *first);
        // Written back, read by a client that takes PNG only, and copied from there.
        const auto png = PasteboardImage::pngData(*first);
        ASSERT_TRUE(png.has_value());
        const auto viaPng = PasteboardImage::tiffRepresentation(PasteboardImage::decode(*png));
        ASSERT_TRUE(viaPng.has_value());
        EXPECT_EQ(*viaPng, *first);
    }
}

TEST(PasteboardImage, OnePictureGivesOneTiffWhateverItCameFrom)
{
    const QImage opaque = testPicture(false);
    const auto fromImage = PasteboardImage::tiffRepresentation(opaque);
    ASSERT_TRUE(fromImage.has_value());
    for (const char* format : {"PNG", "BMP", "TIFF"}) {
        SCOPED_TRACE(format);
        QImage tagged = opaque;
        tagged.setDotsPerMeterX(3937);
        tagged.setDotsPerMeterY(3937);
        EXPECT_EQ(PasteboardImage::tiffRepresentation(PasteboardImage::decode(encode(tagged, format))), fromImage);
    }
    const QImage translucent = testPicture(true);
    EXPECT_EQ(PasteboardImage::tiffRepresentation(PasteboardImage::decode(encode(translucent, "PNG"))),
              PasteboardImage::tiffRepresentation(translucent));
}

TEST(PasteboardImage, KeepsThePixels)
{
    const QImage picture = testPicture(true);
    const auto tiff = PasteboardImage::tiffRepresentation(picture);
    ASSERT_TRUE(tiff.has_value());
    const QImage back = PasteboardImage::decode(*tiff).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(back, picture.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

TEST(PasteboardImage, DataThatIsNoImageGivesNothing)
{
    EXPECT_TRUE(PasteboardImage::decode(QByteArray("not an image")).isNull());
    EXPECT_TRUE(PasteboardImage::decode(QByteArray()).isNull());
    // A PNG cut short after its header.
    EXPECT_TRUE(PasteboardImage::decode(encode(testPicture(false), "PNG").left(40)).isNull());
    EXPECT_FALSE(PasteboardImage::tiffRepresentation(QImage()).has_value());
    EXPECT_FALSE(PasteboardImage::pngData(QByteArray("not an image")).has_value());
}
