// The lanes of runtime_math_lanes.h against the C runtime's exp, log and pow,
// bit for bit (NaN payloads and the sign of zero included), on every path the
// machine offers: random arguments over every exponent, the edges of the
// lanes' main path and of the tables' subintervals with their neighbours,
// thresholds of overflow and underflow, and specials. Ten million arguments
// per function by default; VELARIX_LANES_TEST_ARGUMENTS=N asks for N (the
// long run, ctest label "long" when configured with VELARIX_LONG_TESTS).
//
// And the decision: lanes exactly when the CPU has AVX-512F and the runtime is
// glibc's FMA variant. Run with GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA and
// VELARIX_EXPECT_PLAIN_VARIANT=1 (a ctest of its own), the runtime is the
// plain variant and the lanes must have switched themselves off.
#include "runtime_math_lanes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "runtime_math.h"
#include "runtime_math_lanes_testing.h"

namespace {

using velarix::runtime_lanes::LanesPath;
namespace lanes = velarix::runtime_lanes;

std::size_t argument_count() {
    const char* asked = std::getenv("VELARIX_LANES_TEST_ARGUMENTS");
    return asked != nullptr ? std::strtoull(asked, nullptr, 10) : 10'000'000;
}

double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }
std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Neighbours of x: x itself and `reach` steps of one ulp either way.
void push_neighbours(std::vector<double>& values, double x, int reach) {
    for (int step = -reach; step <= reach; ++step) {
        values.push_back(from_bits(bits(x) + static_cast<std::uint64_t>(static_cast<std::int64_t>(step))));
    }
}

std::vector<double> specials() {
    constexpr double inf = std::numeric_limits<double>::infinity();
    return {0.0, -0.0, inf, -inf, std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
            from_bits(0x7ff8000000000123), from_bits(0x7ff0000000000001), 4.9e-324, -4.9e-324,
            2.2250738585072014e-308, 2.225073858507201e-308, 1.0, -1.0, 0x1p-1074, 0x1.fffffffffffffp+1023};
}

// Edges and random arguments of each function, interleaved so that each
// group of eight lanes mixes kinds.
std::vector<double> exp_arguments(std::size_t count, std::mt19937_64& random, bool with_edges) {
    std::vector<double> values;
    if (with_edges) {
        values = specials();
        for (double edge : {0x1p-54, 512.0, 709.782712893384, -708.3964185322641, -745.1332191019411,
                            -745.1332191019412, 1024.0, -1024.0}) {
            push_neighbours(values, edge, 3);
            push_neighbours(values, -edge, 3);
        }
        const double step = std::log(2.0) / 128;
        for (int k = -96000; k <= 96000; k += 37) {  // halfway points between table entries
            push_neighbours(values, (k + 0.5) * step, 2);
        }
    }
    std::uniform_real_distribution<double> moderate(-760.0, 760.0);
    std::uniform_real_distribution<double> small(-1.0, 1.0);
    while (values.size() < count) {
        values.push_back(from_bits(random()));
        values.push_back(moderate(random));
        values.push_back(small(random) * std::ldexp(1.0, -static_cast<int>(random() % 60)));
        values.push_back(moderate(random));
    }
    return values;
}

std::vector<double> log_arguments(std::size_t count, std::mt19937_64& random, bool with_edges) {
    std::vector<double> values;
    if (with_edges) {
        values = specials();
        for (std::uint64_t edge : {0x3fee000000000000u, 0x3ff1090000000000u, 0x0010000000000000u,
                                   0x7fefffffffffffffu}) {
            push_neighbours(values, from_bits(edge), 3);
        }
        for (std::uint64_t i = 0; i < 128; ++i) {  // subinterval edges, for exponents -1022 ... 1023
            for (std::uint64_t exponent = 0; exponent < 2046; exponent += 7) {
                push_neighbours(values, from_bits(0x3fe6000000000000u + (i << 45) + ((exponent - 1022) << 52)), 1);
            }
        }
    }
    std::uniform_real_distribution<double> near_one(0.9, 1.1);
    while (values.size() < count) {
        values.push_back(from_bits(random() >> 1));
        values.push_back(near_one(random));
        values.push_back(from_bits(random()));
        values.push_back(std::exp(near_one(random) * 40.0 - 42.0));
    }
    return values;
}

// Pairs (x, y) in one vector, x at even positions.
std::vector<double> pow_arguments(std::size_t count, std::mt19937_64& random, bool with_edges) {
    std::vector<double> values;
    const std::vector<double> special = with_edges ? specials() : std::vector<double>{};
    for (double x : special) {
        for (double y : special) {
            values.insert(values.end(), {x, y, -x, 3.0, x, -0.5});
        }
    }
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_real_distribution<double> moderate(-60.0, 60.0);
    while (values.size() < 2 * count) {
        const double x = from_bits(random() >> 1);
        const double log_x = std::log(x);
        // Results near overflow and underflow, including the main path's edges.
        const double reach = (unit(random) < 0.5 ? 709.8 : -745.2) * (1.0 + (unit(random) - 0.5) * 1e-3);
        values.insert(values.end(), {x, reach / log_x, x, moderate(random), unit(random) * 100.0, moderate(random)});
        values.insert(values.end(), {from_bits(random()), from_bits(random()), -x, std::round(moderate(random))});
        values.insert(values.end(), {1.0 + (unit(random) - 0.5) * 1e-3, moderate(random) * 1e3, x, 512.0 / log_x});
    }
    return values;
}

// Runs `check` over argument_count() arguments made by `make`, ten million
// at a time (the edges in the first lot), and returns how many differed.
template <class Make, class Check>
std::size_t differences_in_lots(std::uint64_t seed, std::size_t per_argument, Make make, Check check) {
    constexpr std::size_t kLot = 10'000'000;
    std::mt19937_64 random(seed);
    std::size_t differences = 0;
    for (std::size_t done = 0, total = argument_count(); done < total;) {
        const std::vector<double> values = make(std::min(kLot, total - done), random, done == 0);
        differences += check(values);
        done += values.size() / per_argument;
    }
    return differences;
}

template <class Batch, class Scalar>
std::size_t unary_differences(const std::vector<double>& x, Batch batch, Scalar scalar, const char* name) {
    std::vector<double> out(x.size());
    batch(x.data(), out.data(), x.size());
    std::size_t differences = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double expected = scalar(x[i]);
        if (bits(out[i]) != bits(expected) && differences++ < 5) {
            ADD_FAILURE() << name << std::hexfloat << "(" << x[i] << "): lanes " << out[i] << ", runtime "
                          << expected;
        }
    }
    return differences;
}

class RuntimeLanes : public ::testing::TestWithParam<LanesPath> {
protected:
    void SetUp() override {
        if (!lanes::lanes_path_available(GetParam())) {
            GTEST_SKIP() << "this CPU lacks AVX-512F";
        }
        if (GetParam() == LanesPath::Avx512 && !lanes::witnesses_agree()) {
            GTEST_SKIP() << "the C runtime is not the variant the lanes repeat";
        }
    }
};

TEST_P(RuntimeLanes, ExpIsTheRuntimes) {
    const auto check = [&](const std::vector<double>& x) {
        return unary_differences(
            x, [&](const double* a, double* b, std::size_t n) { lanes::exp_batch(GetParam(), a, b, n); },
            [](double a) { return std::exp(a); }, "exp");
    };
    EXPECT_EQ(differences_in_lots(11, 1, exp_arguments, check), 0u);
}

TEST_P(RuntimeLanes, LogIsTheRuntimes) {
    const auto check = [&](const std::vector<double>& x) {
        return unary_differences(
            x, [&](const double* a, double* b, std::size_t n) { lanes::log_batch(GetParam(), a, b, n); },
            [](double a) { return std::log(a); }, "log");
    };
    EXPECT_EQ(differences_in_lots(12, 1, log_arguments, check), 0u);
}

TEST_P(RuntimeLanes, PowIsTheRuntimes) {
    const auto check = [&](const std::vector<double>& pairs) {
        const std::size_t count = pairs.size() / 2;
        std::vector<double> x(count), y(count), out(count);
        for (std::size_t i = 0; i < count; ++i) {
            x[i] = pairs[2 * i];
            y[i] = pairs[2 * i + 1];
        }
        lanes::pow_batch(GetParam(), x.data(), y.data(), out.data(), count);
        std::size_t differences = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const double expected = std::pow(x[i], y[i]);
            if (bits(out[i]) != bits(expected) && differences++ < 5) {
                ADD_FAILURE() << std::hexfloat << "pow(" << x[i] << ", " << y[i] << "): lanes " << out[i]
                              << ", runtime " << expected;
            }
        }
        return differences;
    };
    EXPECT_EQ(differences_in_lots(13, 2, pow_arguments, check), 0u);
}

INSTANTIATE_TEST_SUITE_P(Paths, RuntimeLanes, ::testing::Values(LanesPath::Scalar, LanesPath::Avx512),
                         [](const auto& info) { return info.param == LanesPath::Scalar ? "Scalar" : "Avx512"; });

// The runtime is glibc's FMA variant exactly when it rounds this argument as
// that variant does (scripts/libm_variant.py's test).
// (Through volatile: GCC would evaluate exp of a constant itself.)
bool runtime_is_fma_variant() {
    const volatile double witness = 364.54386900080954;
    return bits(std::exp(witness)) == bits(0x1.e646b1182551bp+525);
}

TEST(RuntimeLanesDecision, LanesExactlyOnAvx512WithTheFmaVariant) {
    const bool avx512 = lanes::lanes_path_available(LanesPath::Avx512);
    const bool plain_expected = std::getenv("VELARIX_EXPECT_PLAIN_VARIANT") != nullptr;
    if (plain_expected) {
        ASSERT_FALSE(runtime_is_fma_variant()) << "GLIBC_TUNABLES did not select glibc's plain variant";
    }
    EXPECT_EQ(lanes::lanes_in_use(), avx512 && runtime_is_fma_variant()) << lanes::lanes_decision();
    if (avx512) {
        EXPECT_EQ(lanes::witnesses_agree(), runtime_is_fma_variant());
    }
    // Whatever the path, the public functions give the runtime's bits.
    const volatile double opaque[4] = {364.54386900080954, 0.0019659400141387793, 5.841403192367585,
                                       -39.53120698800424};
    const double x[3] = {opaque[0], opaque[1], opaque[2]};
    const double y[1] = {opaque[3]};
    double out[3];
    lanes::exp_batch(x, out, 1);
    EXPECT_EQ(bits(out[0]), bits(std::exp(x[0])));
    lanes::log_batch(x + 1, out, 1);
    EXPECT_EQ(bits(out[0]), bits(std::log(x[1])));
    lanes::pow_batch(x + 2, y, out, 1);
    EXPECT_EQ(bits(out[0]), bits(std::pow(x[2], y[0])));
    std::printf("runtime lanes: %s\n", lanes::lanes_decision());
}

}  // namespace
