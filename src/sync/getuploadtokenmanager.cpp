#include "sync/getuploadtokenmanager.h"

#include "platform/numberreader.h"
#include "service/zeromanager.h"
#include "store/configuremanager.h"

QString GetUploadTokenManager::methodURL() const
{
    return baseURL() + QStringLiteral("/get_upload_token/");
}

QString GetUploadTokenManager::combinURL() const
{
    const QString hash = history ? history->file_hash().value_or(QString()) : QString();
    const qint64 fileId = history ? NumberReader::wholeNumber(history->file_id()).value_or(0) : 0;
    return percentEscape(RequestManager::combinURL() + tokenParameter() + QStringLiteral("&file_hash=") + hash
                         + QStringLiteral("&file_id=") + QString::number(fileId));
}

bool GetUploadTokenManager::isContinueRequest() const
{
    return ZeroManager::sharedInstance().state() != 0 && RequestManager::isContinueRequest();
}

QVariant GetUploadTokenManager::parse(const QByteArray& data)
{
    return decodeJson(data);
}
