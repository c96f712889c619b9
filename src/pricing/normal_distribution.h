// The standard normal distribution function N and density phi, on a fixed
// piecewise rational erf. The rational approximation is part of the module's
// results: it is accurate to about 1e-10 relative, and replacing it with the C
// runtime's erfc (or any other erf) changes results near the tenth digit.
//
// The American price needs N many times at once, so N is also evaluated in
// batches: lane by lane in SIMD registers where the CPU has them, with each
// lane doing exactly the scalar operations, so that every path gives the
// scalar bits. The path is chosen once, at run time, so that one build
// serves every x86-64 CPU.
#pragma once

#include <cstddef>

#include "runtime_math.h"

namespace velarix {

// erfc(z) when `complement` is true, erf(z) otherwise.
double erf_rational(double z, bool complement);

// N(x): the distribution function of the standard normal.
double standard_normal_cdf(double x);

// values[i] = standard_normal_cdf(x[i]) for i < count, bit for bit, on the
// fastest path this CPU offers.
void standard_normal_cdf_batch(const double* x, double* values, std::size_t count);

// Whether the core's own batches run in AVX-512 lanes in this process: the
// batches of N, and the arithmetic of the European blocks (black_scholes.h).
bool core_lanes_in_use();

inline constexpr double kSqrtTwoPi = 2.5066282746310007;

// phi(x) = exp(-x^2/2) / sqrt(2 pi), in exactly this order of operations.
inline double normal_pdf(double x) { return std::exp((-0.5 * x) * x) / kSqrtTwoPi; }

}  // namespace velarix
