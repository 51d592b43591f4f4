#include "platform/fakepasteboard.h"

#include "platform/pasteboardmimedata.h"

#include <QMimeData>

FakePasteboard::FakePasteboard() = default;
FakePasteboard::~FakePasteboard() = default;

qint64 FakePasteboard::changeCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_count;
}

PasteboardSnapshot FakePasteboard::snapshot()
{
    QMutexLocker lock(&m_mutex);
    ++m_snapshots;
    if (!m_content)
        return {};
    return PasteboardSnapshot::fromMimeData(*m_content);
}

void FakePasteboard::clearContents()
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

void FakePasteboard::writeString(const QString& text)
{
    replace(PasteboardMimeData::forString(text));
}

bool FakePasteboard::writeImageData(const QByteArray& data)
{
    auto content = PasteboardMimeData::forImageData(data);
    if (!content) {
        clearContents();
        return false;
    }
    replace(std::move(content));
    return true;
}

void FakePasteboard::writeFileURL(const QString& path)
{
    replace(PasteboardMimeData::forFileURL(path));
}

void FakePasteboard::offer(const QList<std::pair<QString, QByteArray>>& offers)
{
    if (offers.isEmpty()) {
        clearContents();
        return;
    }
    auto content = std::make_unique<QMimeData>();
    for (const auto& [type, bytes] : offers)
        content->setData(type, bytes);
    replace(std::move(content));
}

void FakePasteboard::offerMimeData(std::unique_ptr<QMimeData> data)
{
    if (!data) {
        clearContents();
        return;
    }
    replace(std::move(data));
}

void FakePasteboard::setChangeCount(qint64 count)
{
    QMutexLocker lock(&m_mutex);
    m_count = count;
}

QStringList FakePasteboard::types() const
{
    QMutexLocker lock(&m_mutex);
    return m_content ? m_content->formats() : QStringList();
}

QByteArray FakePasteboard::data(const QString& type) const
{
    QMutexLocker lock(&m_mutex);
    return m_content ? m_content->data(type) : QByteArray();
}

int FakePasteboard::snapshotCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_snapshots;
}

void FakePasteboard::replace(std::unique_ptr<QMimeData> data)
{
    {
        QMutexLocker lock(&m_mutex);
        m_content = std::move(data);
        ++m_count;
    }
    announceChange();
}
