#pragma once

// The favourite upload worker: sends the changed favourite rows, one at a time.
//
// Not built yet: process does nothing.
class FavouriteService {
public:
    static FavouriteService& sharedInstance();

    // Starts sending the next changed favourite row unless one is in flight.
    void process();

private:
    FavouriteService() = default;
};
