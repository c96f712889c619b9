// One option as every pricing computation takes it: the six numbers and the
// option type, in the order of the module functions' parameters. Passed as
// one record, and built with designated initializers, whose order C++20
// enforces, so that a swapped r and q, or any two numbers out of place, fail
// to compile instead of pricing another option.
#pragma once

#include "option_type.h"

namespace velarix {

// No member has a default: g++ warns (an error in our builds) when a
// designated initializer leaves one out, so none silently reads zero.
struct OptionInputs {
    double s;      // spot
    double k;      // strike
    double t;      // time to expiry in years
    double r;      // risk-free rate, continuously compounded
    double sigma;  // volatility
    double q;      // continuous dividend yield
    OptionType type;
};

}  // namespace velarix
