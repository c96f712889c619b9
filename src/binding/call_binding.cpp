// Binding a Python call to a pricing computation. The order of the checks is
// part of the interface: positional count, then keywords in call order, then
// missing arguments; then conversion in parameter order, numbers before the
// option type, and the option-type text before any arithmetic.
//
// A successful call allocates nothing but its result: the argument slots are
// a fixed array of borrowed references, the option-type text is the string's
// own UTF-8 buffer, and messages are formatted only when a call fails.
#include "call_binding.h"

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "american_greeks.h"
#include "bjerksund_stensland.h"
#include "black_scholes.h"
#include "greeks_type.h"
#include "option_inputs.h"

namespace velarix {
namespace {

constexpr std::size_t kRequiredCount = 5;
constexpr std::size_t kMaxParameters = 7;
constexpr std::size_t kDividendSlot = 5;
constexpr std::size_t kOptionTypeSlot = 6;
constexpr std::array<const char*, kMaxParameters> kParameterNames = {"s", "k", "t", "r", "sigma", "q", "option_type"};

struct ParameterSpec {
    const char* function_name;
    std::size_t parameter_count;  // the first names of kParameterNames
    std::size_t required_count;
};

using ScalarComputation = PricingResult<double> (*)(double, double, double, double, double, double, OptionType);
using GreeksComputation = PricingResult<Greeks> (*)(double, double, double, double, double, double, OptionType);

struct FunctionDefinition {
    ParameterSpec parameters;
    std::variant<ScalarComputation, GreeksComputation> computation;
    const char* summary;
    const char* returns;
    bool documents_examples = false;
};

// Gamma and vega are the same for calls and puts and take no option type.
template <PricingResult<double> (*Computation)(double, double, double, double, double, double)>
PricingResult<double> ignoring_option_type(double s, double k, double t, double r, double sigma, double q,
                                           OptionType) {
    return Computation(s, k, t, r, sigma, q);
}

constexpr ParameterSpec with_option_type(const char* name) { return {name, 7, kRequiredCount}; }
constexpr ParameterSpec without_option_type(const char* name) { return {name, 6, kRequiredCount}; }

constexpr std::array<FunctionDefinition, 13> kDefinitions = {{
    {with_option_type("bs_delta"), ScalarComputation{bs_delta},
     "Calculate the delta of a European option using Black-Scholes.", "The delta of the option", true},
    {without_option_type("bs_gamma"), ScalarComputation{ignoring_option_type<bs_gamma>},
     "Calculate the gamma of a European option using Black-Scholes.",
     "The gamma of the option (same for calls and puts)"},
    {with_option_type("bs_theta"), ScalarComputation{bs_theta},
     "Calculate the theta of a European option using Black-Scholes.", "The theta of the option (per day)"},
    {without_option_type("bs_vega"), ScalarComputation{ignoring_option_type<bs_vega>},
     "Calculate the vega of a European option using Black-Scholes.",
     "The vega of the option (same for calls and puts)"},
    {with_option_type("bs_rho"), ScalarComputation{bs_rho},
     "Calculate the rho of a European option using Black-Scholes.",
     "The rho of the option (per 1% change in interest rate)"},
    {with_option_type("bs_greeks"), GreeksComputation{bs_greeks},
     "Calculate all Greeks for a European option using Black-Scholes.",
     "A Greeks object with delta, gamma, theta, vega, and rho"},
    {with_option_type("am_price"), ScalarComputation{am_price},
     "Calculate the price of an American option using Bjerksund-Stensland 2002.", "The price of the American option"},
    {with_option_type("am_delta"), ScalarComputation{am_delta},
     "Calculate the delta of an American option using Bjerksund-Stensland.", "The delta of the American option"},
    {with_option_type("am_gamma"), ScalarComputation{am_gamma},
     "Calculate the gamma of an American option using Bjerksund-Stensland.", "The gamma of the American option"},
    {with_option_type("am_theta"), ScalarComputation{am_theta},
     "Calculate the theta of an American option using Bjerksund-Stensland.",
     "The theta of the American option (per day)"},
    {with_option_type("am_vega"), ScalarComputation{am_vega},
     "Calculate the vega of an American option using Bjerksund-Stensland.", "The vega of the American option"},
    {with_option_type("am_rho"), ScalarComputation{am_rho},
     "Calculate the rho of an American option using Bjerksund-Stensland.",
     "The rho of the American option (per 1% change in interest rate)"},
    {with_option_type("am_greeks"), GreeksComputation{am_greeks},
     "Calculate all Greeks for an American option using Bjerksund-Stensland.",
     "A Greeks object with delta, gamma, theta, vega, and rho"},
}};

// One borrowed reference per parameter, empty where no argument was given.
using Slots = std::array<PyObject*, kMaxParameters>;

std::string function_label(const ParameterSpec& spec) { return std::string(spec.function_name) + "()"; }

ErrorValue type_error(std::string message) { return ErrorValue::deferred(PyExc_TypeError, std::move(message)); }

ErrorValue too_many_positional(const ParameterSpec& spec, Py_ssize_t given) {
    return type_error(function_label(spec) + " takes from " + std::to_string(spec.required_count) + " to " +
                      std::to_string(spec.parameter_count) + " positional arguments but " + std::to_string(given) +
                      " were given");
}

ErrorValue unexpected_keyword(const ParameterSpec& spec, PyObject* key) {
    OwnedRef text = OwnedRef::steal(PyObject_Str(key));
    if (!text) {
        return take_pending_error();
    }
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size)) {
        return type_error(function_label(spec) + " got an unexpected keyword argument '" +
                          std::string(utf8, static_cast<std::size_t>(size)) + "'");
    }
    // A key that UTF-8 cannot hold (a lone surrogate): keep it as it is.
    PyErr_Clear();
    OwnedRef message = OwnedRef::steal(
        PyUnicode_FromFormat("%s() got an unexpected keyword argument '%U'", spec.function_name, text.get()));
    if (!message) {
        return take_pending_error();
    }
    return ErrorValue::with_message_object(PyExc_TypeError, message.get());
}

ErrorValue multiple_values(const ParameterSpec& spec, std::size_t parameter) {
    return type_error(function_label(spec) + " got multiple values for argument '" + kParameterNames[parameter] + "'");
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
ErrorValue missing_arguments(const ParameterSpec& spec, const Slots& slots) {
    std::array<const char*, kMaxParameters> missing{};
    std::size_t count = 0;
    for (std::size_t i = 0; i < spec.required_count; ++i) {
        if (slots[i] == nullptr) {
            missing[count++] = kParameterNames[i];
        }
    }
    std::string names;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            names += count > 2 ? "," : "";
            names += i + 1 == count ? " and " : " ";
        }
        names += std::string("'") + missing[i] + "'";
    }
    return type_error(function_label(spec) + " missing " + std::to_string(count) + " required positional " +
                      (count == 1 ? "argument" : "arguments") + ": " + names);
}

// The parameter whose name has exactly these bytes, or kMaxParameters.
std::size_t parameter_named(const ParameterSpec& spec, std::string_view key) {
    for (std::size_t i = 0; i < spec.parameter_count; ++i) {
        if (key == kParameterNames[i]) {
            return i;
        }
    }
    return kMaxParameters;
}

// Copies the first `given` positional arguments into the slots; the caller
// has checked that there are no more than the function takes.
bool unpack_positional(PyObject* positional, std::size_t given, Slots& slots) {
    for (std::size_t i = 0; i < given; ++i) {
        slots[i] = PyTuple_GetItem(positional, static_cast<Py_ssize_t>(i));
        if (slots[i] == nullptr) {
            return false;
        }
    }
    return true;
}

enum class Binding { Bound, NotPositionalOnly, Failed };

// The common call, positional arguments only and as many as the function
// takes, bound without walking keywords or looking for missing arguments.
// Any other call goes to bind_arguments, which also words every refusal.
Binding bind_positional_only(const ParameterSpec& spec, PyObject* positional, PyObject* keywords, Slots& slots) {
    if (keywords != nullptr) {
        return Binding::NotPositionalOnly;
    }
    const Py_ssize_t given = PyTuple_Size(positional);
    if (given < static_cast<Py_ssize_t>(spec.required_count) || given > static_cast<Py_ssize_t>(spec.parameter_count)) {
        return Binding::NotPositionalOnly;
    }
    return unpack_positional(positional, static_cast<std::size_t>(given), slots) ? Binding::Bound : Binding::Failed;
}

Fallible<Slots> bind_arguments(const ParameterSpec& spec, PyObject* positional, PyObject* keywords) {
    Slots slots{};
    const Py_ssize_t given = PyTuple_Size(positional);
    if (given < 0) {
        return take_pending_error();
    }
    const auto given_count = static_cast<std::size_t>(given);
    if (given_count > spec.parameter_count) {
        return too_many_positional(spec, given);
    }
    if (!unpack_positional(positional, given_count, slots)) {
        return take_pending_error();
    }
    if (keywords != nullptr) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(keywords, &position, &key, &value)) {
            Py_ssize_t size = 0;
            const char* name = PyUnicode_AsUTF8AndSize(key, &size);
            if (name == nullptr) {
                PyErr_Clear();
                return unexpected_keyword(spec, key);
            }
            const std::size_t parameter = parameter_named(spec, std::string_view(name, static_cast<std::size_t>(size)));
            if (parameter == kMaxParameters) {
                return unexpected_keyword(spec, key);
            }
            if (slots[parameter] != nullptr) {
                return multiple_values(spec, parameter);
            }
            slots[parameter] = value;
        }
    }
    for (std::size_t i = given_count; i < spec.required_count; ++i) {
        if (slots[i] == nullptr) {
            return missing_arguments(spec, slots);
        }
    }
    return slots;
}

// The failure of a number conversion that returned -1.0, if it failed.
[[gnu::cold]] std::optional<ErrorValue> conversion_failure(std::size_t parameter) {
    if (std::optional<ErrorValue> error = take_pending_exception()) {
        return std::move(*error).tagged_with_argument(kParameterNames[parameter]);
    }
    return std::nullopt;
}

// The interned words "call", "c", "put" and "p". A string literal in Python
// code is interned, so the usual spellings arrive as these very objects and
// are read by identity, without decoding; any other string is read as text.
struct InternedWord {
    const char* text;
    OptionType type;
};
constexpr std::array<InternedWord, 4> kInternedWords = {
    {{"call", OptionType::Call}, {"put", OptionType::Put}, {"c", OptionType::Call}, {"p", OptionType::Put}}};
std::array<PyObject*, kInternedWords.size()> interned_words{};

std::optional<OptionType> interned_option_type(PyObject* argument) {
    for (std::size_t i = 0; i < kInternedWords.size(); ++i) {
        if (argument == interned_words[i]) {
            return kInternedWords[i].type;
        }
    }
    return std::nullopt;
}

Fallible<std::string_view> to_utf8(PyObject* argument, std::size_t parameter) {
    if (!PyType_HasFeature(Py_TYPE(argument), Py_TPFLAGS_UNICODE_SUBCLASS)) {
        return ErrorValue::conversion_mismatch(argument, "PyString").tagged_with_argument(kParameterNames[parameter]);
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(argument, &size);
    if (text == nullptr) {
        return take_pending_error().tagged_with_argument(kParameterNames[parameter]);
    }
    return std::string_view(text, static_cast<std::size_t>(size));
}

// Any option-type argument but the interned words.
Fallible<OptionType> to_option_type(PyObject* argument) {
    Fallible<std::string_view> text = to_utf8(argument, kOptionTypeSlot);
    if (!text.ok()) {
        return std::move(text.error());
    }
    if (const std::optional<OptionType> parsed = parse_option_type(text.value())) {
        return *parsed;
    }
    return ErrorValue::deferred(PyExc_ValueError, std::string(kInvalidOptionTypeMessage));
}

template <typename Value>
Fallible<OwnedRef> to_python(const PricingResult<Value>& result) {
    if (!result.has_value()) {
        return ErrorValue::deferred(PyExc_ValueError, result.error().display());
    }
    if constexpr (std::is_same_v<Value, Greeks>) {
        return new_py_greeks(result.value());
    } else {
        if (PyObject* number = PyFloat_FromDouble(result.value())) {
            return OwnedRef::steal(number);
        }
        return expect_new_reference(nullptr);
    }
}

// One instance per function, so that the parameter counts and the
// computation are constants and the computation is called directly.
template <std::size_t Index>
Fallible<OwnedRef> call_function(PyObject* positional, PyObject* keywords) {
    constexpr const FunctionDefinition& function = kDefinitions[Index];
    constexpr const ParameterSpec& spec = function.parameters;
    Slots slots{};
    switch (bind_positional_only(spec, positional, keywords, slots)) {
        case Binding::Bound:
            break;
        case Binding::Failed:
            return take_pending_error();
        case Binding::NotPositionalOnly:
            Fallible<Slots> bound = bind_arguments(spec, positional, keywords);
            if (!bound.ok()) {
                return std::move(bound.error());
            }
            slots = bound.value();
            break;
    }

    std::array<double, 6> numbers{};  // s, k, t, r, sigma, q; q defaults to 0.0
    for (std::size_t i = 0; i <= kDividendSlot; ++i) {
        if (slots[i] == nullptr) {
            continue;
        }
        numbers[i] = PyFloat_AsDouble(slots[i]);
        if (numbers[i] == -1.0) {
            if (std::optional<ErrorValue> error = conversion_failure(i)) {
                return std::move(*error);
            }
        }
    }

    OptionType type = OptionType::Call;  // the default "call"
    if constexpr (spec.parameter_count > kOptionTypeSlot) {
        if (PyObject* argument = slots[kOptionTypeSlot]) {
            if (const std::optional<OptionType> known = interned_option_type(argument)) {
                type = *known;
            } else {
                Fallible<OptionType> converted = to_option_type(argument);
                if (!converted.ok()) {
                    return std::move(converted.error());
                }
                type = converted.value();
            }
        }
    }

    const auto [s, k, t, r, sigma, q] = numbers;
    constexpr auto computation = std::get<std::holds_alternative<ScalarComputation>(function.computation) ? 0 : 1>(
        function.computation);
    return to_python(computation(s, k, t, r, sigma, q, type));
}

template <std::size_t Index>
PyObject* call_entry(PyObject*, PyObject* positional, PyObject* keywords) {
    return guard_entry([&] { return call_function<Index>(positional, keywords); });
}

template <std::size_t... Index>
constexpr std::array<ModuleFunction, sizeof...(Index)> make_module_functions(std::index_sequence<Index...>) {
    return {{ModuleFunction{kDefinitions[Index].parameters.function_name, kDefinitions[Index].summary,
                            kDefinitions[Index].returns, kDefinitions[Index].parameters.parameter_count == 7,
                            kDefinitions[Index].documents_examples, call_entry<Index>}...}};
}

constexpr std::array<ModuleFunction, kDefinitions.size()> kModuleFunctions =
    make_module_functions(std::make_index_sequence<kDefinitions.size()>{});

}  // namespace

std::span<const ModuleFunction> module_functions() { return kModuleFunctions; }

Fallible<bool> intern_option_type_words() {
    for (std::size_t i = 0; i < kInternedWords.size(); ++i) {
        if (interned_words[i] == nullptr) {
            PyObject* word = PyUnicode_InternFromString(kInternedWords[i].text);
            if (word == nullptr) {
                return take_pending_error();
            }
            interned_words[i] = word;  // kept for the life of the process
        }
    }
    return true;
}

}  // namespace velarix
