#include "platform/pasteboardmimedata.h"

#include "platform/pasteboardimage.h"

#include <QUrl>

namespace {
const QString kPng = QStringLiteral("image/png");
}

std::unique_ptr<PasteboardMimeData> PasteboardMimeData::forString(const QString& text)
{
    std::unique_ptr<PasteboardMimeData> data(new PasteboardMimeData);
    data->setText(text);
    return data;
}

std::unique_ptr<PasteboardMimeData> PasteboardMimeData::forImageData(const QByteArray& bytes)
{
    const QString type = PasteboardImage::mimeTypeOf(bytes);
    if (type.isEmpty())
        return nullptr;
    std::unique_ptr<PasteboardMimeData> data(new PasteboardMimeData);
    data->setData(type, bytes);
    if (type != kPng)
        data->m_imageSource = bytes;
    return data;
}

std::unique_ptr<PasteboardMimeData> PasteboardMimeData::forFileURL(const QString& path)
{
    std::unique_ptr<PasteboardMimeData> data(new PasteboardMimeData);
    const QByteArray url = QUrl::fromLocalFile(path).toEncoded();
    data->setData(QStringLiteral("text/uri-list"), url + "\r\n");
    data->setData(QStringLiteral("x-special/gnome-copied-files"), "copy\n" + url);
    data->setText(path);
    return data;
}

QStringList PasteboardMimeData::formats() const
{
    QStringList types = QMimeData::formats();
    if (!m_imageSource.isEmpty() && !types.contains(kPng))
        types.append(kPng);
    return types;
}

QVariant PasteboardMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (mimeType == kPng && !m_imageSource.isEmpty()) {
        // Runs where the clipboard answers requests (the main thread), once per write.
        if (!m_png)
            m_png = PasteboardImage::pngData(m_imageSource).value_or(QByteArray());
        return *m_png;
    }
    return QMimeData::retrieveData(mimeType, type);
}
