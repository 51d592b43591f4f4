#include "platform/deviceinfo.h"

#include "platform/currentimplementation.h"
#include "platform/realimplementations.h"

namespace {
CurrentImplementation<DeviceInfo>& slot()
{
    static CurrentImplementation<DeviceInfo> implementation(&makeRealDeviceInfo);
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
