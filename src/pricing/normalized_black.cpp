// The normalized Black function by regions of (h, t) = (x/s, s/2), where
// d1 = h + t and d2 = h - t are the two normal arguments. With the scaled
// normal distribution function Ys(z) = N(z) e^(z^2/2),
//   b = e^(-(h^2 + t^2)/2) (Ys(d1) - Ys(d2)),
//   e^(x/2) - b = e^(-(h^2 + t^2)/2) (Ys(-d1) + Ys(d2)),
// exact identities (x = 2 h t). The difference Ys(d1) - Ys(d2) is taken
//   R1, d1 > 0.85: not at all; b = e^(x/2) N(d1) - e^(-x/2) N(d2) loses
//       little there (N(d1) >= 0.8), with its second term taken as
//       e^(-(h^2+t^2)/2) Ys(d2) so that it cannot pass through subnormals;
//   R2, d1 <= -10: from the asymptotic series of Ys at both arguments,
//       subtracted term by term in a form with positive terms only;
//   R3, t < 0.3, or t < 0.6 and h > -3: from the Taylor series of Ys about
//       h, whose odd terms alone make the difference;
//   R4, elsewhere: directly, the two values being far enough apart.
// The thresholds are where each form was measured to hold its accuracy.
#include "normalized_black.h"

#include <array>
#include <cstddef>

#include "precise_math.h"

namespace velarix {
namespace {

// 1/sqrt(2 pi), rounded to nearest: the leading part of the density's constant.
constexpr double kInvSqrt2Pi = precise::tables::kInvSqrt2PiHigh;

// Below this argument the normal tail ratio comes from its table, beyond it
// from its continued fraction, which converges fast there.
constexpr double kTailTableEnd = 38.0;
// 16 levels hold the result within 4 ulps of 50-digit values from 38 on
// (the tests check 38, 50 and 1000; the fraction converges faster as the
// argument grows).
constexpr int kContinuedFractionLevels = 16;

// Region limits (see the top of the file).
constexpr double kDirectD1 = 0.85;
constexpr double kAsymptoticD1 = -10.0;
constexpr double kTaylorT = 0.3;
constexpr double kTaylorWideT = 0.6;
constexpr double kTaylorWideH = -3.0;
// The Taylor series' odd terms (up to t^25, table below) and the asymptotic
// series' terms until one falls below this share of the sum (about 17 at
// d1 = -10 for the second, which starts to diverge near term d1^2/2, past
// the cap).
constexpr double kTaylorTolerance = 1e-17;
constexpr double kAsymptoticTolerance = 1e-17;
constexpr int kAsymptoticTermCap = 50;

}  // namespace

// Ys(z) = N(z) e^(z^2/2): the left tail's ratio, or for positive z the whole
// scaled distribution less the right tail's ratio.
double scaled_normal_cdf(double z) {
    const double a = z > 0.0 ? z : -z;
    double left;  // Ys(-a)
    if (a < kTailTableEnd) {
        left = precise::normal_tail_ratio(a);
    } else {
        // N(-a) e^(a^2/2) sqrt(2 pi) = 1/(a + 1/(a + 2/(a + 3/(a + ...)))).
        double denominator = a;
        for (int k = kContinuedFractionLevels; k >= 1; --k) {
            denominator = a + k / denominator;
        }
        left = kInvSqrt2Pi / denominator;
    }
    return z > 0.0 ? precise::exp(0.5 * (z * z)) - left : left;
}

namespace {

// Ys(h + t) - Ys(h - t) for d1 = h + t <= -10, from
//   Ys(-w) sqrt(2 pi) = sum_k (-1)^k (2k-1)!! / w^(2k+1):
// with w1 = -(h + t), w2 = t - h and n = 2k + 1, the difference of the
// k-th terms is (2k-1)!! (w2^n - w1^n) / (w1 w2)^n, and
//   (w2^n - w1^n) / (w1 w2)^n = 2 sum_{j odd} C(n, j) p^(n-j) u^j,
// p = -h/(w1 w2), u = t/(w1 w2): positive terms, no cancellation.
double asymptotic_difference(double h, double t) {
    const double w1 = -(h + t);
    const double w2 = t - h;
    const double product = w1 * w2;
    const double p = -h / product;
    const double u = t / product;
    const double ratio_squared = (u / p) * (u / p);
    double sum = 0.0;
    double double_factorial = 1.0;  // (2k-1)!!
    double p_power = 1.0;           // p^(n-1)
    double sign = 1.0;
    for (int k = 0; k < kAsymptoticTermCap; ++k) {
        const int n = 2 * k + 1;
        double binomial_term = n * p_power * u;  // C(n, 1) p^(n-1) u
        double odd_sum = binomial_term;
        for (int j = 1; j + 2 <= n; j += 2) {
            binomial_term *= static_cast<double>((n - j) * (n - j - 1)) / ((j + 1) * (j + 2)) * ratio_squared;
            odd_sum += binomial_term;
        }
        const double term = double_factorial * (2.0 * odd_sum);
        sum += sign * term;
        if (term < kAsymptoticTolerance * sum) {
            break;
        }
        sign = -sign;
        double_factorial *= n;
        p_power *= p * p;
    }
    return kInvSqrt2Pi * sum;
}

// 1/(2k+1)! for k = 0..12, rounded to nearest.
constexpr std::array<double, 13> kInverseOddFactorials = {
    0x1.0000000000000p+0,  0x1.5555555555555p-3,  0x1.1111111111111p-7,  0x1.a01a01a01a01ap-13,
    0x1.71de3a556c734p-19, 0x1.ae64567f544e4p-26, 0x1.6124613a86d09p-33, 0x1.ae7f3e733b81fp-41,
    0x1.952c77030ad4ap-49, 0x1.2f49b46814157p-57, 0x1.71b8ef6dcf572p-66, 0x1.761b41316381ap-75,
    0x1.3f3ccdd165fa9p-84,
};

// Ys(h + t) - Ys(h - t) = 2 sum_k Ys^(2k+1)(h) t^(2k+1)/(2k+1)! for h <= 0,
// the derivatives from Ys' = 1/sqrt(2 pi) + z Ys and, for n >= 1,
// Ys^(n+1) = z Ys^(n) + n Ys^(n-1). Every derivative of Ys is positive and
// the terms fall at least as fast as t^2/(2k), so the sum stops at the
// first term below 1e-17 of it (few terms at small t).
double taylor_difference(double h, double t) {
    const double t_squared = t * t;
    double previous = scaled_normal_cdf(h);          // Ys^(n-1)
    double derivative = kInvSqrt2Pi + h * previous;  // Ys^(n), n odd
    double power = t;                                // t^n
    double sum = derivative * power;
    for (std::size_t k = 1; k < kInverseOddFactorials.size(); ++k) {
        const double n = static_cast<double>(2 * k - 1);
        const double even = h * derivative + n * previous;
        const double odd = h * even + (n + 1.0) * derivative;
        previous = even;
        derivative = odd;
        power *= t_squared;
        const double term = derivative * (power * kInverseOddFactorials[k]);
        sum += term;
        if (term < kTaylorTolerance * sum) {
            break;
        }
    }
    return 2.0 * sum;
}

// The arguments every form starts from.
struct Arguments {
    double h;
    double t;
    double d1;
    double d2;
    double exponent;  // -(h^2 + t^2)/2, so b' = e^exponent / sqrt(2 pi)
};

Arguments arguments_of(double x, double s) {
    const double h = x / s;
    const double t = 0.5 * s;
    return {h, t, h + t, h - t, -0.5 * (h * h + t * t)};
}

// Ys(d1) - Ys(d2), for d1 <= 0.85.
double tail_difference(const Arguments& a) {
    if (a.d1 <= kAsymptoticD1) {
        return asymptotic_difference(a.h, a.t);
    }
    if (a.t < kTaylorT || (a.t < kTaylorWideT && a.h > kTaylorWideH)) {
        return taylor_difference(a.h, a.t);
    }
    return scaled_normal_cdf(a.d1) - scaled_normal_cdf(a.d2);
}

// b where d1 > 0.85.
double direct_value(double x, const Arguments& a) {
    return precise::exp(0.5 * x) * precise::normal_cdf(a.d1) - precise::exp(a.exponent) * scaled_normal_cdf(a.d2);
}

}  // namespace

NormalizedCall normalized_black(double x, double s) {
    const Arguments a = arguments_of(x, s);
    const double scale = precise::exp(a.exponent);
    if (a.d1 > kDirectD1) {
        return {precise::exp(0.5 * x) * precise::normal_cdf(a.d1) - scale * scaled_normal_cdf(a.d2),
                kInvSqrt2Pi * scale};
    }
    return {scale * tail_difference(a), kInvSqrt2Pi * scale};
}

LogTerms log_normalized_black(double x, double s) {
    const Arguments a = arguments_of(x, s);
    if (a.d1 > kDirectD1) {
        const double value = direct_value(x, a);
        return {precise::log(value), kInvSqrt2Pi * precise::exp(a.exponent) / value};
    }
    const double difference = tail_difference(a);
    return {a.exponent + precise::log(difference), kInvSqrt2Pi / difference};
}

LogTerms log_normalized_black_shortfall(double x, double s) {
    const Arguments a = arguments_of(x, s);
    if (a.d1 < 0.0) {
        // Below the inflection point b is at most about a third of its limit.
        const double shortfall = precise::exp(0.5 * x) - normalized_black(x, s).value;
        return {precise::log(shortfall), kInvSqrt2Pi * precise::exp(a.exponent) / shortfall};
    }
    const double sum = scaled_normal_cdf(-a.d1) + scaled_normal_cdf(a.d2);
    return {a.exponent + precise::log(sum), kInvSqrt2Pi / sum};
}

}  // namespace velarix
