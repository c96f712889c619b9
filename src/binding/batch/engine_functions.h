// The functions of velarix_batch beyond the thirteen: the accurate American
// engine (american_price, american_greeks, exercise_boundary) and the
// European price on the same full-precision functions. Same calling
// conventions as the rest of the module: numbers or array-likes that
// broadcast, float64 results, threads with the interpreter lock released.
#pragma once

#include "failure.h"
#include "python_prelude.h"

namespace velarix {

// The method definitions, terminated by a zeroed entry, for
// PyModule_AddFunctions; they live for the life of the process.
PyMethodDef* engine_methods();

// The texts of implied_volatility's reason codes, code by code: the module's
// IMPLIED_VOLATILITY_REASONS.
Fallible<OwnedRef> implied_volatility_reasons();

}  // namespace velarix
