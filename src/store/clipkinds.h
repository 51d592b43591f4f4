#pragma once

#include <QLatin1String>

// Clip type strings: a kind and an extension joined by "_", then modifiers joined by "+".
namespace ClipKind {
// Kinds (the part of the type before the first "_"); sync handles these three.
inline constexpr QLatin1String Text("text");
inline constexpr QLatin1String Image("image");
inline constexpr QLatin1String File("file");

// Whole kind-and-extension parts of captured types.
inline constexpr QLatin1String TextTxt("text_txt");
inline constexpr QLatin1String TextLarge("text_large");
inline constexpr QLatin1String TextUrlHttp("text_url_http");
inline constexpr QLatin1String ImageData("image_data");
// Extensions of a text typed as a link begin with this ("url_http").
inline constexpr QLatin1String UrlExtensionPrefix("url");

// Modifiers.
inline constexpr QLatin1String ModifierEnc("enc");
inline constexpr QLatin1String ModifierZip("zip");

inline constexpr char KindSeparator = '_';
inline constexpr char ModifierSeparator = '+';
}  // namespace ClipKind
