// The parallel machinery of velarix_batch: how many threads a call may use,
// and the run of a computation over a flat range of options in contiguous
// chunks, one per thread, with the interpreter lock released. A computation
// sees only its own work record and a range of flat indices; it must not
// touch Python.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "failure.h"
#include "pricing_result.h"

namespace velarix {

inline constexpr const char* kThreadsParameter = "threads";

// The CPUs this process may run on.
std::size_t usable_cpus();

// The keyword-only threads argument: None (or absent) for every usable CPU,
// which it leaves to the caller to count (nothing), else an int of at least 1.
Fallible<std::optional<std::size_t>> requested_threads(PyObject* argument);

// The interpreter lock released for the life of the object.
class ReleasedInterpreterLock {
public:
    ReleasedInterpreterLock() : state_(PyEval_SaveThread()) {}
    ReleasedInterpreterLock(const ReleasedInterpreterLock&) = delete;
    ReleasedInterpreterLock& operator=(const ReleasedInterpreterLock&) = delete;
    ~ReleasedInterpreterLock() { PyEval_RestoreThread(state_); }

private:
    PyThreadState* state_;
};

// A core failure at flat index `index`; the earliest one is raised.
struct IndexedFailure {
    Py_ssize_t index;
    PricingError error;
};

// Computes the options [begin, end) of `work`.
using ChunkComputation = std::optional<IndexedFailure> (*)(const void* work, Py_ssize_t begin, Py_ssize_t end);

// Runs `compute` over [0, count) on `threads` threads, the calling one
// included, in contiguous chunks of nearly equal size, with the interpreter
// lock released. A C++ exception in a chunk becomes an internal failure in
// the calling thread once all are done; else the earliest failure, if any.
std::optional<IndexedFailure> compute_in_chunks(Py_ssize_t count, std::size_t threads, ChunkComputation compute,
                                                const void* work);

}  // namespace velarix
