// std::to_chars with a precision rounds the exact binary value of the double,
// ties to even, like printf in the C locale but independent of the process's
// locale, and writes every integer digit exactly.
#include "decimal_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace velarix {

char* format_fixed6(double x, char* out) {
    if (std::isnan(x)) {
        std::memcpy(out, "NaN", 3);
        return out + 3;
    }
    if (std::signbit(x)) {
        *out++ = '-';
    }
    const double magnitude = std::fabs(x);
    if (std::isinf(magnitude)) {
        std::memcpy(out, "inf", 3);
        return out + 3;
    }
    // The magnitude takes at most 316 characters: 309 digits, the point and six.
    return std::to_chars(out, out + (kFixed6MaxLength - 1), magnitude, std::chars_format::fixed, 6).ptr;
}

}  // namespace velarix
