// The inputs of a velarix_batch call as strided columns the workers can read
// without the interpreter: each number parameter as native float64 (the
// array itself when it already is, else one converted copy), the option type
// as one byte per element. numpy is reached only through Python calls and
// the buffer protocol. Everything here runs with the interpreter lock held.
#pragma once

#include <cstddef>
#include <vector>

#include "failure.h"
#include "option_type.h"
#include "strided_walk.h"

namespace velarix {

// The numpy callables and types velarix_batch uses, owned by its module state.
struct NumpyHandles {
    PyObject* asarray;
    PyObject* empty;
    PyObject* float64;
    PyObject* int8;
    PyObject* ndarray;
    PyObject* object;
};

// A buffer obtained from an exporter, released exactly once.
class BufferView {
public:
    BufferView() = default;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() {
        if (held_) {
            PyBuffer_Release(&view_);
        }
    }

    // Requests the buffer of `exporter` with `flags`; refused beyond
    // kMaxDimensions dimensions.
    Fallible<void> acquire(PyObject* exporter, int flags);
    const Py_buffer& view() const { return view_; }
    // The shape and strides of the buffer as an operand.
    StridedOperand operand() const;

private:
    Py_buffer view_{};
    bool held_ = false;
};

// Whether `argument` is a Python int or float (a subclass included): a
// number read as the scalar module reads it, never through numpy.
inline bool is_python_number(PyObject* argument) {
    return PyType_HasFeature(Py_TYPE(argument), Py_TPFLAGS_LONG_SUBCLASS) || PyFloat_Check(argument);
}

// One number parameter: a scalar, or a float64 array held with its buffer.
// Python numbers and other values that are no array (numpy makes a 0-d array
// of them) are read by PyFloat_AsDouble as the scalar module reads them.
class NumberColumn {
public:
    // Reads `argument` for the parameter named `parameter` (the name tags a
    // TypeError); the converted array is kept alive by the column.
    Fallible<void> read(const NumpyHandles& numpy, PyObject* argument, const char* parameter);
    void set_scalar(double value);
    // Reads the values from a copy of its own from now on: an output in the
    // caller's memory may share it, and is written while they are read.
    void copy_values();
    const StridedOperand& operand() const { return operand_; }

private:
    // One value that is no array, read as the scalar module reads it.
    Fallible<void> read_one(PyObject* argument, const char* parameter);

    double scalar_ = 0.0;
    OwnedRef array_;
    BufferView buffer_;
    std::vector<double> converted_;  // an object array's elements, read one by one
    StridedOperand operand_;
};

// The option type: one OptionType byte per element of the argument's shape.
class OptionTypeColumn {
public:
    Fallible<void> read(const NumpyHandles& numpy, PyObject* argument);
    void set_scalar(OptionType type);
    const StridedOperand& operand() const { return operand_; }

private:
    Fallible<void> read_one(PyObject* argument);

    std::vector<unsigned char> types_;
    StridedOperand operand_;
};

}  // namespace velarix
