// The American price and Greeks with their exps, logs and pows gathered into
// the runtime's lanes against the same with each call made at once, bit for
// bit (the sign of zero and of a NaN included): ordinary options, every
// regime (expired, European b >= r, immediate exercise S >= I2, the
// perpetual bound), tiny and huge volatilities, and, one value in twenty,
// any input an edge (zeros, infinities, NaN, negatives, extremes); and the
// prices of options in groups (velarix_batch's am_price) likewise.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "american_functions.h"
#include "bjerksund_stensland.h"
#include "runtime_math_lanes.h"
#include "runtime_math_lanes_testing.h"

using namespace velarix;
using runtime_lanes::LanesPath;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kEdges[] = {0.0, -0.0, 5e-324, 1e-300, 1e-8, 0.0001, 1.0, 1e300, -0.5, -100.0, kInf, -kInf, kNaN};

std::vector<OptionInputs> options_to_price() {
    std::vector<OptionInputs> options = {
        {.s = 92, .k = 135, .t = 2.64, .r = 0.017, .sigma = 0.0512, .q = 0.098, .type = OptionType::Call},
        {.s = 135, .k = 92, .t = 2.64, .r = 0.098, .sigma = 0.0512, .q = 0.017, .type = OptionType::Put},
        {.s = 100, .k = 100, .t = 0, .r = 0.05, .sigma = 0.2, .q = 0.03, .type = OptionType::Call},
        {.s = 1000, .k = 100, .t = 1, .r = 0.05, .sigma = 0.2, .q = 0.09, .type = OptionType::Call},
        {.s = 10, .k = 100, .t = 1, .r = 0.09, .sigma = 0.2, .q = 0.0, .type = OptionType::Put},
    };
    std::mt19937_64 generator(2212);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<std::size_t> edge(0, std::size(kEdges) - 1);
    for (int i = 0; i < 20000; ++i) {
        std::array<double, 6> x = {1 + 399 * unit(generator), 1 + 399 * unit(generator), 5 * unit(generator),
                                   0.2 * unit(generator) - 0.05, 1.5 * unit(generator), 0.25 * unit(generator) - 0.05};
        switch (i % 8) {
            case 0:  // deep in the money: beyond the trigger
                x[0] = x[1] * (i % 16 == 0 ? 8.0 : 0.125);
                break;
            case 1:  // tiny or huge volatility
                x[4] = i % 16 == 1 ? 1e-6 * unit(generator) : 5 + 50 * unit(generator);
                break;
            case 2:  // a day or less, or expired
                x[2] = 0.01 * unit(generator) - 0.005;
                break;
            default:
                break;
        }
        for (double& value : x) {
            if (unit(generator) < 0.05) {
                value = kEdges[edge(generator)];
            }
        }
        options.push_back({.s = x[0], .k = x[1], .t = x[2], .r = x[3], .sigma = x[4], .q = x[5],
                           .type = i % 2 == 0 ? OptionType::Call : OptionType::Put});
    }
    return options;
}

// am_price, am_greeks and the five single Greeks of one option, as bits.
std::array<std::uint64_t, 11> results(const OptionInputs& option) {
    const Greeks all = am_greeks(option).value();
    const auto bits = [](double x) { return std::bit_cast<std::uint64_t>(x); };
    return {bits(am_price(option).value()), bits(all.delta),       bits(all.gamma),
            bits(all.theta),                bits(all.vega),        bits(all.rho),
            bits(am_delta(option).value()), bits(am_gamma(option).value()), bits(am_theta(option).value()),
            bits(am_vega(option).value()),  bits(am_rho(option).value())};
}

}  // namespace

TEST(AmericanLanes, GatheredCallsGiveTheBitsOfCallsAtOnce) {
    if (!runtime_lanes::lanes_path_available(LanesPath::Avx512) || !runtime_lanes::witnesses_agree()) {
        GTEST_SKIP() << "the runtime's lanes are not offered here";
    }
    const LanesPath chosen = runtime_lanes::lanes_in_use() ? LanesPath::Avx512 : LanesPath::Scalar;
    const std::vector<OptionInputs> options = options_to_price();
    std::vector<std::array<std::uint64_t, 11>> at_once;
    runtime_lanes::use_lanes_path_for_testing(LanesPath::Scalar);
    for (const OptionInputs& option : options) {
        at_once.push_back(results(option));
    }
    runtime_lanes::use_lanes_path_for_testing(LanesPath::Avx512);
    int differing = 0;
    for (std::size_t i = 0; i < options.size(); ++i) {
        const std::array<std::uint64_t, 11> gathered = results(options[i]);
        for (std::size_t j = 0; j < gathered.size(); ++j) {
            if (gathered[j] != at_once[i][j] && ++differing <= 5) {
                ADD_FAILURE() << "option " << i << " result " << j << std::hexfloat << ": "
                              << std::bit_cast<double>(at_once[i][j]) << " at once, "
                              << std::bit_cast<double>(gathered[j]) << " gathered";
            }
        }
    }
    // Prices in groups of every size from one to eight, in turn: full groups,
    // groups filled up by repeating their last option, and groups too small
    // to gather.
    for (std::size_t first = 0, size = 1; first < options.size(); first += size, size = size % kPricesInLanes + 1) {
        const std::size_t count = std::min(size, options.size() - first);
        std::array<double, kPricesInLanes> prices;
        american_values(options.data() + first, count, prices.data());
        for (std::size_t j = 0; j < count; ++j) {
            differing += std::bit_cast<std::uint64_t>(prices[j]) != at_once[first + j][0];
        }
    }
    runtime_lanes::use_lanes_path_for_testing(chosen);
    EXPECT_EQ(differing, 0);
}
