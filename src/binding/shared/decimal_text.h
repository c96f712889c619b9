// The six-decimal text of a double used by the repr of PyGreeks: the exact
// decimal value rounded half-to-even, never an exponent. Kept free of the
// interpreter's headers so that it can be tested on its own.
#pragma once

#include <cstddef>

namespace velarix {

// Sign, 309 integer digits of the largest double, the point and six decimals.
inline constexpr std::size_t kFixed6MaxLength = 317;

// Writes the text of `x` at `out`, which must have room for kFixed6MaxLength
// characters, and returns the end of the text. NaN of either sign is "NaN",
// the infinities "inf" and "-inf"; a set sign bit always gives a minus sign,
// so negative zero is "-0.000000".
char* format_fixed6(double x, char* out);

}  // namespace velarix
