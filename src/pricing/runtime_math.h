// The C runtime's exp, log and pow, which fix the last bit of every result.
// Every file of the core that calls them includes this header instead of
// <cmath> alone.
//
// On glibc the calls are bound to the implementation that glibc 2.28 and
// later run for exp, log and pow, under names it has exported since long
// before 2.28: the __exp_finite, __log_finite and __pow_finite aliases of that
// very implementation. A module built on a newer glibc, which would otherwise
// reference the GLIBC_2.29 versions of exp, log and pow, therefore loads on
// every glibc from 2.28 on and gives the same bits there. The older plain
// versions (exp@GLIBC_2.2.5 and so on) would not do: they are error-handling
// wrappers, and the one of log returns a NaN of the other sign for a negative
// argument. A test compares the bound functions with glibc's current ones.
#pragma once

#include <cmath>

#if defined(__GLIBC__) && (defined(__x86_64__) || defined(__aarch64__))
#if defined(__x86_64__)
#define VELARIX_GLIBC_FINITE_ALIASES "GLIBC_2.15"
#else
#define VELARIX_GLIBC_FINITE_ALIASES "GLIBC_2.17"
#endif
__asm__(".symver exp,__exp_finite@" VELARIX_GLIBC_FINITE_ALIASES);
__asm__(".symver log,__log_finite@" VELARIX_GLIBC_FINITE_ALIASES);
__asm__(".symver pow,__pow_finite@" VELARIX_GLIBC_FINITE_ALIASES);
#undef VELARIX_GLIBC_FINITE_ALIASES
#endif
