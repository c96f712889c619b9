#include "american_functions.h"

#include <cmath>
#include <limits>
#include <random>

#include "bjerksund_stensland.h"
#include "black_scholes.h"
#include "exact.h"
#include "straightforward_american.h"

using namespace velarix;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr OptionType kCall = OptionType::Call;
constexpr OptionType kPut = OptionType::Put;

Greeks singles(const OptionInputs& option) {
    return {am_delta(option).value(), am_gamma(option).value(), am_theta(option).value(), am_vega(option).value(),
            am_rho(option).value()};
}

double price(const OptionInputs& option) { return american_value(option).value(); }
}  // namespace

TEST(AmericanGreeks, PutWithoutEarlyExerciseValueIsCloseToBlackScholes) {
    const Greeks put = singles({.s = 100, .k = 100, .t = 1, .r = 0.05, .sigma = 0.2, .q = 0, .type = kPut});
    EXPECT_NEAR(put.delta, -0.3632, 1e-4);
    EXPECT_NEAR(put.gamma, 0.01876, 1e-5);
    EXPECT_NEAR(put.vega, 37.52, 1e-2);
    EXPECT_NEAR(put.rho, -0.4189, 1e-4);
    EXPECT_NEAR(put.theta, -0.0045, 1e-4);  // the one-day change
}

TEST(AmericanGreeks, CallWithDividendWorkedValues) {
    const Greeks call = singles({.s = 100, .k = 100, .t = 1, .r = 0.05, .sigma = 0.2, .q = 0.03, .type = kCall});
    EXPECT_NEAR(call.delta, 0.562, 1e-3);
    EXPECT_NEAR(call.vega, 37.9, 0.1);
    EXPECT_NEAR(call.rho, 0.476, 1e-3);
    EXPECT_NEAR(call.theta, -0.0123, 1e-4);
}

TEST(AmericanGreeks, ImmediateExerciseRegion) {
    const Greeks call = singles({.s = 150, .k = 100, .t = 1, .r = 0.05, .sigma = 0.2, .q = 0.10, .type = kCall});
    EXPECT_NEAR(call.delta, 1.0, 1e-9);
    EXPECT_NEAR(call.gamma, 0.0, 1e-6);
    EXPECT_SAME_DOUBLE(0.0, call.theta);
    EXPECT_SAME_DOUBLE(0.0, call.vega);
    EXPECT_SAME_DOUBLE(0.0, call.rho);
}

TEST(AmericanGreeks, ExpiredOptionsDifferenceTheirPayoff) {
    EXPECT_NEAR(am_delta({.s = 110, .k = 100, .t = 0, .r = 0.05, .sigma = 0.2, .q = 0,
                          .type = kCall}).value(), 1.0, 1e-12);
    EXPECT_SAME_DOUBLE(0.0, am_delta({.s = 90, .k = 100, .t = 0, .r = 0.05, .sigma = 0.2, .q = 0,
                                      .type = kCall}).value());
    EXPECT_NEAR(am_delta({.s = 90, .k = 100, .t = 0, .r = 0.05, .sigma = 0.2, .q = 0,
                          .type = kPut}).value(), -1.0, 1e-12);
    // Theta of an expired option: the price at the minimum time minus the payoff.
    EXPECT_SAME_DOUBLE(price({.s = 100, .k = 100, .t = 0.0001, .r = 0.05, .sigma = 0.2, .q = 0, .type = kCall}) - 0.0,
                       am_theta({.s = 100, .k = 100, .t = -1, .r = 0.05, .sigma = 0.2, .q = 0, .type = kCall}).value());
}

TEST(AmericanGreeks, ThetaNeverStepsBelowTheMinimumTime) {
    const auto put_at = [](double t) {
        return OptionInputs{.s = 100, .k = 100, .t = t, .r = 0.05, .sigma = 0.2, .q = 0.01, .type = kPut};
    };
    for (const double t : {0.001, 1.0 / 365, 1.0 / 365 + 0.0001}) {
        EXPECT_SAME_DOUBLE(price(put_at(0.0001)) - price(put_at(t)), am_theta(put_at(t)).value());
    }
    const double t = 0.5;
    EXPECT_SAME_DOUBLE(price(put_at(t + (-0.0027397260273972603))) - price(put_at(t)), am_theta(put_at(t)).value());
    // The floor applies up to its own value only: a time to expiry whose
    // bumped time lies a trillionth above it (which the price resolves) is
    // priced at the bumped time.
    const double above = (0.0001 + 1e-12) - (-0.0027397260273972603);
    const double bumped = above + (-0.0027397260273972603);
    ASSERT_GT(bumped, 0.0001);
    ASSERT_NE(price(put_at(bumped)), price(put_at(0.0001)));
    EXPECT_SAME_DOUBLE(price(put_at(bumped)) - price(put_at(above)), am_theta(put_at(above)).value());
    EXPECT_SAME_DOUBLE(price(put_at(0.0001)) - price(put_at(kNaN)), am_theta(put_at(kNaN)).value());
}

TEST(AmericanGreeks, ZeroSpotMakesDeltaAndGammaNaN) {
    EXPECT_TRUE(std::isnan(am_delta({.s = 0, .k = 100, .t = 1, .r = 0.05, .sigma = 0.2, .q = 0,
                                     .type = kPut}).value()));
    EXPECT_TRUE(std::isnan(am_gamma({.s = 0, .k = 100, .t = 1, .r = 0.05, .sigma = 0.2, .q = 0,
                                     .type = kPut}).value()));
}

TEST(AmericanGreeks, RhoMovesTheCarryWithTheRate) {
    const double s = 100, k = 105, t = 1, r = 0.04, sigma = 0.25, q = 0.03;
    const double up = price({.s = s, .k = k, .t = t, .r = r + 0.0001, .sigma = sigma, .q = q, .type = kCall});
    const double down = price({.s = s, .k = k, .t = t, .r = r - 0.0001, .sigma = sigma, .q = q, .type = kCall});
    EXPECT_SAME_DOUBLE(((up - down) / 0.0002) / 100, am_rho({.s = s, .k = k, .t = t, .r = r, .sigma = sigma, .q = q,
                                                             .type = kCall}).value());
}

TEST(AmericanGreeks, VegaIsPerUnitOfVolatility) {
    const double vega = am_vega({.s = 100, .k = 100, .t = 1, .r = 0.05, .sigma = 0.2, .q = 0.03,
                                 .type = kCall}).value();
    const double one_point = price({.s = 100, .k = 100, .t = 1, .r = 0.05, .sigma = 0.21, .q = 0.03,
                                    .type = kCall}) - price({.s = 100, .k = 100, .t = 1, .r = 0.05, .sigma = 0.2,
                                                             .q = 0.03, .type = kCall});
    EXPECT_NEAR(vega / 100, one_point, 0.01);
}

TEST(AmericanGreeks, AllGreeksEqualTheSingleComputationsBitForBit) {
    for (const double s : {0.0, 70.0, 100.0, 130.0, 150.0})
        for (const double t : {-1.0, 0.001, 0.5, 2.0})
            for (const double sigma : {0.00005, 0.2, 0.6})
                for (const double q : {0.0, 0.04, 0.1})
                    for (const OptionType type : {kCall, kPut}) {
                        const Greeks expected = singles({.s = s, .k = 100, .t = t, .r = 0.05, .sigma = sigma, .q = q,
                                                         .type = type});
                        const Greeks actual = am_greeks({.s = s, .k = 100, .t = t, .r = 0.05, .sigma = sigma, .q = q,
                                                         .type = type}).value();
                        EXPECT_SAME_DOUBLE(expected.delta, actual.delta);
                        EXPECT_SAME_DOUBLE(expected.gamma, actual.gamma);
                        EXPECT_SAME_DOUBLE(expected.theta, actual.theta);
                        EXPECT_SAME_DOUBLE(expected.vega, actual.vega);
                        EXPECT_SAME_DOUBLE(expected.rho, actual.rho);
                    }
}

// The spot-bumped prices share one boundary; differencing independent
// term-by-term prices must give the same bits.
TEST(AmericanGreeks, SharedSpotBoundaryGivesTheBitsOfIndependentPrices) {
    std::mt19937_64 generator(8122026);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto between = [&](double low, double high) { return low + (high - low) * unit(generator); };
    for (int i = 0; i < 5000; ++i) {
        const double s = between(1, 300), k = between(1, 300), t = between(-0.05, 4), r = between(-0.01, 0.12),
                     sigma = between(0.02, 1.0), q = between(0.0, 0.15);
        for (const OptionType type : {kCall, kPut}) {
            const auto reference = [&](double spot) {
                return straightforward::american_value({.s = spot, .k = k, .t = t, .r = r, .sigma = sigma, .q = q,
                                                        .type = type});
            };
            const double h = 0.0001 * s;
            const double delta = (reference(s + h) - reference(s - h)) / (h + h);
            const double gamma = ((reference(s + h) - (reference(s) + reference(s))) + reference(s - h)) / (h * h);
            const Greeks all = am_greeks({.s = s, .k = k, .t = t, .r = r, .sigma = sigma, .q = q,
                                          .type = type}).value();
            ASSERT_TRUE(SameDouble(delta, am_delta({.s = s, .k = k, .t = t, .r = r, .sigma = sigma, .q = q,
                                                    .type = type}).value())) << s << " " << k;
            ASSERT_TRUE(SameDouble(gamma, am_gamma({.s = s, .k = k, .t = t, .r = r, .sigma = sigma, .q = q,
                                                    .type = type}).value())) << s << " " << k;
            ASSERT_TRUE(SameDouble(delta, all.delta));
            ASSERT_TRUE(SameDouble(gamma, all.gamma));
        }
    }
}

// Where the twelve-term sum exceeded the perpetual call's value the Greeks
// were of any size and sign (delta +1.92, vega -24,952 for the first case);
// they are now differences of European values, so the European Greeks to
// within 1e-6: a call at a large negative carry, long and short, and a put at
// a large positive one.
TEST(AmericanGreeks, AboveThePerpetualCallTheyAreTheEuropeanGreeks) {
    for (const OptionInputs& o : {
             OptionInputs{.s = 92, .k = 135, .t = 2.64, .r = 0.017, .sigma = 0.0512, .q = 0.098, .type = kCall},
             OptionInputs{.s = 69.9053, .k = 110.2701, .t = 4.3025, .r = 0.0065, .sigma = 0.0943, .q = 0.1185,
                          .type = kCall},
             OptionInputs{.s = 33.65829, .k = 37.79299, .t = 0.508, .r = 0.022085, .sigma = 0.033318, .q = 0.13087,
                          .type = kCall},
             OptionInputs{.s = 299.7447, .k = 156.8398, .t = 2.9655, .r = 0.10605, .sigma = 0.06151, .q = 0.01281,
                          .type = kPut},
         }) {
        const Greeks am = am_greeks(o).value();
        const Greeks bs = bs_greeks(o).value();
        EXPECT_NEAR(am.delta, bs.delta, 1e-6) << o.s;
        EXPECT_NEAR(am.gamma, bs.gamma, 1e-6) << o.s;
        EXPECT_NEAR(am.theta, bs.theta, 1e-6) << o.s;
        EXPECT_NEAR(am.vega, bs.vega, 1e-6) << o.s;
        EXPECT_NEAR(am.rho, bs.rho, 1e-6) << o.s;
    }
}
