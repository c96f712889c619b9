// Reading velarix_batch's inputs. Every number becomes the bits the scalar
// module's PyFloat_AsDouble gives it: Python numbers, lists and object arrays
// through PyFloat_AsDouble itself, element by element; numeric arrays
// through numpy's conversion to float64, which is exact for bool, float16,
// float32 and either byte order and rounds integers to nearest as
// PyFloat_AsDouble does (the tests check each). Option types follow the
// scalar module's rules through its own parse_option_type.
#include "batch_columns.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "internal_failure.h"
#include "option_type_words.h"
#include "pricing_functions.h"
#include "value_conversion.h"

namespace velarix {
namespace {

bool is_list_or_tuple(PyObject* object) {
    return PyType_HasFeature(Py_TYPE(object), Py_TPFLAGS_LIST_SUBCLASS | Py_TPFLAGS_TUPLE_SUBCLASS);
}

// numpy.asarray(argument), or of dtype object for lists and tuples, whose
// elements are then read exactly as the scalar module reads one argument.
Fallible<OwnedRef> as_array(const NumpyHandles& numpy, PyObject* argument) {
    OwnedRef array = OwnedRef::steal(
        is_list_or_tuple(argument) ? PyObject_CallFunctionObjArgs(numpy.asarray, argument, numpy.object, nullptr)
                                   : PyObject_CallFunctionObjArgs(numpy.asarray, argument, nullptr));
    if (!array) {
        return take_pending_error();
    }
    return array;
}

// Whether numpy made a 0-d array of something that was not an array: one
// value, which is then read exactly as the scalar module reads an argument.
Fallible<bool> wraps_one_value(PyObject* array, PyObject* argument) {
    if (array == argument) {
        return false;
    }
    OwnedRef ndim = OwnedRef::steal(PyObject_GetAttrString(array, "ndim"));
    if (!ndim) {
        return take_pending_error();
    }
    const long dimensions = PyLong_AsLong(ndim.get());
    if (dimensions == -1 && PyErr_Occurred() != nullptr) {
        return take_pending_error();
    }
    return dimensions == 0;
}

// An array's dtype: its kind, numpy's one-letter code, and, for messages
// only, its name. numpy computes a dtype's name in Python, so the name is
// asked for only when a message needs it: bs_delta on seven arrays of one
// option took 16.9 us when each name was read, 5.8 us so.
Fallible<OwnedRef> dtype_of(PyObject* array) {
    OwnedRef dtype = OwnedRef::steal(PyObject_GetAttrString(array, "dtype"));
    if (!dtype) {
        return take_pending_error();
    }
    return dtype;
}

Fallible<char> dtype_kind(PyObject* dtype) {
    OwnedRef kind = OwnedRef::steal(PyObject_GetAttrString(dtype, "kind"));
    if (!kind) {
        return take_pending_error();
    }
    Py_ssize_t kind_size = 0;
    const char* kind_text = PyUnicode_AsUTF8AndSize(kind.get(), &kind_size);
    if (kind_text == nullptr || kind_size != 1) {
        return take_pending_error();
    }
    return kind_text[0];
}

// A str or bytes array is refused in the words the scalar module uses for
// one str or bytes.
Fallible<std::string> dtype_name(PyObject* dtype, char kind) {
    if (kind == 'U') {
        return std::string("str");
    }
    if (kind == 'S') {
        return std::string("bytes");
    }
    OwnedRef name = OwnedRef::steal(PyObject_GetAttrString(dtype, "name"));
    if (!name) {
        return take_pending_error();
    }
    Py_ssize_t name_size = 0;
    const char* name_text = PyUnicode_AsUTF8AndSize(name.get(), &name_size);
    if (name_text == nullptr) {
        return take_pending_error();
    }
    return std::string(name_text, static_cast<std::size_t>(name_size));
}

ErrorValue argument_type_error(const char* parameter, const std::string& message) {
    return ErrorValue::deferred(PyExc_TypeError, std::string("argument '") + parameter + "': " + message);
}

// Calls `visit(flat_index, element)` for each element of `operand` in C order
// until it returns an error.
template <typename Visit>
Fallible<void> for_each_element(const StridedOperand& operand, Visit&& visit) {
    const std::optional<Py_ssize_t> count = element_count(operand.shape);
    if (!count || *count == 0) {
        return {};
    }
    const std::array<const char*, 1> bases = {operand.data};
    const std::array<std::array<Py_ssize_t, kMaxDimensions>, 1> strides = {operand.strides};
    Odometer<1> at(operand.shape, bases, strides, 0);
    for (Py_ssize_t i = 0; i < *count; ++i, at.advance()) {
        Fallible<void> visited = visit(i, at[0]);
        VELARIX_PASS_ON_FAILURE(visited);
    }
    return {};
}

// An object array's element; numpy stores None where none was set.
OwnedRef object_at(const char* element) {
    PyObject* object = nullptr;
    std::memcpy(&object, element, sizeof object);
    return OwnedRef::borrow(object != nullptr ? object : Py_None);
}

StridedOperand contiguous_operand(const void* data, const Shape& shape, Py_ssize_t item_size) {
    StridedOperand operand;
    operand.data = static_cast<const char*>(data);
    operand.shape = shape;
    Py_ssize_t stride = item_size;
    for (std::size_t d = shape.ndim; d-- > 0;) {
        operand.strides[d] = stride;
        stride *= shape.extent[d];
    }
    return operand;
}

// "option_type[1, 2]": the element at flat index `flat` of `shape`.
std::string element_label(const Shape& shape, Py_ssize_t flat) {
    std::array<Py_ssize_t, kMaxDimensions> index{};
    for (std::size_t d = shape.ndim; d-- > 0;) {
        index[d] = flat % shape.extent[d];
        flat /= shape.extent[d];
    }
    std::string label = std::string(kParameterNames[kOptionTypeSlot]) + "[";
    if (shape.ndim == 0) {
        label += "()";
    }
    for (std::size_t d = 0; d < shape.ndim; ++d) {
        label += (d > 0 ? ", " : "") + std::to_string(index[d]);
    }
    return label + "]";
}

// The refusal of the word `word` at flat index `flat` of `shape`:
// "<velarix's text> (option_type[1]: 'straddle')".
ErrorValue invalid_option_type_at(const Shape& shape, Py_ssize_t flat, PyObject* word) {
    const std::string text = std::string(kInvalidOptionTypeMessage) + " (" + element_label(shape, flat) + ": ";
    OwnedRef message = OwnedRef::steal(PyUnicode_FromFormat("%s%R)", text.c_str(), word));
    if (!message) {
        return take_pending_error();
    }
    return ErrorValue::with_message_object(PyExc_ValueError, message.get());
}

// An element of a numpy str array as the str numpy makes of it: its code
// units without the NUL padding. Code units that are no character read as
// U+FFFD, so that the refusal of such an element can still show it.
Fallible<OwnedRef> str_element(const char* element, std::size_t units, bool swapped) {
    std::size_t length = units;
    while (length > 0) {
        std::uint32_t unit = 0;
        std::memcpy(&unit, element + (length - 1) * kCodeUnitBytes, kCodeUnitBytes);
        if (unit != 0) {
            break;
        }
        --length;
    }
    const bool big_endian = (std::endian::native == std::endian::big) != swapped;
    int byte_order = big_endian ? 1 : -1;
    OwnedRef text = OwnedRef::steal(PyUnicode_DecodeUTF32(element, static_cast<Py_ssize_t>(length * kCodeUnitBytes),
                                                          "replace", &byte_order));
    if (!text) {
        return take_pending_error();
    }
    return text;
}

}  // namespace

Fallible<void> BufferView::acquire(PyObject* exporter, int flags) {
    if (PyObject_GetBuffer(exporter, &view_, flags) < 0) {
        return take_pending_error();
    }
    held_ = true;
    if (static_cast<std::size_t>(view_.ndim) > kMaxDimensions) {
        return ErrorValue::deferred(PyExc_ValueError, "velarix_batch takes arrays of at most " +
                                                          std::to_string(kMaxDimensions) + " dimensions, not " +
                                                          std::to_string(view_.ndim));
    }
    return {};
}

StridedOperand BufferView::operand() const {
    Shape shape;
    shape.ndim = static_cast<std::size_t>(view_.ndim);
    for (std::size_t d = 0; d < shape.ndim; ++d) {
        shape.extent[d] = view_.shape[d];
    }
    StridedOperand operand = contiguous_operand(view_.buf, shape, view_.itemsize);
    if (view_.strides != nullptr) {
        for (std::size_t d = 0; d < shape.ndim; ++d) {
            operand.strides[d] = view_.strides[d];
        }
    }
    return operand;
}

void NumberColumn::set_scalar(double value) {
    scalar_ = value;
    operand_ = StridedOperand{};
    operand_.data = reinterpret_cast<const char*>(&scalar_);
}

Fallible<void> NumberColumn::read_one(PyObject* argument, const char* parameter) {
    const double value = PyFloat_AsDouble(argument);
    if (value == -1.0) {
        Fallible<void> converted = conversion_failure(parameter);
        VELARIX_PASS_ON_FAILURE(converted);
    }
    set_scalar(value);
    return {};
}

Fallible<void> NumberColumn::read(const NumpyHandles& numpy, PyObject* argument, const char* parameter) {
    if (is_python_number(argument)) {
        return read_one(argument, parameter);
    }
    Fallible<OwnedRef> array = as_array(numpy, argument);
    if (!array.ok()) {
        return std::move(array.error()).tagged_with_argument(parameter);
    }
    Fallible<bool> one_value = wraps_one_value(array.value().get(), argument);
    VELARIX_PASS_ON_FAILURE(one_value);
    if (one_value.value()) {
        return read_one(argument, parameter);
    }
    Fallible<OwnedRef> dtype = dtype_of(array.value().get());
    VELARIX_PASS_ON_FAILURE(dtype);
    Fallible<char> kind = dtype_kind(dtype.value().get());
    VELARIX_PASS_ON_FAILURE(kind);
    switch (kind.value()) {
        case 'b':
        case 'i':
        case 'u':
        case 'f': {
            array_ = OwnedRef::steal(
                PyObject_CallFunctionObjArgs(numpy.asarray, array.value().get(), numpy.float64, nullptr));
            if (!array_) {
                return take_pending_error();
            }
            Fallible<void> acquired = buffer_.acquire(array_.get(), PyBUF_RECORDS_RO);
            VELARIX_PASS_ON_FAILURE(acquired);
            if (buffer_.view().itemsize != sizeof(double)) {
                fail_internally("numpy.asarray(..., float64) gave items of another size");
            }
            operand_ = buffer_.operand();
            return {};
        }
        case 'O':
            break;
        default: {
            Fallible<std::string> name = dtype_name(dtype.value().get(), kind.value());
            VELARIX_PASS_ON_FAILURE(name);
            return argument_type_error(parameter, "must be real number, not " + name.value());
        }
    }
    BufferView objects;
    Fallible<void> acquired = objects.acquire(array.value().get(), PyBUF_RECORDS_RO);
    VELARIX_PASS_ON_FAILURE(acquired);
    const StridedOperand source = objects.operand();
    converted_.resize(static_cast<std::size_t>(element_count(source.shape).value_or(0)));
    Fallible<void> failure =
        for_each_element(source, [&](Py_ssize_t i, const char* element) -> Fallible<void> {
            const OwnedRef object = object_at(element);
            const double value = PyFloat_AsDouble(object.get());
            if (value == -1.0) {
                Fallible<void> converted = conversion_failure(parameter);
                VELARIX_PASS_ON_FAILURE(converted);
            }
            converted_[static_cast<std::size_t>(i)] = value;
            return {};
        });
    VELARIX_PASS_ON_FAILURE(failure);
    operand_ = contiguous_operand(converted_.data(), source.shape, sizeof(double));
    return {};
}

void NumberColumn::copy_values() {
    std::vector<double> values(static_cast<std::size_t>(element_count(operand_.shape).value_or(0)));
    (void)for_each_element(operand_, [&](Py_ssize_t i, const char* element) -> Fallible<void> {
        std::memcpy(&values[static_cast<std::size_t>(i)], element, sizeof(double));
        return {};
    });
    converted_ = std::move(values);
    operand_ = contiguous_operand(converted_.data(), operand_.shape, sizeof(double));
}

void OptionTypeColumn::set_scalar(OptionType type) {
    types_.assign(1, static_cast<unsigned char>(type));
    operand_ = StridedOperand{};
    operand_.data = reinterpret_cast<const char*>(types_.data());
}

Fallible<void> OptionTypeColumn::read_one(PyObject* argument) {
    Fallible<OptionType> type = option_type_of(argument);
    VELARIX_PASS_ON_FAILURE(type);
    set_scalar(type.value());
    return {};
}

Fallible<void> OptionTypeColumn::read(const NumpyHandles& numpy, PyObject* argument) {
    if (PyType_HasFeature(Py_TYPE(argument), Py_TPFLAGS_UNICODE_SUBCLASS)) {
        return read_one(argument);
    }
    Fallible<OwnedRef> array = as_array(numpy, argument);
    if (!array.ok()) {
        return std::move(array.error()).tagged_with_argument(kParameterNames[kOptionTypeSlot]);
    }
    Fallible<bool> one_value = wraps_one_value(array.value().get(), argument);
    VELARIX_PASS_ON_FAILURE(one_value);
    if (one_value.value()) {
        return read_one(argument);
    }
    Fallible<OwnedRef> dtype = dtype_of(array.value().get());
    VELARIX_PASS_ON_FAILURE(dtype);
    Fallible<char> dtype_kind_read = dtype_kind(dtype.value().get());
    VELARIX_PASS_ON_FAILURE(dtype_kind_read);
    const char kind = dtype_kind_read.value();
    if (kind != 'U' && kind != 'O') {
        Fallible<std::string> name = dtype_name(dtype.value().get(), kind);
        VELARIX_PASS_ON_FAILURE(name);
        return argument_type_error(kParameterNames[kOptionTypeSlot],
                                   "'" + name.value() + "' object cannot be converted to 'PyString'");
    }
    BufferView buffer;
    Fallible<void> acquired = buffer.acquire(array.value().get(), PyBUF_RECORDS_RO);
    VELARIX_PASS_ON_FAILURE(acquired);
    const StridedOperand source = buffer.operand();
    types_.resize(static_cast<std::size_t>(element_count(source.shape).value_or(0)));
    const std::size_t units = static_cast<std::size_t>(buffer.view().itemsize) / kCodeUnitBytes;
    const bool swapped = kind == 'U' && swapped_byte_order(buffer.view().format);
    KnownWords known(kind == 'U' ? static_cast<std::size_t>(buffer.view().itemsize) : 0);
    Fallible<void> failure =
        for_each_element(source, [&](Py_ssize_t i, const char* element) -> Fallible<void> {
            std::optional<OptionType> type = known.find(element);
            if (type) {
                types_[static_cast<std::size_t>(i)] = static_cast<unsigned char>(*type);
                return {};
            }
            if (kind == 'U') {
                type = parse_ucs4(element, units, swapped);
                if (!type) {
                    Fallible<OwnedRef> word = str_element(element, units, swapped);
                    VELARIX_PASS_ON_FAILURE(word);
                    return invalid_option_type_at(source.shape, i, word.value().get());
                }
            } else {
                const OwnedRef object = object_at(element);
                Fallible<std::optional<OptionType>> parsed = option_type_element(object.get());
                VELARIX_PASS_ON_FAILURE(parsed);
                type = parsed.value();
                if (!type) {
                    return invalid_option_type_at(source.shape, i, object.get());
                }
            }
            known.remember(element, *type);
            types_[static_cast<std::size_t>(i)] = static_cast<unsigned char>(*type);
            return {};
        });
    VELARIX_PASS_ON_FAILURE(failure);
    operand_ = contiguous_operand(types_.data(), source.shape, 1);
    return {};
}

}  // namespace velarix
