#include "sync/serviceoutage.h"

#include "platform/usernotifications.h"

#include <spdlog/spdlog.h>

ServiceOutage& ServiceOutage::sharedInstance()
{
    static ServiceOutage instance;
    return instance;
}

void ServiceOutage::uploadFailed()
{
    if (m_down.exchange(true))
        return;
    spdlog::warn("sync service unreachable: new clips stay on this device until it answers");
    UserNotification notification;
    notification.title = QStringLiteral("无法连接同步服务");
    notification.informativeText = QStringLiteral("新的剪贴已保存在本机, 连接恢复后会自动上传。");
    UserNotifications::current().deliverNotification(notification);
}

void ServiceOutage::uploadSucceeded()
{
    if (m_down.exchange(false))
        spdlog::info("sync service reachable again");
}
