#include "sync/replylogin.h"

#include "store/configuremanager.h"

namespace ReplyLogin {

quint64 current()
{
    return ConfigureManager::sharedInstance().loginEpoch();
}

bool holds(quint64 epoch)
{
    return ConfigureManager::sharedInstance().isLoginEpoch(epoch);
}

Scope::Scope(quint64 epoch, const QString& what)
    : m_condition([epoch] { return holds(epoch); }, what)
{
}

}  // namespace ReplyLogin
