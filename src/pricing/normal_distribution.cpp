// erf and erfc by fixed rational approximations: a linear form for tiny
// arguments, one rational function below 0.5, and from 0.5 to 110 thirteen
// intervals on each of which erfc(z) = (Y + R(z - L)) * exp(-z*z) / z.
// Every constant and every operation order below is part of the results.
// The batches evaluate the same tables, lane by lane, in the same order
// (normal_distribution_lanes.cpp); this file chooses their path.
#include "normal_distribution.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstddef>

#include "normal_distribution_lanes.h"
#include "normal_distribution_tables.h"
#include "testing/pricing_test_hooks.h"

namespace velarix {
namespace {

using namespace normal_tables;

// Horner's scheme from the highest coefficient down. Starting in the zero
// padding gives the bits that starting at the last nonzero coefficient
// would: for a finite x, 0 * x is a zero and a zero plus a nonzero
// coefficient a is a itself, as is 0 * x + 0 a zero. Every x evaluated here
// is finite.
template <std::size_t Size>
double evaluate_polynomial(const Coefficients<Size>& coefficients, double x) {
    double sum = coefficients[Size - 1];
    for (std::size_t power = Size - 1; power-- > 0;) {
        sum = sum * x + coefficients[power];
    }
    return sum;
}

// The index of the interval whose [L, next L) holds z, for 0.5 <= z < 110. A
// z equal to a bound belongs to the interval that starts there.
std::size_t interval_holding(double z) {
    std::size_t index = 0;
    while (index + 1 < kErfcIntervals.size() && z >= kErfcIntervals[index + 1].lower) {
        ++index;
    }
    return index;
}

// erf(z) or erfc(z) for z >= 0, and NaN for NaN.
inline double erf_nonnegative(double z, bool complement) {
    if (z < kLowerRangeLimit) {  // v approximates erf(z)
        double v;
        if (z < kTinyArgument) {
            v = z * 1.125 + z * kTinySlopeCorrection;
        } else {
            v = z * 1.125 + (z * evaluate_polynomial(kSmallNumerator, z)) / evaluate_polynomial(kSmallDenominator, z);
        }
        return complement ? 1.0 - v : v;
    }

    double v;  // approximates erfc(z)
    if (z < kUpperCutoff) {
        const std::size_t index = interval_holding(z);
        const ErfcInterval& interval = kErfcIntervals[index];
        const double x = z + (-interval.lower);
        const double correction =
            evaluate_polynomial(interval.numerator, x) / evaluate_polynomial(interval.denominator, x);
        const double scale = std::exp((-z) * z) / z;
        v = correction * scale + interval.offset * scale;
    } else if (z >= kUpperCutoff) {
        v = 0.0;
    } else {
        return z;  // NaN stays NaN
    }
    return complement ? v : 1.0 - v;
}

// The distribution function from z = (mean - x) / (standard deviation sqrt 2).
inline double cdf_from_scaled_distance(double z) {
    if (std::isnan(z)) {
        return z;
    }
    if (z == INFINITY) {
        return 0.0;
    }
    if (z == -INFINITY) {
        return 1.0;
    }
    return erf_rational(z, true) * 0.5;
}


bool cpu_has(NormalPath path) {
    switch (path) {
        case NormalPath::Scalar:
            return true;
        case NormalPath::Avx512:
#ifdef VELARIX_AVX512_LANES
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f");
#else
            return false;
#endif
    }
    return false;
}

std::atomic<NormalPath>& chosen_path() {
    static std::atomic<NormalPath> path{cpu_has(NormalPath::Avx512) ? NormalPath::Avx512 : NormalPath::Scalar};
    return path;
}

}  // namespace

// Negative arguments use the symmetries erf(-z) = -erf(z) and
// erfc(-z) = 2 - erfc(z), or 1 + erf(z) close to zero.
double erf_rational(double z, bool complement) {
    if (0.0 > z) {  // -0.0 is handled as non-negative
        if (!complement) {
            return -erf_nonnegative(-z, false);
        }
        if (z < -kLowerRangeLimit) {
            return 2.0 - erf_nonnegative(-z, true);
        }
        return erf_nonnegative(-z, false) + 1.0;
    }
    return erf_nonnegative(z, complement);
}

double standard_normal_cdf(double x) { return cdf_from_scaled_distance((0.0 - x) / (1.0 * kSqrt2)); }

double normal_cdf(double mean, double standard_deviation, double x) {
    return cdf_from_scaled_distance((mean - x) / (standard_deviation * kSqrt2));
}

const char* normal_path_name(NormalPath path) {
    switch (path) {
        case NormalPath::Scalar:
            return "scalar";
        case NormalPath::Avx512:
            return "AVX-512";
    }
    return "unknown";
}

bool normal_path_available(NormalPath path) { return cpu_has(path); }

NormalPath active_normal_path() { return chosen_path().load(std::memory_order_relaxed); }

bool core_lanes_in_use() { return active_normal_path() == NormalPath::Avx512; }

void use_normal_path_for_testing(NormalPath path) { chosen_path().store(path, std::memory_order_relaxed); }

void standard_normal_cdf_batch(const double* x, double* values, std::size_t count) {
    standard_normal_cdf_batch(active_normal_path(), x, values, count);
}

void standard_normal_cdf_batch([[maybe_unused]] NormalPath path, const double* x, double* values, std::size_t count) {
#ifdef VELARIX_AVX512_LANES
    if (path == NormalPath::Avx512) {
        standard_normal_cdf_avx512(x, values, count);
        return;
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        values[i] = standard_normal_cdf(x[i]);
    }
}

}  // namespace velarix
