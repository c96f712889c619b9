// Implied volatility: the volatility at which an option's price is the one
// quoted. European options are inverted to full double precision through the
// normalized Black function (european_implied_volatility.cpp); American ones
// by a bracketed secant search on the accurate American engine
// (american_implied_volatility.cpp), so that a price the engine gave returns
// the volatility it was given.
#pragma once

#include <cmath>
#include <cstdint>

#include "american_discretisation.h"
#include "option_inputs.h"

namespace velarix {

// Why a price has a volatility or not. The numbers are part of
// velarix_batch's interface (the codes its reasons array holds): never
// renumber them.
enum class VolatilityOutcome : std::uint8_t {
    Solved = 0,
    // A price or input not finite, a spot or strike not positive, or no time
    // to expiry (at t = 0 the price does not depend on volatility).
    InvalidInput = 1,
    // Below the least value the option has at any volatility: the discounted
    // intrinsic value of the forward (European), the value at zero
    // volatility (American). Negative prices included.
    BelowRange = 2,
    // At or above the value as volatility grows without bound: S e^(-qT) for
    // a European call, K e^(-rT) for a put; S and K for American ones.
    AboveRange = 3,
    // American: the price is the exercise value, which every volatility up
    // to some level gives: it singles out none.
    ExerciseRegion = 4,
    // American: a put with q < r < 0 or a call with r < q < 0, whose
    // exercise region the engine does not solve.
    NoEngineValue = 5,
    // American: the search found no single volatility, the price hardly
    // moving with it (vega vanishing next to the exercise boundary).
    NotDetermined = 6,
};

struct ImpliedVolatility {
    double volatility;  // NaN unless solved
    VolatilityOutcome outcome;
};

// Whether a price can be inverted for an option at all: the price and every
// input but sigma finite, spot, strike and time to expiry positive.
inline bool is_invertible(double price, const OptionInputs& option) {
    const bool finite = std::isfinite(price) && std::isfinite(option.s) && std::isfinite(option.k) &&
                        std::isfinite(option.t) && std::isfinite(option.r) && std::isfinite(option.q);
    return finite && option.s > 0.0 && option.k > 0.0 && option.t > 0.0;
}

// The option's sigma is not read. A price whose time value lies within its
// own rounding (4 units in its last place) of the least value gives 0.
ImpliedVolatility european_implied_volatility(double price, const OptionInputs& option);

// Inverts american_price(option, accuracy): round trips through it return
// the volatility to about 1e-10 wherever the vega is not tiny.
ImpliedVolatility american_implied_volatility(double price, const OptionInputs& option, AmericanAccuracy accuracy);

}  // namespace velarix
