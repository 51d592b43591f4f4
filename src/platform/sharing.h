#pragma once

#include <QIcon>
#include <QImage>
#include <QList>
#include <QString>
#include <QUrl>

#include <memory>

// What is handed to a sharing service: a text, an image or a file. The same shape serves as
// the sample item that asks which services accept such a thing.
struct SharingItem {
    enum class Kind { Text, Image, File };

    Kind kind = Kind::Text;
    QString text;
    QImage image;
    QUrl fileUrl;

    static SharingItem fromText(const QString& text);
    static SharingItem fromImage(const QImage& image);
    static SharingItem fromFileUrl(const QUrl& fileUrl);
};

// One way of sharing offered by the desktop, as the share submenu shows it.
struct SharingService {
    // Stable name of the way of sharing ("email", "open"); not shown.
    QString identifier;
    // Shown to the user, in Simplified Chinese like the rest of the interface.
    QString title;
    QIcon image;
};

// The desktop's sharing services.
class Sharing {
public:
    virtual ~Sharing() = default;

    // The services that take an item of the sample's kind, in the order the menu shows them.
    virtual QList<SharingService> sharingServicesForItem(const SharingItem& sample) = 0;
    // Hands the item to the service (on the main thread). False when the service does not take
    // such an item, the item cannot be handed over (a missing file) or nothing could be started.
    virtual bool performWithItem(const SharingService& service, const SharingItem& item) = 0;

    // The services the rest of the system uses: the desktop's unless replaced.
    static Sharing& current();
    // Replaces the current services (the app at start, tests); nullptr restores the default.
    static void setCurrent(std::shared_ptr<Sharing> sharing);
};
