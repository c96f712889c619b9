// Every path of the batched normal distribution function against the scalar
// code, bit for bit with NaN payloads: each erf interval bound and its
// neighbours, special values, a million random arguments and every batch
// tail. Then the American price and Greeks with each path forced, against
// the term-by-term transcription, which evaluates N one value at a time.
// A path this CPU or build lacks is skipped, and says so.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <sstream>
#include <vector>

#include "american_functions.h"
#include "bjerksund_stensland.h"
#include "exact.h"
#include "normal_distribution.h"
#include "pricing_test_hooks.h"
#include "straightforward_american.h"

using namespace velarix;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kSqrt2 = 1.4142135623730951;

double from_bits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

// Equal bit patterns, NaN payloads and the sign of zero included.
::testing::AssertionResult SameBits(double expected, double actual) {
    const auto expected_bits = std::bit_cast<std::uint64_t>(expected);
    const auto actual_bits = std::bit_cast<std::uint64_t>(actual);
    if (expected_bits == actual_bits) {
        return ::testing::AssertionSuccess();
    }
    std::ostringstream message;
    message << std::hex << "expected 0x" << expected_bits << ", got 0x" << actual_bits;
    return ::testing::AssertionFailure() << message.str();
}

}  // namespace

namespace velarix {
// Names the path in the tests' messages.
void PrintTo(NormalPath path, std::ostream* out) { *out << normal_path_name(path); }
}  // namespace velarix

namespace {

const auto kAllPaths = ::testing::Values(NormalPath::Scalar, NormalPath::Avx512);
const auto kPathNames = [](const ::testing::TestParamInfo<NormalPath>& info) {
    return info.param == NormalPath::Scalar ? "Scalar" : "Avx512";
};

class PathTest : public ::testing::TestWithParam<NormalPath> {
protected:
    void SetUp() override {
        if (!normal_path_available(GetParam())) {
            GTEST_SKIP() << "the " << normal_path_name(GetParam()) << " path is not available on this CPU or in this build";
        }
    }
};

// Evaluates the arguments in one batch on the path and compares each value
// with the scalar code's; the batch must not write past its end.
void expect_scalar_bits(NormalPath path, const std::vector<double>& arguments) {
    constexpr double kUntouched = -12345.0;
    std::vector<double> values(arguments.size() + 8, kUntouched);
    standard_normal_cdf_batch(path, arguments.data(), values.data(), arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        ASSERT_TRUE(SameBits(standard_normal_cdf(arguments[i]), values[i]))
            << "x = " << std::hexfloat << arguments[i] << " (element " << std::dec << i << " of " << arguments.size()
            << ")";
    }
    for (std::size_t i = arguments.size(); i < values.size(); ++i) {
        ASSERT_TRUE(SameBits(kUntouched, values[i])) << "written past the batch's end at " << i;
    }
}

// Where the scalar code changes form, in its scaled argument z = -x / sqrt 2:
// the tiny limit, 0.5, the twelve inner interval bounds and the cutoff.
constexpr double kFormBounds[] = {1e-10, 0.5, 0.75, 1.25, 2.25, 3.5, 5.25, 8.0,
                                  11.5,  17.0, 24.0, 38.0, 60.0, 85.0, 110.0};

using NormalBatchPaths = PathTest;

TEST_P(NormalBatchPaths, EveryFormBoundAndItsNeighbours) {
    std::vector<double> arguments;
    for (const double bound : kFormBounds) {
        for (const double side : {-1.0, 1.0}) {
            // x near -side * bound * sqrt 2, forty steps of one ulp either way.
            const double centre = -(side * bound) * kSqrt2;
            bool below = false, at_or_above = false;
            double x = centre;
            for (int step = 0; step < 40; ++step) {
                x = std::nextafter(x, -kInf);
            }
            for (int step = 0; step <= 80; ++step, x = std::nextafter(x, kInf)) {
                arguments.push_back(x);
                const double magnitude = std::abs((0.0 - x) / (1.0 * kSqrt2));
                (magnitude < bound ? below : at_or_above) = true;
            }
            ASSERT_TRUE(below && at_or_above) << "the neighbourhood of " << side * bound << " misses the bound";
        }
    }
    expect_scalar_bits(GetParam(), arguments);
}

TEST_P(NormalBatchPaths, SpecialValues) {
    std::vector<double> arguments;
    const double magnitudes[] = {
        0.0,
        std::numeric_limits<double>::denorm_min(),
        from_bits(0x000fffffffffffff),  // the largest subnormal
        std::numeric_limits<double>::min(),
        1e-300,
        1e-10 * kSqrt2,
        1e300,
        std::numeric_limits<double>::max(),
        kInf,
    };
    for (const double magnitude : magnitudes) {
        arguments.push_back(magnitude);
        arguments.push_back(-magnitude);
    }
    for (const std::uint64_t nan : {0x7ff8000000000000ull, 0xfff8000000000000ull, 0x7ff8000000000001ull,
                                    0x7ffdeadbeef12345ull, 0xfffc0ffee0000001ull, 0x7ff0000000000001ull,
                                    0xfff4000000000abcull}) {
        arguments.push_back(from_bits(nan));
    }
    expect_scalar_bits(GetParam(), arguments);
}

TEST_P(NormalBatchPaths, AMillionRandomArguments) {
    std::mt19937_64 generator(20261214);
    std::uniform_real_distribution<double> across_forms(-160.0, 160.0);
    std::uniform_real_distribution<double> decades(-12.0, 3.0);
    std::uniform_int_distribution<std::size_t> batch_size(1, 8 * kNormalArgumentsPerPrice);
    std::vector<double> arguments;
    for (int drawn = 0; drawn < 1'000'000;) {
        arguments.resize(batch_size(generator));
        for (double& x : arguments) {
            switch (drawn++ % 3) {
                case 0:
                    x = across_forms(generator);
                    break;
                case 1:
                    x = std::copysign(std::pow(10.0, decades(generator)), static_cast<double>(generator() & 1) - 0.5);
                    break;
                default:
                    x = from_bits(generator());  // every exponent, NaN payloads included
            }
        }
        expect_scalar_bits(GetParam(), arguments);
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST_P(NormalBatchPaths, EveryBatchLengthUpToFourGroups) {
    std::mt19937_64 generator(7);
    std::uniform_real_distribution<double> across_forms(-12.0, 12.0);
    for (std::size_t count = 0; count <= 32; ++count) {
        std::vector<double> arguments(count);
        for (double& x : arguments) {
            x = across_forms(generator);
        }
        expect_scalar_bits(GetParam(), arguments);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, NormalBatchPaths, kAllPaths, kPathNames);

// The American computations with the path forced for the whole process.
class AmericanOnPath : public PathTest {
protected:
    void SetUp() override {
        PathTest::SetUp();
        if (!IsSkipped()) {
            use_normal_path_for_testing(GetParam());
        }
    }
    void TearDown() override { use_normal_path_for_testing(chosen_); }

private:
    NormalPath chosen_ = active_normal_path();
};

// The eight prices of am_greeks, term by term and one by one, differenced.
Greeks term_by_term_greeks(const OptionInputs& option) {
    const auto value = [&option](double spot, double time, double rate, double vol) {
        OptionInputs bumped = option;
        bumped.s = spot;
        bumped.t = time;
        bumped.r = rate;
        bumped.sigma = vol;
        return straightforward::american_value(bumped);
    };
    const double s = option.s, t = option.t, r = option.r, sigma = option.sigma;
    const double h = 0.0001 * s;
    const double later_time = t + -0.0027397260273972603;
    const double centre = value(s, t, r, sigma);
    const double up = value(s + h, t, r, sigma);
    const double down = value(s - h, t, r, sigma);
    return {
        (up - down) / (h + h),
        ((up - (centre + centre)) + down) / (h * h),
        value(s, later_time > 0.0001 ? later_time : 0.0001, r, sigma) - centre,
        (value(s, t, r, sigma + 0.0001) - value(s, t, r, sigma - 0.0001)) / 0.0002,
        ((value(s, t, r + 0.0001, sigma) - value(s, t, r - 0.0001, sigma)) / 0.0002) / 100.0,
    };
}

void expect_term_by_term_bits(double s, double k, double t, double r, double sigma, double q, bool with_greeks) {
    for (const OptionType type : {OptionType::Call, OptionType::Put}) {
        const OptionInputs option{.s = s, .k = k, .t = t, .r = r, .sigma = sigma, .q = q, .type = type};
        ASSERT_TRUE(SameBits(straightforward::american_value(option), am_price(option).value()))
            << std::hexfloat << s << " " << k << " " << t << " " << r << " " << sigma << " " << q;
        if (with_greeks) {
            const Greeks expected = term_by_term_greeks(option);
            const Greeks actual = am_greeks(option).value();
            const double expected_values[] = {expected.delta, expected.gamma, expected.theta, expected.vega,
                                              expected.rho};
            const double actual_values[] = {actual.delta, actual.gamma, actual.theta, actual.vega, actual.rho};
            for (int greek = 0; greek < 5; ++greek) {
                ASSERT_TRUE(SameBits(expected_values[greek], actual_values[greek]))
                    << "Greek " << greek << " of " << std::hexfloat << s << " " << k << " " << t << " " << r << " "
                    << sigma << " " << q;
            }
        }
    }
}

using AmericanPaths = AmericanOnPath;

TEST_P(AmericanPaths, RandomOptionsInEveryRegime) {
    std::mt19937_64 generator(20261215);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto between = [&](double low, double high) { return low + (high - low) * unit(generator); };
    for (int i = 0; i < 20000; ++i) {
        const double s = between(1, 400), k = between(1, 400), t = between(-0.1, 5), r = between(-0.02, 0.15),
                     sigma = between(0.005, 1.5), q = between(-0.05, 0.2);
        expect_term_by_term_bits(s, k, t, r, sigma, q, i % 4 == 0);
        if (HasFatalFailure()) {
            return;
        }
    }
}

// Options whose bumped volatility or rate changes beta while the spot stays:
// their Greeks need S^beta of the bumped beta, not the unbumped one's. (Found
// when the breakdown cases that used to show it began to give the European
// value.)
TEST_P(AmericanPaths, BumpedBetaWithTheSameSpot) {
    expect_term_by_term_bits(168.59569057958646, 80.300619810979612, 4.0813936910937949, 0.12038780345899415,
                             0.10887960734725742, 0.0028433598741721584, true);
    expect_term_by_term_bits(52.12393900807178, 152.4004979374771, 4.7979355537488226, -0.0089950794115552807,
                             0.12760961159102024, 0.11840365093015595, true);
}

TEST_P(AmericanPaths, HostileOptions) {
    const double hostile[] = {0.0,  -0.0,  5e-324, 1e-300, -1.0, 1e-12, 1e300, kInf, -kInf,
                              from_bits(0x7ff8000000000000ull), from_bits(0xfff8000000000123ull)};
    const double ordinary[6] = {100, 95, 0.75, 0.06, 0.3, 0.04};
    for (const double x : hostile) {
        for (std::size_t slot = 0; slot < 6; ++slot) {
            double arguments[6] = {ordinary[0], ordinary[1], ordinary[2], ordinary[3], ordinary[4], ordinary[5]};
            arguments[slot] = x;
            const auto [s, k, t, r, sigma, q] = arguments;
            expect_term_by_term_bits(s, k, t, r, sigma, q, true);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
    // Two hostile inputs at once, drawn at random.
    std::mt19937_64 generator(99);
    std::uniform_int_distribution<std::size_t> pick_value(0, std::size(hostile) - 1);
    std::uniform_int_distribution<std::size_t> pick_slot(0, 5);
    for (int i = 0; i < 2000; ++i) {
        double arguments[6] = {ordinary[0], ordinary[1], ordinary[2], ordinary[3], ordinary[4], ordinary[5]};
        arguments[pick_slot(generator)] = hostile[pick_value(generator)];
        arguments[pick_slot(generator)] = hostile[pick_value(generator)];
        const auto [s, k, t, r, sigma, q] = arguments;
        expect_term_by_term_bits(s, k, t, r, sigma, q, true);
        if (HasFatalFailure()) {
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, AmericanPaths, kAllPaths, kPathNames);

}  // namespace
