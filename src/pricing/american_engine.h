// The accurate American engine: price, Greeks and exercise boundary of
// American puts and calls with a continuous yield, by fixed-point
// collocation of the exercise boundary (exercise_boundary.h) and the
// early-exercise premium integrated over it. Unlike the Bjerksund-Stensland
// functions it captures the premium to the accuracy of its settings, and it
// uses no C runtime function but the square root, so that its bits are the
// same on every CPU and operating system.
//
// Regimes, for the put of strike 1 every option reduces to (a call is the
// put with rate and yield exchanged):
// - r <= 0 and q >= r: early exercise is never optimal; the European value.
// - r > 0, or r = 0 > q: one exercise boundary; the collocation engine.
// - q < r < 0: the exercise region is a band between two boundaries, which
//   this engine does not solve: NaN. For calls, r < q < 0.
// Limits: t = 0 gives the exercise value; sigma sqrt(t) below 1e-6 the
// value of the deterministic path (sigma = 0 included); inputs no option can
// have (non-finite, a spot or strike not positive, a negative time or
// volatility) give NaN.
#pragma once

#include "american_discretisation.h"
#include "greeks.h"
#include "option_inputs.h"

namespace velarix {

double american_price(const OptionInputs& option, AmericanAccuracy accuracy);

// Delta and gamma from the premium integral with the boundary held (it does
// not depend on spot), theta from the Black-Scholes equation, vega and rho by
// forward differences of re-solved prices. In the units of the other Greeks:
// theta per calendar day, vega per 1.00 of volatility, rho per percentage
// point of r.
Greeks american_greeks(const OptionInputs& option, AmericanAccuracy accuracy);

// The critical spot today: a put is exercised at or below it, a call at or
// above it. The option's spot is not read. 0 for a put and +inf for a call
// where early exercise is never optimal; the strike at t = 0.
double american_exercise_boundary(const OptionInputs& option, AmericanAccuracy accuracy);

// The same on any discretisation, for the comparisons of settings.
double american_price(const OptionInputs& option, const Discretisation& grid);
Greeks american_greeks(const OptionInputs& option, const Discretisation& grid);
double american_exercise_boundary(const OptionInputs& option, const Discretisation& grid);

}  // namespace velarix
