#pragma once
// Numbers from configuration text, read the way the C library's atoi, atol
// and atof read them: leading blanks skipped, an optional sign, the longest
// numeric prefix, 0 when there is none ("12abc" is 12, "abc" is 0).
//
// Out-of-range text saturates to the int32 limits, as the C library does on
// the 32-bit controller where long is 32 bits; this keeps results the same
// on every build and avoids the undefined conversions of a plain cast.

#include <cstdint>
#include <string>

namespace halvex {

// atoi / atol on a 32-bit controller.
std::int32_t TextToInt(const std::string& text);
// atof, rounded to the nearest float (beyond the float range: infinity).
float TextToFloat(const std::string& text);
// atof, truncated toward zero to int32; saturates, NaN gives 0.
std::int32_t TextToTruncatedInt(const std::string& text);

}  // namespace halvex
