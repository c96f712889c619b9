// The witness check of runtime_math_lanes.h: before the lanes stand in for
// the C runtime's exp, log and pow, the runtime itself must give the lanes'
// bits on arguments where the implementations the lanes could meet disagree.
//
// On x86-64, glibc 2.28 and later choose at load time between the FMA variant
// (CPUs with FMA and AVX2) that the lanes repeat and plain ones (SSE2, AVX,
// and FMA4 on older AMD CPUs, which lack AVX-512 anyway); glibc's tunables
// (GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA in 2.36) select the plain one on
// any CPU. The two round differently in the last bit for about one argument
// in 1,700 (exp), 1,600 (pow), 6,000 (log near 1) and far fewer for log
// elsewhere. Each argument below was found by a search over random arguments
// comparing the two variants of glibc 2.36 in one process (the plain one
// called at its address in libm). They cover every branch of the lanes: exp
// at small, moderate and both extreme k; log in its main branch over the
// whole exponent range and in its branch near 1 on both sides; pow with bases
// and exponents below and above 1 and results from 2^-737 to 2^707; every one
// on the lanes' main path, so that the lanes, not their scalar fallback,
// answer it. Another C runtime, or a glibc whose functions changed, would
// have to round all 23 as this one does to pass.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "runtime_math.h"
#include "testing/runtime_math_lanes_testing.h"

namespace velarix::runtime_lanes {
namespace {

// An argument (two for pow), the FMA variant's result, and in the comment the
// plain variant's (its last hexadecimal digits) and why the argument is here.
struct Witness {
    double x;
    double y;
    double result;
};

constexpr Witness kExpWitnesses[] = {
    {0.8729597851947801, 0.0, 0x1.326e22a25bdc1p+1},     // ...dc2: k = 161
    {-0.08235450295001101, 0.0, 0x1.d7862891f4b85p-1},   // ...b86: k = -15, result below 1
    {79.42320703669702, 0.0, 0x1.7f9a253bf233fp+114},    // ...33e: k = 14667
    {364.54386900080954, 0.0, 0x1.e646b1182551bp+525},   // ...51c: k = 67318, |r| near ln2/256
    {501.8907064125922, 0.0, 0x1.0db43a9659fbfp+724},    // ...fc0: near the top of the main path
    {-503.1800140519374, 0.0, 0x1.0bbd72b90daefp-726},   // ...aee: near its bottom
};

constexpr Witness kLogWitnesses[] = {
    {0.0019659400141387793, 0.0, -0x1.8ed58fc904af6p+2},  // ...af5: main branch, k = -9
    {0.9048645791394969, 0.0, -0x1.997a1fea8d6f9p-4},     // ...6fa: main, just below the branch near 1
    {1.5906629702615858, 0.0, 0x1.db4a5f1201df9p-2},      // ...df8: main, k = 1
    {15780308613.18627, 0.0, 0x1.77b663bc6a519p+4},       // ...518: main, k = 34
    {3.959492381990392e+52, 0.0, 0x1.e47131928bd1ep+6},   // ...d1d: main, k = 175
    {1.0769868882165799e+122, 0.0, 0x1.18fd530e15ba1p+8},  // ...ba0: main, k = 405
    {0.9415707584036426, 0.0, -0x1.ed34ab56ef0cdp-5},     // ...0ce: near 1, below
    {0.992276182532708, 0.0, -0x1.fc27302583b0fp-8},      // ...b10: near 1, close below
    {1.009090688253043, 0.0, 0x1.2889afd2a59c1p-7},       // ...9c2: near 1, close above
    {1.0580172322948163, 0.0, 0x1.ce00494e2676bp-5},      // ...76a: near 1, above
};

constexpr Witness kPowWitnesses[] = {
    {5.841403192367585, -39.53120698800424, 0x1.4447a9f1752b9p-101},    // ...2ba
    {3.296324748737801, 41.488259951994735, 0x1.50b92c342d43bp+71},     // ...43a
    {0.7308291773029608, 14.290918796187071, 0x1.72e5b70f31fdbp-7},    // ...fdc: base below 1
    {87.01082347421017, -23.633973794303365, 0x1.a6ac799f84777p-153},  // ...778
    {9.848559646140695e+198, 1.0700022086497212, 0x1.3eb310c2ecd1dp+707},    // ...d1e: huge base and result
    {1.0523739634260884e-164, 1.3526131801967654, 0x1.2649c46a83ff3p-737},   // ...ff4: tiny result
    {1.678733371597771e-171, -1.2478819980228142, 0x1.e68614c925c65p+707},   // ...c64: tiny base
};

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

}  // namespace

// Lanes, runtime and the recorded result must agree on every witness: the
// recorded result makes sure that the lanes, not their scalar fallback, gave
// it, and that the runtime is the variant the lanes repeat.
bool witnesses_agree() {
    constexpr std::size_t kMost = std::size(kLogWitnesses);
    static_assert(std::size(kExpWitnesses) <= kMost && std::size(kPowWitnesses) <= kMost);
    double x[kMost];
    double y[kMost];
    double lanes[kMost];
    const auto agree = [&](const auto& witnesses, auto batch, auto runtime) {
        for (std::size_t i = 0; i < std::size(witnesses); ++i) {
            // Through volatile, lest the compiler evaluate the runtime's
            // function on the constants itself (GCC would, correctly rounded).
            const volatile double opaque_x = witnesses[i].x;
            const volatile double opaque_y = witnesses[i].y;
            x[i] = opaque_x;
            y[i] = opaque_y;
        }
        batch(std::size(witnesses));
        for (std::size_t i = 0; i < std::size(witnesses); ++i) {
            if (!same_bits(lanes[i], witnesses[i].result) || !same_bits(runtime(x[i], y[i]), witnesses[i].result)) {
                return false;
            }
        }
        return true;
    };
    return agree(kExpWitnesses, [&](std::size_t n) { exp_batch(LanesPath::Avx512, x, lanes, n); },
                 [](double a, double) { return std::exp(a); }) &&
           agree(kLogWitnesses, [&](std::size_t n) { log_batch(LanesPath::Avx512, x, lanes, n); },
                 [](double a, double) { return std::log(a); }) &&
           agree(kPowWitnesses, [&](std::size_t n) { pow_batch(LanesPath::Avx512, x, y, lanes, n); },
                 [](double a, double b) { return std::pow(a, b); });
}

}  // namespace velarix::runtime_lanes
