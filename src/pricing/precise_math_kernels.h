// exp, expm1, log and the standard normal distribution function and density,
// to full double precision from + - * / and bit manipulation alone, so that
// they give the same bits on every CPU, OS and C runtime. Each is written once,
// as a template over the value type V: double, or Lanes (simd_lanes.h), where
// every lane does the scalar operations in the scalar order. The kernels have
// no branches: each special case is computed alongside and chosen by select.
//
// The kernels are always inlined, so that Lanes instances compile inside the
// caller's target("avx512f") function. precise_math.h is the public face.
#pragma once

#include <cstdint>
#include <limits>

#include "precise_math_tables.h"
#include "simd_lanes.h"

namespace velarix::precise::kernels {

#define VELARIX_KERNEL VELARIX_ALWAYS_INLINE

using namespace tables;

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();
// The NaN of an invalid argument: a constant, since CPUs differ in the NaN
// their invalid operations produce.
inline constexpr double kQuietNaN = std::numeric_limits<double>::quiet_NaN();
// Adding 1.5 * 2^52 rounds a double of magnitude below 2^51 to an integer,
// which then sits in the low bits of the sum's bit pattern.
inline constexpr double kRoundingShifter = 0x1.8p52;
inline constexpr std::int64_t kAbsMask = 0x7fffffffffffffff;
inline constexpr int kMantissaBits = 52;

// sum c[k] x^k by Horner's scheme.
template <class V, std::size_t N>
VELARIX_KERNEL V polynomial(V x, const double (&c)[N]) {
    V sum = c[N - 1];
    for (std::size_t k = N - 1; k-- > 0;) {
        sum = sum * x + c[k];
    }
    return sum;
}

// a + b = high + low exactly (Knuth's two-sum).
template <class V>
struct SumOfTwo {
    V high;
    V low;
};

template <class V>
VELARIX_KERNEL SumOfTwo<V> two_sum(V a, V b) {
    V high = a + b;
    V b_part = high - a;
    return {high, (a - (high - b_part)) + (b - b_part)};
}

// a b = high + low exactly (Dekker's product, halves by Veltkamp's split),
// for |a|, |b| below 2^995 and a b not subnormal.
template <class V>
VELARIX_KERNEL SumOfTwo<V> exact_product(V a, V b) {
    constexpr double kSplitter = 0x1p27 + 1.0;
    V a_scaled = a * kSplitter;
    V a_high = a_scaled - (a_scaled - a);
    V a_low = a - a_high;
    V b_scaled = b * kSplitter;
    V b_high = b_scaled - (b_scaled - b);
    V b_low = b - b_high;
    V high = a * b;
    return {high, (((a_high * b_high - high) + a_high * b_low) + a_low * b_high) + a_low * b_low};
}

// y 2^n for y in [0.99, 2.01) and -1077 <= n <= 1024, rounded once: two
// exact scalings by normal powers of two, the second rounding into the
// subnormals or to infinity.
template <class V>
VELARIX_KERNEL V scale_by_power_of_two(V y, Int<V> n) {
    Int<V> half = n >> 1;
    Int<V> rest = n - half;
    return (y * from_bits((half + 1023) << kMantissaBits)) * from_bits((rest + 1023) << kMantissaBits);
}

// high + low = n ln2 + j ln2/128 + r_high + r_low, |r_high| <= ln2/256,
// r_low below r_high's last bit, for |low| small against |high| or zero.
// power_high + power_low = 2^(j/128).
template <class V>
struct ExpReduction {
    Int<V> n;
    V power_high;
    V power_low;
    V r_high;
    V r_low;
};

template <class V>
VELARIX_KERNEL ExpReduction<V> reduce_exp(V high, V low) {
    constexpr std::int64_t kTableMask = (1 << kExpTableLog2) - 1;
    V shifted = high * kInvExpStep + kRoundingShifter;
    V m = shifted - kRoundingShifter;
    V reduced = high - m * kExpStepHigh;  // exact: m kExpStepHigh is, and lies near high
    V correction = m * kExpStepLow - low;
    V r_high = reduced - correction;
    V r_low = (reduced - r_high) - correction;
    Int<V> m_bits = bits(shifted) - bits(kRoundingShifter);
    Int<V> index = (m_bits & Int<V>(kTableMask)) << 1;
    const double* powers = &kExpPowers[0][0];
    return {m_bits >> kExpTableLog2, gather(powers, index), gather(powers + 1, index), r_high, r_low};
}

// exp(r_high + r_low) - 1 - r_high, below 2^-8 |r_high| (r_high r_low is
// below 2^-8 of r_low's last bit, and left out).
template <class V>
VELARIX_KERNEL V expm1_tail(const ExpReduction<V>& r) {
    return r.r_low + (r.r_high * r.r_high) * polynomial(r.r_high, kExpTail);
}

// exp(high + low) = 2^n (p_high + (p_high s + p_low)), s = exp(r) - 1; the
// terms after p_high are below 2^-6 of it, their errors far below its ulp.
template <class V>
VELARIX_KERNEL V exp_of_sum(V high, V low) {
    high = select(high > 710.0, V(710.0), high);  // beyond: +inf
    high = select(high < -746.0, V(-746.0), high);  // beyond: +0
    ExpReduction<V> r = reduce_exp(high, low);
    V y = r.power_high + (r.power_high * (r.r_high + expm1_tail(r)) + r.power_low);
    return scale_by_power_of_two(y, r.n);
}

template <class V>
VELARIX_KERNEL V exp(V x) {
    return select(x != x, x + x, exp_of_sum(x, V(0.0)));
}

// exp(x) - 1 = 2^n ((p_high - 2^-n) + p_high r_high + p_high tail + p_low (1 + r_high)).
// Near 0 the first two terms nearly cancel (|x| just above ln2/256: 2^(127/128)
// - 2 + 2^(127/128) r_high), so each is taken exactly, and their sum as a sum
// of two; the rest is below 2^-6 of the result.
template <class V>
VELARIX_KERNEL V expm1(V x) {
    V clamped = select(x > 710.0, V(710.0), x);  // beyond: +inf
    clamped = select(clamped < -50.0, V(-50.0), clamped);  // beyond: -1
    ExpReduction<V> r = reduce_exp(clamped, V(0.0));
    // 2^-n, or 0 where it lies below 2^-60 of p_high, far below its last bit.
    Int<V> n_for_power = select(r.n > Int<V>(60), Int<V>(60), r.n);
    V power = select(r.n > Int<V>(60), V(0.0), from_bits((1023 - n_for_power) << kMantissaBits));
    SumOfTwo<V> difference = two_sum(r.power_high, -power);
    SumOfTwo<V> product = exact_product(r.power_high, r.r_high);
    SumOfTwo<V> sum = two_sum(difference.high, product.high);
    V rest = ((sum.low + difference.low) + product.low) +
             (r.power_high * expm1_tail(r) + (r.power_low + r.power_low * r.r_high));
    V result = scale_by_power_of_two(sum.high + rest, r.n);
    return select(x != x, x + x, select(x == 0.0, x, result));
}

template <class V>
VELARIX_KERNEL V log(V x) {
    constexpr double kSqrtHalf = 0x1.6a09e667f3bcdp-1;
    // |x|: a negative x (its result is NaN, chosen below) would make the
    // integer arithmetic on its bits overflow.
    V magnitude = from_bits(bits(x) & Int<V>(kAbsMask));
    auto subnormal = magnitude < 0x1p-1022;
    V normal = select(subnormal, magnitude * 0x1p54, magnitude);
    Int<V> exponent_offset = select(subnormal, Int<V>(54), Int<V>(0));
    // x = 2^k m with m in [sqrt(1/2), sqrt(2)).
    Int<V> k = (bits(normal) - bits(kSqrtHalf)) >> kMantissaBits;
    V m = from_bits(bits(normal) - (k << kMantissaBits));
    V k_value = from_bits(k - exponent_offset + bits(kRoundingShifter)) - kRoundingShifter;
    V f = m - 1.0;  // exact
    V half_f_squared = (0.5 * f) * f;
    V s = f / (2.0 + f);
    V s_squared = s * s;
    V series = s * (half_f_squared + s_squared * polynomial(s_squared, kLogSeries)) - half_f_squared;
    // k ln2 + f, exactly as high + low.
    SumOfTwo<V> sum = two_sum(k_value * kLn2High, f);  // the product is exact
    V result = sum.high + (sum.low + (k_value * kLn2Low + series));
    result = select(x == kInfinity, x, result);
    result = select(x < 0.0, V(kQuietNaN), result);
    result = select(x == 0.0, V(-kInfinity), result);
    return select(x != x, x + x, result);
}

// exp(-a^2/2) for a >= 0: a = a_high + a_low, a_high with 26 significant bits
// so that a_high^2 is exact, and the rest (a_low (a + a_high)) small enough
// that its rounding does not count, which exp(-a^2/2) with a^2 rounded would:
// its error is a^2 times that of a^2 (near 700 ulps at a = 37).
template <class V>
VELARIX_KERNEL V exp_of_minus_half_square(V a) {
    V a_high = from_bits(bits(a) & Int<V>(~std::int64_t{0} << 27));
    V a_low = a - a_high;
    return exp_of_sum(-0.5 * (a_high * a_high), -0.5 * (a_low * (a + a_high)));
}

// |x|, clamped to the range where phi and Phi(-|x|) are not 0; a NaN too
// (its result is chosen later), so that the table index stays in the table.
template <class V>
VELARIX_KERNEL V tail_argument(V x) {
    V a = from_bits(bits(x) & Int<V>(kAbsMask));
    return select(a < kTailClamp, a, V(kTailClamp));
}

template <class V>
VELARIX_KERNEL V normal_pdf(V x) {
    V e = exp_of_minus_half_square(tail_argument(x));
    return select(x != x, x + x, e * kInvSqrt2PiHigh + e * kInvSqrt2PiLow);
}

// Q(a) = Phi(-a) exp(a^2/2) for 0 <= a <= kTailClamp, from its table row.
template <class V>
VELARIX_KERNEL V normal_tail_ratio(V a) {
    constexpr int kRowShift = kMantissaBits - kTailSplitsLog2;
    Int<V> row = (bits(a) >> kRowShift) - ((bits(kTailFirstBinadeStart) >> kRowShift) - 1);
    row = select(row < Int<V>(0), Int<V>(0), row);
    Int<V> index = row << 4;
    V entries[2 + kTailDegree];  // the row's centre, then its coefficients
    gather_row(&kTailTable[0][0], index, entries);
    V d = a - entries[0];
    V q = entries[1 + kTailDegree];
    for (int k = kTailDegree; k-- > 0;) {
        q = q * d + entries[1 + k];
    }
    return q;
}

// Phi(-a) = exp(-a^2/2) Q(a) for 0 <= a <= kTailClamp.
template <class V>
VELARIX_KERNEL V normal_tail(V a) {
    return exp_of_minus_half_square(a) * normal_tail_ratio(a);
}

template <class V>
VELARIX_KERNEL V normal_cdf(V x) {
    V tail = normal_tail(tail_argument(x));
    return select(x != x, x + x, select(x > 0.0, 1.0 - tail, tail));
}

#undef VELARIX_KERNEL

}  // namespace velarix::precise::kernels
