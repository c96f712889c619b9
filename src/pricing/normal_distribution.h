// The standard normal distribution function N and density phi, on a fixed
// piecewise rational erf. The rational approximation is part of the module's
// results: it is accurate to about 1e-10 relative, and replacing it with the C
// runtime's erfc (or any other erf) changes results near the tenth digit.
#pragma once

#include "runtime_math.h"

namespace velarix {

// erfc(z) when `complement` is true, erf(z) otherwise.
double erf_rational(double z, bool complement);

// P(X <= x) for X normal with the given mean and standard deviation.
double normal_cdf(double mean, double standard_deviation, double x);

// N(x) = normal_cdf(0, 1, x): the distribution function of the standard normal.
double standard_normal_cdf(double x);

inline constexpr double kSqrtTwoPi = 2.5066282746310007;

// phi(x) = exp(-x^2/2) / sqrt(2 pi), in exactly this order of operations.
inline double normal_pdf(double x) { return std::exp((-0.5 * x) * x) / kSqrtTwoPi; }

}  // namespace velarix
