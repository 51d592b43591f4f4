#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

// Image codecs of the pasteboard. Pure functions over values: safe on any thread.
class PasteboardImage {
public:
    // Decoded pictures may take up to this many MiB, four times Qt's default of 128 (which
    // turns away a 6000 x 6000 or 8192 x 4608 screenshot): about what a 5.5 MiB clip body
    // holds once LZW packs a screenshot's flat areas some 100 times, 134 megapixels at 4 bytes.
    static constexpr int kDecodeLimitMiB = 512;

    // Raises Qt's image allocation limit to kDecodeLimitMiB, once per process; a higher limit,
    // or none, is kept. Qt keeps one limit for the whole process: the system pasteboard calls
    // this on the main thread when it is made, before any other thread decodes; every decode
    // here calls it too.
    static void allowLargeImages();

    // The MIME type of encoded image data, judged by its content ("image/tiff", "image/png",
    // "image/jpeg", "image/gif", ...); empty when the data is no image Qt can read.
    static QString mimeTypeOf(const QByteArray& data);

    // Decodes image data of any readable format, applying its orientation tag, up to
    // kDecodeLimitMiB decoded; a null image (logged) when it cannot be decoded.
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
