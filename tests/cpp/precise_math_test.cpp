// velarix::precise: the error of each function against mpmath's correctly
// rounded values, its special values bit for bit, the symmetry and
// monotonicity of Phi, every batch path against the scalar code bit for bit,
// and digests of the results on dense grids, recorded from the g++ 12 build,
// which every compiler's build must reproduce.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "precise_math.h"
#include "precise_math_paths.h"
#include "precise_math_reference_values.h"

namespace precise = velarix::precise;
using precise::PrecisePath;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::uint64_t bits_of(double x) { return std::bit_cast<std::uint64_t>(x); }

// |y - exact| in ulps of the exact value (subnormal ulps below 2^-1022).
double ulp_error(double y, const PreciseReference& exact) {
    int exponent = 0;
    std::frexp(exact.high, &exponent);
    double ulp = std::ldexp(1.0, std::max(exponent - 53, -1074));
    return std::fabs((y - exact.high) - exact.low) / ulp;
}

template <std::size_t N>
void expect_error_below(double (*function)(double), const PreciseReference (&table)[N], double bound) {
    for (const PreciseReference& exact : table) {
        EXPECT_LT(ulp_error(function(exact.x), exact), bound) << std::hexfloat << "x = " << exact.x;
    }
}

TEST(PreciseMath, ErrorAgainstCorrectlyRoundedValues) {
    expect_error_below(precise::exp, kCorrectlyRoundedExp, 1.0);
    expect_error_below(precise::expm1, kCorrectlyRoundedExpm1, 1.0);
    expect_error_below(precise::log, kCorrectlyRoundedLog, 1.0);
    expect_error_below(precise::normal_cdf, kCorrectlyRoundedNormalCdf, 3.0);
    expect_error_below(precise::normal_pdf, kCorrectlyRoundedNormalPdf, 2.0);
}

TEST(PreciseMath, SpecialValuesBitForBit) {
    const double signalling = std::bit_cast<double>(0xfff4000000000001u);
    struct Case {
        double (*function)(double);
        double x;
        double expected;
    } cases[] = {
        {precise::exp, -kInf, 0.0}, {precise::exp, kInf, kInf}, {precise::exp, -0.0, 1.0},
        {precise::exp, 709.79, kInf}, {precise::exp, -745.14, 0.0}, {precise::exp, -745.13, 0x1p-1074},
        {precise::expm1, -0.0, -0.0}, {precise::expm1, 0.0, 0.0}, {precise::expm1, -kInf, -1.0},
        {precise::expm1, kInf, kInf}, {precise::expm1, 709.79, kInf}, {precise::expm1, -0x1p-1074, -0x1p-1074},
        {precise::log, 1.0, 0.0}, {precise::log, 0.0, -kInf}, {precise::log, -0.0, -kInf},
        {precise::log, kInf, kInf}, {precise::log, -1.0, kNaN}, {precise::log, -kInf, kNaN},
        {precise::log, -0x1p-1074, kNaN},
        {precise::normal_cdf, -kInf, 0.0}, {precise::normal_cdf, kInf, 1.0}, {precise::normal_cdf, -0.0, 0.5},
        {precise::normal_cdf, -40.0, 0.0}, {precise::normal_cdf, 9.0, 1.0},
        {precise::normal_pdf, kInf, 0.0}, {precise::normal_pdf, -kInf, 0.0}, {precise::normal_pdf, -40.0, 0.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bits_of(c.function(c.x)), bits_of(c.expected)) << std::hexfloat << "x = " << c.x;
    }
    // A NaN comes back quieted, payload and sign kept.
    for (auto function : {precise::exp, precise::expm1, precise::log, precise::normal_cdf, precise::normal_pdf}) {
        EXPECT_EQ(bits_of(function(signalling)), 0xfffc000000000001u);
        EXPECT_EQ(bits_of(function(-kNaN)), bits_of(-kNaN));
    }
}

TEST(PreciseMath, NormalCdfSymmetricAndIncreasing) {
    double previous = 0.0;
    for (double x = -38.0; x <= 9.0; x += 0x1p-9) {
        double left = precise::normal_cdf(x);
        EXPECT_LE(previous, left) << x;
        previous = left;
        // Phi(x) + Phi(-x) = 1 within an ulp of 1 wherever Phi(-|x|) is not below it.
        EXPECT_LE(std::fabs((left + precise::normal_cdf(-x)) - 1.0), 0x1p-52) << x;
    }
    for (double x = -5.0; x < 5.0; x += 0x1p-10) {
        EXPECT_EQ(bits_of(precise::normal_pdf(x)), bits_of(precise::normal_pdf(-x))) << x;
        EXPECT_LE(std::fabs(precise::log(precise::exp(x)) - x), 0x1p-52 * std::max(1.0, std::fabs(x))) << x;
    }
}

// Arguments of every kind: random bit patterns (every exponent, both signs,
// subnormals, infinities, NaNs with payloads), each function's working range
// densely, and the special values.
std::vector<double> bit_identity_arguments() {
    std::vector<double> x = {0.0, -0.0, kInf, -kInf, kNaN, -kNaN, std::bit_cast<double>(0x7ff0000000000001u),
                             0x1p-1074, -0x1p-1074, 0x1p-1022, 709.79, -745.13, 38.5, -38.5, 0.0625, 0.5};
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 1 << 20; ++i) {
        x.push_back(std::bit_cast<double>(random()));
        x.push_back(-750.0 + 1460.0 * unit(random));
        x.push_back(-40.0 + 80.0 * unit(random));
    }
    return x;
}

void expect_batch_equals_scalar(void (*batch)(PrecisePath, const double*, double*, std::size_t),
                                double (*scalar)(double), const char* name) {
    static const std::vector<double> x = bit_identity_arguments();
    for (PrecisePath path : {PrecisePath::Scalar, PrecisePath::Avx512}) {
        if (!precise::precise_path_available(path)) {
            std::printf("%s: path %d not available here, skipped\n", name, static_cast<int>(path));
            continue;
        }
        std::vector<double> y(x.size());
        batch(path, x.data(), y.data(), x.size());
        std::size_t mismatches = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (bits_of(y[i]) != bits_of(scalar(x[i])) && mismatches++ < 5) {
                ADD_FAILURE() << name << " path " << static_cast<int>(path) << std::hexfloat << " x = " << x[i]
                              << ": batch " << y[i] << ", scalar " << scalar(x[i]);
            }
        }
        // Every tail length, in place (x and y the same array).
        for (std::size_t count = 0; count < 20; ++count) {
            std::vector<double> in_place(x.begin() + 5, x.begin() + 5 + count);
            batch(path, in_place.data(), in_place.data(), count);
            for (std::size_t i = 0; i < count; ++i) {
                EXPECT_EQ(bits_of(in_place[i]), bits_of(scalar(x[5 + i]))) << name << " count " << count;
            }
        }
    }
}

TEST(PreciseMath, EveryBatchPathGivesTheScalarBits) {
    expect_batch_equals_scalar(precise::exp_batch, precise::exp, "exp");
    expect_batch_equals_scalar(precise::log_batch, precise::log, "log");
    expect_batch_equals_scalar(precise::normal_cdf_batch, precise::normal_cdf, "normal_cdf");
    expect_batch_equals_scalar(precise::normal_pdf_batch, precise::normal_pdf, "normal_pdf");
    // The public functions take one of the paths.
    std::vector<double> x = bit_identity_arguments(), y(x.size());
    precise::normal_cdf_batch(x.data(), y.data(), x.size());
    for (std::size_t i = 0; i < x.size(); i += 97) {
        EXPECT_EQ(bits_of(y[i]), bits_of(precise::normal_cdf(x[i])));
    }
}

// FNV-1a over the result bits of f at low + (high - low) i / 2^20.
std::uint64_t digest(double (*function)(double), double low, double high) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (int i = 0; i < 1 << 20; ++i) {
        hash = (hash ^ bits_of(function(low + (high - low) * (i * 0x1p-20)))) * 0x100000001b3u;
    }
    return hash;
}

TEST(PreciseMath, DigestsOfDenseGridsAsRecorded) {
    EXPECT_EQ(digest(precise::exp, -746.0, 710.0), 0x2e3bd8a3660f3e70u);
    EXPECT_EQ(digest(precise::exp, -1.0, 1.0), 0x96fded105c8af547u);
    EXPECT_EQ(digest(precise::expm1, -40.0, 40.0), 0x23b525088defadcbu);
    EXPECT_EQ(digest(precise::expm1, -0.5, 0.5), 0x0e8081c87cac44f0u);
    EXPECT_EQ(digest(precise::log, 0.5, 2.0), 0x16955267c601887eu);
    EXPECT_EQ(digest(precise::log, 0x1p-1074, 0x1p-1000), 0x5c10b25e7a8185aeu);
    EXPECT_EQ(digest(precise::normal_cdf, -39.0, 9.0), 0x2d176d3f3cab98e6u);
    EXPECT_EQ(digest(precise::normal_cdf, -1.0, 1.0), 0x3cd3d2ae5aaedfaeu);
    EXPECT_EQ(digest(precise::normal_pdf, -39.0, 39.0), 0x94f43711b18643c4u);
}

}  // namespace
