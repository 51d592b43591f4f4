#pragma once

#include <QString>
#include <QUrl>

// Which addresses the system fetches from and follows. Plain http reaches anyone on the path,
// so it is taken only from this machine (the test servers); and a redirect never leaves the
// origin the request was sent to, so a server cannot send a body or a form somewhere else.
namespace UrlPolicy {

// "localhost" or an address of the loopback network (127.0.0.0/8, ::1).
bool isLoopbackHost(const QString& host);
// An absolute https URL with a host, or an http one whose host is a loopback address.
bool isSecureOrLoopback(const QUrl& url);
// The same scheme, host and port (a missing port is the scheme's default).
bool isSameOrigin(const QUrl& a, const QUrl& b);

}  // namespace UrlPolicy
