#include "normal_distribution.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "erf_fingerprint.h"
#include "exact.h"
#include "normal_reference_values.h"
#include "pricing_test_hooks.h"

using velarix::erf_rational;
using velarix::normal_cdf;
using velarix::normal_pdf;
using velarix::standard_normal_cdf;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double relative_error(double actual, double exact) { return std::abs((actual - exact) / exact); }
}  // namespace

TEST(NormalCdf, IsExactlyOneHalfAtBothZeros) {
    EXPECT_SAME_DOUBLE(0.5, standard_normal_cdf(0.0));
    EXPECT_SAME_DOUBLE(0.5, standard_normal_cdf(-0.0));
}

TEST(NormalCdf, DecidesInfinitiesAndNaNBeforeTheApproximation) {
    EXPECT_SAME_DOUBLE(1.0, standard_normal_cdf(kInf));
    EXPECT_SAME_DOUBLE(0.0, standard_normal_cdf(-kInf));
    EXPECT_TRUE(std::isnan(standard_normal_cdf(kNaN)));
    EXPECT_TRUE(std::isnan(normal_cdf(kNaN, 1.0, 0.0)));
    EXPECT_TRUE(std::isnan(normal_cdf(0.0, kNaN, 0.0)));
}

TEST(NormalCdf, HonoursMeanAndStandardDeviation) {
    EXPECT_SAME_DOUBLE(0.5, normal_cdf(3.0, 2.0, 3.0));
    EXPECT_SAME_DOUBLE(standard_normal_cdf(1.0), normal_cdf(1.0, 2.0, 3.0));
}

TEST(NormalCdf, SaturatesWhereTheTailUnderflows) {
    EXPECT_LT(standard_normal_cdf(8.28), 1.0);
    EXPECT_SAME_DOUBLE(1.0, standard_normal_cdf(8.30));
    EXPECT_SAME_DOUBLE(1.0, standard_normal_cdf(1e300));
    EXPECT_GT(standard_normal_cdf(-38.47), 0.0);
    EXPECT_SAME_DOUBLE(0.0, standard_normal_cdf(-38.48));
    EXPECT_SAME_DOUBLE(0.0, standard_normal_cdf(-1e300));
}

TEST(NormalCdf, IsAccurateToAboutTenDigits) {
    for (const ReferencePoint& point : kExactNormalCdf) {
        EXPECT_LT(relative_error(standard_normal_cdf(point.x), point.exact), 1.5e-10) << "x = " << point.x;
    }
}

TEST(NormalCdf, IsNotAFullPrecisionErf) {
    // The fixed approximation differs from the true values in the eleventh or
    // twelfth digit; a library erfc would agree to about sixteen.
    EXPECT_NEAR(standard_normal_cdf(1.0) - 0.8413447460685429, -1.4e-11, 0.2e-11);
    EXPECT_NEAR(erf_rational(0.5, true) - 0.4795001221869535, 4.9e-11, 0.2e-11);
}

TEST(NormalCdf, StepsWhereTheFormChangesAtMinusHalfRootTwo) {
    const double x = -0.5 * 1.4142135623730951;
    EXPECT_NEAR(standard_normal_cdf(std::nextafter(x, 0.0)) - standard_normal_cdf(x), -2.47e-11, 0.05e-11);
}

TEST(ErfRational, IsAccurateToAboutTenDigits) {
    for (const ReferencePoint& point : kExactErfc) {
        EXPECT_LT(relative_error(erf_rational(point.x, true), point.exact), 1.5e-10) << "z = " << point.x;
    }
    for (const ReferencePoint& point : kExactErf) {
        EXPECT_LT(relative_error(erf_rational(point.x, false), point.exact), 1e-15) << "z = " << point.x;
    }
}

TEST(ErfRational, UsesTheIntervalThatStartsAtEachBound) {
    // At a bound x = z - L is zero, so the correction is a0 itself and
    // erfc(L) = a0 * g + Y * g with g = exp(-L*L) / L.
    struct Bound {
        double lower, offset, a0;
    };
    const Bound bounds[] = {
        {0.5, 0.3440242112, -0.03617903907182625},     {0.75, 0.419990927, -0.03978768926111369},
        {1.25, 0.4898625016, -0.030083856055794972},   {2.25, 0.5317370892, -0.011790757013722784},
        {3.5, 0.5489973426, -0.005469547955387293},    {5.25, 0.5571740866, -0.0027072253590577837},
        {8.0, 0.5609807968, -0.001099467206917422},    {11.5, 0.5626493692, -0.0005690799360109496},
        {17.0, 0.5634598136, -0.00024131359948399134}, {24.0, 0.5638477802, -0.00014667469927776036},
        {38.0, 0.5640528202, -5.839057976297718e-05},  {60.0, 0.5641309023, -1.9645779760922958e-05},
        {85.0, 0.5641584396, -7.892247039787227e-06},
    };
    for (const Bound& bound : bounds) {
        const double g = std::exp((-bound.lower) * bound.lower) / bound.lower;
        EXPECT_SAME_DOUBLE(bound.a0 * g + bound.offset * g, erf_rational(bound.lower, true)) << "z = " << bound.lower;
        EXPECT_SAME_DOUBLE(1.0 - (bound.a0 * g + bound.offset * g), erf_rational(bound.lower, false));
    }
}

TEST(ErfRational, LinearBelowTheTinyLimit) {
    const double z = 5e-11;
    EXPECT_SAME_DOUBLE(z * 1.125 + z * 0.0033791670955125737, erf_rational(z, false));
    EXPECT_SAME_DOUBLE(0.0, erf_rational(0.0, false));
    EXPECT_SAME_DOUBLE(-0.0, erf_rational(-0.0, false));
}

TEST(ErfRational, StepsDownAtOneHalf) {
    const double below = erf_rational(std::nextafter(0.5, 0.0), false);
    const double at = erf_rational(0.5, false);
    EXPECT_GT(below, at);
    EXPECT_NEAR(below - at, 4.9e-11, 0.1e-11);
}

TEST(ErfRational, IsZeroFromTheCutoffOnAndKeepsNaN) {
    EXPECT_SAME_DOUBLE(0.0, erf_rational(110.0, true));
    EXPECT_SAME_DOUBLE(0.0, erf_rational(kInf, true));
    EXPECT_SAME_DOUBLE(1.0, erf_rational(kInf, false));
    EXPECT_SAME_DOUBLE(2.0, erf_rational(-kInf, true));
    EXPECT_SAME_DOUBLE(-1.0, erf_rational(-kInf, false));
    EXPECT_TRUE(std::isnan(erf_rational(kNaN, true)));
    EXPECT_TRUE(std::isnan(erf_rational(kNaN, false)));
}

TEST(ErfRational, NegativeArgumentsUseTheReflections) {
    for (const double z : {0.1, 0.3, 0.5, 0.7, 2.0, 9.0}) {
        EXPECT_SAME_DOUBLE(-erf_rational(z, false), erf_rational(-z, false));
        const double complement = z > 0.5 ? 2.0 - erf_rational(z, true) : erf_rational(z, false) + 1.0;
        EXPECT_SAME_DOUBLE(complement, erf_rational(-z, true));
    }
}

TEST(ErfRational, ComplementStaysWithinZeroAndTwo) {
    std::mt19937_64 generator(20261207);
    std::uniform_real_distribution<double> argument(-40.0, 40.0);
    for (int i = 0; i < 100000; ++i) {
        const double value = erf_rational(argument(generator), true);
        ASSERT_GE(value, 0.0);
        ASSERT_LE(value, 2.0);
    }
    EXPECT_LT(erf_rational(-5.86, true), 2.0);
    EXPECT_SAME_DOUBLE(2.0, erf_rational(-5.87, true));
}

TEST(NormalPdf, UsesTheRoundedConstant) {
    EXPECT_SAME_DOUBLE(1.0 / 2.5066282746310007, normal_pdf(0.0));
    EXPECT_SAME_DOUBLE(std::exp((-0.5 * 1.5) * 1.5) / 2.5066282746310007, normal_pdf(1.5));
    EXPECT_SAME_DOUBLE(0.0, normal_pdf(-kInf));
}

// Every region of the approximation on a dense grid of z and -z, hashed and
// compared with the hash of the independent Python reference's results. A
// coefficient off in its last digit changes only a few results in ten
// thousand, below the notice of any chosen point.
TEST(ErfRational, MatchesTheReferenceImplementationOnADenseGrid) {
    for (const FingerprintRegion& region : kErfFingerprints) {
        std::uint64_t digest = 0xCBF29CE484222325u;
        for (int i = 0; i < kFingerprintPoints; ++i) {
            const double z = region.lower + (region.upper - region.lower) *
                                                (static_cast<double>(i) / static_cast<double>(kFingerprintPoints));
            for (const double value : {erf_rational(z, false), erf_rational(z, true), erf_rational(-z, false),
                                       erf_rational(-z, true)}) {
                digest = (digest ^ std::bit_cast<std::uint64_t>(value)) * 0x100000001B3u;
            }
        }
        EXPECT_EQ(region.digest, digest) << "erf differs from the reference in the " << region.name << " region";
    }
}
