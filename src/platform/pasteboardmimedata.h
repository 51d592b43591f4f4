#pragma once

#include <QByteArray>
#include <QMimeData>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// The content this system puts on the clipboard, one maker per kind of write. An image is
// offered under its own type and, unless it is a PNG already, as "image/png" too: many X11
// clients read no TIFF. That PNG is encoded only when a client asks for it.
class PasteboardMimeData : public QMimeData {
    Q_OBJECT
public:
    // "text/plain" (Qt offers it as UTF8_STRING, STRING and TEXT on X11).
    static std::unique_ptr<PasteboardMimeData> forString(const QString& text);
    // The image data under its real type; nothing when the data is no image.
    static std::unique_ptr<PasteboardMimeData> forImageData(const QByteArray& data);
    // The file as "text/uri-list" and "x-special/gnome-copied-files" (what file managers
    // paste), and its path as "text/plain".
    static std::unique_ptr<PasteboardMimeData> forFileURL(const QString& path);

    QStringList formats() const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    PasteboardMimeData() = default;

    // Set for an image that is offered as PNG without being one.
    QByteArray m_imageSource;
    mutable std::optional<QByteArray> m_png;
};
