// The thirteen module functions as the interpreter calls them: one table of
// records drives argument binding, conversion, the core computation and the
// result conversion for all of them.
#pragma once

#include <span>

#include "error_translation.h"

namespace velarix {

// What the module definition needs to know of one function.
struct ModuleFunction {
    const char* name;
    const char* summary;             // first line of the docstring
    const char* returns;             // the Returns: line of the docstring
    bool takes_option_type;
    bool documents_examples;         // parameter lines carry "(e.g., ...)" examples
    PyCFunctionWithKeywords entry;   // METH_VARARGS | METH_KEYWORDS
};

// The functions in the order the module adds them and lists them in __all__.
std::span<const ModuleFunction> module_functions();

// Creates the interned option-type words the call binding recognises by
// identity; run once when the module is first created.
Fallible<bool> intern_option_type_words();

}  // namespace velarix
