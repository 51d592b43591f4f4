#include "sync/historyservice.h"

#include "platform/dispatch.h"
#include "platform/numberreader.h"
#include "store/configuremanager.h"
#include "store/dbkeeper.h"
#include "store/utils.h"
#include "sync/fileservice.h"
#include "sync/pushclipsmanager.h"
#include "sync/replylogin.h"

#include <QMutexLocker>

#include <spdlog/spdlog.h>

HistoryService& HistoryService::sharedInstance()
{
    static HistoryService instance;
    return instance;
}

void HistoryService::process()
{
    {
        QMutexLocker lock(&m_mutex);
        m_setAside.clear();
    }
    next();
}

void HistoryService::next()
{
    QMutexLocker lock(&m_mutex);
    if (!ConfigureManager::sharedInstance().isLogined()) {
        m_isRunning = false;
        return;
    }
    if (m_isRunning)
        return;
    const HistoryModelPtr clip = DBKeeper::getUnProcessHistory(QStringList(m_setAside.cbegin(), m_setAside.cend()));
    if (!clip || !isSyncableType(clip->type())) {
        m_isRunning = false;
        lock.unlock();
        FileService::sharedInstance().process();
        return;
    }
    m_isRunning = true;
    const quint64 generation = m_generation;
    const quint64 epoch = ReplyLogin::current();
    const QString hash = clip->file_hash().value_or(QString());
    auto done = [this, clip, hash, generation, epoch](const QVariant&, const std::optional<RequestError>& error,
                                                      PushClipsManager::Outcome outcome) {
        ReplyLogin::Scope scope(epoch);
        if (error) {
            // A refusal with a code came with the parsed reply; a transport failure without.
            if (!error->userInfo.isEmpty()) {
                spdlog::warn("history upload: the server refused {} (code {}); passed over until the next trigger",
                             hash.toStdString(), error->code);
                QMutexLocker lock(&m_mutex);
                if (generation == m_generation)
                    m_setAside.insert(hash);
                lock.unlock();
                finish(generation);
                return;
            }
            QMutexLocker lock(&m_mutex);
            if (generation == m_generation)
                m_isRunning = false;
            return;
        }
        if (outcome == PushClipsManager::Outcome::InFlight) {
            // Its own reply settles the mark; clearing it here could lose a newer change.
            QMutexLocker lock(&m_mutex);
            if (generation == m_generation)
                m_isRunning = false;
            return;
        }
        clip->return_to_zero_change_count();
        finish(generation);
    };
    if (NumberReader::wholeNumber(clip->history_id()).value_or(0) != 0)
        PushClipsManager::sharedInstance().Put(clip, std::move(done));
    else
        PushClipsManager::sharedInstance().Post(clip, std::move(done));
}

void HistoryService::finish(quint64 generation)
{
    {
        QMutexLocker lock(&m_mutex);
        if (generation != m_generation)
            return;
        m_isRunning = false;
    }
    dispatch::mainAsync([this] { next(); });
}

bool HistoryService::isRunning() const
{
    QMutexLocker lock(&m_mutex);
    return m_isRunning;
}

void HistoryService::setIsRunning(bool running)
{
    QMutexLocker lock(&m_mutex);
    m_isRunning = running;
}

void HistoryService::resetForTesting()
{
    QMutexLocker lock(&m_mutex);
    m_isRunning = false;
    m_setAside.clear();
    ++m_generation;
}
