// Full-precision exp, expm1, log and standard normal distribution function
// Phi and density phi that give the same bits on every CPU, OS and compiler:
// they use only + - * /, comparisons and bit manipulation, never the C
// runtime. exp, expm1 and log are faithful (error below 1 ulp); Phi and phi
// are within a few ulps relative wherever their result is a normal double,
// the far left tail of Phi included (tables in precise_math_tables.h).
//
// The scalar functions are inline for hot loops. The batch functions give
// bit for bit the scalar results, eight at a time in AVX-512 lanes where the
// CPU has them (chosen once at run time), else one at a time.
#pragma once

#include <cstddef>

#include "precise_math_kernels.h"

namespace velarix::precise {

inline double exp(double x) { return kernels::exp(x); }
inline double expm1(double x) { return kernels::expm1(x); }
inline double log(double x) { return kernels::log(x); }
// Phi(x) = P(Z <= x) for Z standard normal.
inline double normal_cdf(double x) { return kernels::normal_cdf(x); }
// phi(x) = exp(-x^2/2) / sqrt(2 pi).
inline double normal_pdf(double x) { return kernels::normal_pdf(x); }
// Phi(-a) exp(a^2/2), the normal tail with its Gaussian factor taken out, for
// 0 <= a <= 39 (where it is about 1/(a sqrt(2 pi)) and never underflows).
inline double normal_tail_ratio(double a) { return kernels::normal_tail_ratio(a); }

// y[i] = f(x[i]) for i < count; x and y may be the same array (but not
// otherwise overlap).
void exp_batch(const double* x, double* y, std::size_t count);
void log_batch(const double* x, double* y, std::size_t count);
void normal_cdf_batch(const double* x, double* y, std::size_t count);
void normal_pdf_batch(const double* x, double* y, std::size_t count);

}  // namespace velarix::precise
