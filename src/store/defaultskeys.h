#pragma once

#include <QLatin1String>

// Every key of the settings store (UserDefaults). A boolean key that is absent reads as its
// default, given here beside the key where there is one.
namespace DefaultsKey {
// Account state (ConfigureManager).
inline constexpr QLatin1String LoginUserToken("loginUserToken");
inline constexpr QLatin1String LoginUserId("loginUserId");
inline constexpr QLatin1String LoginUserEmail("loginUserEmail");
inline constexpr QLatin1String UserKeyWords("userKeyWords");
// The user id whose local history was kept when the service ended that login by itself
// (a rejected or expired token); absent when nothing is kept for anybody.
inline constexpr QLatin1String HistoryKeptForUserId("historyKeptForUserId");

// The user ids this device has seen holding a key record wrapped the current way ("2.0"): an
// older record offered for them later is refused (a list of texts).
inline constexpr QLatin1String CurrentWrapUserIds("currentWrapUserIds");

// Device identity.
inline constexpr QLatin1String DeviceToken("deviceToken");

// Privacy and capture switches.
inline constexpr QLatin1String AnalyseSecert("analyseSecert");        // default YES
inline constexpr QLatin1String FileAsSecert("fileAsSecert");          // default YES
inline constexpr QLatin1String AutoSetPasteboard("autoSetPasteboard");  // default NO
inline constexpr QLatin1String AdvancePrivacy("advancePrivacy");      // default NO
inline constexpr QLatin1String ClipMonitorSpeed("CLIP_MONITOR_SPEED");  // seconds, default 0.6

// The global hotkey: macOS virtual key code and modifier mask; -8192 in either means off.
inline constexpr QLatin1String KeyCode("keyCode");
inline constexpr QLatin1String ModifierFlags("modifierFlags");

// Update check.
inline constexpr QLatin1String NewVersion("newversion");

// Plugins and the privacy script.
inline constexpr QLatin1String PrivacyScript("privacy_script");
inline constexpr QLatin1String PluginUsedCountDict("plugin_used_count_dict");

// Web service: the server's 32-byte public key and the pages the init reply names.
inline constexpr QLatin1String ServerPublicKey("server_public_key");
inline constexpr QLatin1String Homepage("homepage");
inline constexpr QLatin1String DeveloperPage("developerPage");
inline constexpr QLatin1String E2eePage("e2eePage");

// Sync bookmark.
inline constexpr QLatin1String LastPullRequestTime("lastPullRequestTime");  // default "0"

// Where the web service lives: scheme, host and port without a trailing slash; the broker.
inline constexpr QLatin1String ApiBaseURL("apiBaseURL");
inline constexpr QLatin1String MqttHost("mqttHost");
inline constexpr QLatin1String MqttPort("mqttPort");
}  // namespace DefaultsKey
