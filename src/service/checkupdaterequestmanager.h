#pragma once

#include "service/requestmanager.h"

// The update check ("/check_version/"), always sent. Its result is the decoded reply (a
// QVariantMap for an object); callers read "code" and, inside "data", "version",
// "update_info" and "download_url" themselves.
class CheckUpdateRequestManager : public RequestManager {
public:
    QString methodURL() const override;
    QString combinURL() const override;
    bool isContinueRequest() const override;
    QVariant parse(const QByteArray& data) override;
};
