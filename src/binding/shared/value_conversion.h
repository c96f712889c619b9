// Conversions between one Python argument or result and the core's values,
// shared by both modules: a failed number conversion tagged with its
// parameter, the option-type argument, and a pricing result as a Python
// object.
#pragma once

#include <cstddef>
#include <optional>

#include "failure.h"
#include "greeks.h"
#include "option_type.h"
#include "pricing_result.h"

namespace velarix {

// After a number conversion (PyFloat_AsDouble) returned -1.0: its failure,
// if it failed, tagged with the parameter's name when it is a TypeError.
[[gnu::cold]] Fallible<void> conversion_failure(const char* parameter);

// The option type an option_type argument names: one of the interned words
// by identity, else any str read as text.
Fallible<OptionType> option_type_of(PyObject* argument);

// The same for one element of an array of option types: nothing when it is
// a str that names no option type, so that the caller can say which element.
Fallible<std::optional<OptionType>> option_type_element(PyObject* argument);

// The refusal of a text that names no option type, ready to raise.
ErrorValue invalid_option_type();

// A float, or a PyGreeks instance; a core failure becomes a ValueError.
Fallible<OwnedRef> to_python(const PricingResult<double>& result);
Fallible<OwnedRef> to_python(const PricingResult<Greeks>& result);

// Creates the interned option-type words that option_type_of recognises by
// identity; run when a module is first created.
Fallible<void> intern_option_type_words();

}  // namespace velarix
