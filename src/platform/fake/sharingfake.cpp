#include "platform/fake/sharingfake.h"

QList<SharingService> SharingFake::sharingServicesForItem(const SharingItem& sample)
{
    asked.append(sample);
    return services.value(sample.kind);
}

bool SharingFake::performWithItem(const SharingService& service, const SharingItem& item)
{
    performed.append({service, item});
    return performResult;
}
