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

// P(X <= x) for X normal with the given mean and standard deviation.
double normal_cdf(double mean, double standard_deviation, double x);

// N(x) = normal_cdf(0, 1, x): the distribution function of the standard normal.
double standard_normal_cdf(double x);

// The ways to evaluate a batch of N: the scalar code value by value, or
// eight lanes at a time with AVX-512 (x86-64 built by GCC or Clang only).
enum class NormalPath { Scalar, Avx512 };

const char* normal_path_name(NormalPath path);

// Whether this build and this CPU can take the path.
bool normal_path_available(NormalPath path);

// The path batches take: the fastest one available, unless
// use_normal_path_for_testing chose another.
NormalPath active_normal_path();

// Makes later batches take `path`, which must be available. For the tests
// and benchmarks that compare the paths; the module never calls it.
void use_normal_path_for_testing(NormalPath path);

// values[i] = standard_normal_cdf(x[i]) for i < count, bit for bit, on the
// active path or on the one given.
void standard_normal_cdf_batch(const double* x, double* values, std::size_t count);
void standard_normal_cdf_batch(NormalPath path, const double* x, double* values, std::size_t count);

inline constexpr double kSqrtTwoPi = 2.5066282746310007;

// phi(x) = exp(-x^2/2) / sqrt(2 pi), in exactly this order of operations.
inline double normal_pdf(double x) { return std::exp((-0.5 * x) * x) / kSqrtTwoPi; }

}  // namespace velarix
