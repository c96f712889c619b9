#include "black_scholes.h"

#include <cmath>
#include <limits>
#include <tuple>

#include "exact.h"

using namespace velarix;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr OptionType kCall = OptionType::Call;
constexpr OptionType kPut = OptionType::Put;

// The five European Greeks of one option, each from its single computation.
Greeks singles(const OptionInputs& option) {
    return {bs_delta(option).value(), bs_gamma(option).value(), bs_theta(option).value(), bs_vega(option).value(),
            bs_rho(option).value()};
}

void expect_same_greeks(const Greeks& expected, const Greeks& actual) {
    EXPECT_SAME_DOUBLE(expected.delta, actual.delta);
    EXPECT_SAME_DOUBLE(expected.gamma, actual.gamma);
    EXPECT_SAME_DOUBLE(expected.theta, actual.theta);
    EXPECT_SAME_DOUBLE(expected.vega, actual.vega);
    EXPECT_SAME_DOUBLE(expected.rho, actual.rho);
}
}  // namespace

TEST(BlackScholes, AtTheMoneyTextbookValues) {
    const Greeks call = singles({.s = 100, .k = 100, .t = 1, .r = 0.05, .sigma = 0.2, .q = 0, .type = kCall});
    const Greeks put = singles({.s = 100, .k = 100, .t = 1, .r = 0.05, .sigma = 0.2, .q = 0, .type = kPut});
    EXPECT_NEAR(call.delta, 0.6368, 1e-4);
    EXPECT_NEAR(put.delta, -0.3632, 1e-4);
    EXPECT_NEAR(call.delta - put.delta, 1.0, 1e-15);
    EXPECT_NEAR(call.gamma, 0.018762, 1e-6);
    EXPECT_NEAR(call.vega, 37.524, 1e-3);  // per 1.00 of volatility, not per point
    EXPECT_NEAR(call.rho, 0.5323, 1e-4);
    EXPECT_NEAR(put.rho, -0.4189, 1e-4);
    EXPECT_NEAR(call.theta, -6.414 / 365, 1e-5);  // per calendar day
    EXPECT_NEAR(put.theta, -1.658 / 365, 1e-5);
}

TEST(BlackScholes, DividendYieldEntersDeltaAsDiscount) {
    const double q = 0.03, t = 0.75;
    const double call = bs_delta({.s = 100, .k = 95, .t = t, .r = 0.05, .sigma = 0.25, .q = q, .type = kCall}).value();
    const double put = bs_delta({.s = 100, .k = 95, .t = t, .r = 0.05, .sigma = 0.25, .q = q, .type = kPut}).value();
    EXPECT_NEAR(call - put, std::exp(-q * t), 1e-15);
}

TEST(BlackScholes, ExpiryInTheMoney) {
    const Greeks call = singles({.s = 110, .k = 100, .t = 0, .r = 0.05, .sigma = 0.2, .q = 0, .type = kCall});
    const Greeks put = singles({.s = 110, .k = 100, .t = 0, .r = 0.05, .sigma = 0.2, .q = 0, .type = kPut});
    EXPECT_SAME_DOUBLE(1.0, call.delta);
    EXPECT_SAME_DOUBLE(-0.0, put.delta);  // 0 * (-1)
    EXPECT_TRUE(std::isnan(call.gamma));
    EXPECT_TRUE(std::isnan(call.theta));
    EXPECT_TRUE(std::isnan(put.theta));
    EXPECT_SAME_DOUBLE(0.0, call.vega);
    EXPECT_SAME_DOUBLE(0.0, call.rho);
    EXPECT_SAME_DOUBLE(-0.0, put.rho);
}

TEST(BlackScholes, ExpiryOutOfTheMoney) {
    const Greeks call = singles({.s = 90, .k = 100, .t = 0, .r = 0.05, .sigma = 0.2, .q = 0, .type = kCall});
    const Greeks put = singles({.s = 90, .k = 100, .t = 0, .r = 0.05, .sigma = 0.2, .q = 0, .type = kPut});
    EXPECT_SAME_DOUBLE(0.0, call.delta);
    EXPECT_SAME_DOUBLE(-1.0, put.delta);
    EXPECT_TRUE(std::isnan(call.gamma));
    EXPECT_TRUE(std::isnan(call.theta));
    EXPECT_SAME_DOUBLE(0.0, call.vega);
    EXPECT_SAME_DOUBLE(0.0, call.rho);
    EXPECT_SAME_DOUBLE(-0.0, put.rho);
}

TEST(BlackScholes, EveryGreekIsNaNAtExpiryAtTheMoney) {
    for (const OptionType type : {kCall, kPut}) {
        const Greeks g = singles({.s = 100, .k = 100, .t = 0, .r = 0.05, .sigma = 0.2, .q = 0, .type = type});
        for (const double value : {g.delta, g.gamma, g.theta, g.vega, g.rho}) {
            EXPECT_TRUE(std::isnan(value));
        }
    }
}

TEST(BlackScholes, ZeroVolatility) {
    const double s = 100, k = 90, t = 1, r = 0.05, q = 0.02;
    const Greeks call = singles({.s = s, .k = k, .t = t, .r = r, .sigma = 0.0, .q = q, .type = kCall});
    EXPECT_SAME_DOUBLE(std::exp(-q * t), call.delta);
    EXPECT_TRUE(std::isnan(call.gamma));
    EXPECT_SAME_DOUBLE(0.0, call.vega);
    EXPECT_NEAR(call.theta, (q * s * std::exp(-q * t) - r * k * std::exp(-r * t)) / 365, 1e-15);
    EXPECT_SAME_DOUBLE(0.0, bs_delta({.s = 80, .k = 100, .t = t, .r = r, .sigma = 0.0, .q = q, .type = kCall}).value());
    // ln(s/k) + (r - q) t exactly zero: d1 is 0/0.
    for (const double value : {bs_delta({.s = 100, .k = 100, .t = 1, .r = 0.0, .sigma = 0.0, .q = 0.0,
                                         .type = kCall}).value(),
                               bs_vega({.s = 100, .k = 100, .t = 1, .r = 0.0, .sigma = 0.0, .q = 0.0,
                                        .type = kCall}).value()}) {
        EXPECT_TRUE(std::isnan(value));
    }
}

TEST(BlackScholes, ZeroSpot) {
    const double k = 100, t = 1, r = 0.05, q = 0.02;
    EXPECT_SAME_DOUBLE(0.0, bs_delta({.s = 0, .k = k, .t = t, .r = r, .sigma = 0.2, .q = q, .type = kCall}).value());
    EXPECT_SAME_DOUBLE(-std::exp((-q) * t), bs_delta({.s = 0, .k = k, .t = t, .r = r, .sigma = 0.2, .q = q,
                                                      .type = kPut}).value());
    EXPECT_TRUE(std::isnan(bs_gamma({.s = 0, .k = k, .t = t, .r = r, .sigma = 0.2, .q = q, .type = kCall}).value()));
    EXPECT_SAME_DOUBLE(0.0, bs_vega({.s = 0, .k = k, .t = t, .r = r, .sigma = 0.2, .q = q, .type = kCall}).value());
    EXPECT_SAME_DOUBLE(0.0, bs_theta({.s = 0, .k = k, .t = t, .r = r, .sigma = 0.2, .q = q, .type = kCall}).value());
    EXPECT_NEAR(bs_theta({.s = 0, .k = k, .t = t, .r = r, .sigma = 0.2, .q = q,
                          .type = kPut}).value(), r * k * std::exp(-r * t) / 365, 1e-15);
}

TEST(BlackScholes, ZeroStrike) {
    const double t = 1, q = 0.02;
    EXPECT_SAME_DOUBLE(std::exp((-q) * t), bs_delta({.s = 100, .k = 0, .t = t, .r = 0.05, .sigma = 0.2, .q = q,
                                                     .type = kCall}).value());
    EXPECT_SAME_DOUBLE(0.0, bs_gamma({.s = 100, .k = 0, .t = t, .r = 0.05, .sigma = 0.2, .q = q,
                                      .type = kCall}).value());
    EXPECT_SAME_DOUBLE(0.0, bs_vega({.s = 100, .k = 0, .t = t, .r = 0.05, .sigma = 0.2, .q = q,
                                     .type = kCall}).value());
    EXPECT_SAME_DOUBLE(0.0, bs_rho({.s = 100, .k = 0, .t = t, .r = 0.05, .sigma = 0.2, .q = q, .type = kCall}).value());
}

TEST(BlackScholes, NegativeTimeOrOppositeSignsGiveNaN) {
    for (const auto& [s, k, t] : {std::tuple{100.0, 100.0, -1.0}, std::tuple{-100.0, 100.0, 1.0},
                                  std::tuple{100.0, -100.0, 1.0}}) {
        const Greeks g = singles({.s = s, .k = k, .t = t, .r = 0.05, .sigma = 0.2, .q = 0.0, .type = kCall});
        for (const double value : {g.delta, g.gamma, g.theta, g.vega, g.rho}) {
            EXPECT_TRUE(std::isnan(value));
        }
    }
}

TEST(BlackScholes, NaNInAnyInputMakesEveryGreekNaN) {
    const double base[6] = {100, 95, 0.5, 0.05, 0.3, 0.01};
    for (int position = 0; position < 6; ++position) {
        double in[6];
        std::copy(std::begin(base), std::end(base), in);
        in[position] = kNaN;
        for (const OptionType type : {kCall, kPut}) {
            const Greeks g = bs_greeks({.s = in[0], .k = in[1], .t = in[2], .r = in[3], .sigma = in[4], .q = in[5],
                                        .type = type}).value();
            for (const double value : {g.delta, g.gamma, g.theta, g.vega, g.rho}) {
                EXPECT_TRUE(std::isnan(value)) << "NaN at input " << position;
            }
        }
    }
}

TEST(BlackScholes, NegativeVolatilityFlipsD1) {
    const double s = 100, k = 95, t = 0.5, r = 0.05, q = 0.01;
    const double positive_delta = bs_delta({.s = s, .k = k, .t = t, .r = r, .sigma = 0.3, .q = q,
                                            .type = kCall}).value();
    const double negative_delta = bs_delta({.s = s, .k = k, .t = t, .r = r, .sigma = -0.3, .q = q,
                                            .type = kCall}).value();
    EXPECT_NEAR(negative_delta, std::exp(-q * t) - positive_delta, 1e-10);
    EXPECT_LT(bs_gamma({.s = s, .k = k, .t = t, .r = r, .sigma = -0.3, .q = q, .type = kCall}).value(), 0.0);
    EXPECT_SAME_DOUBLE(bs_vega({.s = s, .k = k, .t = t, .r = r, .sigma = 0.3, .q = q,
                                .type = kCall}).value(), bs_vega({.s = s, .k = k, .t = t, .r = r, .sigma = -0.3, .q = q,
                                                                  .type = kCall}).value());
}

TEST(BlackScholes, InfiniteVolatility) {
    EXPECT_TRUE(std::isnan(bs_delta({.s = 100, .k = 100, .t = 1, .r = 0.05, .sigma = kInf, .q = 0,
                                     .type = kCall}).value()));
}

TEST(BlackScholesGreeks, EveryFieldIsItsSingleComputationBitForBit) {
    const double spots[] = {0.0, 50.0, 99.5, 100.0, 180.0};
    const double times[] = {0.0, 1.0 / 365, 0.5, 3.0};
    const double volatilities[] = {0.0, 0.05, 0.3, -0.2};
    const double rates[] = {-0.01, 0.0, 0.05};
    for (const double s : spots)
        for (const double t : times)
            for (const double sigma : volatilities)
                for (const double r : rates)
                    for (const OptionType type : {kCall, kPut}) {
                        const double k = 100.0, q = 0.02;
                        expect_same_greeks(singles({.s = s, .k = k, .t = t, .r = r, .sigma = sigma, .q = q,
                                                    .type = type}),
                                           bs_greeks({.s = s, .k = k, .t = t, .r = r, .sigma = sigma, .q = q,
                                                      .type = type}).value());
                    }
}
