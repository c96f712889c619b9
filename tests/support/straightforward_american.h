// The American price transcribed term by term, each of the twelve terms
// computing its own logarithms, powers and exponentials. It is slow but
// obviously faithful to the formula, so the tests require the shared-term
// implementation to give exactly its bits, and the core benchmark shows
// what sharing the terms saves.
#pragma once

#include <cmath>
#include <limits>

#include "normal_distribution.h"
#include "option_inputs.h"

namespace velarix::straightforward {

constexpr double kGoldenFraction = 0.6180339887498949;  // (sqrt 5 - 1) / 2

inline double positive_part(double payoff) { return payoff > 0.0 ? payoff : 0.0; }  // a NaN payoff gives 0

inline double european_call(double S, double K, double T, double r, double b, double sigma) {
    const double sigma_sqrt_t = sigma * std::sqrt(T);
    const double d1 = (std::log(S / K) + (b + 0.5 * (sigma * sigma)) * T) / sigma_sqrt_t;
    const double d2 = d1 - sigma_sqrt_t;
    return (S * std::exp((b - r) * T)) * standard_normal_cdf(d1) -
           (K * std::exp((-r) * T)) * standard_normal_cdf(d2);
}

// The exponent gamma of one term: beta, 1 or 0. The last two have the
// simplified forms of lambda and kappa, and 0 takes no power of S at all.
enum class Exponent { Beta, One, Zero };

struct Market {
    double S;
    double r;
    double b;
    double sigma;
    double sigma2;  // sigma * sigma
    double beta;
    double barrier;  // I1, the barrier of every term
};

// phi(S, tau, gamma, H, I) = e^lambda S^gamma [N(d) - (I/S)^kappa N(d - 2 ln(I/S) / (sigma sqrt tau))]
inline double phi(const Market& m, double tau, Exponent exponent, double level) {
    const double gamma = exponent == Exponent::Beta ? m.beta : exponent == Exponent::One ? 1.0 : 0.0;
    // Every case sets both; the initial values only keep GCC's flow analysis
    // (under the sanitizers) from warning.
    double lambda = 0.0;
    double kappa = 0.0;
    switch (exponent) {
        case Exponent::Beta:
            lambda = ((-m.r + gamma * m.b) + ((0.5 * gamma) * (gamma - 1.0)) * m.sigma2) * tau;
            kappa = (2.0 * m.b) / m.sigma2 + (2.0 * gamma - 1.0);
            break;
        case Exponent::One:
            lambda = (m.b - m.r) * tau;
            kappa = 1.0 + (2.0 * m.b) / m.sigma2;
            break;
        case Exponent::Zero:
            lambda = (-m.r) * tau;
            kappa = (2.0 * m.b) / m.sigma2 - 1.0;
            break;
    }
    const double sigma_sqrt_tau = m.sigma * std::sqrt(tau);
    const double d = (-(std::log(m.S / level) + (m.b + (gamma - 0.5) * m.sigma2) * tau)) / sigma_sqrt_tau;
    const double barrier_ratio = m.barrier / m.S;
    const double bracket =
        standard_normal_cdf(d) - std::pow(barrier_ratio, kappa) *
                                     standard_normal_cdf(d - (2.0 * std::log(barrier_ratio)) / sigma_sqrt_tau);
    switch (exponent) {
        case Exponent::Beta:
            return (std::exp(lambda) * std::pow(m.S, gamma)) * bracket;
        case Exponent::One:
            return (std::exp(lambda) * m.S) * bracket;
        case Exponent::Zero:
            break;
    }
    return std::exp(lambda) * bracket;
}

// The boundary and the early-exercise value v of a call with b < r, before
// v is floored at the European value; v is NaN from the trigger I2 on, where
// the call is exercised at once.
struct EarlyExerciseParts {
    double beta;
    double b_infinity;
    double i1;
    double i2;
    double alpha1;
    double alpha2;
    double v;
};

inline EarlyExerciseParts early_exercise_parts(double S, double K, double T, double r, double b, double sigma) {
    const double sigma2 = sigma * sigma;
    const double carry_ratio = b / sigma2;
    const double beta = (0.5 - carry_ratio) + std::sqrt((carry_ratio - 0.5) * (carry_ratio - 0.5) + (2.0 * r) / sigma2);
    const double b_infinity = (beta / (beta - 1.0)) * K;
    const double b_zero_candidate = (r / (r - b)) * K;
    const double b_zero = b_zero_candidate > K ? b_zero_candidate : K;
    const auto trigger = [&](double tau) {
        const double h = ((-(b * tau + (2.0 * sigma) * std::sqrt(tau))) * b_zero) / (b_infinity - b_zero);
        return b_zero + (b_infinity - b_zero) * (1.0 - std::exp(h));
    };

    const double t1 = kGoldenFraction * T;
    EarlyExerciseParts parts{};
    parts.beta = beta;
    parts.b_infinity = b_infinity;
    parts.i2 = trigger(T);
    parts.i1 = trigger(t1);
    parts.alpha1 = (parts.i1 - K) * std::pow(parts.i1, -beta);
    parts.alpha2 = (parts.i2 - K) * std::pow(parts.i2, -beta);
    parts.v = std::numeric_limits<double>::quiet_NaN();
    if (S >= parts.i2) {
        return parts;
    }
    const double i1 = parts.i1;
    const double i2 = parts.i2;
    const double alpha1 = parts.alpha1;
    const double alpha2 = parts.alpha2;
    const Market m{S, r, b, sigma, sigma2, beta, i1};
    double v = alpha1 * phi(m, t1, Exponent::Beta, i1);
    v = v - alpha1 * phi(m, t1, Exponent::Beta, i2);
    v = v + phi(m, t1, Exponent::One, i2);
    v = v - phi(m, t1, Exponent::One, K);
    v = v - K * phi(m, t1, Exponent::Zero, i2);
    v = v + K * phi(m, t1, Exponent::Zero, K);
    v = v + alpha2 * phi(m, T, Exponent::Beta, i2);
    v = v - alpha2 * phi(m, T, Exponent::Beta, i1);
    v = v + phi(m, T, Exponent::One, i1);
    v = v - phi(m, T, Exponent::One, i2);
    v = v - K * phi(m, T, Exponent::Zero, i1);
    v = v + K * phi(m, T, Exponent::Zero, i2);
    parts.v = v;
    return parts;
}

inline double call_value(double S, double K, double T, double r, double b, double sigma) {
    if (T <= 0.0) {  // expired
        return positive_part(S - K);
    }
    if (b >= r) {  // never optimal to exercise early
        return european_call(S, K, T, r, b, sigma);
    }
    const EarlyExerciseParts parts = early_exercise_parts(S, K, T, r, b, sigma);
    if (S >= parts.i2) {  // immediate exercise, no floor
        return S - K;
    }
    const double v = parts.v;
    const double e = european_call(S, K, T, r, b, sigma);
    if (std::isnan(v)) {
        return e;
    }
    if (std::isnan(e)) {
        return v;
    }
    // A v above the perpetual call's value is no price: as for a NaN v.
    if (v > e && v > (parts.b_infinity - K) * std::pow(S / parts.b_infinity, parts.beta)) {
        return e;
    }
    return e > v ? e : v;
}

// american_value as written: a call directly, a put through the put-call
// transformation, floored at the intrinsic value.
inline double american_value(const OptionInputs& option) {
    const double b = option.r - option.q;
    if (option.type == OptionType::Call) {
        const double core = call_value(option.s, option.k, option.t, option.r, b, option.sigma);
        const double intrinsic = positive_part(option.s - option.k);
        return core > intrinsic ? core : intrinsic;
    }
    const double core = call_value(option.k, option.s, option.t, option.r - b, -b, option.sigma);
    const double intrinsic = positive_part(option.k - option.s);
    return core > intrinsic ? core : intrinsic;
}

}  // namespace velarix::straightforward
