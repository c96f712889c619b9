// The American module functions, one computation each under the same name:
// the Bjerksund-Stensland price, and its Greeks as finite differences of it
// (american_greeks.cpp).
#pragma once

#include "bjerksund_stensland.h"
#include "greeks.h"
#include "option_inputs.h"
#include "pricing_result.h"

namespace velarix {

// The price itself.
inline PricingResult<double> am_price(const OptionInputs& option) { return american_value(option); }

PricingResult<double> am_delta(const OptionInputs& option);
PricingResult<double> am_gamma(const OptionInputs& option);
PricingResult<double> am_theta(const OptionInputs& option);
PricingResult<double> am_vega(const OptionInputs& option);
PricingResult<double> am_rho(const OptionInputs& option);
PricingResult<Greeks> am_greeks(const OptionInputs& option);

}  // namespace velarix
