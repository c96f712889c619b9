// The pricing core alone, without Python: each computation behind a module
// function on the inputs the Python benchmark uses, and, as the "before" of
// the shared-term work, the American price transcribed term by term and
// am_greeks assembled from eight such independent prices; and the American
// price and Greeks on each path of the batched normal distribution this CPU
// offers, the path forced for the run.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <string>
#include <utility>

#include "american_greeks.h"
#include "bjerksund_stensland.h"
#include "black_scholes.h"
#include "normal_distribution.h"
#include "straightforward_american.h"

namespace {

using velarix::OptionType;

struct Inputs {
    double s = 100.0, k = 95.0, t = 0.75, r = 0.06, sigma = 0.3, q = 0.04;
};

// Inputs the optimiser must treat as unknown on every iteration.
Inputs opaque_inputs() {
    Inputs inputs;
    benchmark::DoNotOptimize(inputs);
    return inputs;
}

template <auto Computation>
void with_option_type(benchmark::State& state, OptionType type) {
    for (auto _ : state) {
        const Inputs in = opaque_inputs();
        benchmark::DoNotOptimize(Computation(in.s, in.k, in.t, in.r, in.sigma, in.q, type));
    }
}

template <auto Computation>
void without_option_type(benchmark::State& state) {
    for (auto _ : state) {
        const Inputs in = opaque_inputs();
        benchmark::DoNotOptimize(Computation(in.s, in.k, in.t, in.r, in.sigma, in.q));
    }
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
        const Inputs in = opaque_inputs();
        benchmark::DoNotOptimize(velarix::straightforward::american_value(in.s, in.k, in.t, in.r, in.sigma, in.q, type));
    }
}

// The eight prices of am_greeks, each computed from scratch term by term.
void term_by_term_greeks(benchmark::State& state, OptionType type) {
    const auto american_value = [type](double s, double k, double t, double r, double sigma, double q) {
        return velarix::straightforward::american_value(s, k, t, r, sigma, q, type);
    };
    for (auto _ : state) {
        const Inputs in = opaque_inputs();
        const double h = 0.0001 * in.s;
        const double later = in.t + -0.0027397260273972603;
        std::array<double, 8> prices = {
            american_value(in.s + h, in.k, in.t, in.r, in.sigma, in.q),
            american_value(in.s, in.k, in.t, in.r, in.sigma, in.q),
            american_value(in.s - h, in.k, in.t, in.r, in.sigma, in.q),
            american_value(in.s, in.k, later > 0.0001 ? later : 0.0001, in.r, in.sigma, in.q),
            american_value(in.s, in.k, in.t, in.r, in.sigma + 0.0001, in.q),
            american_value(in.s, in.k, in.t, in.r, in.sigma - 0.0001, in.q),
            american_value(in.s, in.k, in.t, in.r + 0.0001, in.sigma, in.q),
            american_value(in.s, in.k, in.t, in.r - 0.0001, in.sigma, in.q),
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
            const Inputs in = opaque_inputs();
            benchmark::DoNotOptimize(velarix::am_greeks(in.s, in.k, in.t, in.r, in.sigma, in.q, type));
        }
        const auto between = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            const Inputs in = opaque_inputs();
            benchmark::DoNotOptimize(velarix::am_price(in.s, in.k, in.t, in.r, in.sigma, in.q, type));
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
    benchmark::AddCustomContext("normal_path", velarix::normal_path_name(velarix::active_normal_path()));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
