#pragma once

#include "service/requestmanager.h"
#include "store/historymodel.h"

// GET "/get_upload_token/" for one clip body: the reply is a signed form for the object store.
// Made anew for each upload.
class GetUploadTokenManager : public RequestManager {
public:
    HistoryModelPtr history;

    QString methodURL() const override;
    // The common query, "&user_token=", "&file_hash=" and "&file_id=", percent-escaped.
    QString combinURL() const override;
    // A user is logged in and the key state is 1.
    bool isContinueRequest() const override;
    // The reply as decoded JSON, unchanged.
    QVariant parse(const QByteArray& data) override;
};
