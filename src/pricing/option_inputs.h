// The vocabulary every pricing computation shares: the option type and how
// its text is read, the record of the five Greeks, and the failure value of
// the pricing core. Nothing here knows about Python.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace velarix {

enum class OptionType { Call, Put };

// The units of the Greeks, shared by the European and the American ones.
inline constexpr double kDaysPerYear = 365.0;       // theta per calendar day of a 365-day year
inline constexpr double kPercentagePoints = 100.0;  // rho per percentage point of r

// The five sensitivities, in the order the module reports them. Theta is per
// calendar day, vega per 1.00 of volatility, rho per percentage point of r.
struct Greeks {
    double delta;
    double gamma;
    double theta;
    double vega;
    double rho;
};

enum class PricingErrorKind { InvalidOptionType, InvalidParameters };

// The failure value of the core. No computation produces one today, but the
// result type of every computation admits it and the binding translates it,
// so a future check can report a failure without changing any interface.
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

// The message of a refused option-type text; it reaches Python unchanged.
inline constexpr std::string_view kInvalidOptionTypeMessage = "Invalid option type. Use 'call' or 'put'.";

// Reads "c", "call", "p" or "put" in any mixture of letter case; anything else
// (blanks, prefixes, look-alike letters, the empty text) gives nothing.
std::optional<OptionType> parse_option_type(std::string_view text);

}  // namespace velarix
