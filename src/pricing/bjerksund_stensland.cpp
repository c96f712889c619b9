// Bjerksund-Stensland (2002): two flat exercise boundaries, the trigger I2 for
// the whole life T and I1 for the shorter time t1 = 0.618 T, and an
// early-exercise value that is a signed sum of twelve terms
//
//   phi(S, tau, gamma, H, I1) = e^lambda S^gamma [N(d) - (I1/S)^kappa N(d - 2 ln(I1/S) / (sigma sqrt tau))]
//
// with lambda and kappa depending on gamma only, and d on tau, gamma and the
// level H. Each term's expression is evaluated as written, left to right,
// without algebraic rearrangement: the order of the operations is part of the
// results. What the twelve terms have in common is computed once, with the
// very expression each term would use, so sharing changes no bit: six
// exponentials (two horizons by three exponents), three logarithms ln(S/H),
// one ln(I1/S), three powers (I1/S)^kappa and one S^beta. The European value
// reuses the whole-life horizon's square root, discount factors and drift.
#include "bjerksund_stensland.h"

#include "normal_distribution.h"
#include "runtime_math.h"

namespace velarix {
namespace {

constexpr double kGoldenFraction = 0.6180339887498949;  // (sqrt 5 - 1) / 2

// Indices of the exponent gamma of a term into the per-exponent tables.
constexpr std::size_t kBeta = 0;
constexpr std::size_t kOne = 1;
constexpr std::size_t kZero = 2;

double positive_part(double payoff) { return payoff > 0.0 ? payoff : 0.0; }  // a NaN payoff gives 0

// E = S e^((b - r) T) N(d1) - K e^(-r T) N(d2), with the horizon's
// sigma sqrt T, e^((b - r) T), e^(-r T) and (b + sigma^2 / 2) T.
double european_call(const HorizonTerms& whole_life, double S, double K, double log_spot_over_strike) {
    const double d1 = (log_spot_over_strike + whole_life.drift[kOne]) / whole_life.sigma_sqrt_tau;
    const double d2 = d1 - whole_life.sigma_sqrt_tau;
    return (S * whole_life.growth[kOne]) * standard_normal_cdf(d1) -
           (K * whole_life.growth[kZero]) * standard_normal_cdf(d2);
}

HorizonTerms horizon(double tau, double sigma) {
    HorizonTerms terms{};
    terms.tau = tau;
    terms.sqrt_tau = std::sqrt(tau);
    terms.sigma_sqrt_tau = sigma * terms.sqrt_tau;
    return terms;
}

// Trigger price I(tau) = B0 + (B_inf - B0) (1 - e^h(tau)),
// h(tau) = -(b tau + 2 sigma sqrt tau) B0 / (B_inf - B0).
double trigger(const CallCarry& carry, const HorizonTerms& horizon, double b_zero, double b_infinity) {
    const double h = ((-(carry.b * horizon.tau + (2.0 * carry.sigma) * horizon.sqrt_tau)) * b_zero) /
                     (b_infinity - b_zero);
    return b_zero + (b_infinity - b_zero) * (1.0 - std::exp(h));
}

// What the terms share at one spot S.
struct SpotTerms {
    double S;
    double s_power_beta;                     // S^beta
    std::array<double, 3> log_spot_over;     // ln(S/H) for H = I1, I2, K
    std::array<double, 3> barrier_power;     // (I1/S)^kappa per exponent
    std::array<double, 2> barrier_shift;     // 2 ln(I1/S) / (sigma sqrt tau) per horizon
};

enum Level : std::size_t { kLevelI1 = 0, kLevelI2 = 1, kLevelK = 2 };

// N(d) - (I1/S)^kappa N(d - 2 ln(I1/S) / (sigma sqrt tau)), with
// d = -(ln(S/H) + (b + (gamma - 1/2) sigma^2) tau) / (sigma sqrt tau).
double bracket(const HorizonTerms& horizon, std::size_t horizon_index, std::size_t exponent, Level level,
               const SpotTerms& spot) {
    const double d = (-(spot.log_spot_over[level] + horizon.drift[exponent])) / horizon.sigma_sqrt_tau;
    return standard_normal_cdf(d) -
           spot.barrier_power[exponent] * standard_normal_cdf(d - spot.barrier_shift[horizon_index]);
}

// phi for gamma = beta, 1 and 0: e^lambda S^beta, e^lambda S and e^lambda
// times the bracket.
double phi(const HorizonTerms& horizon, std::size_t horizon_index, std::size_t exponent, Level level,
           const SpotTerms& spot) {
    const double value = bracket(horizon, horizon_index, exponent, level, spot);
    switch (exponent) {
        case kBeta:
            return (horizon.growth[kBeta] * spot.s_power_beta) * value;
        case kOne:
            return (horizon.growth[kOne] * spot.S) * value;
        default:
            return horizon.growth[kZero] * value;
    }
}

constexpr std::size_t kFirstPeriod = 0;
constexpr std::size_t kWholeLife = 1;

}  // namespace

CallCarry call_carry(double T, double r, double b, double sigma) {
    CallCarry carry{};
    carry.T = T;
    carry.r = r;
    carry.b = b;
    carry.sigma = sigma;
    if (T <= 0.0) {  // expired; a NaN T does not take this branch
        carry.regime = CallCarry::Regime::Expired;
        return carry;
    }
    const double sigma2 = sigma * sigma;
    carry.whole_life = horizon(T, sigma);
    carry.whole_life.growth[kOne] = std::exp((b - r) * T);
    carry.whole_life.growth[kZero] = std::exp((-r) * T);
    carry.whole_life.drift[kOne] = (b + (1.0 - 0.5) * sigma2) * T;
    if (b >= r) {  // never optimal to exercise early
        carry.regime = CallCarry::Regime::European;
        return carry;
    }
    carry.regime = CallCarry::Regime::EarlyExercise;

    const double carry_ratio = b / sigma2;
    const double beta = (0.5 - carry_ratio) + std::sqrt((carry_ratio - 0.5) * (carry_ratio - 0.5) + (2.0 * r) / sigma2);
    carry.beta = beta;
    const double two_carry_ratio = (2.0 * b) / sigma2;
    carry.kappa = {two_carry_ratio + (2.0 * beta - 1.0), 1.0 + two_carry_ratio, two_carry_ratio - 1.0};

    // lambda = (-r + gamma b + (gamma / 2)(gamma - 1) sigma^2) tau; for gamma = 1
    // and 0 the simplified forms (b - r) tau and -r tau.
    const double beta_rate = (-r + beta * b) + ((0.5 * beta) * (beta - 1.0)) * sigma2;
    carry.first_period = horizon(kGoldenFraction * T, sigma);
    for (HorizonTerms* terms : {&carry.first_period, &carry.whole_life}) {
        const double tau = terms->tau;
        terms->growth = {std::exp(beta_rate * tau), std::exp((b - r) * tau), std::exp((-r) * tau)};
        terms->drift = {(b + (beta - 0.5) * sigma2) * tau, (b + (1.0 - 0.5) * sigma2) * tau,
                        (b + (0.0 - 0.5) * sigma2) * tau};
    }
    return carry;
}

CallBoundary call_boundary(const CallCarry& carry, double K) {
    CallBoundary boundary{};
    boundary.K = K;
    if (carry.regime != CallCarry::Regime::EarlyExercise) {
        return boundary;
    }
    const double beta = carry.beta;
    const double b_infinity = (beta / (beta - 1.0)) * K;
    const double b_zero_candidate = (carry.r / (carry.r - carry.b)) * K;
    const double b_zero = b_zero_candidate > K ? b_zero_candidate : K;
    boundary.i2 = trigger(carry, carry.whole_life, b_zero, b_infinity);
    boundary.i1 = trigger(carry, carry.first_period, b_zero, b_infinity);
    boundary.alpha1 = (boundary.i1 - K) * std::pow(boundary.i1, -beta);
    boundary.alpha2 = (boundary.i2 - K) * std::pow(boundary.i2, -beta);
    return boundary;
}

double bjerksund_stensland_call(const CallCarry& carry, const CallBoundary& boundary, double S) {
    const double K = boundary.K;
    switch (carry.regime) {
        case CallCarry::Regime::Expired:
            return positive_part(S - K);
        case CallCarry::Regime::European:
            return european_call(carry.whole_life, S, K, std::log(S / K));
        case CallCarry::Regime::EarlyExercise:
            break;
    }
    const double i1 = boundary.i1;
    const double i2 = boundary.i2;
    if (S >= i2) {  // immediate exercise, no floor; a NaN S or I2 does not take this branch
        return S - K;
    }

    const double barrier_ratio = i1 / S;
    const double log_barrier_ratio = std::log(barrier_ratio);
    SpotTerms spot{};
    spot.S = S;
    spot.s_power_beta = std::pow(S, carry.beta);
    spot.log_spot_over = {std::log(S / i1), std::log(S / i2), std::log(S / K)};
    for (std::size_t exponent : {kBeta, kOne, kZero}) {
        spot.barrier_power[exponent] = std::pow(barrier_ratio, carry.kappa[exponent]);
    }
    spot.barrier_shift = {(2.0 * log_barrier_ratio) / carry.first_period.sigma_sqrt_tau,
                          (2.0 * log_barrier_ratio) / carry.whole_life.sigma_sqrt_tau};

    const HorizonTerms& t1 = carry.first_period;
    const HorizonTerms& T = carry.whole_life;
    const double alpha1 = boundary.alpha1;
    const double alpha2 = boundary.alpha2;
    double v = alpha1 * phi(t1, kFirstPeriod, kBeta, kLevelI1, spot);
    v = v - alpha1 * phi(t1, kFirstPeriod, kBeta, kLevelI2, spot);
    v = v + phi(t1, kFirstPeriod, kOne, kLevelI2, spot);
    v = v - phi(t1, kFirstPeriod, kOne, kLevelK, spot);
    v = v - K * phi(t1, kFirstPeriod, kZero, kLevelI2, spot);
    v = v + K * phi(t1, kFirstPeriod, kZero, kLevelK, spot);
    v = v + alpha2 * phi(T, kWholeLife, kBeta, kLevelI2, spot);
    v = v - alpha2 * phi(T, kWholeLife, kBeta, kLevelI1, spot);
    v = v + phi(T, kWholeLife, kOne, kLevelI1, spot);
    v = v - phi(T, kWholeLife, kOne, kLevelI2, spot);
    v = v - K * phi(T, kWholeLife, kZero, kLevelI1, spot);
    v = v + K * phi(T, kWholeLife, kZero, kLevelI2, spot);

    const double e = european_call(T, S, K, spot.log_spot_over[kLevelK]);
    if (std::isnan(v)) {
        return e;
    }
    if (std::isnan(e)) {
        return v;
    }
    return e > v ? e : v;
}

double bjerksund_stensland_call(double S, double K, double T, double r, double b, double sigma) {
    const CallCarry carry = call_carry(T, r, b, sigma);
    return bjerksund_stensland_call(carry, call_boundary(carry, K), S);
}

// b = r - q. A put is the call with spot and strike exchanged, rate r - b
// (computed so, not taken from q) and carry -b.
AmericanAtSpot::AmericanAtSpot(double k, double t, double r, double sigma, double q, OptionType type)
    : k_(k), type_(type) {
    const double b = r - q;
    if (type == OptionType::Call) {
        carry_ = call_carry(t, r, b, sigma);
        call_boundary_ = call_boundary(carry_, k);
    } else {
        carry_ = call_carry(t, r - b, -b, sigma);
    }
}

double AmericanAtSpot::operator()(double s) const {
    double core;
    double intrinsic;
    if (type_ == OptionType::Call) {
        core = bjerksund_stensland_call(carry_, call_boundary_, s);
        intrinsic = positive_part(s - k_);
    } else {
        core = bjerksund_stensland_call(carry_, call_boundary(carry_, s), k_);
        intrinsic = positive_part(k_ - s);
    }
    return core > intrinsic ? core : intrinsic;  // a NaN core value gives the intrinsic value
}

PricingResult<double> american_value(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    return AmericanAtSpot(k, t, r, sigma, q, type)(s);
}

}  // namespace velarix
