#include "platform/pasteboardimage.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>

#include <spdlog/spdlog.h>

namespace {

// 72 dpi, the resolution image clips have always carried.
constexpr int kDotsPerMeter = 2835;

// TIFF compression option of Qt's writer: 1 is LZW.
constexpr int kTiffLzw = 1;

}  // namespace

void PasteboardImage::allowLargeImages()
{
    // A function-local static: one write, and every later caller sees it done.
    static const bool raised = [] {
        const int current = QImageReader::allocationLimit();
        if (current != 0 && current < kDecodeLimitMiB)
            QImageReader::setAllocationLimit(kDecodeLimitMiB);
        return true;
    }();
    (void)raised;
}

QString PasteboardImage::mimeTypeOf(const QByteArray& data)
{
    if (data.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&buffer).toLower();
    if (format.isEmpty())
        return {};
    if (format == "jpg")
        return QStringLiteral("image/jpeg");
    if (format == "svg")
        return QStringLiteral("image/svg+xml");
    return QStringLiteral("image/") + QString::fromLatin1(format);
}

QImage PasteboardImage::decode(const QByteArray& data)
{
    if (data.isEmpty())
        return {};
    allowLargeImages();
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // A photo's orientation tag is part of how it looks; the normalized clip carries none.
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) {
        const QSize size = reader.size();
        spdlog::warn("image of {} bytes ({} x {}) could not be decoded: {}", data.size(), size.width(),
                     size.height(), reader.errorString().toStdString());
    }
    return image;
}

QImage PasteboardImage::normalized(const QImage& image)
{
    if (image.isNull())
        return {};
    QImage out = image;
    const QColorSpace space = out.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb))
        out.convertToColorSpace(QColorSpace::SRgb);
    out = out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // The resolution and the colour profile would otherwise follow the source into the
    // TIFF, giving one picture several hashes depending on where it was copied from.
    out.setColorSpace(QColorSpace());
    out.setDotsPerMeterX(kDotsPerMeter);
    out.setDotsPerMeterY(kDotsPerMeter);
    return out;
}

std::optional<QByteArray> PasteboardImage::tiffRepresentation(const QImage& image)
{
    const QImage clean = normalized(image);
    if (clean.isNull())
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    writer.setCompression(kTiffLzw);
    if (!writer.write(clean)) {
        spdlog::warn("TIFF encoding failed: {}", writer.errorString().toStdString());
        return std::nullopt;
    }
    if (bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

std::optional<QByteArray> PasteboardImage::pngData(const QByteArray& data)
{
    const QImage image = decode(data);
    if (image.isNull())
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG") || bytes.isEmpty())
        return std::nullopt;
    return bytes;
}
