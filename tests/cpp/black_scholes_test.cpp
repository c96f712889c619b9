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
Greeks singles(double s, double k, double t, double r, double sigma, double q, OptionType type) {
    return {bs_delta(s, k, t, r, sigma, q, type).value(), bs_gamma(s, k, t, r, sigma, q).value(),
            bs_theta(s, k, t, r, sigma, q, type).value(), bs_vega(s, k, t, r, sigma, q).value(),
            bs_rho(s, k, t, r, sigma, q, type).value()};
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
    const Greeks call = singles(100, 100, 1, 0.05, 0.2, 0, kCall);
    const Greeks put = singles(100, 100, 1, 0.05, 0.2, 0, kPut);
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
    const double call = bs_delta(100, 95, t, 0.05, 0.25, q, kCall).value();
    const double put = bs_delta(100, 95, t, 0.05, 0.25, q, kPut).value();
    EXPECT_NEAR(call - put, std::exp(-q * t), 1e-15);
}

TEST(BlackScholes, ExpiryInTheMoney) {
    const Greeks call = singles(110, 100, 0, 0.05, 0.2, 0, kCall);
    const Greeks put = singles(110, 100, 0, 0.05, 0.2, 0, kPut);
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
    const Greeks call = singles(90, 100, 0, 0.05, 0.2, 0, kCall);
    const Greeks put = singles(90, 100, 0, 0.05, 0.2, 0, kPut);
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
        const Greeks g = singles(100, 100, 0, 0.05, 0.2, 0, type);
        for (const double value : {g.delta, g.gamma, g.theta, g.vega, g.rho}) {
            EXPECT_TRUE(std::isnan(value));
        }
    }
}

TEST(BlackScholes, ZeroVolatility) {
    const double s = 100, k = 90, t = 1, r = 0.05, q = 0.02;
    const Greeks call = singles(s, k, t, r, 0.0, q, kCall);
    EXPECT_SAME_DOUBLE(std::exp(-q * t), call.delta);
    EXPECT_TRUE(std::isnan(call.gamma));
    EXPECT_SAME_DOUBLE(0.0, call.vega);
    EXPECT_NEAR(call.theta, (q * s * std::exp(-q * t) - r * k * std::exp(-r * t)) / 365, 1e-15);
    EXPECT_SAME_DOUBLE(0.0, bs_delta(80, 100, t, r, 0.0, q, kCall).value());
    // ln(s/k) + (r - q) t exactly zero: d1 is 0/0.
    for (const double value : {bs_delta(100, 100, 1, 0.0, 0.0, 0.0, kCall).value(),
                               bs_vega(100, 100, 1, 0.0, 0.0, 0.0).value()}) {
        EXPECT_TRUE(std::isnan(value));
    }
}

TEST(BlackScholes, ZeroSpot) {
    const double k = 100, t = 1, r = 0.05, q = 0.02;
    EXPECT_SAME_DOUBLE(0.0, bs_delta(0, k, t, r, 0.2, q, kCall).value());
    EXPECT_SAME_DOUBLE(-std::exp((-q) * t), bs_delta(0, k, t, r, 0.2, q, kPut).value());
    EXPECT_TRUE(std::isnan(bs_gamma(0, k, t, r, 0.2, q).value()));
    EXPECT_SAME_DOUBLE(0.0, bs_vega(0, k, t, r, 0.2, q).value());
    EXPECT_SAME_DOUBLE(0.0, bs_theta(0, k, t, r, 0.2, q, kCall).value());
    EXPECT_NEAR(bs_theta(0, k, t, r, 0.2, q, kPut).value(), r * k * std::exp(-r * t) / 365, 1e-15);
}

TEST(BlackScholes, ZeroStrike) {
    const double t = 1, q = 0.02;
    EXPECT_SAME_DOUBLE(std::exp((-q) * t), bs_delta(100, 0, t, 0.05, 0.2, q, kCall).value());
    EXPECT_SAME_DOUBLE(0.0, bs_gamma(100, 0, t, 0.05, 0.2, q).value());
    EXPECT_SAME_DOUBLE(0.0, bs_vega(100, 0, t, 0.05, 0.2, q).value());
    EXPECT_SAME_DOUBLE(0.0, bs_rho(100, 0, t, 0.05, 0.2, q, kCall).value());
}

TEST(BlackScholes, NegativeTimeOrOppositeSignsGiveNaN) {
    for (const auto& [s, k, t] : {std::tuple{100.0, 100.0, -1.0}, std::tuple{-100.0, 100.0, 1.0},
                                  std::tuple{100.0, -100.0, 1.0}}) {
        const Greeks g = singles(s, k, t, 0.05, 0.2, 0.0, kCall);
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
            const Greeks g = bs_greeks(in[0], in[1], in[2], in[3], in[4], in[5], type).value();
            for (const double value : {g.delta, g.gamma, g.theta, g.vega, g.rho}) {
                EXPECT_TRUE(std::isnan(value)) << "NaN at input " << position;
            }
        }
    }
}

TEST(BlackScholes, NegativeVolatilityFlipsD1) {
    const double s = 100, k = 95, t = 0.5, r = 0.05, q = 0.01;
    const double positive_delta = bs_delta(s, k, t, r, 0.3, q, kCall).value();
    const double negative_delta = bs_delta(s, k, t, r, -0.3, q, kCall).value();
    EXPECT_NEAR(negative_delta, std::exp(-q * t) - positive_delta, 1e-10);
    EXPECT_LT(bs_gamma(s, k, t, r, -0.3, q).value(), 0.0);
    EXPECT_SAME_DOUBLE(bs_vega(s, k, t, r, 0.3, q).value(), bs_vega(s, k, t, r, -0.3, q).value());
}

TEST(BlackScholes, InfiniteVolatility) {
    EXPECT_TRUE(std::isnan(bs_delta(100, 100, 1, 0.05, kInf, 0, kCall).value()));
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
                        expect_same_greeks(singles(s, k, t, r, sigma, q, type),
                                           bs_greeks(s, k, t, r, sigma, q, type).value());
                    }
}
