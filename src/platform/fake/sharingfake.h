#pragma once

#include "platform/sharing.h"

#include <QMap>

// Sharing services held in memory: the services per item kind are set by the test, and
// every perform is recorded.
class SharingFake : public Sharing {
public:
    struct Performed {
        SharingService service;
        SharingItem item;
    };

    QMap<SharingItem::Kind, QList<SharingService>> services;
    // What performWithItem answers.
    bool performResult = true;
    QList<Performed> performed;
    QList<SharingItem> asked;

    QList<SharingService> sharingServicesForItem(const SharingItem& sample) override;
    bool performWithItem(const SharingService& service, const SharingItem& item) override;
};
