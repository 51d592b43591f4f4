#include "platform/sharing.h"

#include "platform/sharingdesktop.h"

#include <QMutex>

namespace {
QMutex g_mutex;
std::shared_ptr<Sharing> g_current;
}

SharingItem SharingItem::fromText(const QString& text)
{
    SharingItem item;
    item.kind = Kind::Text;
    item.text = text;
    return item;
}

SharingItem SharingItem::fromImage(const QImage& image)
{
    SharingItem item;
    item.kind = Kind::Image;
    item.image = image;
    return item;
}

SharingItem SharingItem::fromFileUrl(const QUrl& fileUrl)
{
    SharingItem item;
    item.kind = Kind::File;
    item.fileUrl = fileUrl;
    return item;
}

Sharing& Sharing::current()
{
    QMutexLocker lock(&g_mutex);
    if (!g_current)
        g_current = std::make_shared<SharingDesktop>();
    return *g_current;
}

void Sharing::setCurrent(std::shared_ptr<Sharing> sharing)
{
    QMutexLocker lock(&g_mutex);
    g_current = std::move(sharing);
}
