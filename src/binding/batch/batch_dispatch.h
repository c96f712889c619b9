// The thirteen functions of the module velarix_batch as the interpreter
// calls them: arrays of options in, arrays of results out, computed on
// several threads with the interpreter lock released.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "argument_binding.h"
#include "batch_columns.h"
#include "batch_outputs.h"
#include "batch_parallel.h"
#include "method_definitions.h"

namespace velarix {

// What the module keeps: the numpy handles and the Greeks named tuple class.
struct BatchState {
    NumpyHandles numpy;
    PyObject* greeks_class;
};

// In the order of the table of pricing functions; each entry's self is the module.
std::span<const ModuleFunction, kFunctions.size()> batch_functions();

// The operands of every call: the six numbers s, k, t, r, sigma, q in this
// order, then the option type.
inline constexpr std::size_t kOperandCount = kNumberCount + 1;

// Everything the workers read and write, fixed before they start. `setting`
// carries a function's keyword-only choices (the American engine's
// accuracy); `reasons`, where the caller asked for them, one code per option
// of why it has a result or not.
struct BatchWork {
    Shape shape;
    std::array<const char*, kOperandCount> bases;
    std::array<std::array<Py_ssize_t, kMaxDimensions>, kOperandCount> strides;
    std::array<double*, kMaxOutputs> outputs;
    std::int8_t* reasons;
    int setting;
};

inline double number_at(const char* element) {
    double value = 0.0;
    std::memcpy(&value, element, sizeof value);  // inputs may be unaligned
    return value;
}

// The option where the walk over the operands stands.
inline OptionInputs option_at(const Odometer<kOperandCount>& at) {
    return option_of({number_at(at[0]), number_at(at[1]), number_at(at[2]), number_at(at[3]), number_at(at[4]),
                      number_at(at[5])},
                     static_cast<OptionType>(*at[kNumberCount]));
}

// The parameter slot each operand is read from, in operand order (s, k, t,
// r, sigma, q, option type); kNoSlot where a function has no such parameter
// (the operand is then 0.0, or "call"). An operand whose parameter has a
// default and was not given takes the same default.
inline constexpr std::size_t kNoSlot = ~std::size_t{0};
using OperandSlots = std::array<std::size_t, kOperandCount>;
inline constexpr OperandSlots kOptionSlots = {0, 1, 2, 3, 4, 5, 6};

// A function's keyword-only choices as its reader found them.
struct CallSetting {
    int value = 0;
    bool reasons = false;  // return a reasons array beside the results
    Py_ssize_t grain = 0;  // the fewest options worth a thread, if not the signature's
};

// How a function of velarix_batch reads its call: its parameters, the slots
// of its operands, then its keyword-only parameters, `out` and `threads`
// last; a `read_setting` reads the others (each slot null where not given).
struct BatchSignature {
    ParameterSpec spec;
    OperandSlots operand_slots;
    std::size_t output_count;
    Py_ssize_t grain;  // the fewest options worth a thread of their own
    Fallible<CallSetting> (*read_setting)(PyObject* const* keyword_slots) = nullptr;
};

// One call: binds and reads the arguments, broadcasts them, runs `compute`
// over the options on the threads asked for, and returns the outputs, new
// or given with out= (a Greeks named tuple of five; with reasons, the tuple
// (results, reasons)).
Fallible<OwnedRef> batch_call(const BatchSignature& signature, ChunkComputation compute, PyObject* module,
                              PyObject* positional, PyObject* keywords);

}  // namespace velarix
