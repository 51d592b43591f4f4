#include "service/zeromanager.h"

ZeroManager& ZeroManager::sharedInstance()
{
    static ZeroManager instance;
    return instance;
}

int ZeroManager::state()
{
    return 0;
}

std::optional<QString> ZeroManager::currentKeyHash()
{
    return std::nullopt;
}
