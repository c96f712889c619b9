// The arrays a velarix_batch call writes into: new ones, or the caller's
// own given with out=, checked before anything is written. See
// batch_outputs.h.
#include "batch_outputs.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <ranges>
#include <utility>

#include "internal_failure.h"

namespace velarix {

std::string shape_text(const Shape& shape) {
    std::string text = "(";
    for (std::size_t d = 0; d < shape.ndim; ++d) {
        text += std::to_string(shape.extent[d]) + (shape.ndim == 1 ? "," : d + 1 < shape.ndim ? ", " : "");
    }
    return text + ")";
}

namespace {

// "out" for an array given alone, "out[2]" for an entry of a tuple.
std::string out_label(bool in_tuple, std::size_t entry) {
    return in_tuple ? std::string(kOutParameter) + "[" + std::to_string(entry) + "]" : std::string(kOutParameter);
}

// The name of an object's type, for refusals.
Fallible<std::string> type_name(PyObject* object) {
    OwnedRef name = OwnedRef::steal(PyType_GetName(Py_TYPE(object)));
    const char* text = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
    if (text == nullptr) {
        return take_pending_error();
    }
    return std::string(text);
}

// An array's dtype as numpy prints it: "int64", ">f8".
Fallible<std::string> dtype_text(PyObject* array) {
    OwnedRef dtype = OwnedRef::steal(PyObject_GetAttrString(array, "dtype"));
    OwnedRef text = dtype ? OwnedRef::steal(PyObject_Str(dtype.get())) : OwnedRef();
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
    if (utf8 == nullptr) {
        return take_pending_error();
    }
    return std::string(utf8);
}

// What is wrong with `array` as the output `label` of `shape` whose items
// have the buffer format `format`, if anything; `buffer` then holds it.
Fallible<void> check_output(const NumpyHandles& numpy, PyObject* array, const std::string& label, const Shape& shape,
                             const char* format, BufferView& buffer) {
    const int is_array = PyObject_IsInstance(array, numpy.ndarray);
    if (is_array < 0) {
        return take_pending_error();
    }
    if (is_array == 0) {
        Fallible<std::string> name = type_name(array);
        VELARIX_PASS_ON_FAILURE(name);
        return ErrorValue::deferred(PyExc_TypeError, label + " must be a numpy.ndarray, not " + name.value());
    }
    Fallible<void> acquired = buffer.acquire(array, PyBUF_RECORDS_RO);
    VELARIX_PASS_ON_FAILURE(acquired);
    const Py_buffer& view = buffer.view();
    if (std::strcmp(view.format, format) != 0) {
        Fallible<std::string> dtype = dtype_text(array);
        VELARIX_PASS_ON_FAILURE(dtype);
        const char* wanted = std::strcmp(format, "d") == 0 ? "float64" : "int8";
        return ErrorValue::deferred(PyExc_TypeError,
                                    label + " must have dtype " + wanted + ", not " + dtype.value());
    }
    const Shape own = buffer.operand().shape;
    if (!std::ranges::equal(own.dimensions(), shape.dimensions())) {
        return ErrorValue::deferred(PyExc_ValueError, label + " has shape " + shape_text(own) +
                                                          ", not the broadcast shape " + shape_text(shape));
    }
    if (PyBuffer_IsContiguous(&view, 'C') == 0) {
        return ErrorValue::deferred(PyExc_ValueError, label + " must be C-contiguous");
    }
    if (view.readonly != 0) {
        return ErrorValue::deferred(PyExc_ValueError, label + " is read-only");
    }
    return {};
}

}  // namespace

Fallible<void> Outputs::prepare(const NumpyHandles& numpy, const Shape& shape, std::size_t count, bool with_reasons,
                                PyObject* out) {
    count_ = count;
    entries_ = count + (with_reasons ? 1 : 0);
    Fallible<void> ready = out == nullptr || out == Py_None ? allocate(numpy, shape) : wrap(numpy, shape, out);
    if (ready.ok()) {
        point_at_buffers();
    }
    return ready;
}

Fallible<void> Outputs::allocate(const NumpyHandles& numpy, const Shape& shape) {
    OwnedRef dimensions = expect_new_reference(PyTuple_New(static_cast<Py_ssize_t>(shape.ndim)));
    for (std::size_t d = 0; d < shape.ndim; ++d) {
        PyObject* extent = PyLong_FromSsize_t(shape.extent[d]);
        if (extent == nullptr || PyTuple_SetItem(dimensions.get(), static_cast<Py_ssize_t>(d), extent) < 0) {
            return take_pending_error();
        }
    }
    for (std::size_t i = 0; i < entries_; ++i) {
        PyObject* dtype = i < count_ ? numpy.float64 : numpy.int8;
        arrays_[i] = OwnedRef::steal(PyObject_CallFunctionObjArgs(numpy.empty, dimensions.get(), dtype, nullptr));
        if (!arrays_[i]) {
            return take_pending_error();
        }
        Fallible<void> acquired = buffers_[i].acquire(arrays_[i].get(), PyBUF_CONTIG);
        VELARIX_PASS_ON_FAILURE(acquired);
    }
    return {};
}

Fallible<void> Outputs::wrap(const NumpyHandles& numpy, const Shape& shape, PyObject* out) {
    given_ = true;
    const bool in_tuple = PyTuple_Check(out);
    if (!in_tuple && entries_ > 1) {
        return ErrorValue::deferred(PyExc_TypeError, "'out' must be a tuple of arrays");
    }
    if (in_tuple && PyTuple_Size(out) != static_cast<Py_ssize_t>(entries_)) {
        return ErrorValue::deferred(PyExc_ValueError, "the 'out' tuple must have one array per output, " +
                                                          std::to_string(entries_) + ", not " +
                                                          std::to_string(PyTuple_Size(out)));
    }
    for (std::size_t i = 0; i < entries_; ++i) {
        PyObject* array = in_tuple ? PyTuple_GetItem(out, static_cast<Py_ssize_t>(i)) : out;
        const char* format = i < count_ ? "d" : "b";
        Fallible<void> accepted = check_output(numpy, array, out_label(in_tuple, i), shape, format, buffers_[i]);
        VELARIX_PASS_ON_FAILURE(accepted);
        arrays_[i] = OwnedRef::borrow(array);
    }
    // Two outputs in the same memory would take each other's results.
    for (std::size_t i = 0; i < entries_; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const Py_ssize_t item_size = buffers_[i].view().itemsize;
            if (byte_range(buffers_[i].operand(), item_size)
                    .meets(byte_range(buffers_[j].operand(), buffers_[j].view().itemsize))) {
                return ErrorValue::deferred(PyExc_ValueError, out_label(in_tuple, i) + " shares memory with " +
                                                                  out_label(in_tuple, j));
            }
        }
    }
    return {};
}

void Outputs::point_at_buffers() {
    for (std::size_t i = 0; i < count_; ++i) {
        data_[i] = static_cast<double*>(buffers_[i].view().buf);
    }
    if (entries_ > count_) {
        reasons_ = static_cast<std::int8_t*>(buffers_[count_].view().buf);
    }
}

bool Outputs::overlaps(const StridedOperand& operand, Py_ssize_t item_size) const {
    if (!given_) {
        return false;  // new arrays share memory with nothing
    }
    const ByteRange input = byte_range(operand, item_size);
    for (std::size_t i = 0; i < entries_; ++i) {
        if (input.meets(byte_range(buffers_[i].operand(), buffers_[i].view().itemsize))) {
            return true;
        }
    }
    return false;
}

Fallible<OwnedRef> Outputs::take_array(OwnedRef& array, const Shape& shape) const {
    if (given_) {
        return OwnedRef::borrow(array.get());
    }
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

}  // namespace velarix
