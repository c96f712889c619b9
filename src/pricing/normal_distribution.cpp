// erf and erfc by fixed rational approximations: a linear form for tiny
// arguments, one rational function below 0.5, and from 0.5 to 110 thirteen
// intervals on each of which erfc(z) = (Y + R(z - L)) * exp(-z*z) / z.
// Every constant and every operation order below is part of the results.
// The batches evaluate the same tables, lane by lane, in the same order.
#include "normal_distribution.h"

#include "testing/pricing_test_hooks.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#define VELARIX_AVX512_LANES 1
#include <immintrin.h>
#endif

namespace velarix {
namespace {

constexpr double kSqrt2 = 1.4142135623730951;
constexpr double kTinyArgument = 1e-10;
constexpr double kTinySlopeCorrection = 0.0033791670955125737;  // 2/sqrt(pi) - 1.125
constexpr double kLowerRangeLimit = 0.5;
constexpr double kUpperCutoff = 110.0;

// Coefficients are listed from the constant term up. The tables of the erfc
// intervals hold polynomials of several degrees in arrays of one size, the
// shorter ones padded with zero high-order terms.
template <std::size_t Size>
using Coefficients = std::array<double, Size>;

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

// erf(z) = z * 1.125 + z * P(z) / Q(z) for 1e-10 <= z < 0.5.
constexpr Coefficients<8> kSmallNumerator = {
    0.0033791670955125737, -0.0007369565304816795, -0.3747323373929196,  0.08174424487335873,
    -0.04210893199365486,  0.007016570951209575,   -0.004950912559824351, 0.0008716465990379225,
};
constexpr Coefficients<8> kSmallDenominator = {
    1.0,                  -0.21808821808792464, 0.4125429727254421,     -0.08418911478731067,
    0.06553388564002416,  -0.012001960445494177, 0.00408165558926174, -0.0006159007215577697,
};

struct ErfcInterval {
    double lower;                   // L: the interval is [L, next L)
    double offset;                  // Y
    Coefficients<7> numerator;      // in x = z - L
    Coefficients<8> denominator;    // in x = z - L, constant term 1
};

constexpr std::array<ErfcInterval, 13> kErfcIntervals = {{
    {0.5, 0.3440242112,
     {-0.03617903907182625, 0.2922518834448827, 0.2814470417976045, 0.12561020886276694, 0.027413502826893053,
      0.0025083967216806575},
     {1.0, 1.8545005897903486, 1.4357580303783142, 0.5828276587530365, 0.12481047693294975,
      0.011372417654635328}},
    {0.75, 0.419990927,
     {-0.03978768926111369, 0.1531652124678783, 0.19126029560093624, 0.10276327061989304, 0.029637090615738836,
      0.004609348678027549, 0.0003076078203486802},
     {1.0, 1.955200729876277, 1.6476231719938486, 0.7682386070221262, 0.20979318593650978, 0.031956931689991336,
      0.0021336316089578537}},
    {1.25, 0.4898625016,
     {-0.030083856055794972, 0.05385788298444545, 0.07262115416519142, 0.036762846988804936,
      0.009646290155725275, 0.0013345348007529107, 7.780875997825043e-05},
     {1.0, 1.7596709814716753, 1.3288357143796112, 0.5525285965087576, 0.13379305694133287,
      0.017950964517628076, 0.0010471244001993736, -1.0664038182035734e-08}},
    {2.25, 0.5317370892,
     {-0.011790757013722784, 0.01426213209053881, 0.020223443590296084, 0.009306682999904321,
      0.00213357802422066, 0.00025022987386460105, 1.2053491221958819e-05},
     {1.0, 1.5037622520362048, 0.9653977862044629, 0.3392652304767967, 0.06897406495415698,
      0.007710602624917683, 0.0003714211015310693}},
    {3.5, 0.5489973426,
     {-0.005469547955387293, 0.004041902787317071, 0.005496336955316117, 0.002126164726039454,
      0.0003949840144950839, 3.655654770644424e-05, 1.3548589710993232e-06},
     {1.0, 1.2101969777363077, 0.6209146682211439, 0.17303843066114277, 0.027655081377343203,
      0.0024062597442430973, 8.918118172513365e-05, -4.655288362833827e-12}},
    {5.25, 0.5571740866,
     {-0.0027072253590577837, 0.00131875634250294, 0.0011992593326100233, 0.00027849619811344664,
      2.6782298821833186e-05, 9.230436723150282e-07},
     {1.0, 0.8146328085431416, 0.26890166585629954, 0.044987721610304114, 0.0038175966332024847,
      0.00013157189788859692, 4.048153596757641e-12}},
    {8.0, 0.5609807968,
     {-0.001099467206917422, 0.00040642544275042267, 0.0002744994894169007, 4.652937706466594e-05,
      3.2095542539576746e-06, 7.782860181450209e-08},
     {1.0, 0.5881737106118461, 0.13936333128940975, 0.016632934041708368, 0.0010002392131023491,
      2.4254837521587224e-05}},
    {11.5, 0.5626493692,
     {-0.0005690799360109496, 0.00016949854037376225, 5.184723545811009e-05, 3.8281931223192885e-06,
      8.249899312818944e-08},
     {1.0, 0.33963725005113937, 0.04347264787031066, 0.002485493352246371, 5.356333053371529e-05,
      -1.1749094440545958e-13}},
    {17.0, 0.5634598136,
     {-0.00024131359948399134, 5.742249752025015e-05, 1.1599896292738377e-05, 5.817621344025938e-07,
      8.539715550856736e-09},
     {1.0, 0.23304413829968784, 0.02041869405464403, 0.0007971856475643983, 1.1701928167017232e-05}},
    {24.0, 0.5638477802,
     {-0.00014667469927776036, 1.6266655211228053e-05, 2.6911624850916523e-06, 9.79584479468092e-08,
      1.0199464762572346e-09},
     {1.0, 0.16590781294484722, 0.010336171619150588, 0.0002865930263738684, 2.9840157084090034e-06}},
    {38.0, 0.5640528202,
     {-5.839057976297718e-05, 4.125103251054962e-06, 4.3179092242025094e-07, 9.933651555900132e-09,
      6.534805100201047e-11},
     {1.0, 0.10507708607203992, 0.004142784286754756, 7.263387546445238e-05, 4.778184710473988e-07}},
    {60.0, 0.5641309023,
     {-1.9645779760922958e-05, 1.572438876668007e-06, 5.439025111927009e-08, 3.174724923691177e-10},
     {1.0, 0.05280398924095763, 0.0009268760691517533, 5.410117232266303e-06, 5.350938458036424e-16}},
    {85.0, 0.5641584396,
     {-7.892247039787227e-06, 6.22088451660987e-07, 1.457284456768824e-08, 6.037155055427153e-11},
     {1.0, 0.03753288463562937, 0.0004679195359746253, 1.9384703927584565e-06}},
}};

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

#ifdef VELARIX_AVX512_LANES
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
// C runtime's exp for each lane that needs one (one scalar call per lane, as
// the scalar code makes), then the values of every group. Keeping the calls
// out of the groups' arithmetic lets the processor overlap the groups'
// chains of dependent operations, which the calls would otherwise separate.
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
    for (std::size_t first = 0, group = 0; first < count; first += kLanes, ++group) {
        const __m512d z = scaled_arguments(x + first, lanes_in_batch(count, first));
        _mm512_store_pd(scaled.data() + first, z);
        const LaneArguments lanes = lane_arguments(z);
        needs_exp[group] = in_erfc_intervals(lanes.a);
        _mm512_store_pd(exponentials.data() + first, _mm512_mul_pd(negated(lanes.a), lanes.a));
    }
    for (std::size_t first = 0, group = 0; first < count; first += kLanes, ++group) {
        for (unsigned lanes = needs_exp[group]; lanes != 0; lanes &= lanes - 1) {
            double& exponential = exponentials[first + static_cast<std::size_t>(__builtin_ctz(lanes))];
            exponential = std::exp(exponential);
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

VELARIX_AVX512 void standard_normal_cdf_avx512(const double* x, double* values, std::size_t count) {
    constexpr std::size_t kPass = kLanes * kGroupsPerPass;
    for (std::size_t first = 0; first < count; first += kPass) {
        standard_normal_cdf_avx512_pass(x + first, values + first, std::min(kPass, count - first));
    }
}

#undef VELARIX_AVX512
#endif

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
