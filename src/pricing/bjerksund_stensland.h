// The American price: the closed-form Bjerksund-Stensland (2002)
// approximation for a call with cost of carry b, and `american_value`, which
// prices calls directly and puts through the put-call transformation, floored
// at the intrinsic value.
#pragma once

#include "option_inputs.h"

namespace velarix {

// American call on spot S with strike K, time T, rate r, carry b, volatility sigma.
double bjerksund_stensland_call(double S, double K, double T, double r, double b, double sigma);

// The price behind am_price and every American Greek.
PricingResult<double> american_value(double s, double k, double t, double r, double sigma, double q, OptionType type);

// The computation behind the module function am_price: the price itself.
inline PricingResult<double> am_price(double s, double k, double t, double r, double sigma, double q,
                                      OptionType type) {
    return american_value(s, k, t, r, sigma, q, type);
}

}  // namespace velarix
