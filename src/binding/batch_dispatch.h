// The thirteen functions of the module velarix_batch as the interpreter
// calls them: arrays of options in, arrays of results out, computed on
// several threads with the interpreter lock released.
#pragma once

#include <cstring>
#include <span>

#include "argument_binding.h"
#include "batch_columns.h"
#include "batch_parallel.h"
#include "method_table.h"

namespace velarix {

// What the module keeps: the numpy handles and the Greeks named tuple class.
struct BatchState {
    NumpyHandles numpy;
    PyObject* greeks_class;
};

// In the order of the function table; each entry's self is the module.
std::span<const ModuleFunction, kFunctions.size()> batch_functions();

// The operands of every call: the six numbers s, k, t, r, sigma, q in this
// order, then the option type.
inline constexpr std::size_t kOperandCount = kNumberCount + 1;

// Everything the workers read and write, fixed before they start. `setting`
// carries a function's keyword-only choice (the American engine's accuracy).
struct BatchWork {
    Shape shape;
    std::array<const char*, kOperandCount> bases;
    std::array<std::array<Py_ssize_t, kMaxDimensions>, kOperandCount> strides;
    std::array<double*, kMaxOutputs> outputs;
    int setting;
};

inline double number_at(const char* element) {
    double value = 0.0;
    std::memcpy(&value, element, sizeof value);  // inputs may be unaligned
    return value;
}

// How a function of velarix_batch reads its call. Its parameters are the
// operands from `first_operand` on (the thirteen and the engine's prices take
// s first; the exercise boundary starts at k), then its keyword-only ones:
// with a `setting` reader, the setting before threads.
struct BatchSignature {
    ParameterSpec spec;
    std::size_t first_operand;
    bool takes_option_type;
    std::size_t output_count;
    Py_ssize_t grain;  // the fewest options worth a thread of their own
    Fallible<int> (*read_setting)(PyObject* argument) = nullptr;  // the argument may be null (not given)
};

// One call: binds and reads the arguments, broadcasts them, runs `compute`
// over the options on the threads asked for, and returns the outputs (a
// Greeks named tuple of five).
Fallible<OwnedRef> batch_call(const BatchSignature& signature, ChunkComputation compute, PyObject* module,
                              PyObject* positional, PyObject* keywords);

}  // namespace velarix
