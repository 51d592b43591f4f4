#pragma once

#include "store/dbfetcher.h"

#include <QtGlobal>

// A sync reply belongs to the login it was sent under. The epoch (ConfigureManager's login
// epoch) is taken when a request is made; where the reply writes, the check is made again on
// the database queue inside the block that writes, so a logout or a second login between the
// check and the write cannot let an ended login's reply change the store.
namespace ReplyLogin {

// The epoch to keep with a request made now.
quint64 current();
// The login the epoch names is still the current one.
bool holds(quint64 epoch);

// While it lives, every database block this thread starts runs only while the epoch holds.
// File moves into the clip folders check holds() under ClipFileManager::bodyLock(), which the
// logout purge takes after the epoch has moved on. A logout a reply asks for is posted to the
// main queue (ConfigureManager::loginEndedByServiceLater), never run under the scope.
class Scope {
public:
    // what names the reply in the log when the scope skips its database work.
    explicit Scope(quint64 epoch, const QString& what = QStringLiteral("a sync reply"));

private:
    DBFetcher::BlockCondition m_condition;
};

}  // namespace ReplyLogin
