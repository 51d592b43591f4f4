#include "service/initrequestmanager.h"

#include "platform/numberreader.h"
#include "service/serverpublickey.h"
#include "service/servertext.h"
#include "service/zeromanager.h"
#include "store/clipuserdefaults.h"
#include "store/configuremanager.h"
#include "store/defaultskeys.h"
#include "store/deviceidentity.h"
#include "store/utils.h"

#include <QUrl>
#include <QVariantMap>

namespace {

// The pages are opened in the user's browser: only a web address is kept.
void storePage(const QVariantMap& data, const QString& replyKey, QLatin1String settingsKey)
{
    UserDefaults& defaults = ClipUserDefaults::standardUserDefaults();
    const auto value = ServerText::bounded(data.value(replyKey), ServerText::kMaxAddressChars);
    if (value) {
        const QUrl url(*value, QUrl::StrictMode);
        if (url.isValid() && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
            && !url.host().isEmpty()) {
            defaults.setValue(settingsKey, *value);
            return;
        }
    }
    defaults.remove(settingsKey);
}

}  // namespace

InitRequestManager::InitRequestManager()
    : device_name(urlencode(hostDeviceName()))
{
}

QString InitRequestManager::methodURL() const
{
    return baseURL() + QStringLiteral("/init/");
}

QString InitRequestManager::combinURL() const
{
    QString text = RequestManager::combinURL() + QStringLiteral("&device_name=") + device_name;
    if (ConfigureManager::sharedInstance().isLogined())
        text += tokenParameter();
    return percentEscape(text);
}

bool InitRequestManager::isContinueRequest() const
{
    return true;
}

QVariant InitRequestManager::parse(const QByteArray& data)
{
    const QVariant decoded = decodeJsonObject(data);
    if (!decoded.isValid())
        return {};
    const QVariantMap reply = decoded.toMap();
    // The reply speaks of the login it was sent with; after a logout or another login it
    // must not drop the new login's key or log it out.
    const bool sameLogin = isSameLoginAsSent();
    if (sameLogin)
        ZeroManager::sharedInstance().checkServerCipher(reply.value(QStringLiteral("cipher")));

    const auto code = NumberReader::jsonInteger(reply.value(QStringLiteral("code")));
    if (!code || *code != 0) {
        // Only a token this request carried can expire; logging out someone who was not
        // logged in would purge their local history.
        const bool carriedToken = sentUserToken() && !sentUserToken()->isEmpty();
        if (NumberReader::jsonIntegerOrZero(reply.value(QStringLiteral("token_expire"))) == 1 && carriedToken
            && sameLogin)
            ConfigureManager::loginEndedByServiceLater(*sentUserToken());
        return reply;
    }

    const QVariantMap pages = reply.value(QStringLiteral("data")).toMap();
    storePage(pages, QStringLiteral("homepage"), DefaultsKey::Homepage);
    storePage(pages, QStringLiteral("developer"), DefaultsKey::DeveloperPage);
    storePage(pages, QStringLiteral("e2ee"), DefaultsKey::E2eePage);

    if (const auto key = ServerPublicKey::decode(reply.value(QStringLiteral("public_key"))))
        ServerPublicKey::store(*key);
    else
        ServerPublicKey::remove();
    return reply;
}
