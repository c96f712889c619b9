// The standard normal distribution N in AVX-512 lanes, eight values at a
// time: each lane does exactly the operations of the scalar code on its own
// branch (normal_distribution.cpp), with the same tables, so that every lane
// gives the scalar bits. Compiled for AVX-512F alone through a function
// attribute; the caller checks the CPU first.
#include "normal_distribution_lanes.h"

#ifdef VELARIX_AVX512_LANES

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include <immintrin.h>

#include "normal_distribution_tables.h"
#include "runtime_math.h"
#include "runtime_math_lanes.h"

namespace velarix {
namespace {

using namespace normal_tables;

// The tables of the lanes: row 0 is the range below 0.5, rows 1 to 13 the
// erfc intervals, so that a lane's row is the number of interval bounds at
// or below its argument. Each coefficient is a column of 16 rows (two
// registers of eight lanes; rows 14 and 15 are never chosen), from which one
// permutation picks every lane's own coefficient. The polynomials are padded
// with zeros to eight coefficients, which gives their bits (see
// evaluate_polynomial). Row 0's -0.0 in place of -L keeps z + (-L) equal to
// z, so that every lane evaluates its polynomials at its own x.
constexpr std::size_t kLaneRows = 16;
using LaneColumn = std::array<double, kLaneRows>;

struct LaneTables {
    LaneColumn minus_lower;
    LaneColumn offset;
    std::array<LaneColumn, 8> numerator;
    std::array<LaneColumn, 8> denominator;
};

constexpr LaneTables make_lane_tables() {
    LaneTables tables{};
    tables.minus_lower[0] = -0.0;
    for (std::size_t power = 0; power < 8; ++power) {
        tables.numerator[power][0] = kSmallNumerator[power];
        tables.denominator[power][0] = kSmallDenominator[power];
    }
    for (std::size_t index = 0; index < kErfcIntervals.size(); ++index) {
        const ErfcInterval& interval = kErfcIntervals[index];
        tables.minus_lower[index + 1] = -interval.lower;
        tables.offset[index + 1] = interval.offset;
        for (std::size_t power = 0; power < interval.numerator.size(); ++power) {
            tables.numerator[power][index + 1] = interval.numerator[power];
        }
        for (std::size_t power = 0; power < interval.denominator.size(); ++power) {
            tables.denominator[power][index + 1] = interval.denominator[power];
        }
    }
    return tables;
}

alignas(64) constexpr LaneTables kLaneTables = make_lane_tables();

#define VELARIX_AVX512 __attribute__((target("avx512f")))

VELARIX_AVX512 inline __m512d lane_coefficient(const LaneColumn& column, __m512i row) {
    return _mm512_permutex2var_pd(_mm512_load_pd(column.data()), row, _mm512_load_pd(column.data() + 8));
}

VELARIX_AVX512 inline __m512d negated(__m512d v) {
    return _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(v), _mm512_set1_epi64(INT64_MIN)));
}

template <int Predicate>
VELARIX_AVX512 inline __mmask8 compare(__m512d v, double bound) {
    return _mm512_cmp_pd_mask(v, _mm512_set1_pd(bound), Predicate);
}

// The scaled argument z of eight values, and erf_nonnegative's argument a:
// -z for z < 0, z itself otherwise (-0.0 included).
struct LaneArguments {
    __m512d z;
    __m512d a;
    __mmask8 negative;
};

VELARIX_AVX512 inline __m512d scaled_arguments(const double* x, __mmask8 in_batch) {
    const __m512d argument = _mm512_maskz_loadu_pd(in_batch, x);
    return _mm512_div_pd(_mm512_sub_pd(_mm512_setzero_pd(), argument), _mm512_set1_pd(1.0 * kSqrt2));
}

VELARIX_AVX512 inline LaneArguments lane_arguments(__m512d z) {
    const __mmask8 negative = _mm512_cmp_pd_mask(z, _mm512_setzero_pd(), _CMP_LT_OQ);
    return {z, _mm512_mask_mov_pd(z, negative, negated(z)), negative};
}

// The lanes whose a lies in the erfc intervals, from 0.5 up to the cutoff:
// the ones that need an exponential.
VELARIX_AVX512 inline __mmask8 in_erfc_intervals(__m512d a) {
    return static_cast<__mmask8>(compare<_CMP_GE_OQ>(a, kLowerRangeLimit) &
                                 compare<_CMP_LT_OQ>(a, kUpperCutoff));
}

// Steps applied to each of a few groups of eight lanes in turn, so that the
// groups' independent chains of dependent operations interleave in the
// instruction stream.
#define VELARIX_EACH_GROUP _Pragma("GCC unroll 4") for (std::size_t g = 0; g < Groups; ++g)

// standard_normal_cdf of `Groups` groups of eight values, given exp(-a*a) in
// the lanes of the erfc intervals. Each lane computes what the scalar code
// computes on its branch: the rational form below 0.5 or the interval form
// (evaluate_polynomial on the lane's own row of the table), the linear form,
// then the reflections; the selects keep each lane's own branch.
template <std::size_t Groups>
VELARIX_AVX512 inline void lane_values(const LaneArguments (&lanes)[Groups], const __m512d (&exponential)[Groups],
                                       __m512d (&values)[Groups]) {
    const __m512d zero = _mm512_setzero_pd();
    const __m512d one = _mm512_set1_pd(1.0);
    __mmask8 below_range[Groups];
    __m512i row[Groups];
    __m512d x[Groups];
    __m512d numerator[Groups];
    __m512d denominator[Groups];
    VELARIX_EACH_GROUP {
        below_range[g] = compare<_CMP_LT_OQ>(lanes[g].a, kLowerRangeLimit);
        // The row counts the bounds at or below a, in two independent sums.
        __m512i lower_bounds = _mm512_setzero_si512();
        __m512i upper_bounds = _mm512_setzero_si512();
        for (std::size_t index = 0; index < kErfcIntervals.size(); ++index) {
            __m512i& bounds = index < kErfcIntervals.size() / 2 ? lower_bounds : upper_bounds;
            bounds = _mm512_mask_add_epi64(bounds, compare<_CMP_GE_OQ>(lanes[g].a, kErfcIntervals[index].lower),
                                           bounds, _mm512_set1_epi64(1));
        }
        row[g] = _mm512_add_epi64(lower_bounds, upper_bounds);
        x[g] = _mm512_add_pd(lanes[g].a, lane_coefficient(kLaneTables.minus_lower, row[g]));
        numerator[g] = lane_coefficient(kLaneTables.numerator[7], row[g]);
        denominator[g] = lane_coefficient(kLaneTables.denominator[7], row[g]);
    }
    for (std::size_t power = 7; power-- > 0;) {
        VELARIX_EACH_GROUP {
            numerator[g] = _mm512_add_pd(_mm512_mul_pd(numerator[g], x[g]),
                                         lane_coefficient(kLaneTables.numerator[power], row[g]));
            denominator[g] = _mm512_add_pd(_mm512_mul_pd(denominator[g], x[g]),
                                           lane_coefficient(kLaneTables.denominator[power], row[g]));
        }
    }
    VELARIX_EACH_GROUP {
        const __m512d a = lanes[g].a;
        // One division serves both forms: (a P) / Q below 0.5, P / Q from 0.5 on.
        const __m512d quotient =
            _mm512_div_pd(_mm512_mask_mul_pd(numerator[g], below_range[g], a, numerator[g]), denominator[g]);

        // Below 0.5: erf(a), linear below the tiny limit.
        const __m512d linear = _mm512_mul_pd(a, _mm512_set1_pd(1.125));
        const __m512d rational_erf = _mm512_add_pd(linear, quotient);
        const __m512d tiny_erf = _mm512_add_pd(linear, _mm512_mul_pd(a, _mm512_set1_pd(kTinySlopeCorrection)));
        const __m512d erf = _mm512_mask_mov_pd(rational_erf, compare<_CMP_LT_OQ>(a, kTinyArgument), tiny_erf);

        // From 0.5 on: erfc(a), zero from the cutoff on.
        const __m512d scale = _mm512_div_pd(exponential[g], a);
        const __m512d erfc_in_intervals = _mm512_add_pd(
            _mm512_mul_pd(quotient, scale), _mm512_mul_pd(lane_coefficient(kLaneTables.offset, row[g]), scale));
        const __m512d erfc = _mm512_mask_mov_pd(erfc_in_intervals, compare<_CMP_GE_OQ>(a, kUpperCutoff), zero);

        // erf_rational(z, true): for z >= 0, 1 - erf or erfc; for z < -0.5,
        // 2 - erfc; for -0.5 < z < 0, erf + 1; for z = -0.5, (1 - erfc) + 1.
        const __mmask8 far_negative = compare<_CMP_LT_OQ>(lanes[g].z, -kLowerRangeLimit);
        const auto near_negative = static_cast<__mmask8>(lanes[g].negative & ~far_negative & 0xFFu);
        __m512d complement = _mm512_mask_blend_pd(below_range[g], erfc, _mm512_sub_pd(one, erf));
        complement = _mm512_mask_mov_pd(complement, static_cast<__mmask8>(near_negative & below_range[g]),
                                        _mm512_add_pd(erf, one));
        complement = _mm512_mask_mov_pd(complement, static_cast<__mmask8>(near_negative & ~below_range[g] & 0xFFu),
                                        _mm512_add_pd(_mm512_sub_pd(one, erfc), one));
        complement = _mm512_mask_mov_pd(complement, far_negative, _mm512_sub_pd(_mm512_set1_pd(2.0), erfc));

        // Infinities come out as the scalar code's early returns would give
        // them (erfc is zero beyond the cutoff); NaN is z itself.
        const __m512d value = _mm512_mul_pd(complement, _mm512_set1_pd(0.5));
        values[g] = _mm512_mask_mov_pd(value, _mm512_cmp_pd_mask(lanes[g].z, lanes[g].z, _CMP_UNORD_Q), lanes[g].z);
    }
}

#undef VELARIX_EACH_GROUP

// Up to 256 values in three passes: the exponents of every group, then the
// C runtime's exp of every lane (in the runtime's own lanes, with its bits),
// then the values of every group. Keeping the exponentials out of the
// groups' arithmetic lets the processor overlap the groups' chains of
// dependent operations, which the calls would otherwise separate.
constexpr std::size_t kLanes = 8;
constexpr std::size_t kGroupsPerPass = 32;
constexpr std::size_t kInterleaved = 2;

VELARIX_AVX512 inline __mmask8 lanes_in_batch(std::size_t count, std::size_t first) {
    const std::size_t lanes = std::min(kLanes, count - first);
    return static_cast<__mmask8>((1u << lanes) - 1u);
}

VELARIX_AVX512 void standard_normal_cdf_avx512_pass(const double* x, double* values, std::size_t count) {
    alignas(64) std::array<double, kLanes * kGroupsPerPass> scaled;
    alignas(64) std::array<double, kLanes * kGroupsPerPass> exponentials;
    std::array<__mmask8, kGroupsPerPass> needs_exp;
    // A lane that needs no exponential gets a harmless argument, which keeps
    // the runtime's lanes on their main path.
    const __m512d harmless = _mm512_set1_pd(-1.0);
    for (std::size_t first = 0, group = 0; first < count; first += kLanes, ++group) {
        const __m512d z = scaled_arguments(x + first, lanes_in_batch(count, first));
        _mm512_store_pd(scaled.data() + first, z);
        const LaneArguments lanes = lane_arguments(z);
        needs_exp[group] = in_erfc_intervals(lanes.a);
        _mm512_store_pd(exponentials.data() + first,
                        _mm512_mask_mov_pd(harmless, needs_exp[group], _mm512_mul_pd(negated(lanes.a), lanes.a)));
    }
    // The runtime's exp, in its lanes where they give its bits; else one call
    // per lane that needs one.
    const std::size_t rounded = (count + kLanes - 1) / kLanes * kLanes;
    if (runtime_lanes::lanes_in_use()) {
        runtime_lanes::exp_batch(exponentials.data(), exponentials.data(), rounded);
    } else {
        for (std::size_t first = 0, group = 0; first < count; first += kLanes, ++group) {
            for (unsigned lanes = needs_exp[group]; lanes != 0; lanes &= lanes - 1) {
                double& exponential = exponentials[first + static_cast<std::size_t>(__builtin_ctz(lanes))];
                exponential = std::exp(exponential);
            }
        }
    }
    // kInterleaved groups at a time; past the last group, the last group
    // again, whose values are stored once.
    const std::size_t groups = (count + kLanes - 1) / kLanes;
    for (std::size_t group = 0; group < groups; group += kInterleaved) {
        LaneArguments lanes[kInterleaved];
        __m512d exponential[kInterleaved];
        for (std::size_t g = 0; g < kInterleaved; ++g) {
            const std::size_t taken = std::min(group + g, groups - 1);
            lanes[g] = lane_arguments(_mm512_load_pd(scaled.data() + taken * kLanes));
            exponential[g] = _mm512_maskz_load_pd(needs_exp[taken], exponentials.data() + taken * kLanes);
        }
        __m512d group_values[kInterleaved];
        lane_values(lanes, exponential, group_values);
        for (std::size_t g = 0; g < kInterleaved && group + g < groups; ++g) {
            const std::size_t first = (group + g) * kLanes;
            _mm512_mask_storeu_pd(values + first, lanes_in_batch(count, first), group_values[g]);
        }
    }
}

}  // namespace

VELARIX_AVX512 void standard_normal_cdf_avx512(const double* x, double* values, std::size_t count) {
    constexpr std::size_t kPass = kLanes * kGroupsPerPass;
    for (std::size_t first = 0; first < count; first += kPass) {
        standard_normal_cdf_avx512_pass(x + first, values + first, std::min(kPass, count - first));
    }
}

#undef VELARIX_AVX512

}  // namespace velarix

#endif
