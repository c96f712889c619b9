// The failure value of the pricing core and the result type of every
// computation, which holds either a value or that failure. The binding turns
// a failure into a Python exception with the failure's message.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace velarix {

enum class PricingErrorKind { InvalidOptionType, InvalidParameters };

// No computation produces one today, but the result type of every
// computation admits it and the binding translates it, so a future check can
// report a failure without changing any interface.
class PricingError {
public:
    static PricingError invalid_option_type() { return PricingError(PricingErrorKind::InvalidOptionType, {}); }
    static PricingError invalid_parameters(std::string detail) {
        return PricingError(PricingErrorKind::InvalidParameters, std::move(detail));
    }

    PricingErrorKind kind() const { return kind_; }

    // The whole message, with nothing added around it.
    std::string display() const;

private:
    PricingError(PricingErrorKind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}

    PricingErrorKind kind_;
    std::string detail_;
};

// What every pricing computation returns: its value, or a PricingError.
template <typename Value>
class [[nodiscard]] PricingResult {
public:
    PricingResult(Value value) : outcome_(std::in_place_index<0>, value) {}
    PricingResult(PricingError error) : outcome_(std::in_place_index<1>, std::move(error)) {}

    bool has_value() const { return outcome_.index() == 0; }
    const Value& value() const { return *std::get_if<0>(&outcome_); }
    const PricingError& error() const { return *std::get_if<1>(&outcome_); }

private:
    std::variant<Value, PricingError> outcome_;
};

}  // namespace velarix
