#pragma once

#include <QtGlobal>

#include <limits>

// The largest clip body the app captures, syncs or downloads: 5.5 MiB. The store's upload
// selections compare `file_size <= ?` with this bound in the query; everything else asks
// tooLarge().
namespace ClipBodyLimit {

inline constexpr qint64 kBytes = 5767168;

// A body of this many bytes is over the limit. The size is compared as a single-precision
// number, as the sync requests always have; for a whole number of bytes that is the plain
// comparison, since the limit and the byte after it are exact in a float. A size outside a
// float's range is over (or under) the limit outright, without the conversion.
constexpr bool tooLarge(double bytes)
{
    constexpr double kFloatMax = double(std::numeric_limits<float>::max());
    if (bytes > kFloatMax)
        return true;
    if (bytes < -kFloatMax)
        return false;
    return float(bytes) > float(kBytes);
}

}  // namespace ClipBodyLimit
