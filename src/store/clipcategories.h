#pragma once

#include <QLatin1String>

// The two lists a clip row belongs to; a favourite is a second row with the same file_hash.
namespace ClipCategory {
inline constexpr QLatin1String History("history");
inline constexpr QLatin1String Favourite("favourite");
}  // namespace ClipCategory
