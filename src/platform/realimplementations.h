#pragma once

#include <memory>

class DeviceInfo;
class GlobalHotkey;
class Keychain;
class LoginItems;
class Pasteboard;
class PasteKeystroke;
class PowerEvents;
class Reminders;
class Sharing;
class UserNotifications;

// The desktop's own implementation of each interface. One file of the platform's folder
// defines them all (linux/realimplementations.cpp), so the interfaces name no desktop class
// and another desktop is one file and its folder.
std::shared_ptr<DeviceInfo> makeRealDeviceInfo();
std::shared_ptr<GlobalHotkey> makeRealGlobalHotkey();
std::shared_ptr<Keychain> makeRealKeychain();
std::shared_ptr<LoginItems> makeRealLoginItems();
std::shared_ptr<Pasteboard> makeRealPasteboard();
std::shared_ptr<PasteKeystroke> makeRealPasteKeystroke();
std::shared_ptr<PowerEvents> makeRealPowerEvents();
std::shared_ptr<Sharing> makeRealSharing();
std::shared_ptr<UserNotifications> makeRealUserNotifications();
// The store used when start-up configured none: it keeps nothing across runs.
std::shared_ptr<Reminders> makeFallbackReminders();
