#pragma once

#include "service/requesterror.h"

#include <QLatin1String>
#include <QString>

// The errors of the body transfers, shared by the upload and the download: a refused or failed
// transfer is code -1 of the download domain, whichever way the body went; a body that could
// not be encrypted for its upload is code -2 of the upload domain. Transport errors pass
// through unchanged.
namespace TransferError {

inline constexpr QLatin1String kDomain{"com.nuvarel.download"};
inline constexpr QLatin1String kUploadDomain{"com.nuvarel.upload"};

// Code -1 of kDomain, with {"error": info} when info is given.
inline RequestError failed(const QString& info = QString())
{
    RequestError e{QString(kDomain), -1, {}};
    if (!info.isEmpty())
        e.userInfo.insert(QStringLiteral("error"), info);
    return e;
}

// Code -2 of kUploadDomain.
inline RequestError notEncrypted()
{
    return RequestError{QString(kUploadDomain), -2, {}};
}

}  // namespace TransferError
