#include "decimal_text.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string fixed6(double x) {
    std::array<char, velarix::kFixed6MaxLength> buffer;
    return std::string(buffer.data(), velarix::format_fixed6(x, buffer.data()));
}

struct Case {
    double value;
    const char* text;
};

class Fixed6 : public ::testing::TestWithParam<Case> {};

TEST_P(Fixed6, WritesTheExactValueRoundedHalfToEven) { EXPECT_EQ(fixed6(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Values, Fixed6,
    ::testing::Values(Case{0.0, "0.000000"}, Case{-0.0, "-0.000000"}, Case{0.5, "0.500000"}, Case{1.0, "1.000000"},
                      Case{0.1, "0.100000"}, Case{-2.25, "-2.250000"},
                      // 5e-7 is stored just below the tie, 1.5e-6 just above.
                      Case{5e-7, "0.000000"}, Case{1.5e-6, "0.000002"},
                      // Exact ties go to the even sixth decimal.
                      Case{1.0 / 128, "0.007812"}, Case{3.0 / 128, "0.023438"}, Case{-1.0 / 128, "-0.007812"},
                      Case{std::nextafter(1.0 / 128, 1.0), "0.007813"}, Case{std::nextafter(3.0 / 128, 0.0), "0.023437"},
                      Case{-4e-7, "-0.000000"}, Case{std::numeric_limits<double>::denorm_min(), "0.000000"},
                      Case{1e20, "100000000000000000000.000000"},
                      // Rounding up carries from the lowest 32-bit limb of the integer into the next.
                      Case{4294.9672955000005, "4294.967296"}, Case{-4294.9672955000005, "-4294.967296"},
                      // Stored as 123456789.1234564930...: the exact value decides, not "...4565".
                      Case{123456789.1234565, "123456789.123456"},
                      Case{std::numeric_limits<double>::infinity(), "inf"},
                      Case{-std::numeric_limits<double>::infinity(), "-inf"},
                      Case{std::numeric_limits<double>::quiet_NaN(), "NaN"},
                      Case{-std::numeric_limits<double>::quiet_NaN(), "NaN"}));

TEST(Fixed6, HugeValuesKeepEveryExactIntegerDigit) {
    EXPECT_EQ(fixed6(1e300),
              "1000000000000000052504760255204420248704468581108159154915854115511802457988908195786371375080447864043704443"
              "8328838781769425232353604305756447921847867069828483872009265758037378302337947880900593689532349707999450811"
              "19038967640880074652742780142494579258788820056842838115669472196386865459400540160.000000");
    const std::string largest = fixed6(std::numeric_limits<double>::max());
    EXPECT_EQ(largest.size(), 316u);
    EXPECT_EQ(largest.substr(0, 20), "17976931348623157081");
    EXPECT_EQ(largest.substr(309), ".000000");
    EXPECT_EQ(fixed6(-std::numeric_limits<double>::max()).size(), velarix::kFixed6MaxLength);
}

// glibc's printf rounds the exact value half to even in the C locale, which
// the tests run in: an independent oracle over every magnitude, ties included.
TEST(Fixed6, AgreesWithPrintfOverEveryMagnitude) {
    std::mt19937_64 generator(20261208);
    std::array<char, 400> expected;
    auto check = [&](double x) {
        std::snprintf(expected.data(), expected.size(), "%.6f", x);
        ASSERT_EQ(fixed6(x), expected.data()) << std::hexfloat << x;
    };
    for (int i = 0; i < 200000; ++i) {
        const double x = std::bit_cast<double>(generator());
        if (std::isfinite(x)) {
            check(x);
        }
        // Values that sit on or next to a tie of the sixth decimal.
        const double tie = static_cast<double>(generator() % 2000001) / 128.0;
        check(tie);
        check(std::nextafter(tie, 0.0));
        check(std::nextafter(tie, 1e9));
        check(std::ldexp(static_cast<double>(generator() >> 11), static_cast<int>(generator() % 120) - 90));
    }
}

}  // namespace
