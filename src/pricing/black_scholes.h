// European Greeks in the Black-Scholes model with a continuous dividend
// yield q. One computation per module function, under the same name.
// Nothing is validated: zeros, infinities and NaN follow IEEE-754 rules.
#pragma once

#include "greeks.h"
#include "option_inputs.h"
#include "pricing_result.h"

namespace velarix {

// Gamma and vega are the same for calls and puts: they do not read the type.
PricingResult<double> bs_delta(const OptionInputs& option);
PricingResult<double> bs_gamma(const OptionInputs& option);
PricingResult<double> bs_theta(const OptionInputs& option);
PricingResult<double> bs_vega(const OptionInputs& option);
PricingResult<double> bs_rho(const OptionInputs& option);
PricingResult<Greeks> bs_greeks(const OptionInputs& option);

}  // namespace velarix
