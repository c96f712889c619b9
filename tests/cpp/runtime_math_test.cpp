// The core binds exp, log and pow on glibc to older names of the current
// implementation, so that the module loads on older systems. These tests
// check that the bound functions give the bits of the functions a program
// linked today gets, for every kind of argument: ordinary, huge, tiny,
// subnormal, negative, zero of either sign, infinite and NaN.
#include "runtime_math.h"

#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <dlfcn.h>
#endif

namespace {

using Unary = double (*)(double);
using Binary = double (*)(double, double);

template <typename Function>
Function current(const char* name) {
#if defined(__GLIBC__)
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
#else
    (void)name;
    return nullptr;
#endif
}

std::vector<double> arguments() {
    constexpr double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 2.0, -2.0, 3.0, -3.0, 0.1, 1e-300, -1e-300,
                                  4.9e-324, -4.9e-324, 2.2250738585072014e-308, 1e300, -1e300, 709.78, 709.79,
                                  -745.13, -745.14, 1e10, -1e10, inf, -inf,
                                  std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
                                  std::bit_cast<double>(std::uint64_t{0x7ff8000000000123})};
    std::mt19937_64 generator(7);
    std::uniform_real_distribution<double> moderate(-50.0, 50.0);
    for (int i = 0; i < 200000; ++i) {
        values.push_back(std::bit_cast<double>(generator()));
        values.push_back(moderate(generator));
    }
    return values;
}

void expect_same_bits(double bound, double reference, double x, double y = 0.0) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(bound), std::bit_cast<std::uint64_t>(reference))
        << std::hexfloat << "x = " << x << ", y = " << y;
}

class RuntimeMath : public ::testing::Test {
protected:
    void SetUp() override {
        if (current<Unary>("exp") == nullptr) {
            GTEST_SKIP() << "not on glibc: exp, log and pow are the C runtime's own";
        }
    }
};

TEST_F(RuntimeMath, ExpAndLogAreTheCurrentOnes) {
    const auto exp_now = current<Unary>("exp");
    const auto log_now = current<Unary>("log");
    for (const double x : arguments()) {
        expect_same_bits(std::exp(x), exp_now(x), x);
        expect_same_bits(std::log(x), log_now(x), x);
    }
}

TEST_F(RuntimeMath, PowIsTheCurrentOne) {
    const auto pow_now = current<Binary>("pow");
    const std::vector<double> values = arguments();
    // Every pair of the special values, then random pairs.
    for (std::size_t i = 0; i < 29; ++i) {
        for (std::size_t j = 0; j < 29; ++j) {
            expect_same_bits(std::pow(values[i], values[j]), pow_now(values[i], values[j]), values[i], values[j]);
        }
    }
    for (std::size_t i = 29; i + 1 < values.size(); i += 2) {
        expect_same_bits(std::pow(values[i], values[i + 1]), pow_now(values[i], values[i + 1]), values[i],
                         values[i + 1]);
        const double base = std::abs(values[i + 1]);
        const double exponent = values[i + 1] / 7.0;
        expect_same_bits(std::pow(base, exponent), pow_now(base, exponent), base, exponent);
    }
}

}  // namespace
