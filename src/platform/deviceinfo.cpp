#include "platform/deviceinfo.h"

#include "platform/currentimplementation.h"
#include "platform/linux/systemdeviceinfo.h"

namespace {
CurrentImplementation<DeviceInfo>& slot()
{
    static CurrentImplementation<DeviceInfo> implementation(
        []() -> std::shared_ptr<DeviceInfo> { return std::make_shared<SystemDeviceInfo>(); });
    return implementation;
}
}  // namespace

DeviceInfo& DeviceInfo::current()
{
    return slot().get();
}

void DeviceInfo::setCurrent(std::shared_ptr<DeviceInfo> info)
{
    slot().set(std::move(info));
}
