// European implied volatility to full double precision, in three steps:
// 1. Normalize: beta = price / (e^(-rT) sqrt(F K)), x = ln(F/K), and by
//    put-call parity and the reflection b(-x, s, put) = b(x, s, call) reduce
//    every option to the out-of-the-money call b(x, s), x <= 0
//    (normalized_black.h), beta its time value.
// 2. Guess: the tangent of b at its inflection point s_c = sqrt(2|x|) cuts
//    the price axis into four branches; the lowest is started from the
//    small-s asymptotic form of b, the highest from the large-s one, the two
//    middle ones from rational cubic interpolation of s(beta) between the
//    branch points.
// 3. Refine: third-order Householder steps on an objective per branch that
//    is nearly linear there: 1/ln b at the bottom, b in the middle,
//    ln(e^(x/2) - b) at the top. Two steps reach full precision over the
//    whole range of ordinary inputs; a third is taken when the second still
//    moved s by more than 1e-9 of it (moneyness far beyond ordinary).
// Every function is the project's own (precise_math.h) or sqrt: the bits are
// the same everywhere.
#include <algorithm>
#include <cmath>
#include <limits>

#include "implied_volatility.h"
#include "normalized_black.h"
#include "precise_math.h"

namespace velarix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kUnitRoundoff = 0x1p-53;
constexpr double kInvSqrt2Pi = precise::tables::kInvSqrt2PiHigh;  // 1/sqrt(2 pi), rounded
constexpr double kSqrt2Pi = 0x1.40d931ff62705p+1;
constexpr double kSqrt3 = 0x1.bb67ae8584caap+0;
// ln(sqrt(27) / (2 pi)), the constant of the small-s form's inverse.
constexpr double kLogSmallFormScale = -0x1.850908309d126p-3;

// Householder steps always taken, and the relative size of the last one
// beyond which one more is taken.
constexpr int kSteps = 2;
constexpr double kExtraStepThreshold = 1e-9;

// ln(a/b) for positive a and b; near 1 as log1p of the exactly computed
// (a - b)/b, so that the rounding of a/b does not become the error of a
// small logarithm (log1p(u) = log(1 + u) u / ((1 + u) - 1) corrects the
// rounding of 1 + u); as ln a - ln b where a/b would leave the normal range.
double log_ratio(double a, double b) {
    const double ratio = a / b;
    if (!std::isnormal(ratio) || std::isinf(ratio)) {
        return precise::log(a) - precise::log(b);
    }
    if (ratio < 0.5 || ratio > 2.0) {
        return precise::log(ratio);
    }
    const double u = (a - b) / b;
    const double w = 1.0 + u;
    if (w == 1.0) {
        return u;
    }
    return precise::log(w) * (u / (w - 1.0));
}

// ln N(z) for z <= 0, never underflowing: -z^2/2 + ln(N(z) e^(z^2/2)).
double log_normal_cdf(double z) { return -0.5 * (z * z) + precise::log(scaled_normal_cdf(z)); }

// N^-1(w) for 0 < w <= 1/2, to about 4e-8: a rational first guess z < 0
// (absolute error 3e-3) and one Halley step, enough for a starting point.
// The step's (N(z) - w)/phi(z) is sqrt(2 pi) (Q(-z) - w e^(z^2/2)), Q the
// normal tail's ratio: one exponential instead of two.
double inverse_normal_cdf(double w) {
    const double v = std::sqrt(-2.0 * precise::log(w));
    const double z = -(v - (2.30753 + 0.27061 * v) / (1.0 + v * (0.99229 + 0.04481 * v)));
    const double delta = kSqrt2Pi * (precise::normal_tail_ratio(-z) - w / precise::exp(-0.5 * (z * z)));
    return z - delta / (1.0 + 0.5 * z * delta);
}

// The small-s form f_L(s) = (2 pi |x| / sqrt(27)) N(-|x| / (sqrt(3) s))^3,
// which b approaches as s -> 0, as a logarithm (log_minus_x = ln(-x)).
double log_small_form(double x, double log_minus_x, double s) {
    return log_minus_x - kLogSmallFormScale + 3.0 * log_normal_cdf(x / (kSqrt3 * s));
}

// The s at which ln f_L(s) = log_f.
double inverse_small_form(double x, double log_minus_x, double log_f) {
    const double w = precise::exp((log_f + kLogSmallFormScale - log_minus_x) / 3.0);
    return x / (kSqrt3 * inverse_normal_cdf(w));
}

// The rational cubic through (left, s_left) and (right, s_right) with slopes
// slope_left and slope_right, at v; its control parameter makes the second
// derivative vanish at the end `flat_at_right` names (where the inflection
// point is), raised if need be to the least value that keeps it monotone.
double rational_cubic(double v, double left, double right, double s_left, double s_right, double slope_left,
                      double slope_right, bool flat_at_right) {
    const double width = right - left;
    const double secant = (s_right - s_left) / width;
    const double fitted = flat_at_right ? (slope_right - slope_left) / (slope_right - secant)
                                        : (slope_right - slope_left) / (secant - slope_left);
    const double rho = std::max(fitted, (slope_left + slope_right) / secant);
    const double tau = (v - left) / width;
    const double rest = 1.0 - tau;
    const double numerator = s_right * tau * tau * tau + (rho * s_right - width * slope_right) * tau * tau * rest +
                             (rho * s_left + width * slope_left) * tau * rest * rest + s_left * rest * rest * rest;
    return numerator / (1.0 + (rho - 3.0) * tau * rest);
}

enum class Branch { Lower, Middle, Upper };

struct Start {
    Branch branch;
    double s;
    double log_beta;  // ln beta, on the lowest branch
};

// The branch of beta and the first s, for the call b(x, s), x <= 0, and
// 0 < beta < limit = e^(x/2).
Start starting_point(double x, double beta, double limit) {
    const double s_c = std::sqrt(-2.0 * x);
    const double vega_c = kInvSqrt2Pi * limit;  // b'(s_c)
    const double b_c = x == 0.0 ? 0.0 : normalized_black(x, s_c).value;
    if (beta <= b_c) {
        const double s_l = s_c - b_c / vega_c;
        const LogTerms lower = log_normalized_black(x, s_l);
        const double log_beta = precise::log(beta);
        if (log_beta < lower.log) {
            // beta = f_L(s) (1 + (k_l - 1) ln b_l / ln beta), k_l = f_L(s_l)/b_l:
            // exact at s_l, the correction fading as beta -> 0.
            const double log_minus_x = precise::log(-x);
            const double k_l = precise::exp(log_small_form(x, log_minus_x, s_l) - lower.log);
            const double log_f = log_beta + precise::log(1.0 + (k_l - 1.0) * (lower.log / log_beta));
            return {Branch::Lower, inverse_small_form(x, log_minus_x, log_f), log_beta};
        }
        const double b_l = precise::exp(lower.log);
        return {Branch::Middle,
                rational_cubic(beta, b_l, b_c, s_l, s_c, 1.0 / (lower.vega_ratio * b_l), 1.0 / vega_c, true), 0.0};
    }
    const double s_u = s_c + (limit - b_c) / vega_c;
    const NormalizedCall upper = normalized_black(x, s_u);
    const double b_u = upper.value;
    if (beta <= b_u) {
        return {Branch::Middle, rational_cubic(beta, b_c, b_u, s_c, s_u, 1.0 / vega_c, 1.0 / upper.vega, false), 0.0};
    }
    // limit - beta = 2 N(-s/2) (1 + (k_u - 1) ln m_u / ln m) in the same way,
    // k_u = 2 N(-s_u/2) / m_u.
    const double shortfall = limit - beta;
    const double shortfall_u = limit - b_u;
    const double k_u = 2.0 * precise::normal_cdf(-0.5 * s_u) / shortfall_u;
    const double f = shortfall * (1.0 + (k_u - 1.0) * (precise::log(shortfall_u) / precise::log(shortfall)));
    return {Branch::Upper, -2.0 * inverse_normal_cdf(0.5 * f), 0.0};
}

// One Householder step on the branch's objective g (increasing in s, zero
// at the solution): with nu = -g/g', h2 = g''/g', h3 = g'''/g',
//   s + nu (1 + h2 nu / 2) / (1 + nu (h2 + h3 nu / 6)).
// c2 = b''/b' and c3 = b'''/b' are the same for every branch.
double householder_step(Branch branch, double x, double beta, double log_beta, double log_shortfall, double s) {
    const double x_squared = x * x;
    const double s_squared = s * s;
    const double c2 = x_squared / (s_squared * s) - 0.25 * s;
    const double c3 = c2 * c2 - 3.0 * x_squared / (s_squared * s_squared) - 0.25;
    double nu = 0.0;
    double h2 = 0.0;
    double h3 = 0.0;
    switch (branch) {
        case Branch::Lower: {
            // g = 1/ln b - 1/ln beta.
            const LogTerms terms = log_normalized_black(x, s);
            const double inverse_log = 1.0 / terms.log;
            const double lambda = terms.vega_ratio;
            const double scale = 1.0 + 2.0 * inverse_log;
            nu = (inverse_log - 1.0 / log_beta) * (terms.log * terms.log) / lambda;
            h2 = c2 - lambda * scale;
            h3 = c3 - 3.0 * lambda * c2 * scale +
                 2.0 * lambda * lambda * (1.0 + 3.0 * inverse_log + 3.0 * inverse_log * inverse_log);
            break;
        }
        case Branch::Middle: {
            // g = b - beta.
            const NormalizedCall call = normalized_black(x, s);
            nu = -(call.value - beta) / call.vega;
            h2 = c2;
            h3 = c3;
            break;
        }
        case Branch::Upper: {
            // g = ln(limit - beta) - ln(limit - b).
            const LogTerms terms = log_normalized_black_shortfall(x, s);
            const double mu = terms.vega_ratio;
            nu = -(log_shortfall - terms.log) / mu;
            h2 = c2 + mu;
            h3 = c3 + 3.0 * mu * c2 + 2.0 * mu * mu;
            break;
        }
    }
    return s + nu * (1.0 + 0.5 * h2 * nu) / (1.0 + nu * (h2 + h3 * nu / 6.0));
}

// s with b(x, s) = beta, for x <= 0 and 0 < beta < e^(x/2).
double total_volatility(double x, double beta, double limit) {
    const Start start = starting_point(x, beta, limit);
    const double log_beta = start.log_beta;
    const double log_shortfall = start.branch == Branch::Upper ? precise::log(limit - beta) : 0.0;
    double s = start.s;
    double step = 0.0;
    for (int i = 0; i < kSteps; ++i) {
        const double next = householder_step(start.branch, x, beta, log_beta, log_shortfall, s);
        step = next - s;
        s = next;
    }
    if (std::fabs(step) > kExtraStepThreshold * s) {
        s = householder_step(start.branch, x, beta, log_beta, log_shortfall, s);
    }
    return s;
}

}  // namespace

ImpliedVolatility european_implied_volatility(double price, const OptionInputs& option) {
    if (!is_invertible(price, option)) {
        return {kNaN, VolatilityOutcome::InvalidInput};
    }
    // The price over e^(-rT) sqrt(F K) = sqrt(S K) e^(-(r + q) T / 2). In the
    // money the scale's rounding becomes an error of the time value as large
    // as the price's own rounding, so it is kept to the fewest roundings: one
    // square root of S K (which halves the product's rounding), or two where
    // S K would overflow or underflow.
    const double product = option.s * option.k;
    const double root = std::isnormal(product) ? std::sqrt(product) : std::sqrt(option.s) * std::sqrt(option.k);
    const double scale = root * precise::exp(-0.5 * ((option.r + option.q) * option.t));
    const double full = price / scale;
    const double signed_x = log_ratio(option.s, option.k) + (option.r - option.q) * option.t;
    const bool in_the_money = option.type == OptionType::Call ? signed_x > 0.0 : signed_x < 0.0;
    const double x = -std::fabs(signed_x);
    const double limit = precise::exp(0.5 * x);
    double beta = full;
    if (in_the_money) {
        // Less the forward's intrinsic value e^(-x/2) - e^(x/2), which leaves
        // the out-of-the-money option of the other type; as a difference of
        // expm1, without cancellation near the money.
        beta -= precise::expm1(-0.5 * x) - precise::expm1(0.5 * x);
    }
    const double resolution = 4.0 * kUnitRoundoff * std::fabs(full);
    if (!(beta > resolution)) {
        if (beta >= -resolution) {
            return {0.0, VolatilityOutcome::Solved};
        }
        return {kNaN, VolatilityOutcome::BelowRange};
    }
    if (beta >= limit) {
        return {kNaN, VolatilityOutcome::AboveRange};
    }
    return {total_volatility(x, beta, limit) / std::sqrt(option.t), VolatilityOutcome::Solved};
}

}  // namespace velarix
