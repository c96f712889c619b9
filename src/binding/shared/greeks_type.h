// PyGreeks: the immutable Python class that carries one Greeks record back to
// Python, with five read-only float attributes and a six-decimal repr.
#pragma once

#include "failure.h"
#include "greeks.h"

namespace velarix {

// The PyGreeks type (borrowed), created on first use and kept for the life of
// the process. A failed creation is a RuntimeError and is retried next time.
Fallible<PyObject*> py_greeks_type();

// A new PyGreeks instance holding the five values of `greeks`.
Fallible<OwnedRef> new_py_greeks(const Greeks& greeks);

}  // namespace velarix
