// The thirteen functions of the module velarix as the interpreter calls
// them: one option per call, computed with the interpreter lock held.
#pragma once

#include <span>

#include "method_definitions.h"

namespace velarix {

// In the order of the table of pricing functions.
std::span<const ModuleFunction, kFunctions.size()> scalar_functions();

}  // namespace velarix
