// The pricing core alone, without Python: each computation behind a module
// function on the inputs the Python benchmark uses, and, as the "before" of
// the shared-term work, the American price transcribed term by term and
// am_greeks assembled from eight such independent prices; and the American
// price and Greeks on each path of the batched normal distribution this CPU
// offers, and with the runtime's exp, log and pow as scalar calls and in
// lanes (where this machine takes them), the path forced for the run.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <string>
#include <utility>

#include "american_functions.h"
#include "bjerksund_stensland.h"
#include "black_scholes.h"
#include "normal_distribution.h"
#include "pricing_test_hooks.h"
#include "runtime_math_lanes.h"
#include "runtime_math_lanes_testing.h"
#include "straightforward_american.h"

namespace {

using velarix::OptionType;

// The option the optimiser must treat as unknown on every iteration.
velarix::OptionInputs opaque_option(OptionType type) {
    velarix::OptionInputs option{.s = 100.0, .k = 95.0, .t = 0.75, .r = 0.06, .sigma = 0.3, .q = 0.04, .type = type};
    benchmark::DoNotOptimize(option);
    return option;
}

template <auto Computation>
void with_option_type(benchmark::State& state, OptionType type) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(Computation(opaque_option(type)));
    }
}

// Gamma and vega do not read the type.
template <auto Computation>
void without_option_type(benchmark::State& state) {
    with_option_type<Computation>(state, OptionType::Call);
}

void normal_cdf(benchmark::State& state) {
    constexpr std::array<double, 8> arguments = {-3.1, -1.2, -0.4, 0.05, 0.3, 0.9, 2.2, 4.5};
    std::size_t next = 0;
    for (auto _ : state) {
        double x = arguments[next++ % arguments.size()];
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(velarix::standard_normal_cdf(x));
    }
}

void term_by_term_price(benchmark::State& state, OptionType type) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(velarix::straightforward::american_value(opaque_option(type)));
    }
}

// The eight prices of am_greeks, each computed from scratch term by term.
void term_by_term_greeks(benchmark::State& state, OptionType type) {
    using velarix::OptionInputs;
    for (auto _ : state) {
        const OptionInputs option = opaque_option(type);
        const auto price_with = [&option](double OptionInputs::*input, double value) {
            OptionInputs bumped = option;
            bumped.*input = value;
            return velarix::straightforward::american_value(bumped);
        };
        const double h = 0.0001 * option.s;
        const double later = option.t + -0.0027397260273972603;
        std::array<double, 8> prices = {
            price_with(&OptionInputs::s, option.s + h),
            velarix::straightforward::american_value(option),
            price_with(&OptionInputs::s, option.s - h),
            price_with(&OptionInputs::t, later > 0.0001 ? later : 0.0001),
            price_with(&OptionInputs::sigma, option.sigma + 0.0001),
            price_with(&OptionInputs::sigma, option.sigma - 0.0001),
            price_with(&OptionInputs::r, option.r + 0.0001),
            price_with(&OptionInputs::r, option.r - 0.0001),
        };
        benchmark::DoNotOptimize(prices);
    }
}

template <auto Computation>
void on_normal_path(benchmark::State& state, velarix::NormalPath path, OptionType type) {
    const velarix::NormalPath chosen = velarix::active_normal_path();
    velarix::use_normal_path_for_testing(path);
    with_option_type<Computation>(state, type);
    velarix::use_normal_path_for_testing(chosen);
}

// A computation with the runtime's exp, log and pow forced to one path:
// the scalar calls (before the lanes) or the lanes, where the witness check
// lets this machine take them.
template <auto Computation>
void on_math_path(benchmark::State& state, velarix::runtime_lanes::LanesPath path, OptionType type) {
    using velarix::runtime_lanes::LanesPath;
    const LanesPath chosen = velarix::runtime_lanes::lanes_in_use() ? LanesPath::Avx512 : LanesPath::Scalar;
    velarix::runtime_lanes::use_lanes_path_for_testing(path);
    with_option_type<Computation>(state, type);
    velarix::runtime_lanes::use_lanes_path_for_testing(chosen);
}

// am_greeks in units of am_price: batches of each run in turn and are timed
// apart, so that a slow spell of the machine slows both alike and the ratio
// stays put even when the times move.
void greeks_in_prices(benchmark::State& state, OptionType type) {
    using Clock = std::chrono::steady_clock;
    constexpr int kBatch = 16;
    Clock::duration greeks{};
    Clock::duration prices{};
    for (auto _ : state) {
        const auto started = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            benchmark::DoNotOptimize(velarix::am_greeks(opaque_option(type)));
        }
        const auto between = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            benchmark::DoNotOptimize(velarix::am_price(opaque_option(type)));
        }
        greeks += between - started;
        prices += Clock::now() - between;
    }
    state.counters["prices"] = static_cast<double>(greeks.count()) / static_cast<double>(prices.count());
}

constexpr OptionType kCall = OptionType::Call;
constexpr OptionType kPut = OptionType::Put;

}  // namespace

int main(int argc, char** argv) {
    using velarix::OptionType;
    benchmark::RegisterBenchmark("normal_cdf", normal_cdf);
    benchmark::RegisterBenchmark("bs_delta", with_option_type<velarix::bs_delta>, kCall);
    benchmark::RegisterBenchmark("bs_gamma", without_option_type<velarix::bs_gamma>);
    benchmark::RegisterBenchmark("bs_theta", with_option_type<velarix::bs_theta>, kCall);
    benchmark::RegisterBenchmark("bs_vega", without_option_type<velarix::bs_vega>);
    benchmark::RegisterBenchmark("bs_rho", with_option_type<velarix::bs_rho>, kCall);
    benchmark::RegisterBenchmark("bs_greeks", with_option_type<velarix::bs_greeks>, kCall);
    for (const auto& [label, type] : {std::pair{"call", kCall}, std::pair{"put", kPut}}) {
        const std::string suffix = std::string("/") + label;
        benchmark::RegisterBenchmark(("am_price" + suffix).c_str(), with_option_type<velarix::am_price>, type);
        benchmark::RegisterBenchmark(("am_delta" + suffix).c_str(), with_option_type<velarix::am_delta>, type);
        benchmark::RegisterBenchmark(("am_gamma" + suffix).c_str(), with_option_type<velarix::am_gamma>, type);
        benchmark::RegisterBenchmark(("am_theta" + suffix).c_str(), with_option_type<velarix::am_theta>, type);
        benchmark::RegisterBenchmark(("am_vega" + suffix).c_str(), with_option_type<velarix::am_vega>, type);
        benchmark::RegisterBenchmark(("am_rho" + suffix).c_str(), with_option_type<velarix::am_rho>, type);
        benchmark::RegisterBenchmark(("am_greeks" + suffix).c_str(), with_option_type<velarix::am_greeks>, type);
        benchmark::RegisterBenchmark(("before/am_price" + suffix).c_str(), term_by_term_price, type);
        benchmark::RegisterBenchmark(("before/am_greeks" + suffix).c_str(), term_by_term_greeks, type);
        benchmark::RegisterBenchmark(("am_greeks_in_prices" + suffix).c_str(), greeks_in_prices, type);
        for (const velarix::NormalPath path : {velarix::NormalPath::Scalar, velarix::NormalPath::Avx512}) {
            if (velarix::normal_path_available(path)) {
                const std::string prefix = std::string("path/") + velarix::normal_path_name(path) + "/";
                benchmark::RegisterBenchmark((prefix + "am_price" + suffix).c_str(),
                                             on_normal_path<velarix::am_price>, path, type);
                benchmark::RegisterBenchmark((prefix + "am_greeks" + suffix).c_str(),
                                             on_normal_path<velarix::am_greeks>, path, type);
            }
        }
    }
    using velarix::runtime_lanes::LanesPath;
    for (const auto& [label, type] : {std::pair{"call", kCall}, std::pair{"put", kPut}}) {
        const std::string suffix = std::string("/") + label;
        for (const auto& [path_name, path] : {std::pair{"scalar", LanesPath::Scalar}, std::pair{"lanes", LanesPath::Avx512}}) {
            if (path == LanesPath::Avx512 && !velarix::runtime_lanes::lanes_in_use()) {
                continue;
            }
            const std::string prefix = std::string("runtime_math/") + path_name + "/";
            benchmark::RegisterBenchmark((prefix + "am_price" + suffix).c_str(), on_math_path<velarix::am_price>, path,
                                         type);
            benchmark::RegisterBenchmark((prefix + "am_greeks" + suffix).c_str(), on_math_path<velarix::am_greeks>,
                                         path, type);
        }
    }
    benchmark::AddCustomContext("runtime_math", velarix::runtime_lanes::lanes_decision());
    benchmark::AddCustomContext("normal_path", velarix::normal_path_name(velarix::active_normal_path()));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
