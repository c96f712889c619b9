// The European price on the project's own full-precision functions, and the
// reduction every computation of the American engine starts from: a call is
// priced as the put with spot and strike, rate and yield exchanged
// (C(S, K, r, q) = P(K, S, q, r)), and a put as its strike times the put of
// strike 1. So the engine knows one option, the put of strike 1.
#pragma once

#include "option_inputs.h"

namespace velarix {

// The put of strike 1 an option reduces to, and what its value is scaled by.
struct StrikeOnePut {
    double spot;
    double scale;  // the option's value = scale * the put's value
    double t;
    double r;
    double q;
    double sigma;
};

StrikeOnePut strike_one_put(const OptionInputs& option);

// Whether the option's numbers are ones an option can have: finite, spot
// and strike positive, time and volatility not negative. Every other input
// gets NaN from the functions of this engine.
bool is_priceable(const OptionInputs& option);

// The European put of strike 1, for t > 0 and sigma > 0, with the terms its
// spot Greeks are made of, so that they need not be computed again.
struct EuropeanPut {
    double value;
    double d_plus;
    double yield_discount;  // e^(-qT)
    double yield_tail;      // N(-d+)
    double sigma_root_t;
};

EuropeanPut european_put(const StrikeOnePut& put);

// The European price: the discounted intrinsic value of the forward at
// sigma = 0 or t = 0, NaN for inputs no option can have.
double european_price(const OptionInputs& option);

}  // namespace velarix
