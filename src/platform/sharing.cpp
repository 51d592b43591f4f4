#include "platform/sharing.h"

#include "platform/currentimplementation.h"
#include "platform/realimplementations.h"

namespace {
CurrentImplementation<Sharing>& slot()
{
    static CurrentImplementation<Sharing> implementation(&makeRealSharing);
    return implementation;
}
}  // namespace

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
    return slot().get();
}

void Sharing::setCurrent(std::shared_ptr<Sharing> sharing)
{
    slot().set(std::move(sharing));
}
