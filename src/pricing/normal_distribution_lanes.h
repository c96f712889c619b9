// The AVX-512 lanes of the standard normal distribution's batches, built on
// x86-64 by GCC or Clang only (VELARIX_AVX512_LANES says whether this build
// has them); the CPU must have AVX-512F.
#pragma once

#include <cstddef>

#if defined(__x86_64__) && defined(__GNUC__)
#define VELARIX_AVX512_LANES 1

namespace velarix {

// values[i] = standard_normal_cdf(x[i]) for i < count, bit for bit.
__attribute__((target("avx512f"))) void standard_normal_cdf_avx512(const double* x, double* values,
                                                                     std::size_t count);

}  // namespace velarix
#endif
