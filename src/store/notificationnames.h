#pragma once

#include <QLatin1String>

// Every notification name the app posts or observes. A typo in a bare literal compiles and
// never fires; a misspelt constant does not compile.
namespace NotificationName {
// Clips, favourites, plugins or the key changed; the clip menu rebuilds.
inline constexpr QLatin1String DataChanged("DATA_CHANGED");
// Clips deleted by sync: the deleted clip as object, or none when a clear removed several.
inline constexpr QLatin1String HistoryDelete("history_delete");
// A clip's body has just been stored (object: the clip).
inline constexpr QLatin1String FileDownloadDone("FILE_DOWNLOAD_DONE");
// A download left no body to move.
inline constexpr QLatin1String AllFileDownloadDone("ALL_FILE_DOWNLOAD_DONE");
// The stored end-to-end key changed or the local key was dropped.
inline constexpr QLatin1String ZeroChanged("ZERO_CHANGED");
inline constexpr QLatin1String UserLogined("USER_LOGINED");
inline constexpr QLatin1String UserLogouted("USER_LOGOUTED");
// A plugin was installed from the store.
inline constexpr QLatin1String PluginChanged("NOTIF_PLUGIN_CHANGED");
}  // namespace NotificationName

// Keys of a notification's user info.
namespace NotificationKey {
// "USER_LOGOUTED": true when the service ended the login and the local history is kept.
inline constexpr QLatin1String KeepsHistory("keepsHistory");
}  // namespace NotificationKey
