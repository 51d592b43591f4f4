#include "platform/pasteboardsnapshot.h"

#include "platform/pasteboardimage.h"

#include <QBuffer>
#include <QImageReader>
#include <QMimeData>

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
const QString kGnomeCopiedFiles = QStringLiteral("x-special/gnome-copied-files");
const QString kTextPlain = QStringLiteral("text/plain");
const QString kTextPlainUtf8 = QStringLiteral("text/plain;charset=utf-8");
const QString kQtImage = QStringLiteral("application/x-qt-image");

// One URL per line; "#" lines are comments (RFC 2483). The GNOME list starts with a "copy"
// or "cut" line, which is no URL and falls out with the rest.
QList<QUrl> localFileURLs(const QByteArray& list)
{
    QList<QUrl> urls;
    for (QByteArray line : list.split('\n')) {
        line = line.trimmed();
        while (line.endsWith('\0'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
        if (!url.isValid() || !url.isLocalFile())
            continue;
        // file://localhost/x is this machine's /x; any other host is a share elsewhere.
        const QString host = url.host();
        if (!host.isEmpty() && host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) != 0)
            continue;
        const QString path = url.path(QUrl::FullyDecoded);
        if (!path.startsWith(QLatin1Char('/')))
            continue;
        urls.append(QUrl::fromLocalFile(path));
    }
    return urls;
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
        snapshot.m_fileURLs = localFileURLs(data.data(kUriList));
    if (snapshot.m_fileURLs.isEmpty() && types.contains(kGnomeCopiedFiles))
        snapshot.m_fileURLs = localFileURLs(data.data(kGnomeCopiedFiles));

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
