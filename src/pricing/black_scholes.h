// European Greeks in the Black-Scholes model with a continuous dividend
// yield q. One computation per module function, under the same name.
// Nothing is validated: zeros, infinities and NaN follow IEEE-754 rules.
#pragma once

#include "greeks.h"
#include "option_type.h"
#include "pricing_result.h"

namespace velarix {

PricingResult<double> bs_delta(double s, double k, double t, double r, double sigma, double q, OptionType type);
PricingResult<double> bs_gamma(double s, double k, double t, double r, double sigma, double q);
PricingResult<double> bs_theta(double s, double k, double t, double r, double sigma, double q, OptionType type);
PricingResult<double> bs_vega(double s, double k, double t, double r, double sigma, double q);
PricingResult<double> bs_rho(double s, double k, double t, double r, double sigma, double q, OptionType type);
PricingResult<Greeks> bs_greeks(double s, double k, double t, double r, double sigma, double q, OptionType type);

}  // namespace velarix
