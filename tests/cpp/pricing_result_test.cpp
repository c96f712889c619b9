// The message of a PricingError, which the binding raises as it is.
#include "pricing_result.h"

#include <gtest/gtest.h>

using velarix::PricingError;

TEST(PricingErrorDisplay, IsTheWholeMessage) {
    EXPECT_EQ(PricingError::invalid_option_type().display(), "Invalid option type");
    EXPECT_EQ(PricingError::invalid_parameters("sigma must be positive").display(),
              "Invalid parameters: sigma must be positive");
    EXPECT_EQ(PricingError::invalid_parameters("").display(), "Invalid parameters: ");
}
