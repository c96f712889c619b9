// Argument binding: positional arguments into their slots, keywords by name,
// and the refusals worded as the interpreter words them for a Python
// function. A successful binding allocates nothing: the slots are a fixed
// array of borrowed references, and messages are formatted only on failure.
#include "argument_binding.h"

#include <string>
#include <string_view>

namespace velarix {
namespace {

constexpr std::size_t kNoParameter = Slots{}.size();

std::string function_label(const ParameterSpec& spec) { return std::string(spec.function_name) + "()"; }

ErrorValue type_error(std::string message) { return ErrorValue::deferred(PyExc_TypeError, std::move(message)); }

const char* slot_name(std::size_t slot, const ParameterSpec& spec) {
    return slot >= kKeywordOnlySlot ? spec.keyword_only[slot - kKeywordOnlySlot] : spec.names[slot];
}

ErrorValue too_many_positional(const ParameterSpec& spec, Py_ssize_t given) {
    return type_error(function_label(spec) + " takes from " + std::to_string(spec.required_count) + " to " +
                      std::to_string(spec.parameter_count) + " positional arguments but " + std::to_string(given) +
                      " were given");
}

ErrorValue unexpected_keyword(const ParameterSpec& spec, PyObject* key) {
    OwnedRef text = OwnedRef::steal(PyObject_Str(key));
    if (!text) {
        return take_pending_error();
    }
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size)) {
        return type_error(function_label(spec) + " got an unexpected keyword argument '" +
                          std::string(utf8, static_cast<std::size_t>(size)) + "'");
    }
    // A key that UTF-8 cannot hold (a lone surrogate): keep it as it is.
    PyErr_Clear();
    OwnedRef message = OwnedRef::steal(
        PyUnicode_FromFormat("%s() got an unexpected keyword argument '%U'", spec.function_name, text.get()));
    if (!message) {
        return take_pending_error();
    }
    return ErrorValue::with_message_object(PyExc_TypeError, message.get());
}

ErrorValue multiple_values(const ParameterSpec& spec, std::size_t slot) {
    return type_error(function_label(spec) + " got multiple values for argument '" + slot_name(slot, spec) + "'");
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
ErrorValue missing_arguments(const ParameterSpec& spec, const Slots& slots) {
    std::array<const char*, kParameterNames.size()> missing{};
    std::size_t count = 0;
    for (std::size_t i = 0; i < spec.required_count; ++i) {
        if (slots[i] == nullptr) {
            missing[count++] = spec.names[i];
        }
    }
    std::string names;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            names += count > 2 ? "," : "";
            names += i + 1 == count ? " and " : " ";
        }
        names += std::string("'") + missing[i] + "'";
    }
    return type_error(function_label(spec) + " missing " + std::to_string(count) + " required positional " +
                      (count == 1 ? "argument" : "arguments") + ": " + names);
}

// The slot of the parameter whose name has exactly these bytes, or kNoParameter.
std::size_t slot_named(const ParameterSpec& spec, std::string_view key) {
    for (std::size_t i = 0; i < spec.parameter_count; ++i) {
        if (key == spec.names[i]) {
            return i;
        }
    }
    for (std::size_t i = 0; i < kMaxKeywordOnly; ++i) {
        if (spec.keyword_only[i] != nullptr && key == spec.keyword_only[i]) {
            return kKeywordOnlySlot + i;
        }
    }
    return kNoParameter;
}

// Copies the first `given` positional arguments into the slots; the caller
// has checked that there are no more than the function takes.
Fallible<void> unpack_positional(PyObject* positional, std::size_t given, Slots& slots) {
    for (std::size_t i = 0; i < given; ++i) {
        slots[i] = PyTuple_GetItem(positional, static_cast<Py_ssize_t>(i));
        if (slots[i] == nullptr) {
            return take_pending_error();
        }
    }
    return {};
}

}  // namespace

bool bind_positional_only(const ParameterSpec& spec, PyObject* positional, PyObject* keywords, Slots& slots) {
    if (keywords != nullptr) {
        return false;
    }
    const Py_ssize_t given = PyTuple_Size(positional);
    if (given < static_cast<Py_ssize_t>(spec.required_count) || given > static_cast<Py_ssize_t>(spec.parameter_count)) {
        return false;
    }
    for (Py_ssize_t i = 0; i < given; ++i) {
        slots[static_cast<std::size_t>(i)] = PyTuple_GetItem(positional, i);
        if (slots[static_cast<std::size_t>(i)] == nullptr) {
            PyErr_Clear();  // bind_arguments meets the same failure and reports it
            return false;
        }
    }
    return true;
}

Fallible<Slots> bind_arguments(const ParameterSpec& spec, PyObject* positional, PyObject* keywords) {
    Slots slots{};
    const Py_ssize_t given = PyTuple_Size(positional);
    if (given < 0) {
        return take_pending_error();
    }
    const auto given_count = static_cast<std::size_t>(given);
    if (given_count > spec.parameter_count) {
        return too_many_positional(spec, given);
    }
    Fallible<void> unpacked = unpack_positional(positional, given_count, slots);
    VELARIX_PASS_ON_FAILURE(unpacked);
    if (keywords != nullptr) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(keywords, &position, &key, &value)) {
            Py_ssize_t size = 0;
            const char* name = PyUnicode_AsUTF8AndSize(key, &size);
            if (name == nullptr) {
                PyErr_Clear();
                return unexpected_keyword(spec, key);
            }
            const std::size_t slot = slot_named(spec, std::string_view(name, static_cast<std::size_t>(size)));
            if (slot == kNoParameter) {
                return unexpected_keyword(spec, key);
            }
            if (slots[slot] != nullptr) {
                return multiple_values(spec, slot);
            }
            slots[slot] = value;
        }
    }
    for (std::size_t i = given_count; i < spec.required_count; ++i) {
        if (slots[i] == nullptr) {
            return missing_arguments(spec, slots);
        }
    }
    return slots;
}

}  // namespace velarix
