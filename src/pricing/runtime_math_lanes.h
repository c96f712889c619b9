// The C runtime's exp, log and pow (runtime_math.h) over arrays, eight at a
// time in AVX-512 lanes where that gives the runtime's bits, else one call at
// a time: the result is the runtime's, to the last bit, either way.
//
// The lanes repeat glibc's algorithm (2.28 and later) as its x86-64 variant
// for CPUs with FMA and AVX2 runs it: the same tables, the same operations in
// the same order, fused multiply-adds exactly where that variant has them.
// A lane whose argument lies outside the algorithm's main path (zeros,
// infinities, NaNs, subnormals, results that overflow or underflow, negative
// bases of pow) takes the scalar call. The lanes are used only when the CPU
// has AVX-512F and, checked once at first use, the runtime's own functions
// give the lanes' bits on arguments where glibc's plain variant (chosen on
// CPUs without FMA, or when glibc's tunables hide FMA) would differ. Anything
// else (another C runtime, another glibc build, another architecture): the
// scalar calls.
#pragma once

#include <cstddef>

namespace velarix::runtime_lanes {

// out[i] = exp(x[i]), log(x[i]), pow(x[i], y[i]) for i < count, with the bits
// of runtime_math.h's functions. out may be one of the inputs (but not
// otherwise overlap them).
void exp_batch(const double* x, double* out, std::size_t count);
void log_batch(const double* x, double* out, std::size_t count);
void pow_batch(const double* x, const double* y, double* out, std::size_t count);

// Whether the batch functions evaluate in lanes in this process, and in words
// why or why not (for diagnostics such as scripts/libm_variant.py's).
bool lanes_in_use();
const char* lanes_decision();

}  // namespace velarix::runtime_lanes
