#include "sync/favouriteservice.h"

#include "platform/dispatch.h"
#include "platform/numberreader.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/utils.h"
#include "sync/fileservice.h"
#include "sync/pushclipsmanager.h"
#include "sync/replylogin.h"
#include "sync/setfavouriterequestmanager.h"

#include <QMutexLocker>

FavouriteService& FavouriteService::sharedInstance()
{
    static FavouriteService instance;
    return instance;
}

void FavouriteService::process()
{
    QMutexLocker lock(&m_mutex);
    if (!ConfigureManager::sharedInstance().isLogined()) {
        m_isRunning = false;
        return;
    }
    if (m_isRunning)
        return;
    const HistoryModelPtr row = DBKeeper::getUnProcessFavourite();
    if (!row || !isSyncableType(row->type())) {
        m_isRunning = false;
        lock.unlock();
        FileService::sharedInstance().process();
        return;
    }
    m_isRunning = true;
    const quint64 generation = m_generation;
    const quint64 epoch = ReplyLogin::current();
    // Runs on the main queue.
    auto done = [this, row, generation, epoch](bool failed) {
        ReplyLogin::Scope scope(epoch);
        {
            QMutexLocker lock(&m_mutex);
            if (generation != m_generation)
                return;
            m_isRunning = false;
        }
        if (failed)
            return;
        row->return_to_zero_change_count();
        dispatch::mainAsync([this] { process(); });
    };
    if (NumberReader::wholeNumber(row->history_id()).value_or(0) != 0) {
        SetFavouriteRequestManager::sharedInstance().setFavourite(
            row, [done](const HistoryModelPtr&, const std::optional<RequestError>& error) { done(error.has_value()); });
    } else {
        PushClipsManager::sharedInstance().Post(
            row, [done](const QVariant&, const std::optional<RequestError>& error) { done(error.has_value()); });
    }
}

bool FavouriteService::isRunning() const
{
    QMutexLocker lock(&m_mutex);
    return m_isRunning;
}

void FavouriteService::resetForTesting()
{
    QMutexLocker lock(&m_mutex);
    m_isRunning = false;
    ++m_generation;
}
