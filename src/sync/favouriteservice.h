#pragma once

#include "sync/uploadworker.h"

// The favourite upload worker: sends the newest changed favourite row, one at a time (a set
// favourite for a clip the server knows, else a post), and hands over to the file worker
// when none is left. What each outcome does is the base's (uploadworker.h); a row whose post
// or set-favourite is already on its way keeps its mark and goes once that flight has ended.
//
// Threads and lock order: those of UploadWorker.
class FavouriteService : public UploadWorker {
public:
    static FavouriteService& sharedInstance();

private:
    FavouriteService();
    Started startStep(const Step& step, const QStringList& setAside) override;
    void whenIdle() override;
    void afterFlight(const QString& hash, std::function<void()> then) override;
};
