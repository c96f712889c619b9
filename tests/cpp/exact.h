// Exact comparison of doubles for the tests: the same bit pattern, the sign
// of zero included; any two NaN count as equal.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

inline ::testing::AssertionResult SameDouble(double expected, double actual) {
    if ((std::isnan(expected) && std::isnan(actual)) ||
        std::bit_cast<std::uint64_t>(expected) == std::bit_cast<std::uint64_t>(actual)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << std::hexfloat << "expected " << expected << ", got " << actual;
}

#define EXPECT_SAME_DOUBLE(expected, actual) EXPECT_TRUE(SameDouble((expected), (actual)))
