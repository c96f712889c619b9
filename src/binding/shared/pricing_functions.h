// The thirteen functions, written once: name, parameters, documentation and
// the core computation. Both modules are generated from this table, velarix
// (one option per call) and velarix_batch (arrays of options), so adding a
// function means adding one entry here.
#pragma once

#include <array>
#include <cstddef>
#include <variant>

#include "american_functions.h"
#include "black_scholes.h"
#include "greeks.h"
#include "option_inputs.h"
#include "pricing_result.h"

namespace velarix {

// The parameters in order: the six numbers, then the option type.
inline constexpr std::size_t kNumberCount = 6;
inline constexpr std::size_t kRequiredCount = 5;
inline constexpr std::size_t kDividendSlot = 5;
inline constexpr std::size_t kOptionTypeSlot = 6;
inline constexpr std::array<const char*, 7> kParameterNames = {"s", "k", "t", "r", "sigma", "q", "option_type"};

// Every computation takes one option; gamma and vega, the same for calls and
// puts, do not read its type, and their module functions take none.
using ValueComputation = PricingResult<double> (*)(const OptionInputs&);
using GreeksComputation = PricingResult<Greeks> (*)(const OptionInputs&);

// The option of one call from its numbers in parameter order: the one place
// where both modules map positions to the record's fields.
inline OptionInputs option_of(const std::array<double, kNumberCount>& numbers, OptionType type) {
    const auto& [s, k, t, r, sigma, q] = numbers;
    return {.s = s, .k = k, .t = t, .r = r, .sigma = sigma, .q = q, .type = type};
}

// The model a function computes with; its cost per option differs by two
// orders of magnitude, which the batch module's work split takes into account.
enum class Model { BlackScholes, BjerksundStensland };

struct FunctionDefinition {
    const char* name;
    Model model;
    bool takes_option_type;  // else the parameters end with q
    std::variant<ValueComputation, GreeksComputation> computation;
    const char* summary;  // first line of the docstring
    const char* returns;  // the Returns: line of the docstring
    bool documents_examples = false;  // parameter lines carry "(e.g., ...)" examples

    constexpr std::size_t parameter_count() const { return takes_option_type ? 7 : 6; }
    constexpr bool returns_greeks() const { return std::holds_alternative<GreeksComputation>(computation); }
};

// In the order the modules add the functions and list them in __all__.
inline constexpr std::array<FunctionDefinition, 13> kFunctions = {{
    {"bs_delta", Model::BlackScholes, true, ValueComputation{bs_delta},
     "Calculate the delta of a European option using Black-Scholes.",
     "The delta of the option", true},
    {"bs_gamma", Model::BlackScholes, false, ValueComputation{bs_gamma},
     "Calculate the gamma of a European option using Black-Scholes.",
     "The gamma of the option (same for calls and puts)"},
    {"bs_theta", Model::BlackScholes, true, ValueComputation{bs_theta},
     "Calculate the theta of a European option using Black-Scholes.",
     "The theta of the option (per day)"},
    {"bs_vega", Model::BlackScholes, false, ValueComputation{bs_vega},
     "Calculate the vega of a European option using Black-Scholes.",
     "The vega of the option (same for calls and puts)"},
    {"bs_rho", Model::BlackScholes, true, ValueComputation{bs_rho},
     "Calculate the rho of a European option using Black-Scholes.",
     "The rho of the option (per 1% change in interest rate)"},
    {"bs_greeks", Model::BlackScholes, true, GreeksComputation{bs_greeks},
     "Calculate all Greeks for a European option using Black-Scholes.",
     "A Greeks object with delta, gamma, theta, vega, and rho"},
    {"am_price", Model::BjerksundStensland, true, ValueComputation{am_price},
     "Calculate the price of an American option using Bjerksund-Stensland 2002.", "The price of the American option"},
    {"am_delta", Model::BjerksundStensland, true, ValueComputation{am_delta},
     "Calculate the delta of an American option using Bjerksund-Stensland.", "The delta of the American option"},
    {"am_gamma", Model::BjerksundStensland, true, ValueComputation{am_gamma},
     "Calculate the gamma of an American option using Bjerksund-Stensland.", "The gamma of the American option"},
    {"am_theta", Model::BjerksundStensland, true, ValueComputation{am_theta},
     "Calculate the theta of an American option using Bjerksund-Stensland.",
     "The theta of the American option (per day)"},
    {"am_vega", Model::BjerksundStensland, true, ValueComputation{am_vega},
     "Calculate the vega of an American option using Bjerksund-Stensland.", "The vega of the American option"},
    {"am_rho", Model::BjerksundStensland, true, ValueComputation{am_rho},
     "Calculate the rho of an American option using Bjerksund-Stensland.",
     "The rho of the American option (per 1% change in interest rate)"},
    {"am_greeks", Model::BjerksundStensland, true, GreeksComputation{am_greeks},
     "Calculate all Greeks for an American option using Bjerksund-Stensland.",
     "A Greeks object with delta, gamma, theta, vega, and rho"},
}};

// The computation of entry `Index`, as a constant the compiler calls directly.
template <std::size_t Index>
constexpr auto computation_of() {
    constexpr const FunctionDefinition& function = kFunctions[Index];
    return std::get<function.returns_greeks() ? 1 : 0>(function.computation);
}

}  // namespace velarix
