// The ways precise_math.h's batch functions can evaluate, for the tests and
// benchmarks that compare them; the public functions take the fastest path
// the CPU offers. Not part of the public interface.
#pragma once

#include <cstddef>

namespace velarix::precise {

// Scalar: the inline functions value by value. Avx512: eight lanes at a time
// (x86-64 built by GCC or Clang, on a CPU with AVX-512F).
enum class PrecisePath { Scalar, Avx512 };

// Whether this build and this CPU can take the path.
bool precise_path_available(PrecisePath path);

// The batch functions on a given, available path.
void exp_batch(PrecisePath path, const double* x, double* y, std::size_t count);
void log_batch(PrecisePath path, const double* x, double* y, std::size_t count);
void normal_cdf_batch(PrecisePath path, const double* x, double* y, std::size_t count);
void normal_pdf_batch(PrecisePath path, const double* x, double* y, std::size_t count);

}  // namespace velarix::precise
