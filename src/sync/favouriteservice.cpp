#include "sync/favouriteservice.h"

FavouriteService& FavouriteService::sharedInstance()
{
    static FavouriteService instance;
    return instance;
}

void FavouriteService::process() {}
