// erf and erfc by fixed rational approximations: a linear form for tiny
// arguments, one rational function below 0.5, and from 0.5 to 110 thirteen
// intervals on each of which erfc(z) = (Y + R(z - L)) * exp(-z*z) / z.
// Every constant and every operation order below is part of the results.
#include "normal_distribution.h"

#include <array>
#include <cstddef>
#include <utility>

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

// The number of coefficients up to the last nonzero one.
template <std::size_t Size>
constexpr std::size_t significant_terms(const Coefficients<Size>& coefficients) {
    std::size_t terms = Size;
    while (terms > 1 && coefficients[terms - 1] == 0.0) {
        --terms;
    }
    return terms;
}

// Horner's scheme from the highest of the first `Terms` coefficients down.
// Starting at the last nonzero coefficient gives the bits that starting at
// the padding would, since 0 * x + a is a itself for a finite x >= 0, and
// saves the padding's steps on the chain of dependent operations.
template <std::size_t Terms, std::size_t Size>
double evaluate_leading_terms(const Coefficients<Size>& coefficients, double x) {
    static_assert(Terms >= 1 && Terms <= Size);
    double sum = coefficients[Terms - 1];
    for (std::size_t power = Terms - 1; power-- > 0;) {
        sum = sum * x + coefficients[power];
    }
    return sum;
}

template <std::size_t Size>
double evaluate_polynomial(const Coefficients<Size>& coefficients, double x) {
    return evaluate_leading_terms<Size>(coefficients, x);
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

// R(x) = P(x) / Q(x) of one interval, with the degrees of its own polynomials.
template <std::size_t Index>
double interval_correction(double x) {
    constexpr const ErfcInterval& interval = kErfcIntervals[Index];
    return evaluate_leading_terms<significant_terms(interval.numerator)>(interval.numerator, x) /
           evaluate_leading_terms<significant_terms(interval.denominator)>(interval.denominator, x);
}

using Correction = double (*)(double);

template <std::size_t... Index>
constexpr std::array<Correction, sizeof...(Index)> make_corrections(std::index_sequence<Index...>) {
    return {interval_correction<Index>...};
}

constexpr std::array<Correction, kErfcIntervals.size()> kCorrections =
    make_corrections(std::make_index_sequence<kErfcIntervals.size()>{});

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
        const double correction = kCorrections[index](x);
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

}  // namespace velarix
