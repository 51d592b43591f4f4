#pragma once

#include "service/requestmanager.h"

// The plugin store list ("/plugins/"), always sent. Its result is the decoded reply,
// unchanged; the plugin store reads "plugin_url" and "plugin_dict" from it.
class PluginListRequestManager : public RequestManager {
public:
    QString methodURL() const override;
    QString combinURL() const override;
    bool isContinueRequest() const override;
    QVariant parse(const QByteArray& data) override;
};
