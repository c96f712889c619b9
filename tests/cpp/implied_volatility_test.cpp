// Implied volatility: the normalized Black function against high-precision
// values and across the borders of its regions; European inversion of
// 80-digit prices within the bound the price's own rounding sets, over every
// branch and extreme moneyness; the prices no volatility gives and their
// reasons; American round trips through the engine.
#include <array>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "american_engine.h"
#include "european_price.h"
#include "exact.h"
#include "implied_volatility.h"
#include "normalized_black.h"

namespace velarix {
namespace {

constexpr double kEpsilon = 0x1p-52;
constexpr double kUnitRoundoff = 0x1p-53;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// x, s, b(x, s), b'(s), to 17 digits of 40-digit values.
const std::array<std::array<double, 4>, 8> kBlackReferences = {{
    {0, 0.2, 0.079655674554057967, 0.39695254747701177},
    {-0.5, 0.3, 0.0058982326105348202, 0.098364292478872015},
    {-2, 0.5, 3.4724760825473944e-6, 1.2971270258879919e-4},
    {-10, 1, 6.6117491778911924e-25, 6.7904594547000965e-23},
    {-0.01, 0.001, 7.474559337762834e-28, 7.6945976648816511e-23},
    {-1, 10, 0.6065300890763248, 1.4793044702199151e-6},
    {-5, 50, 0.082084998623898795, 7.6157556026012534e-137},
    {-20, 40, 4.5399929762484852e-5, 4.8722198289354861e-88},
}};

TEST(NormalizedBlack, MatchesHighPrecisionValues) {
    for (const auto& [x, s, value, vega] : kBlackReferences) {
        // The relative condition of b in s is about h^2 = (x/s)^2: b is
        // computed at an s a few ulps away.
        const double h = x / s;
        EXPECT_NEAR(normalized_black(x, s).value, value, 8 * kEpsilon * (1 + h * h) * value) << x << " " << s;
        EXPECT_NEAR(normalized_black(x, s).vega, vega, 8 * kEpsilon * (1 + x * x + s * s) * vega) << x << " " << s;
        const LogTerms lower = log_normalized_black(x, s);
        EXPECT_NEAR(lower.log, std::log(value), 8 * kEpsilon * (1 + h * h)) << x << " " << s;
        EXPECT_NEAR(lower.vega_ratio, vega / value, 1e-13 * vega / value) << x << " " << s;
    }
}

TEST(NormalizedBlack, ScaledNormalTailMatchesOnBothSidesOfItsTable) {
    // z, N(z) e^(z^2/2) to 17 digits.
    const std::array<std::array<double, 2>, 9> references = {{
        {-1000.0, 0x1.a25225578f501p-12},
        {-50.0, 0x1.0558aae7b4725p-7},
        {-38.0000001, 0x1.57c6c79408034p-7},
        {-37.9999999, 0x1.57c6c7b25862ap-7},
        {-20.0, 0x1.4600a61e969bep-6},
        {-3.0, 0x1.f1b89c231e9b8p-4},
        {0.0, 0.5},
        {0.5, 0x1.912acb4c7d942p-1},
        {0.85, 0x1.26c593d78d645p+0},
    }};
    for (const auto& [z, value] : references) {
        EXPECT_NEAR(scaled_normal_cdf(z), value, 4 * kEpsilon * value) << z;
    }
}

TEST(NormalizedBlack, AgreesAcrossTheBordersOfItsRegions) {
    // (x, s) on each border: d1 = 0.85, d1 = -10, t = 0.3 with h below -3,
    // t = 0.6 with h above it, h = -3. Stepping s across one, b must change
    // by its slope times the step, give or take its rounding.
    const std::array<std::array<double, 2>, 5> borders = {{
        {-0.3, 2.0}, {-5.125, 0.5}, {-2.4, 0.6}, {-1.2, 1.2}, {-3.0, 1.0},
    }};
    for (const auto& [x, s] : borders) {
        const double below = s * (1 - 1e-12);
        const double above = s * (1 + 1e-12);
        const double h = x / s;
        const double change = normalized_black(x, above).value - normalized_black(x, below).value;
        EXPECT_NEAR(change, normalized_black(x, s).vega * (above - below),
                    16 * kEpsilon * (1 + h * h) * normalized_black(x, s).value)
            << x << " " << s;
    }
}

OptionInputs option(OptionType type, double s, double k, double t, double r, double q) {
    return {.s = s, .k = k, .t = t, .r = r, .sigma = 0.0, .q = q, .type = type};
}

struct Quote {
    double price;  // the 80-digit price, rounded
    double s;
    double k;
    OptionType type;
    double sigma;
    double vega;
    double recorded;  // the volatility found when the table was made
};

// t = 1, r = q = 0, sqrt(s k) = 1: x = ln(s/k) from 0 to -1000, total
// volatilities from 0.001 to 100, prices down to 1e-270; calls out of the
// money and the puts of the same strikes in it.
const std::array<Quote, 37> kQuotes = {{
    {0x1.0573211475e4ap-8, 0x1.0000000000000p+0, 0x1.0000000000000p+0, OptionType::Call, 0.01, 3.989e-01, 0x1.47ae147ae147bp-7},
    {0x1.0573211475e4ap-8, 0x1.0000000000000p+0, 0x1.0000000000000p+0, OptionType::Put, 0.01, 3.989e-01, 0x1.47ae147ae147bp-7},
    {0x1.881d788cab1dbp-2, 0x1.0000000000000p+0, 0x1.0000000000000p+0, OptionType::Call, 1, 3.521e-01, 0x1.ffffffffffffep-1},
    {0x1.881d788cab1dbp-2, 0x1.0000000000000p+0, 0x1.0000000000000p+0, OptionType::Put, 1, 3.521e-01, 0x1.ffffffffffffep-1},
    {0x1.fff7b294355a8p-1, 0x1.0000000000000p+0, 0x1.0000000000000p+0, OptionType::Call, 8, 1.338e-04, 0x1.fffffffffffffp+2},
    {0x1.fff7b294355a8p-1, 0x1.0000000000000p+0, 0x1.0000000000000p+0, OptionType::Put, 8, 1.338e-04, 0x1.fffffffffffffp+2},
    {0x1.a2523f9494b7ep-12, 0x1.fffffffffee68p-1, 0x1.00000000008ccp+0, OptionType::Call, 0.001, 3.989e-01, 0x1.0624dd2f1a9fbp-10},
    {0x1.a2523fa62cb7ep-12, 0x1.fffffffffee68p-1, 0x1.00000000008ccp+0, OptionType::Put, 0.001, 3.989e-01, 0x1.0624dd2f1a9fbp-10},
    {0x1.944d158b72502p-3, 0x1.fffffffffee68p-1, 0x1.00000000008ccp+0, OptionType::Call, 0.5, 3.867e-01, 0x1.0000000000000p-1},
    {0x1.944d158b7b1c2p-3, 0x1.fffffffffee68p-1, 0x1.00000000008ccp+0, OptionType::Put, 0.5, 3.867e-01, 0x1.0000000000000p-1},
    {0x1.f9a42c6a05bf4p-1, 0x1.fffffffffee68p-1, 0x1.00000000008ccp+0, OptionType::Call, 5, 1.753e-02, 0x1.3fffffffffffdp+2},
    {0x1.f9a42c6a07f24p-1, 0x1.fffffffffee68p-1, 0x1.00000000008ccp+0, OptionType::Put, 5, 1.753e-02, 0x1.3fffffffffffdp+2},
    {0x1.cbf9ce97a9899p-9, 0x1.ffbe7afa4452ep-1, 0x1.0020c6b49bc03p+0, OptionType::Call, 0.01, 3.969e-01, 0x1.47ae147ae147bp-7},
    {0x1.27861ec56b84cp-8, 0x1.ffbe7afa4452ep-1, 0x1.0020c6b49bc03p+0, OptionType::Put, 0.01, 3.969e-01, 0x1.47ae147ae147bp-7},
    {0x1.e657c7a0daa4ap-4, 0x1.ffbe7afa4452ep-1, 0x1.0020c6b49bc03p+0, OptionType::Call, 0.3, 3.945e-01, 0x1.3333333333333p-2},
    {0x1.ea705b187410ap-4, 0x1.ffbe7afa4452ep-1, 0x1.0020c6b49bc03p+0, OptionType::Put, 0.3, 3.945e-01, 0x1.3333333333333p-2},
    {0x1.bb555fc1e040dp-1, 0x1.ffbe7afa4452ep-1, 0x1.0020c6b49bc03p+0, OptionType::Call, 3, 1.295e-01, 0x1.8000000000003p+1},
    {0x1.bbd87230d36e5p-1, 0x1.ffbe7afa4452ep-1, 0x1.0020c6b49bc03p+0, OptionType::Put, 3, 1.295e-01, 0x1.8000000000003p+1},
    {0x1.6ef4b8ba8dab5p-28, 0x1.8ebef9eac820bp-1, 0x1.48b5e3c3e8186p+0, OptionType::Call, 0.1, 1.485e-06, 0x1.999999999999ap-4},
    {0x1.02accdcae6a72p-1, 0x1.8ebef9eac820bp-1, 0x1.48b5e3c3e8186p+0, OptionType::Put, 0.1, 1.485e-06, 0x1.999999973fe46p-4},
    {0x1.fc08fb93944e5p-4, 0x1.8ebef9eac820bp-1, 0x1.48b5e3c3e8186p+0, OptionType::Call, 0.8, 3.029e-01, 0x1.999999999999ap-1},
    {0x1.422ded0f7a99ep-1, 0x1.8ebef9eac820bp-1, 0x1.48b5e3c3e8186p+0, OptionType::Put, 0.8, 3.029e-01, 0x1.999999999999bp-1},
    {0x1.8d5e2689b0192p-1, 0x1.8ebef9eac820bp-1, 0x1.48b5e3c3e8186p+0, OptionType::Call, 6, 4.416e-03, 0x1.8000000000026p+2},
    {0x1.48057a135c149p+0, 0x1.8ebef9eac820bp-1, 0x1.48b5e3c3e8186p+0, OptionType::Put, 6, 4.416e-03, 0x1.8000000000009p+2},
    {0x1.704f8f84a9d61p-83, 0x1.78b56362cef38p-2, 0x1.5bf0a8b145769p+1, OptionType::Call, 0.2, 7.656e-23, 0x1.9999999999999p-3},
    {0x1.f41d812ffce6ap-4, 0x1.78b56362cef38p-2, 0x1.5bf0a8b145769p+1, OptionType::Call, 2, 1.468e-01, 0x1.0000000000000p+1},
    {0x1.3c7ae84e6b7f5p+1, 0x1.78b56362cef38p-2, 0x1.5bf0a8b145769p+1, OptionType::Put, 2, 1.468e-01, 0x1.ffffffffffffcp+0},
    {0x1.78b53d9f84d93p-2, 0x1.78b56362cef38p-2, 0x1.5bf0a8b145769p+1, OptionType::Call, 10, 1.457e-06, 0x1.40000000025d9p+3},
    {0x1.5bf0a3f8dc334p+1, 0x1.78b56362cef38p-2, 0x1.5bf0a8b145769p+1, OptionType::Put, 10, 1.457e-06, 0x1.3ffffffff2a8dp+3},
    {0x1.28b8469a07508p-122, 0x1.b993fe00d5376p-8, 0x1.28d389970338fp+7, OptionType::Call, 0.8, 4.334e-35, 0x1.999999999999ap-1},
    {0x1.9cc8fc1f4e35ep-10, 0x1.b993fe00d5376p-8, 0x1.28d389970338fp+7, OptionType::Call, 4, 2.372e-03, 0x1.0000000000000p+2},
    {0x1.28d0e4d38546fp+7, 0x1.b993fe00d5376p-8, 0x1.28d389970338fp+7, OptionType::Put, 4, 2.372e-03, 0x1.0000000001d4bp+2},
    {0x1.94d818899bd75p-463, 0x1.d257d547e083fp-73, 0x1.19103e4080b45p+72, OptionType::Call, 4, 1.036e-137, 0x1.0000000000000p+2},
    {0x1.6ac10ff018261p-73, 0x1.d257d547e083fp-73, 0x1.19103e4080b45p+72, OptionType::Call, 15, 5.437e-23, 0x1.e000000000000p+3},
    {0x1.e38bae21926d7p-723, 0x1.9265e78d4438dp-722, 0x1.45ba2a9f7e439p+721, OptionType::Call, 45, 2.735e-218, 0x1.67fffffffffffp+5},
    {0x1.7f0df9340245fp-896, 0x1.af62e927c4664p-26, 0x1.2fd6c832e3c72p+25, OptionType::Call, 1.0, 3.477e-267, 0x1.fffffffffffffp-1},
    {0x1.70cd44942fa1dp-239, 0x1.82e16284f5ec5p-217, 0x1.52cac29822593p+216, OptionType::Call, 20, 1.067e-71, 0x1.4000000000001p+4},
}};

TEST(EuropeanImpliedVolatility, RecoversVolatilitiesAsCloselyAsThePricesAllow) {
    for (std::size_t i = 0; i < kQuotes.size(); ++i) {
        const Quote& quote = kQuotes[i];
        const ImpliedVolatility found =
            european_implied_volatility(quote.price, option(quote.type, quote.s, quote.k, 1.0, 0.0, 0.0));
        // No method can do better than the price's rounding over vega, or the
        // spacing of doubles near sigma.
        const double bound = std::max(4 * kUnitRoundoff * quote.price / quote.vega, 2 * kUnitRoundoff * quote.sigma);
        const double factor = std::log(quote.k / quote.s) > 10 ? 8.0 : 4.0;
        EXPECT_EQ(found.outcome, VolatilityOutcome::Solved) << i;
        EXPECT_NEAR(found.volatility, quote.sigma, factor * bound) << i;
        // The same bits everywhere, and from one version to the next unless
        // a change of method means them to move.
        EXPECT_SAME_DOUBLE(quote.recorded, found.volatility) << i;
    }
}

TEST(EuropeanImpliedVolatility, NamesThePricesNoVolatilityGives) {
    // s = 100, k = 120, t = 0.5, r = 3%, q = 1%: the call is worth more than
    // 0 and less than s e^(-qT); the put more than k e^(-rT) - s e^(-qT).
    const OptionInputs call = option(OptionType::Call, 100, 120, 0.5, 0.03, 0.01);
    const OptionInputs put = option(OptionType::Put, 100, 120, 0.5, 0.03, 0.01);
    const double put_floor = 120 * std::exp(-0.015) - 100 * std::exp(-0.005);
    struct Case {
        double price;
        OptionInputs option;
        VolatilityOutcome outcome;
        double volatility;
    };
    const std::array<Case, 12> cases = {{
        {1.6713742953197156, call, VolatilityOutcome::Solved, 0.25},
        {20.383559128419004, put, VolatilityOutcome::Solved, 0.25},
        {0.0, call, VolatilityOutcome::Solved, 0.0},
        {-1e-300, call, VolatilityOutcome::BelowRange, kNaN},
        {100 * std::exp(-0.005), call, VolatilityOutcome::AboveRange, kNaN},
        {120 * std::exp(-0.015), put, VolatilityOutcome::AboveRange, kNaN},
        {put_floor * (1 + 2 * kEpsilon), put, VolatilityOutcome::Solved, 0.0},   // within its rounding
        {put_floor * (1 - 64 * kEpsilon), put, VolatilityOutcome::BelowRange, kNaN},
        {kNaN, call, VolatilityOutcome::InvalidInput, kNaN},
        {1.0, option(OptionType::Call, 100, 120, 0.0, 0.03, 0.01), VolatilityOutcome::InvalidInput, kNaN},
        {1.0, option(OptionType::Call, 100, -1, 0.5, 0.03, 0.01), VolatilityOutcome::InvalidInput, kNaN},
        {1.0, option(OptionType::Call, 100, 120, 0.5, kNaN, 0.01), VolatilityOutcome::InvalidInput, kNaN},
    }};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const ImpliedVolatility found = european_implied_volatility(cases[i].price, cases[i].option);
        EXPECT_EQ(found.outcome, cases[i].outcome) << i;
        if (std::isnan(cases[i].volatility)) {
            EXPECT_TRUE(std::isnan(found.volatility)) << i;
        } else {
            EXPECT_NEAR(found.volatility, cases[i].volatility, 1e-15) << i;
        }
    }
}

TEST(AmericanImpliedVolatility, ReturnsTheVolatilityTheEngineWasGiven) {
    // Puts and calls, r = q and r != q, early exercise worth much or little,
    // and a put priced as European (r <= 0). Where the price is the exercise
    // value (spot in the exercise region), no volatility is singled out.
    const std::array<std::array<double, 6>, 8> cases = {{
        // type (1 call), s, k, t, r, q
        {0, 100, 100, 1, 0.05, 0.05},
        {0, 90, 100, 2, 0.08, 0.02},
        {0, 100, 120, 0.25, 0.06, 0.0},
        {1, 120, 100, 1, 0.05, 0.10},
        {1, 100, 100, 3, 0.02, 0.04},
        {0, 100, 100, 1, -0.01, 0.0},
        {0, 100, 80, 0.1, 0.04, 0.04},
        {1, 100, 100, 0.5, 0.10, 0.0},
    }};
    for (const AmericanAccuracy accuracy : {AmericanAccuracy::Fast, AmericanAccuracy::Accurate}) {
        for (const auto& [type, s, k, t, r, q] : cases) {
            for (const double sigma : {0.1, 0.3, 0.8}) {
                OptionInputs inputs = option(type == 1 ? OptionType::Call : OptionType::Put, s, k, t, r, q);
                inputs.sigma = sigma;
                const double price = american_price(inputs, accuracy);
                const ImpliedVolatility found = american_implied_volatility(price, inputs, accuracy);
                if (price == std::fabs(s - k)) {
                    EXPECT_EQ(found.outcome, VolatilityOutcome::ExerciseRegion) << k << " " << t << " " << sigma;
                    continue;
                }
                EXPECT_EQ(found.outcome, VolatilityOutcome::Solved) << k << " " << t << " " << sigma;
                EXPECT_NEAR(found.volatility, sigma, 1e-10) << k << " " << t << " " << sigma;
            }
        }
    }
}

TEST(AmericanImpliedVolatility, NamesThePricesNoVolatilityGives) {
    const OptionInputs put = option(OptionType::Put, 100, 90, 0.5, 0.05, 0.0);
    const OptionInputs deep = option(OptionType::Put, 60, 100, 0.5, 0.05, 0.0);
    const OptionInputs band = option(OptionType::Put, 100, 100, 1.0, -0.01, -0.03);
    const double floor = american_price(put, AmericanAccuracy::Fast);  // its sigma is 0
    struct Case {
        double price;
        OptionInputs option;
        VolatilityOutcome outcome;
    };
    const std::array<Case, 6> cases = {{
        {std::nextafter(floor, -1.0), put, VolatilityOutcome::BelowRange},
        {90.0, put, VolatilityOutcome::AboveRange},
        {40.0, deep, VolatilityOutcome::ExerciseRegion},  // exercised at once below some volatility
        {39.0, deep, VolatilityOutcome::BelowRange},
        {8.0, band, VolatilityOutcome::NoEngineValue},
        {kNaN, put, VolatilityOutcome::InvalidInput},
    }};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const ImpliedVolatility found = american_implied_volatility(cases[i].price, cases[i].option,
                                                                    AmericanAccuracy::Fast);
        EXPECT_EQ(found.outcome, cases[i].outcome) << i;
        EXPECT_TRUE(std::isnan(found.volatility)) << i;
    }
    const ImpliedVolatility at_floor = american_implied_volatility(floor, put, AmericanAccuracy::Fast);
    EXPECT_EQ(at_floor.outcome, VolatilityOutcome::Solved);
    EXPECT_EQ(at_floor.volatility, 0.0);
}

}  // namespace
}  // namespace velarix
