// The parallel machinery of velarix_batch: how many threads a call may use,
// the float64 outputs of a call, and the run of a computation over a flat
// range of options in contiguous chunks, one per thread, with the
// interpreter lock released. A computation sees only its own work record and
// a range of flat indices; it must not touch Python.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "batch_columns.h"
#include "pricing_result.h"

namespace velarix {

inline constexpr const char* kThreadsParameter = "threads";
inline constexpr std::size_t kMaxOutputs = 5;

// The CPUs this process may run on.
std::size_t usable_cpus();

// The keyword-only threads argument: None (or absent) for every usable CPU,
// else an int of at least 1.
Fallible<std::size_t> requested_threads(PyObject* argument);

// "(3, 4)", "(5,)", "()".
std::string shape_text(const Shape& shape);

// Float64 arrays of the broadcast shape, C-contiguous, held with their
// buffers, and where asked an int8 array of reasons beside them.
class Outputs {
public:
    Fallible<bool> allocate(const NumpyHandles& numpy, const Shape& shape, std::size_t count, bool with_reasons) {
        OwnedRef dimensions = expect_new_reference(PyTuple_New(static_cast<Py_ssize_t>(shape.ndim)));
        for (std::size_t d = 0; d < shape.ndim; ++d) {
            PyObject* extent = PyLong_FromSsize_t(shape.extent[d]);
            if (extent == nullptr || PyTuple_SetItem(dimensions.get(), static_cast<Py_ssize_t>(d), extent) < 0) {
                return take_pending_error();
            }
        }
        for (std::size_t i = 0; i < count; ++i) {
            arrays_[i] =
                OwnedRef::steal(PyObject_CallFunctionObjArgs(numpy.empty, dimensions.get(), numpy.float64, nullptr));
            if (!arrays_[i] || !buffers_[i].acquire(arrays_[i].get(), PyBUF_CONTIG)) {
                return take_pending_error();
            }
            data_[i] = static_cast<double*>(buffers_[i].view().buf);
        }
        if (with_reasons) {
            reasons_array_ =
                OwnedRef::steal(PyObject_CallFunctionObjArgs(numpy.empty, dimensions.get(), numpy.int8, nullptr));
            if (!reasons_array_ || !reasons_buffer_.acquire(reasons_array_.get(), PyBUF_CONTIG)) {
                return take_pending_error();
            }
            reasons_ = static_cast<std::int8_t*>(reasons_buffer_.view().buf);
        }
        return true;
    }

    const std::array<double*, kMaxOutputs>& data() const { return data_; }
    std::int8_t* reasons() const { return reasons_; }

    // The arrays, or their only element as numpy.float64 for a 0-d shape, as
    // numpy's own functions return for scalar inputs.
    Fallible<OwnedRef> take(std::size_t i, const Shape& shape) { return take_array(arrays_[i], shape); }
    Fallible<OwnedRef> take_reasons(const Shape& shape) { return take_array(reasons_array_, shape); }

private:
    static Fallible<OwnedRef> take_array(OwnedRef& array, const Shape& shape) {
        if (shape.ndim > 0) {
            return std::move(array);
        }
        OwnedRef no_index = expect_new_reference(PyTuple_New(0));
        OwnedRef element = OwnedRef::steal(PyObject_GetItem(array.get(), no_index.get()));
        if (!element) {
            return take_pending_error();
        }
        return element;
    }

    std::array<OwnedRef, kMaxOutputs> arrays_;
    std::array<BufferView, kMaxOutputs> buffers_;
    std::array<double*, kMaxOutputs> data_{};
    OwnedRef reasons_array_;
    BufferView reasons_buffer_;
    std::int8_t* reasons_ = nullptr;
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
