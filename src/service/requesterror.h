#pragma once

#include <QString>
#include <QVariantMap>

// A failed request or transfer, as callbacks report it: a domain, an integer code and
// optional details.
struct RequestError {
    QString domain;
    int code = 0;
    QVariantMap userInfo;
};
