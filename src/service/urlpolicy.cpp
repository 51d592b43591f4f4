#include "service/urlpolicy.h"

#include <QHostAddress>

namespace UrlPolicy {

namespace {

int defaultPort(const QString& scheme)
{
    if (scheme == QLatin1String("https"))
        return 443;
    if (scheme == QLatin1String("http"))
        return 80;
    return -1;
}

}  // namespace

bool isLoopbackHost(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool isSecureOrLoopback(const QUrl& url)
{
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    return scheme == QLatin1String("http") && isLoopbackHost(url.host());
}

bool isSameOrigin(const QUrl& a, const QUrl& b)
{
    const QString scheme = a.scheme().toLower();
    if (scheme != b.scheme().toLower() || a.host().isEmpty())
        return false;
    if (a.host().compare(b.host(), Qt::CaseInsensitive) != 0)
        return false;
    const int port = defaultPort(scheme);
    return a.port(port) == b.port(port);
}

}  // namespace UrlPolicy
