// Six decimals of the exact value of a double, by integer arithmetic: a
// finite double is m * 2^e with an integer m below 2^53, so the value times
// 10^6 is m * 10^6 * 2^e, an integer when e >= 0 and otherwise that integer's
// quotient by 2^-e, rounded half to even on the discarded bits. The largest
// such number, below 2^1044, fits 33 limbs of 32 bits.
//
// The C++ library's std::to_chars would do the same, but only from the
// libstdc++ of GCC 11 on, which the oldest Linux systems the module supports
// do not have; printf depends on the process's locale.
#include "decimal_text.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace velarix {
namespace {

constexpr std::size_t kLimbs = 33;
constexpr unsigned kLimbBits = 32;
constexpr std::uint32_t kMillion = 1000000;
constexpr std::size_t kDecimals = 6;

// An unsigned integer of kLimbs limbs, the least significant first.
using WideInteger = std::array<std::uint32_t, kLimbs>;

WideInteger from_product(std::uint64_t value, std::uint32_t factor) {
    WideInteger n{};
    const std::uint64_t low = (value & 0xFFFFFFFFu) * factor;
    const std::uint64_t high = (value >> kLimbBits) * factor + (low >> kLimbBits);
    n[0] = static_cast<std::uint32_t>(low);
    n[1] = static_cast<std::uint32_t>(high);
    n[2] = static_cast<std::uint32_t>(high >> kLimbBits);
    return n;
}

bool bit_at(const WideInteger& n, unsigned position) {
    return position < kLimbs * kLimbBits && ((n[position / kLimbBits] >> (position % kLimbBits)) & 1u) != 0;
}

bool any_bit_below(const WideInteger& n, unsigned position) {
    for (unsigned limb = 0; limb < kLimbs && limb * kLimbBits < position; ++limb) {
        const unsigned bits = position - limb * kLimbBits;
        const std::uint32_t mask = bits >= kLimbBits ? 0xFFFFFFFFu : (std::uint32_t{1} << bits) - 1;
        if ((n[limb] & mask) != 0) {
            return true;
        }
    }
    return false;
}

// n * 2^shift; the caller keeps the result within the limbs.
WideInteger shifted_left(const WideInteger& n, unsigned shift) {
    WideInteger result{};
    const unsigned words = shift / kLimbBits;
    const unsigned bits = shift % kLimbBits;
    for (std::size_t i = 0; i + words < kLimbs; ++i) {
        const std::uint64_t moved = std::uint64_t{n[i]} << bits;
        result[i + words] |= static_cast<std::uint32_t>(moved);
        if (i + words + 1 < kLimbs) {
            result[i + words + 1] |= static_cast<std::uint32_t>(moved >> kLimbBits);
        }
    }
    return result;
}

// n / 2^shift, truncated.
WideInteger shifted_right(const WideInteger& n, unsigned shift) {
    WideInteger result{};
    const unsigned words = shift / kLimbBits;
    const unsigned bits = shift % kLimbBits;
    for (std::size_t i = 0; i + words < kLimbs; ++i) {
        const std::uint64_t next = i + words + 1 < kLimbs ? n[i + words + 1] : 0;
        result[i] = static_cast<std::uint32_t>(((next << kLimbBits) | n[i + words]) >> bits);
    }
    return result;
}

void increment(WideInteger& n) {
    for (std::uint32_t& limb : n) {
        if (++limb != 0) {
            return;
        }
    }
}

bool is_zero(const WideInteger& n) {
    for (const std::uint32_t limb : n) {
        if (limb != 0) {
            return false;
        }
    }
    return true;
}

// Divides n by `divisor` in place and returns the remainder.
std::uint32_t divide(WideInteger& n, std::uint32_t divisor) {
    std::uint64_t remainder = 0;
    std::size_t top = kLimbs;
    while (top > 0 && n[top - 1] == 0) {
        --top;
    }
    for (std::size_t i = top; i-- > 0;) {
        const std::uint64_t current = (remainder << kLimbBits) | n[i];
        n[i] = static_cast<std::uint32_t>(current / divisor);
        remainder = current % divisor;
    }
    return static_cast<std::uint32_t>(remainder);
}

// round(|x| * 10^6), ties to even, for a finite x.
WideInteger millionths(double magnitude) {
    const auto bits = std::bit_cast<std::uint64_t>(magnitude);
    const auto biased_exponent = static_cast<int>(bits >> 52);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    // Subnormals have the exponent of the smallest normal and no leading one.
    const std::uint64_t m = biased_exponent == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
    const int e = (biased_exponent == 0 ? 1 : biased_exponent) - 1075;
    const WideInteger scaled = from_product(m, kMillion);
    if (e >= 0) {
        return shifted_left(scaled, static_cast<unsigned>(e));
    }
    const auto dropped = static_cast<unsigned>(-e);
    WideInteger result = shifted_right(scaled, dropped);
    const bool above_half = bit_at(scaled, dropped - 1);
    const bool exactly_half = above_half && !any_bit_below(scaled, dropped - 1);
    if (above_half && (!exactly_half || bit_at(result, 0))) {
        increment(result);
    }
    return result;
}

}  // namespace

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
    // Digits come out least significant first; at least one before the point.
    WideInteger n = millionths(magnitude);
    std::array<char, kFixed6MaxLength> reversed;
    std::size_t count = 0;
    while (count <= kDecimals || !is_zero(n)) {
        reversed[count++] = static_cast<char>('0' + divide(n, 10));
    }
    while (count > 0) {
        *out++ = reversed[--count];
        if (count == kDecimals) {
            *out++ = '.';
        }
    }
    return out;
}

}  // namespace velarix
