// The accurate American engine against published and high-precision
// reference values, its regimes and limits, the bounds and symmetries every
// American price obeys, and its Greeks against differences of its prices.
#include <array>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "american_engine.h"
#include "chebyshev_interpolation.h"
#include "european_price.h"
#include "exact.h"
#include "quadrature_rules.h"

namespace velarix {
namespace {

const Discretisation& high() {
    static const Discretisation grid({32, 16, 65, 101, QuadratureKind::TanhSinh});
    return grid;
}

OptionInputs option(OptionType type, double s, double k, double r, double q, double sigma, double t) {
    return {.s = s, .k = k, .t = t, .r = r, .sigma = sigma, .q = q, .type = type};
}

struct Reference {
    OptionInputs option;
    double american;
};

// High-precision values from the method's notes (collocation at 201 points
// and a lattice); the last row is drift-dominated and converges slowly.
const std::array<Reference, 12> kReferences = {{
    {option(OptionType::Put, 100, 100, 0.05, 0.05, 0.25, 1), 9.56944529891},
    {option(OptionType::Put, 80, 100, 0.04, 0.04, 0.2, 3), 23.22833865235},
    {option(OptionType::Put, 100, 100, 0.04, 0.04, 0.2, 3), 12.60521191596},
    {option(OptionType::Put, 120, 100, 0.04, 0.04, 0.2, 3), 6.48242454478},
    {option(OptionType::Put, 100, 100, 0.05, 0.0, 0.2, 1), 6.09037059096},
    {option(OptionType::Put, 90, 100, 0.08, 0.02, 0.3, 2), 16.29141367970},
    {option(OptionType::Call, 100, 100, 0.03, 0.07, 0.4, 5), 24.18356839845},
    {option(OptionType::Call, 120, 100, 0.05, 0.10, 0.2, 1), 20.05179526296},
    {option(OptionType::Put, 100, 100, 0.05, -0.02, 0.3, 1), 9.31309168618},
    {option(OptionType::Put, 100, 100, 0.0, -0.03, 0.25, 2), 11.98001145860},
    {option(OptionType::Put, 110, 100, 0.02, 0.08, 0.25, 1), 8.26274210514},
    {option(OptionType::Put, 100, 100, 0.10, 0.0, 0.1, 3), 1.7753349},
}};

TEST(AmericanEngine, MatchesTheReferenceValuesAtEachSetting) {
    for (std::size_t i = 0; i < kReferences.size(); ++i) {
        const Reference& row = kReferences[i];
        const bool drift_dominated = i + 1 == kReferences.size();
        EXPECT_NEAR(american_price(row.option, high()), row.american, drift_dominated ? 3e-7 : 1e-8) << i;
        EXPECT_NEAR(american_price(row.option, AmericanAccuracy::Accurate), row.american, 2e-5) << i;
        EXPECT_NEAR(american_price(row.option, AmericanAccuracy::Fast), row.american, 1.1e-3) << i;
    }
}

TEST(AmericanEngine, PresetsKeepTheirMeasuredAccuracyOnTheGrid) {
    // Every 37th put of the standard grid (strike 100, spot 25-200, 30-365
    // days, r 2-10%, q 0-12%, sigma 10-60%) worth at least 0.5, against the
    // fine settings: the presets' RMS errors there are 2.3e-5 and 2.7e-7.
    double fast = 0.0;
    double accurate = 0.0;
    double one_step = 0.0;  // one iteration: the Jacobi-Newton step alone
    const Discretisation one_iteration({6, 1, 10, 25, QuadratureKind::GaussLegendre});
    int count = 0;
    int index = 0;
    for (const double s : {25.0, 50.0, 80.0, 90.0, 100.0, 110.0, 120.0, 150.0, 175.0, 200.0}) {
        for (const double days : {30.0, 91.0, 182.0, 273.0, 365.0}) {
            for (const double r : {0.02, 0.04, 0.06, 0.08, 0.10}) {
                for (const double q : {0.0, 0.04, 0.08, 0.12}) {
                    for (const double sigma : {0.1, 0.2, 0.3, 0.4, 0.5, 0.6}) {
                        if (index++ % 37 != 0) {
                            continue;
                        }
                        const OptionInputs put = option(OptionType::Put, s, 100, r, q, sigma, days / 365.0);
                        const double reference = american_price(put, high());
                        if (reference < 0.5) {
                            continue;
                        }
                        fast += std::pow(american_price(put, AmericanAccuracy::Fast) - reference, 2);
                        accurate += std::pow(american_price(put, AmericanAccuracy::Accurate) - reference, 2);
                        one_step += std::pow(american_price(put, one_iteration) - reference, 2);
                        ++count;
                    }
                }
            }
        }
    }
    ASSERT_GT(count, 100);
    EXPECT_LT(std::sqrt(fast / count), 4e-5);
    EXPECT_LT(std::sqrt(accurate / count), 1e-6);
    EXPECT_LT(std::sqrt(one_step / count), 5e-4) << "(with a plain first step: 6.2e-4)";
}

TEST(AmericanEngine, ConvergesAsTheSettingsGrow) {
    // A wrong weight, node map or interpolation stalls at a fixed error.
    const OptionInputs put = option(OptionType::Put, 100, 100, 0.05, 0.05, 0.25, 1);
    double previous_error = 1.0;
    for (const EngineSettings& settings : {EngineSettings{4, 2, 6, 12, QuadratureKind::GaussLegendre},
                                           EngineSettings{8, 4, 16, 31, QuadratureKind::GaussLegendre},
                                           EngineSettings{16, 8, 33, 65, QuadratureKind::TanhSinh}}) {
        const double error = std::fabs(american_price(put, Discretisation(settings)) - 9.56944529891);
        EXPECT_LT(error, 0.2 * previous_error);
        previous_error = error;
    }
}

TEST(AmericanEngine, GreeksAndBoundaryMatchTheReference) {
    const OptionInputs put = option(OptionType::Put, 100, 100, 0.05, 0.03, 0.25, 1);
    const Greeks greeks = american_greeks(put, high());
    EXPECT_NEAR(american_price(put, high()), 8.8827013648, 1e-9);
    EXPECT_NEAR(greeks.delta, -0.4243323546, 1e-9);
    EXPECT_NEAR(greeks.gamma, 0.0163936586, 1e-9);
    EXPECT_NEAR(greeks.theta * 365.0, -3.83021853, 1e-7);
    EXPECT_NEAR(greeks.vega, 38.1835152, 38.18 * 1e-5);
    EXPECT_NEAR(greeks.rho * 100.0, -38.3827544, 38.38 * 1e-4);
    EXPECT_NEAR(american_exercise_boundary(put, high()), 69.74666704, 1e-6);
    // Boundaries at other expiries, strike 100: (r, q, sigma, T, B(T)).
    const std::array<std::array<double, 5>, 4> boundaries = {{{0.05, 0.05, 0.25, 0.5, 70.43776841},
                                                              {0.04, 0.04, 0.2, 1.5, 66.41899652},
                                                              {0.05, 0.0, 0.2, 0.25, 86.80517467},
                                                              {0.02, 0.08, 0.25, 1.0, 21.70018886}}};
    // Without iterations the boundary is the QD+ start, within about 1%.
    const Discretisation start_only({32, 0, 65, 101, QuadratureKind::TanhSinh});
    for (const auto& [r, q, sigma, t, expected] : boundaries) {
        const OptionInputs o = option(OptionType::Put, 100, 100, r, q, sigma, t);
        EXPECT_NEAR(american_exercise_boundary(o, high()), expected, 1e-6);
        EXPECT_NEAR(american_exercise_boundary(o, start_only), expected, 0.02 * expected);
        EXPECT_NE(american_exercise_boundary(o, start_only), american_exercise_boundary(o, high()));
    }
}

TEST(AmericanEngine, GreeksAgreeWithDifferencesOfItsPrices) {
    for (const OptionType type : {OptionType::Put, OptionType::Call}) {
        for (const double s : {70.0, 100.0, 140.0}) {
            const OptionInputs o = option(type, s, 100, 0.06, 0.04, 0.3, 0.75);
            const Greeks g = american_greeks(o, AmericanAccuracy::Accurate);
            const auto price = [&](auto change) {
                OptionInputs moved = o;
                change(moved);
                return american_price(moved, AmericanAccuracy::Accurate);
            };
            const double h = 1e-3 * s;
            const double up = price([&](OptionInputs& m) { m.s = s + h; });
            const double down = price([&](OptionInputs& m) { m.s = s - h; });
            const double at = american_price(o, AmericanAccuracy::Accurate);
            EXPECT_NEAR(g.delta, (up - down) / (2 * h), 1e-6) << s;
            EXPECT_NEAR(g.gamma, (up - 2 * at + down) / (h * h), 2e-4 * std::fabs(g.gamma) + 1e-7) << s;
            const double dt = 1e-4;
            const double theta = -(price([&](OptionInputs& m) { m.t = o.t + dt; }) -
                                   price([&](OptionInputs& m) { m.t = o.t - dt; })) / (2 * dt) / 365.0;
            EXPECT_NEAR(g.theta, theta, 2e-3 * std::fabs(theta) + 1e-7) << s;
            const double vega = (price([&](OptionInputs& m) { m.sigma = 0.3 + 1e-4; }) -
                                 price([&](OptionInputs& m) { m.sigma = 0.3 - 1e-4; })) / 2e-4;
            EXPECT_NEAR(g.vega, vega, 2e-3 * std::fabs(vega)) << s;
            const double rho = (price([&](OptionInputs& m) { m.r = 0.06 + 1e-4; }) -
                                price([&](OptionInputs& m) { m.r = 0.06 - 1e-4; })) / 2e-4 / 100.0;
            EXPECT_NEAR(g.rho, rho, 2e-3 * std::fabs(rho)) << s;
        }
    }
}

TEST(AmericanEngine, PricesAreSmoothInVolatility) {
    // Vega and rho are differences over steps of 1e-7: second differences of
    // the price over such steps must show curvature, not noise (a QD+ start
    // solved loosely, or an iteration count that depends on the data, would
    // make them jump and change sign).
    for (const OptionInputs& o : {option(OptionType::Put, 100, 100, 0.05, 0.02, 0.25, 1),
                                  option(OptionType::Call, 110, 100, 0.03, 0.07, 0.4, 2)}) {
        std::array<double, 12> second{};
        for (std::size_t i = 0; i < second.size(); ++i) {
            double values[3];
            for (int j = 0; j < 3; ++j) {
                OptionInputs moved = o;
                moved.sigma = o.sigma + (static_cast<double>(i) * 3.0 + j) * 1e-6;
                values[j] = american_price(moved, AmericanAccuracy::Fast);
            }
            second[i] = values[0] - 2.0 * values[1] + values[2];
        }
        for (const double d : second) {
            EXPECT_NEAR(d, second[0], 0.2 * std::fabs(second[0]));
        }
    }
}

TEST(AmericanEngine, BoundsAndSymmetry) {
    for (const double s : {40.0, 80.0, 95.0, 100.0, 105.0, 130.0, 250.0}) {
        for (const double q : {0.0, 0.03, 0.09}) {
            for (const OptionType type : {OptionType::Put, OptionType::Call}) {
                const OptionInputs o = option(type, s, 100, 0.05, q, 0.25, 1.5);
                const double value = american_price(o, AmericanAccuracy::Fast);
                const double intrinsic = type == OptionType::Put ? std::max(100 - s, 0.0) : std::max(s - 100, 0.0);
                EXPECT_GE(value, european_price(o)) << s;
                EXPECT_GE(value, intrinsic) << s;
            }
            // A call is the put with spot and strike, rate and yield exchanged.
            const OptionInputs call = option(OptionType::Call, s, 100, 0.05, q, 0.25, 1.5);
            const OptionInputs put = option(OptionType::Put, 100, s, q, 0.05, 0.25, 1.5);
            EXPECT_SAME_DOUBLE(american_price(call, AmericanAccuracy::Fast), american_price(put, AmericanAccuracy::Fast));
        }
    }
    // Below the boundary the put is exercised: its value is K - S exactly.
    const OptionInputs deep = option(OptionType::Put, 60, 100, 0.08, 0.0, 0.2, 1);
    ASSERT_LT(60.0, american_exercise_boundary(deep, AmericanAccuracy::Fast));
    EXPECT_SAME_DOUBLE(40.0, american_price(deep, AmericanAccuracy::Fast));
    const Greeks exercised = american_greeks(deep, AmericanAccuracy::Fast);
    EXPECT_SAME_DOUBLE(-1.0, exercised.delta);
    EXPECT_SAME_DOUBLE(0.0, exercised.gamma);
}

TEST(AmericanEngine, RegimesAndLimits) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    // Early exercise never optimal: the European function's bits.
    for (const OptionInputs& o : {option(OptionType::Put, 90, 100, 0.0, 0.02, 0.3, 1),
                                  option(OptionType::Put, 90, 100, -0.01, -0.005, 0.3, 1),
                                  option(OptionType::Call, 110, 100, 0.05, 0.0, 0.3, 1),
                                  option(OptionType::Call, 110, 100, -0.01, -0.02, 0.3, 1)}) {
        EXPECT_SAME_DOUBLE(european_price(o), american_price(o, AmericanAccuracy::Accurate));
    }
    EXPECT_SAME_DOUBLE(0.0, american_exercise_boundary(option(OptionType::Put, 90, 100, 0.0, 0.02, 0.3, 1),
                                                       AmericanAccuracy::Fast));
    // Two boundaries (q < r < 0 for a put): not solved, NaN.
    EXPECT_SAME_DOUBLE(nan, american_price(option(OptionType::Put, 60, 100, -0.01, -0.03, 0.3, 1),
                                           AmericanAccuracy::Fast));
    EXPECT_SAME_DOUBLE(nan, american_price(option(OptionType::Call, 160, 100, -0.03, -0.01, 0.3, 1),
                                           AmericanAccuracy::Fast));
    // Expiry: the exercise value.
    EXPECT_SAME_DOUBLE(7.0, american_price(option(OptionType::Put, 93, 100, 0.05, 0.0, 0.3, 0), AmericanAccuracy::Fast));
    EXPECT_SAME_DOUBLE(0.0, american_price(option(OptionType::Call, 93, 100, 0.05, 0.0, 0.3, 0), AmericanAccuracy::Fast));
    // sigma = 0: the deterministic path, here best exercised when it reaches r/q.
    const double deterministic = american_price(option(OptionType::Put, 30, 100, 0.02, 0.08, 0.0, 5), AmericanAccuracy::Fast);
    const double crossing = std::log(0.02 / (0.08 * 0.3)) / (0.02 - 0.08);
    EXPECT_NEAR(deterministic, 100 * (std::exp(-0.02 * crossing) - 0.3 * std::exp(-0.08 * crossing)), 1e-12);
    EXPECT_NEAR(american_price(option(OptionType::Put, 30, 100, 0.02, 0.08, 1e-5, 5), AmericanAccuracy::Fast),
                deterministic, 1e-12);
    EXPECT_NEAR(american_price(option(OptionType::Put, 30, 100, 0.02, 0.08, 1e-3, 5), AmericanAccuracy::Accurate),
                deterministic, 1e-3);
    // Inputs no option can have, and NaN: NaN.
    for (const OptionInputs& o : {option(OptionType::Put, 0, 100, 0.05, 0, 0.2, 1),
                                  option(OptionType::Put, 100, -1, 0.05, 0, 0.2, 1),
                                  option(OptionType::Put, 100, 100, 0.05, 0, -0.2, 1),
                                  option(OptionType::Put, 100, 100, 0.05, 0, 0.2, -1),
                                  option(OptionType::Put, nan, 100, 0.05, 0, 0.2, 1),
                                  option(OptionType::Call, 100, 100, 0.05, nan, 0.2, 1)}) {
        EXPECT_SAME_DOUBLE(nan, american_price(o, AmericanAccuracy::Fast));
        EXPECT_SAME_DOUBLE(nan, american_greeks(o, AmericanAccuracy::Fast).vega);
    }
    // A day to expiry, r far below q: the fine settings' first node lies
    // 1.6e-8 years from expiry, where QD+ has no computable root.
    const OptionInputs a_day = option(OptionType::Put, 83.67667538659468, 100, 0.00013874182227255894,
                                      0.09682061150874273, 0.24477559796423096, 1.0 / 365.0);
    EXPECT_NEAR(american_price(a_day, high()), american_price(a_day, AmericanAccuracy::Accurate), 1e-9);
    // Extreme but valid inputs end with a number or NaN, in bounded time.
    for (const OptionInputs& o : {option(OptionType::Put, 100, 100, 0.05, 0, 1e-7, 1e-9),
                                  option(OptionType::Put, 1e-300, 100, 0.05, 0, 0.2, 1),
                                  option(OptionType::Put, 1e300, 100, 0.05, 0, 0.2, 1),
                                  option(OptionType::Put, 100, 100, 0.05, 0, 50, 100),
                                  option(OptionType::Call, 100, 100, 0.9, 0.5, 0.01, 30)}) {
        const double value = american_price(o, AmericanAccuracy::Accurate);
        EXPECT_TRUE(std::isnan(value) || value >= 0.0) << value;
    }
}

TEST(AmericanEngineTables, InterpolationAndQuadratureAreExactWhereTheyMustBe) {
    // The interpolant through the nodes reproduces every nodal value.
    const int n = 9;
    const std::vector<double> nodes = chebyshev_nodes(n);
    const std::vector<double> weights = cardinal_weights(n, nodes);
    for (int j = 0; j <= n; ++j) {
        for (int i = 0; i <= n; ++i) {
            EXPECT_NEAR(weights[static_cast<std::size_t>(j * (n + 1) + i)], i == j ? 1.0 : 0.0, 1e-14);
        }
    }
    // Gauss-Legendre with l points integrates y^(2l-2) exactly; tanh-sinh
    // integrates the endpoint singularity 1/sqrt(1 + y) (to 2 sqrt 2, less
    // the 2.5e-7 that lies beyond its last node).
    for (const int count : {5, 10, 25}) {
        const QuadratureRule rule = gauss_legendre(count);
        double sum = 0.0;
        for (std::size_t k = 0; k < rule.size(); ++k) {
            sum += rule.weight[k] * std::pow(rule.one_plus_y[k] - 1.0, 2 * count - 2);
        }
        EXPECT_NEAR(sum, 2.0 / (2 * count - 1), 1e-14) << count;
    }
    const QuadratureRule rule = tanh_sinh(101);
    double sum = 0.0;
    for (std::size_t k = 0; k < rule.size(); ++k) {
        ASSERT_GT(rule.one_plus_y[k], 0.0);
        sum += rule.weight[k] / std::sqrt(rule.one_plus_y[k]);
    }
    EXPECT_NEAR(sum, 2.0 * std::sqrt(2.0), 3e-7);
}

}  // namespace
}  // namespace velarix
