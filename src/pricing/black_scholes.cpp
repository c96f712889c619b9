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
constexpr double kEulersNumber = 2.718281828459045;

struct D1 {
    double sqrt_t;
    double sigma_sqrt_t;
    double d1;
};

D1 compute_d1(const OptionInputs& option) {
    const double log_moneyness = std::log(option.s / option.k);
    const double sqrt_t = std::sqrt(option.t);
    const double sigma_sqrt_t = sqrt_t * option.sigma;
    const double d1 =
        (((option.sigma * option.sigma) * 0.5 + (option.r - option.q)) * option.t + log_moneyness) / sigma_sqrt_t;
    return {sqrt_t, sigma_sqrt_t, d1};
}

double discount(double rate, double t) { return std::exp((-rate) * t); }

double delta_of(double d1, double dividend_discount, OptionType type) {
    if (type == OptionType::Call) {
        return standard_normal_cdf(d1) * dividend_discount;
    }
    return standard_normal_cdf(-d1) * (-dividend_discount);
}

double gamma_of(const D1& terms, const OptionInputs& option) {
    const double dividend_discount = std::pow(kEulersNumber, (-option.q) * option.t);
    return (normal_pdf(terms.d1) * dividend_discount) / ((option.s * option.sigma) * terms.sqrt_t);
}

double vega_of(const D1& terms, double s, double dividend_discount) {
    return (normal_pdf(terms.d1) * (s * dividend_discount)) * terms.sqrt_t;
}

double rho_of(double d2, const OptionInputs& option, double rate_discount) {
    if (option.type == OptionType::Call) {
        return (standard_normal_cdf(d2) * ((option.k * option.t) * rate_discount)) / kPercentagePoints;
    }
    return (standard_normal_cdf(-d2) * (((-option.k) * option.t) * rate_discount)) / kPercentagePoints;
}

double theta_of(const D1& terms, const OptionInputs& option, double dividend_discount, double rate_discount) {
    const double d1 = terms.d1;
    const double d2 = d1 - terms.sigma_sqrt_t;
    // -s sigma e^(-qt) phi(d1) / (2 sqrt t): the density divided by the
    // negated constant, and 2 sqrt t formed as a sum.
    const double decay =
        (((option.sigma * option.s) * dividend_discount) * (std::exp((-0.5 * d1) * d1) / (-kSqrtTwoPi))) /
        (terms.sqrt_t + terms.sqrt_t);
    const double strike_carry = (option.k * option.r) * rate_discount;
    const double dividend_carry = (option.s * option.q) * dividend_discount;
    if (option.type == OptionType::Call) {
        return ((decay - strike_carry * standard_normal_cdf(d2)) + standard_normal_cdf(d1) * dividend_carry) /
               kDaysPerYear;
    }
    return ((strike_carry * standard_normal_cdf(-d2) + decay) - standard_normal_cdf(-d1) * dividend_carry) /
           kDaysPerYear;
}

}  // namespace

PricingResult<double> bs_delta(const OptionInputs& option) {
    const D1 terms = compute_d1(option);
    return delta_of(terms.d1, discount(option.q, option.t), option.type);
}

PricingResult<double> bs_gamma(const OptionInputs& option) { return gamma_of(compute_d1(option), option); }

PricingResult<double> bs_theta(const OptionInputs& option) {
    const D1 terms = compute_d1(option);
    return theta_of(terms, option, discount(option.q, option.t), discount(option.r, option.t));
}

PricingResult<double> bs_vega(const OptionInputs& option) {
    const D1 terms = compute_d1(option);
    return vega_of(terms, option.s, discount(option.q, option.t));
}

PricingResult<double> bs_rho(const OptionInputs& option) {
    const D1 terms = compute_d1(option);
    return rho_of(terms.d1 - terms.sigma_sqrt_t, option, discount(option.r, option.t));
}

PricingResult<Greeks> bs_greeks(const OptionInputs& option) {
    const D1 terms = compute_d1(option);
    const double dividend_discount = discount(option.q, option.t);
    const double rate_discount = discount(option.r, option.t);
    return Greeks{
        delta_of(terms.d1, dividend_discount, option.type),
        gamma_of(terms, option),
        theta_of(terms, option, dividend_discount, rate_discount),
        vega_of(terms, option.s, dividend_discount),
        rho_of(terms.d1 - terms.sigma_sqrt_t, option, rate_discount),
    };
}

}  // namespace velarix
