// American Greeks as finite differences of the Bjerksund-Stensland price,
// one computation per module function, under the same name.
#pragma once

#include "greeks.h"
#include "option_type.h"
#include "pricing_result.h"

namespace velarix {

PricingResult<double> am_delta(double s, double k, double t, double r, double sigma, double q, OptionType type);
PricingResult<double> am_gamma(double s, double k, double t, double r, double sigma, double q, OptionType type);
PricingResult<double> am_theta(double s, double k, double t, double r, double sigma, double q, OptionType type);
PricingResult<double> am_vega(double s, double k, double t, double r, double sigma, double q, OptionType type);
PricingResult<double> am_rho(double s, double k, double t, double r, double sigma, double q, OptionType type);
PricingResult<Greeks> am_greeks(double s, double k, double t, double r, double sigma, double q, OptionType type);

}  // namespace velarix
