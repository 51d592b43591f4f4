#include "sync/userlogout.h"

#include "service/zeromanager.h"
#include "store/configuremanager.h"
#include "sync/pushclipsmanager.h"

namespace UserLogout {

void logOut()
{
    // While the token and the key are still this login's: the requests carry both.
    PushClipsManager::sharedInstance().sendOwedDeletes();
    // The keychain item is named after the user id, which the token's removal leaves known,
    // but the key must be gone before anything can react to the logout.
    ZeroManager::sharedInstance().cleanKeyInfo();
    ConfigureManager::sharedInstance().setLoginUserToken(std::nullopt);
}

}  // namespace UserLogout
