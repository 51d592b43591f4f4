#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

class QMimeData;

// The pasteboard's content as read at one moment on the main thread: what its first item
// offers, held as plain values. A snapshot never changes and never touches the clipboard
// again, so a capture on a background queue can work on it while the pasteboard moves on.
class PasteboardSnapshot {
public:
    // An empty pasteboard.
    PasteboardSnapshot() = default;

    // Reads everything a capture can use from the offers. Must run where the data may be
    // read: for the system clipboard that is the main thread. The image is read only when
    // the content offers neither a local file nor a non-empty text (such a copy is never
    // captured as an image, and an owner may render a large image on request).
    static PasteboardSnapshot fromMimeData(const QMimeData& data);

    // 0 for an empty pasteboard, else 1: an X11 selection carries one item.
    int itemCount() const { return m_types.isEmpty() ? 0 : 1; }
    // The MIME types the item offers, in the owner's order (X11 protocol targets left out).
    const QStringList& types() const { return m_types; }

    // The local file URLs offered through "text/uri-list" or, when that gives none,
    // "x-special/gnome-copied-files"; other URLs are left out. Folders are not filtered. A
    // line with raw characters that should have been escaped (spaces, letters beyond ASCII,
    // bytes that are no UTF-8) is read leniently, keeping those bytes.
    const QList<QUrl>& fileURLs() const { return m_fileURLs; }
    // The paths of fileURLs(), one for one, as the bytes the file system knows them by: a
    // name need not be UTF-8, which a QString would not keep.
    const QList<QByteArray>& filePaths() const { return m_filePaths; }

    // The plain text of the item; nothing when no text type is offered. May be empty.
    const std::optional<QString>& string() const { return m_string; }

    // An image offer was read (its data looked like an image Qt can decode).
    bool hasImage() const { return !m_imageData.isEmpty() || !m_image.isNull(); }
    // The offered image as TIFF (LZW) in the fixed pixel format of PasteboardImage; nothing
    // without an image or when it cannot be decoded or encoded. Decodes anew on every call:
    // call it off the main thread, once.
    std::optional<QByteArray> tiffRepresentation() const;
    // The image offer's bytes as the owner gave them (a PNG with its chunks, a JPEG...); empty
    // for an image set within this process, which has no encoded form.
    const QByteArray& encodedImage() const { return m_imageData; }

private:
    QStringList m_types;
    QList<QUrl> m_fileURLs;
    QList<QByteArray> m_filePaths;
    std::optional<QString> m_string;
    // Either the encoded offer (decoded late, off the main thread) or, for content set
    // within this process as a QImage, the image itself.
    QByteArray m_imageData;
    QImage m_image;
};
