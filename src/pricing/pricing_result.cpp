// The message of a PricingError.
#include "pricing_result.h"

namespace velarix {

std::string PricingError::display() const {
    switch (kind_) {
        case PricingErrorKind::InvalidOptionType:
            return "Invalid option type";
        case PricingErrorKind::InvalidParameters:
            return "Invalid parameters: " + detail_;
    }
    return {};
}

}  // namespace velarix
