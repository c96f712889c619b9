// The European blocks against the scalar functions (bs_delta .. bs_rho,
// bs_greeks), bit for bit (the sign of zero and of a NaN included), on
// every pair of paths of the runtime's exp/log/pow batches and of the core's
// own lanes (N's batches, the blocks' vectorised arithmetic) this machine
// offers: a random book with zeros,
// negatives, infinities, NaN and tiny or huge S/K mixed in, in blocks of
// every size.
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "black_scholes.h"
#include "pricing_test_hooks.h"
#include "runtime_math_lanes.h"
#include "runtime_math_lanes_testing.h"

using namespace velarix;
using runtime_lanes::LanesPath;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kEdges[] = {0.0, -0.0, 5e-324, 1e-300, 1e-8, 0.3, 1.0, 100.0, 1e300, -0.5, -100.0, kInf, -kInf, kNaN};

// Random books: ordinary options and, one in four, any number an edge.
std::vector<OptionInputs> options_to_price() {
    std::mt19937_64 generator(22);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<std::size_t> edge(0, std::size(kEdges) - 1);
    std::vector<OptionInputs> options;
    for (int i = 0; i < 40000; ++i) {
        std::array<double, 6> x = {1 + 999 * unit(generator), 1 + 999 * unit(generator), 5 * unit(generator),
                                   0.3 * unit(generator) - 0.05, 2 * unit(generator), 0.1 * unit(generator)};
        for (double& value : x) {
            if (unit(generator) < 0.04) {
                value = kEdges[edge(generator)];
            }
        }
        x[1] = i % 5 == 0 ? x[0] * std::ldexp(1.0, static_cast<int>(edge(generator)) * 80 - 520) : x[1];
        options.push_back({.s = x[0], .k = x[1], .t = x[2], .r = x[3], .sigma = x[4], .q = x[5],
                           .type = i % 2 == 0 ? OptionType::Call : OptionType::Put});
    }
    return options;
}


std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

using Paths = std::tuple<LanesPath, NormalPath>;

class BlackScholesBlock : public ::testing::TestWithParam<Paths> {
protected:
    void SetUp() override {
        const auto [lanes, normal] = GetParam();
        if (!runtime_lanes::lanes_path_available(lanes) || !normal_path_available(normal) ||
            (lanes == LanesPath::Avx512 && !runtime_lanes::witnesses_agree())) {
            GTEST_SKIP() << "path not offered here";
        }
        runtime_lanes::use_lanes_path_for_testing(lanes);
        use_normal_path_for_testing(normal);
    }
    void TearDown() override {
        runtime_lanes::use_lanes_path_for_testing(lanes_chosen_);
        use_normal_path_for_testing(normal_chosen_);
    }

private:
    LanesPath lanes_chosen_ = runtime_lanes::lanes_in_use() ? LanesPath::Avx512 : LanesPath::Scalar;
    NormalPath normal_chosen_ = active_normal_path();
};

}  // namespace

// The scalar function of each block function, its results as columns.
std::vector<double> scalar_results(BlockFunction function, const OptionInputs& option) {
    switch (function) {
        case BlockFunction::Delta:
            return {bs_delta(option).value()};
        case BlockFunction::Gamma:
            return {bs_gamma(option).value()};
        case BlockFunction::Theta:
            return {bs_theta(option).value()};
        case BlockFunction::Vega:
            return {bs_vega(option).value()};
        case BlockFunction::Rho:
            return {bs_rho(option).value()};
        case BlockFunction::Greeks:
            break;
    }
    const Greeks greeks = bs_greeks(option).value();
    return {greeks.delta, greeks.gamma, greeks.theta, greeks.vega, greeks.rho};
}

TEST_P(BlackScholesBlock, EqualsScalarFunctionsBitForBit) {
    const std::vector<OptionInputs> options = options_to_price();
    std::array<std::vector<double>, 5> columns;
    for (auto& column : columns) {
        column.resize(options.size());
    }
    OptionBlock block;
    for (BlockFunction function : {BlockFunction::Delta, BlockFunction::Gamma, BlockFunction::Theta,
                                   BlockFunction::Vega, BlockFunction::Rho, BlockFunction::Greeks}) {
        const std::size_t width = function == BlockFunction::Greeks ? 5 : 1;
        std::size_t differences = 0;
        // Blocks of every size from 1 to full, so that lanes are partly filled too.
        for (std::size_t first = 0, count = 1; first < options.size();
             first += count, count = count % kOptionBlockSize + 1) {
            count = std::min(count, options.size() - first);
            for (std::size_t j = 0; j < count; ++j) {
                const OptionInputs& o = options[first + j];
                block.s[j] = o.s, block.k[j] = o.k, block.t[j] = o.t, block.r[j] = o.r;
                block.sigma[j] = o.sigma, block.q[j] = o.q, block.type[j] = o.type;
            }
            BlockColumns out{};
            for (std::size_t g = 0; g < width; ++g) {
                out[g] = &columns[g][first];
            }
            european_block(function, block, count, out);
        }
        for (std::size_t i = 0; i < options.size(); ++i) {
            const std::vector<double> want = scalar_results(function, options[i]);
            for (std::size_t g = 0; g < width; ++g) {
                if (bits(want[g]) != bits(columns[g][i]) && differences++ < 5) {
                    const OptionInputs& o = options[i];
                    ADD_FAILURE() << std::hexfloat << "function " << static_cast<int>(function) << ", column " << g
                                  << " of (" << o.s << ", " << o.k << ", " << o.t << ", " << o.r << ", " << o.sigma
                                  << ", " << o.q << ", " << static_cast<int>(o.type) << "): block " << columns[g][i]
                                  << ", scalar " << want[g];
                }
            }
        }
        EXPECT_EQ(differences, 0u) << "function " << static_cast<int>(function);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, BlackScholesBlock,
                         ::testing::Combine(::testing::Values(LanesPath::Scalar, LanesPath::Avx512),
                                            ::testing::Values(NormalPath::Scalar, NormalPath::Avx512)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == LanesPath::Scalar ? "ScalarMath" : "LanesMath") +
                                    (std::get<1>(info.param) == NormalPath::Scalar ? "ScalarN" : "LanesN");
                         });
