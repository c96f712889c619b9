// Closed-form European Greeks. Each formula is evaluated in exactly the order
// written here: the order of the floating-point operations is part of the
// results, so that they are reproducible to the last bit for a given C
// runtime exp, log and pow. The all-Greeks computation shares d1 and the
// discount factors with the single Greeks without changing a bit, because it
// evaluates the very same expressions.
#include "black_scholes.h"

#include "normal_distribution.h"
#include "runtime_math.h"

namespace velarix {
namespace {

// The double nearest to e: gamma takes its dividend discount through pow,
// which may differ in the last bit from exp.
constexpr double kEuler = 2.718281828459045;

struct D1 {
    double sqrt_t;
    double sigma_sqrt_t;
    double d1;
};

D1 compute_d1(double s, double k, double t, double r, double sigma, double q) {
    const double log_moneyness = std::log(s / k);
    const double sqrt_t = std::sqrt(t);
    const double sigma_sqrt_t = sqrt_t * sigma;
    const double d1 = (((sigma * sigma) * 0.5 + (r - q)) * t + log_moneyness) / sigma_sqrt_t;
    return {sqrt_t, sigma_sqrt_t, d1};
}

double discount(double rate, double t) { return std::exp((-rate) * t); }

double delta_of(double d1, double dividend_discount, OptionType type) {
    if (type == OptionType::Call) {
        return standard_normal_cdf(d1) * dividend_discount;
    }
    return standard_normal_cdf(-d1) * (-dividend_discount);
}

double gamma_of(const D1& terms, double s, double t, double sigma, double q) {
    const double dividend_discount = std::pow(kEuler, (-q) * t);
    return (normal_pdf(terms.d1) * dividend_discount) / ((s * sigma) * terms.sqrt_t);
}

double vega_of(const D1& terms, double s, double dividend_discount) {
    return (normal_pdf(terms.d1) * (s * dividend_discount)) * terms.sqrt_t;
}

double rho_of(double d2, double k, double t, double rate_discount, OptionType type) {
    if (type == OptionType::Call) {
        return (standard_normal_cdf(d2) * ((k * t) * rate_discount)) / kPercentagePoints;
    }
    return (standard_normal_cdf(-d2) * (((-k) * t) * rate_discount)) / kPercentagePoints;
}

double theta_of(const D1& terms, double s, double k, double r, double sigma, double q, double dividend_discount,
                double rate_discount, OptionType type) {
    const double d1 = terms.d1;
    const double d2 = d1 - terms.sigma_sqrt_t;
    // -s sigma e^(-qt) phi(d1) / (2 sqrt t): the density divided by the
    // negated constant, and 2 sqrt t formed as a sum.
    const double decay = (((sigma * s) * dividend_discount) * (std::exp((-0.5 * d1) * d1) / (-kSqrtTwoPi))) /
                         (terms.sqrt_t + terms.sqrt_t);
    const double strike_carry = (k * r) * rate_discount;
    const double dividend_carry = (s * q) * dividend_discount;
    if (type == OptionType::Call) {
        return ((decay - strike_carry * standard_normal_cdf(d2)) + standard_normal_cdf(d1) * dividend_carry) /
               kDaysPerYear;
    }
    return ((strike_carry * standard_normal_cdf(-d2) + decay) - standard_normal_cdf(-d1) * dividend_carry) /
           kDaysPerYear;
}

}  // namespace

PricingResult<double> bs_delta(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const D1 terms = compute_d1(s, k, t, r, sigma, q);
    return delta_of(terms.d1, discount(q, t), type);
}

PricingResult<double> bs_gamma(double s, double k, double t, double r, double sigma, double q) {
    return gamma_of(compute_d1(s, k, t, r, sigma, q), s, t, sigma, q);
}

PricingResult<double> bs_theta(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const D1 terms = compute_d1(s, k, t, r, sigma, q);
    return theta_of(terms, s, k, r, sigma, q, discount(q, t), discount(r, t), type);
}

PricingResult<double> bs_vega(double s, double k, double t, double r, double sigma, double q) {
    const D1 terms = compute_d1(s, k, t, r, sigma, q);
    return vega_of(terms, s, discount(q, t));
}

PricingResult<double> bs_rho(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const D1 terms = compute_d1(s, k, t, r, sigma, q);
    return rho_of(terms.d1 - terms.sigma_sqrt_t, k, t, discount(r, t), type);
}

PricingResult<Greeks> bs_greeks(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    const D1 terms = compute_d1(s, k, t, r, sigma, q);
    const double dividend_discount = discount(q, t);
    const double rate_discount = discount(r, t);
    return Greeks{
        delta_of(terms.d1, dividend_discount, type),
        gamma_of(terms, s, t, sigma, q),
        theta_of(terms, s, k, r, sigma, q, dividend_discount, rate_discount, type),
        vega_of(terms, s, dividend_discount),
        rho_of(terms.d1 - terms.sigma_sqrt_t, k, t, rate_discount, type),
    };
}

}  // namespace velarix
