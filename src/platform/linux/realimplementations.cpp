#include "platform/realimplementations.h"

#include "platform/linux/keychainsecretservice.h"
#include "platform/linux/loginitemsxdg.h"
#include "platform/linux/powereventslogind.h"
#include "platform/linux/remindersicalendar.h"
#include "platform/linux/sharingdesktop.h"
#include "platform/linux/systemdeviceinfo.h"
#include "platform/linux/systempasteboard.h"
#include "platform/linux/usernotificationsdbus.h"
#include "platform/x11/globalhotkeyx11.h"
#include "platform/x11/x11pastekeystroke.h"

std::shared_ptr<DeviceInfo> makeRealDeviceInfo() { return std::make_shared<SystemDeviceInfo>(); }
std::shared_ptr<GlobalHotkey> makeRealGlobalHotkey() { return std::make_shared<GlobalHotkeyX11>(); }
std::shared_ptr<Keychain> makeRealKeychain() { return std::make_shared<KeychainSecretService>(); }
std::shared_ptr<LoginItems> makeRealLoginItems() { return std::make_shared<LoginItemsXdg>(); }
std::shared_ptr<Pasteboard> makeRealPasteboard() { return std::make_shared<SystemPasteboard>(); }
std::shared_ptr<PasteKeystroke> makeRealPasteKeystroke() { return std::make_shared<X11PasteKeystroke>(); }
std::shared_ptr<PowerEvents> makeRealPowerEvents() { return std::make_shared<PowerEventsLogind>(); }
std::shared_ptr<Sharing> makeRealSharing() { return std::make_shared<SharingDesktop>(); }
std::shared_ptr<UserNotifications> makeRealUserNotifications()
{
    return std::make_shared<UserNotificationsDBus>();
}
std::shared_ptr<Reminders> makeFallbackReminders() { return std::make_shared<RemindersICalendar>(QString()); }
