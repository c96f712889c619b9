// Entry points of the pricing core that only the tests and benchmarks call:
// the paths of the normal distribution's batches, chosen by hand, and the
// American formula's pieces one at a time. The modules never include this
// header; the build gives it to the tests and benchmarks only.
#pragma once

#include <cstddef>

#include "bjerksund_stensland.h"
#include "normal_distribution.h"

namespace velarix {

// P(X <= x) for X normal with the given mean and standard deviation; N(x)
// is the case mean 0, deviation 1.
double normal_cdf(double mean, double standard_deviation, double x);

// The ways to evaluate a batch of N: the scalar code value by value, or
// eight lanes at a time with AVX-512 (x86-64 built by GCC or Clang only).
// The path also chooses the arithmetic of the European blocks: compiled for
// any CPU, or for AVX-512 (core_lanes_in_use).
enum class NormalPath { Scalar, Avx512 };

const char* normal_path_name(NormalPath path);

// Whether this build and this CPU can take the path.
bool normal_path_available(NormalPath path);

// The path batches take: the fastest one available, unless
// use_normal_path_for_testing chose another.
NormalPath active_normal_path();

// Makes later batches take `path`, which must be available, so that tests
// and benchmarks compare the paths.
void use_normal_path_for_testing(NormalPath path);

// standard_normal_cdf_batch on the path given.
void standard_normal_cdf_batch(NormalPath path, const double* x, double* values, std::size_t count);

// The formula's steps with the runtime called at once, each in one call:
// the horizons, the boundary, and a call value at S begun with the
// arguments of N written.
CallHorizons call_horizons(double T, double r, double b, double sigma, const CallHorizons* known = nullptr);
CallBoundary call_boundary(const CallHorizons& horizons, double K, const CallBoundary* known = nullptr);
PendingCall begin_call(const CallHorizons& horizons, const CallBoundary& boundary, double S, double* normal_arguments,
                       const PendingCall* known = nullptr);

// The early-exercise formula's own value v at a pending call of the
// early-exercise stage, before finish_call floors it at the European value.
// Wherever the European value is the larger (for a call whose rate exceeds
// its dividend yield, nearly always) the price does not show v.
double early_exercise_value(const CallHorizons& horizons, const CallBoundary& boundary, const PendingCall& pending,
                            const double* normal_values);

// The call value at S in one step.
double bjerksund_stensland_call(const CallHorizons& horizons, const CallBoundary& boundary, double S);

// American call on spot S with strike K, time T, rate r, carry b, volatility sigma.
double bjerksund_stensland_call(double S, double K, double T, double r, double b, double sigma);

}  // namespace velarix
