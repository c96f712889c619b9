// The thirteen functions of the module velarix_batch as the interpreter
// calls them: arrays of options in, arrays of results out, computed on
// several threads with the interpreter lock released.
#pragma once

#include <span>

#include "batch_columns.h"
#include "method_table.h"

namespace velarix {

// What the module keeps: the numpy handles and the Greeks named tuple class.
struct BatchState {
    NumpyHandles numpy;
    PyObject* greeks_class;
};

// In the order of the function table; each entry's self is the module.
std::span<const ModuleFunction, kFunctions.size()> batch_functions();

}  // namespace velarix
