// Dispatch of one velarix call: bind the arguments, convert them in
// parameter order (numbers before the option type, the option-type text
// before any arithmetic), call the core, convert its result. One instance per
// function, so that the parameter counts and the computation are constants
// and the computation is called directly. A successful call allocates
// nothing but its result.
#include "scalar_dispatch.h"

#include <array>
#include <utility>

#include "argument_binding.h"
#include "internal_failure.h"
#include "value_conversion.h"

namespace velarix {
namespace {

template <std::size_t Index>
Fallible<OwnedRef> call_function(PyObject* positional, PyObject* keywords) {
    constexpr const FunctionDefinition& function = kFunctions[Index];
    constexpr ParameterSpec spec{function.name, function.parameter_count(), kRequiredCount};
    Slots slots{};
    Fallible<void> bound = bind_call(spec, positional, keywords, slots);
    VELARIX_PASS_ON_FAILURE(bound);

    std::array<double, kNumberCount> numbers{};  // s, k, t, r, sigma, q; q defaults to 0.0
    for (std::size_t i = 0; i < kNumberCount; ++i) {
        if (slots[i] == nullptr) {
            continue;
        }
        numbers[i] = PyFloat_AsDouble(slots[i]);
        if (numbers[i] == -1.0) {
            Fallible<void> converted = conversion_failure(kParameterNames[i]);
            VELARIX_PASS_ON_FAILURE(converted);
        }
    }

    OptionType type = OptionType::Call;  // the default "call"
    if constexpr (function.takes_option_type) {
        if (PyObject* argument = slots[kOptionTypeSlot]) {
            Fallible<OptionType> converted = option_type_of(argument);
            VELARIX_PASS_ON_FAILURE(converted);
            type = converted.value();
        }
    }

    return to_python(computation_of<Index>()(option_of(numbers, type)));
}

template <std::size_t Index>
PyObject* call_entry(PyObject*, PyObject* positional, PyObject* keywords) {
    return guard_entry([&] { return call_function<Index>(positional, keywords); });
}

template <std::size_t... Index>
constexpr std::array<ModuleFunction, sizeof...(Index)> make_scalar_functions(std::index_sequence<Index...>) {
    return {{ModuleFunction{&kFunctions[Index], call_entry<Index>}...}};
}

constexpr std::array<ModuleFunction, kFunctions.size()> kScalarFunctions =
    make_scalar_functions(std::make_index_sequence<kFunctions.size()>{});

}  // namespace

std::span<const ModuleFunction, kFunctions.size()> scalar_functions() { return kScalarFunctions; }

}  // namespace velarix
