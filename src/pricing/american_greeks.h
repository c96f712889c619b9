// American Greeks as finite differences of the Bjerksund-Stensland price,
// one computation per module function, under the same name.
#pragma once

#include "greeks.h"
#include "option_inputs.h"
#include "pricing_result.h"

namespace velarix {

PricingResult<double> am_delta(const OptionInputs& option);
PricingResult<double> am_gamma(const OptionInputs& option);
PricingResult<double> am_theta(const OptionInputs& option);
PricingResult<double> am_vega(const OptionInputs& option);
PricingResult<double> am_rho(const OptionInputs& option);
PricingResult<Greeks> am_greeks(const OptionInputs& option);

}  // namespace velarix
