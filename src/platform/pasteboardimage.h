#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

// Image codecs of the pasteboard. Pure functions over values: safe on any thread.
class PasteboardImage {
public:
    // The MIME type of encoded image data, judged by its content ("image/tiff", "image/png",
    // "image/jpeg", "image/gif", ...); empty when the data is no image Qt can read.
    static QString mimeTypeOf(const QByteArray& data);

    // Decodes image data of any readable format, applying its orientation tag; a null image
    // when it cannot be decoded.
    static QImage decode(const QByteArray& data);

    // The image in the one pixel format clips are kept in (8-bit premultiplied ARGB, sRGB, a
    // fixed resolution, no colour profile). Decoding the TIFF of a normalized image gives it back
    // unchanged, so a clip written back and captured again keeps its bytes and its hash.
    static QImage normalized(const QImage& image);

    // The normalized image as TIFF with LZW compression; nothing for a null image or when
    // encoding fails (for example without the TIFF image plugin).
    static std::optional<QByteArray> tiffRepresentation(const QImage& image);

    // PNG of encoded image data (for clients that read no TIFF); nothing when it cannot be
    // decoded or encoded.
    static std::optional<QByteArray> pngData(const QByteArray& data);
};
