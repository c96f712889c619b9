// Binding the arguments of a Python call to the parameters of one function,
// with the interpreter's own wording for every refusal. The order of the
// checks is part of the interface: positional count, then keywords in call
// order, then missing arguments.
#pragma once

#include <array>
#include <cstddef>

#include "error_translation.h"
#include "function_table.h"

namespace velarix {

// The parameters of one function as a module offers it: the first
// `parameter_count` of kParameterNames, positional or keyword, and optionally
// one keyword-only parameter after them.
struct ParameterSpec {
    const char* function_name;
    std::size_t parameter_count;
    std::size_t required_count;
    const char* keyword_only = nullptr;
};

inline constexpr std::size_t kKeywordOnlySlot = kParameterNames.size();

// One borrowed reference per parameter, empty where no argument was given;
// the keyword-only parameter has the last slot.
using Slots = std::array<PyObject*, kKeywordOnlySlot + 1>;

enum class Binding { Bound, NotPositionalOnly, Failed };

// The common call, positional arguments only and as many as the function
// takes, bound without walking keywords or looking for missing arguments.
// Any other call goes to bind_arguments, which also words every refusal.
Binding bind_positional_only(const ParameterSpec& spec, PyObject* positional, PyObject* keywords, Slots& slots);

Fallible<Slots> bind_arguments(const ParameterSpec& spec, PyObject* positional, PyObject* keywords);

}  // namespace velarix
