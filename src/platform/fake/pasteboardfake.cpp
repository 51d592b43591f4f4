#include "platform/fake/pasteboardfake.h"

#include "platform/pasteboardmimedata.h"

#include <QMimeData>

namespace {

// Another application's offers as the X11 clipboard hands them over: each type's bytes
// exactly as given. QMimeData::setData would reparse a "text/uri-list" and drop or
// rewrite what it cannot parse, which no real copy goes through.
class OfferedData : public QMimeData {
public:
    explicit OfferedData(const QList<std::pair<QString, QByteArray>>& offers) : m_offers(offers) {}

    QStringList formats() const override
    {
        QStringList types;
        for (const auto& offer : m_offers)
            types.append(offer.first);
        return types;
    }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override
    {
        for (const auto& [offered, bytes] : m_offers) {
            if (offered != mimeType)
                continue;
            // Text asked for as text: the bytes are UTF-8, as X11 owners send them.
            if (type.id() == QMetaType::QString)
                return QString::fromUtf8(bytes);
            return bytes;
        }
        return {};
    }

private:
    QList<std::pair<QString, QByteArray>> m_offers;
};

}  // namespace

PasteboardFake::PasteboardFake() = default;
PasteboardFake::~PasteboardFake() = default;

qint64 PasteboardFake::changeCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_count;
}

PasteboardSnapshot PasteboardFake::snapshot()
{
    QMutexLocker lock(&m_mutex);
    ++m_snapshots;
    if (!m_content)
        return {};
    return PasteboardSnapshot::fromMimeData(*m_content);
}

void PasteboardFake::clearContents()
{
    {
        QMutexLocker lock(&m_mutex);
        if (!m_content)
            return;
        m_content.reset();
        ++m_count;
    }
    announceChange();
}

void PasteboardFake::writeString(const QString& text)
{
    replace(PasteboardMimeData::forString(text));
}

bool PasteboardFake::writeImageData(const QByteArray& data)
{
    auto content = PasteboardMimeData::forImageData(data);
    if (!content) {
        clearContents();
        return false;
    }
    replace(std::move(content));
    return true;
}

void PasteboardFake::writeFileURL(const QString& path)
{
    replace(PasteboardMimeData::forFileURL(path));
}

void PasteboardFake::offer(const QList<std::pair<QString, QByteArray>>& offers)
{
    if (offers.isEmpty()) {
        clearContents();
        return;
    }
    replace(std::make_unique<OfferedData>(offers));
}

void PasteboardFake::offerMimeData(std::unique_ptr<QMimeData> data)
{
    if (!data) {
        clearContents();
        return;
    }
    replace(std::move(data));
}

void PasteboardFake::setChangeCount(qint64 count)
{
    QMutexLocker lock(&m_mutex);
    m_count = count;
}

QStringList PasteboardFake::types() const
{
    QMutexLocker lock(&m_mutex);
    return m_content ? m_content->formats() : QStringList();
}

QByteArray PasteboardFake::data(const QString& type) const
{
    QMutexLocker lock(&m_mutex);
    return m_content ? m_content->data(type) : QByteArray();
}

int PasteboardFake::snapshotCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_snapshots;
}

void PasteboardFake::replace(std::unique_ptr<QMimeData> data)
{
    {
        QMutexLocker lock(&m_mutex);
        m_content = std::move(data);
        ++m_count;
    }
    announceChange();
}
