#include "platform/pasteboardsnapshot.h"

#include "platform/pasteboardimage.h"

#include <QBuffer>
#include <QImageReader>
#include <QMimeData>

#include <cstring>

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
const QString kGnomeCopiedFiles = QStringLiteral("x-special/gnome-copied-files");
const QString kTextPlain = QStringLiteral("text/plain");
const QString kTextPlainUtf8 = QStringLiteral("text/plain;charset=utf-8");
const QString kQtImage = QStringLiteral("application/x-qt-image");

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isEscapeAt(const QByteArray& line, qsizetype i)
{
    return line[i] == '%' && i + 2 < line.size() && isHexDigit(line[i + 1]) && isHexDigit(line[i + 2]);
}

// What an URI may hold unescaped (RFC 3986: unreserved and reserved characters).
bool isUriCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || (c != '\0' && std::strchr("-._~:/?#[]@!$&'()*+,;=", c) != nullptr);
}

// Some programs write a path into the list as it is: spaces, letters beyond ASCII, even
// bytes that are no UTF-8. Escaping each such byte keeps it; a writer that escaped nothing
// also meant "?", "#" and a lone "%" as part of the name.
QByteArray escapedRawCharacters(const QByteArray& line)
{
    QByteArray out;
    out.reserve(line.size() * 3);
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if ((isUriCharacter(c) && c != '?' && c != '#') || isEscapeAt(line, i)) {
            out.append(c);
        } else {
            out.append('%');
            out.append(QByteArray(1, c).toHex().toUpper());
        }
    }
    return out;
}

// A line read strictly; leniently when that fails, or when it would turn bytes that are no
// UTF-8 into replacement characters.
QUrl parseLine(const QByteArray& line)
{
    const QUrl strict = QUrl::fromEncoded(line, QUrl::StrictMode);
    if (strict.isValid() && line.isValidUtf8())
        return strict;
    return QUrl::fromEncoded(escapedRawCharacters(line), QUrl::StrictMode);
}

// One URL per line; "#" lines are comments (RFC 2483). The GNOME list starts with a "copy"
// or "cut" line, which is no URL and falls out with the rest. Gives the paths' bytes.
QList<QByteArray> localFilePaths(const QByteArray& list)
{
    QList<QByteArray> paths;
    for (QByteArray line : list.split('\n')) {
        line = line.trimmed();
        while (line.endsWith('\0'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QUrl url = parseLine(line);
        if (!url.isValid() || !url.isLocalFile())
            continue;
        // file://localhost/x is this machine's /x; any other host is a share elsewhere.
        const QString host = url.host();
        if (!host.isEmpty() && host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) != 0)
            continue;
        // The escaped form keeps bytes that are no UTF-8 as they were given.
        const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        // A NUL would cut the name short at open().
        if (!path.startsWith('/') || path.contains('\0'))
            continue;
        paths.append(path);
    }
    return paths;
}

bool looksLikeImage(const QByteArray& data)
{
    if (data.isEmpty())
        return false;
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer).canRead();
}

// Lossless offers first: an owner that offers several encodings of one picture usually
// derives the lossy ones, and a TIFF is what this system itself writes.
QStringList imageOffersByPreference(const QStringList& types)
{
    QStringList ordered;
    for (const char* preferred : {"image/tiff", "image/png", "image/bmp"}) {
        const QString type = QString::fromLatin1(preferred);
        if (types.contains(type))
            ordered.append(type);
    }
    for (const QString& type : types)
        if (type.startsWith(QStringLiteral("image/")) && !ordered.contains(type))
            ordered.append(type);
    return ordered;
}

}  // namespace

PasteboardSnapshot PasteboardSnapshot::fromMimeData(const QMimeData& data)
{
    PasteboardSnapshot snapshot;
    // X11 owners also list protocol targets ("TARGETS", "TIMESTAMP", "SAVE_TARGETS") and
    // private atoms; none of them is content, and none is a MIME type.
    for (const QString& type : data.formats())
        if (type.contains(QLatin1Char('/')))
            snapshot.m_types.append(type);
    const QStringList& types = snapshot.m_types;
    if (types.isEmpty())
        return snapshot;

    if (types.contains(kUriList))
        snapshot.m_filePaths = localFilePaths(data.data(kUriList));
    if (snapshot.m_filePaths.isEmpty() && types.contains(kGnomeCopiedFiles))
        snapshot.m_filePaths = localFilePaths(data.data(kGnomeCopiedFiles));
    for (const QByteArray& path : snapshot.m_filePaths)
        snapshot.m_fileURLs.append(QUrl::fromEncoded("file://" + path.toPercentEncoding("/")));

    if (types.contains(kTextPlain) || types.contains(kTextPlainUtf8))
        snapshot.m_string = data.text();

    const bool hasText = snapshot.m_string && !snapshot.m_string->isEmpty();
    if (!snapshot.m_fileURLs.isEmpty() || hasText)
        return snapshot;

    for (const QString& type : imageOffersByPreference(types)) {
        QByteArray bytes = data.data(type);
        if (looksLikeImage(bytes)) {
            snapshot.m_imageData = std::move(bytes);
            return snapshot;
        }
    }
    // A QImage put on the clipboard within this process has no encoded form.
    if (types.contains(kQtImage)) {
        const QImage image = qvariant_cast<QImage>(data.imageData());
        if (!image.isNull())
            snapshot.m_image = image;
    }
    return snapshot;
}

std::optional<QByteArray> PasteboardSnapshot::tiffRepresentation() const
{
    if (!m_image.isNull())
        return PasteboardImage::tiffRepresentation(m_image);
    if (m_imageData.isEmpty())
        return std::nullopt;
    return PasteboardImage::tiffRepresentation(PasteboardImage::decode(m_imageData));
}
