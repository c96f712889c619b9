// Binding the arguments of a Python call to the parameters of one function,
// with the interpreter's own wording for every refusal. The order of the
// checks is part of the interface: positional count, then keywords in call
// order, then missing arguments.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <utility>

#include "failure.h"
#include "pricing_functions.h"

namespace velarix {

// The parameters of one function as a module offers it: the first
// `parameter_count` of `names`, positional or keyword, and up to five
// keyword-only parameters after them.
inline constexpr std::size_t kMaxKeywordOnly = 5;

struct ParameterSpec {
    const char* function_name;
    std::size_t parameter_count;
    std::size_t required_count;
    std::array<const char*, kMaxKeywordOnly> keyword_only = {};
    const char* const* names = kParameterNames.data();
};

inline constexpr std::size_t kKeywordOnlySlot = kParameterNames.size();

// One borrowed reference per parameter, empty where no argument was given;
// the keyword-only parameters have the last slots, in their order.
using Slots = std::array<PyObject*, kKeywordOnlySlot + kMaxKeywordOnly>;

// The common call, positional arguments only and as many as the function
// takes, bound without walking keywords or looking for missing arguments:
// whether it was one and is bound. Every other call, and any failure, goes
// to bind_arguments, which words every refusal.
bool bind_positional_only(const ParameterSpec& spec, PyObject* positional, PyObject* keywords, Slots& slots);

Fallible<Slots> bind_arguments(const ParameterSpec& spec, PyObject* positional, PyObject* keywords);

// Binds a call into `slots` by the fast path where it applies, else in full;
// the refusal when the call does not fit. Inline, so that the common call
// costs no more than the fast path itself.
inline Fallible<void> bind_call(const ParameterSpec& spec, PyObject* positional, PyObject* keywords, Slots& slots) {
    if (bind_positional_only(spec, positional, keywords, slots)) {
        return {};
    }
    Fallible<Slots> bound = bind_arguments(spec, positional, keywords);
    VELARIX_PASS_ON_FAILURE(bound);
    slots = bound.value();
    return {};
}

}  // namespace velarix
