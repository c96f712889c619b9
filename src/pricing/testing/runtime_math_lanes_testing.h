// Test support for runtime_math_lanes.h, not part of its interface: the
// batch functions on a path chosen by the caller, the witness check on its
// own, and a switch that forces the path the public functions take.
#pragma once

#include <cstddef>

namespace velarix::runtime_lanes {

// Scalar: one runtime call per value. Avx512: eight lanes at a time, lanes
// outside the main path by the scalar call.
enum class LanesPath { Scalar, Avx512 };

// Whether this build and this CPU can take the path (regardless of the
// witness check).
bool lanes_path_available(LanesPath path);

// Whether the lanes give the runtime's bits on every witness argument; the
// lanes must be available.
bool witnesses_agree();

void exp_batch(LanesPath path, const double* x, double* out, std::size_t count);
void log_batch(LanesPath path, const double* x, double* out, std::size_t count);
void pow_batch(LanesPath path, const double* x, const double* y, double* out, std::size_t count);

// The public functions take `path` from now on (an available one).
void use_lanes_path_for_testing(LanesPath path);

}  // namespace velarix::runtime_lanes
