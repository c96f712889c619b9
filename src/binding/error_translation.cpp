// Raising error values, taking the interpreter's pending exception, and the
// PanicException class that carries internal failures to Python.
#include "error_translation.h"

#include <string>

namespace velarix {
namespace {

constexpr const char* kNoExceptionSetMessage = "attempted to fetch exception but none was set";
constexpr const char* kGenericPanicMessage = "velarix native code failed unexpectedly";
constexpr const char* kUnknownTypeName = "<failed to extract type name>";

constexpr const char* kPanicDoc =
    "\n"
    "The exception raised when the native code of velarix, called from Python, fails internally.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Created on first need and kept for the life of the process.
PyObject* panic_exception_class = nullptr;

PyObject* panic_exception_type() {
    if (panic_exception_class == nullptr) {
        panic_exception_class =
            PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
    }
    return panic_exception_class;
}

bool is_panic_exception(PyObject* exception) {
    // Before the class exists no instance of it can exist either.
    return panic_exception_class != nullptr && PyErr_GivenExceptionMatches(exception, panic_exception_class);
}

// The text of a str, or nothing when it cannot be encoded (its error cleared).
std::optional<std::string> utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

std::string qualified_type_name(PyObject* type) {
    OwnedRef name = OwnedRef::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(type)));
    if (!name) {
        PyErr_Clear();
        return kUnknownTypeName;
    }
    return utf8_of(name.get()).value_or(kUnknownTypeName);
}

std::string mismatch_message(PyObject* offending_type, const char* target) {
    // Appended piece by piece: GCC 12 warns (-Wrestrict) about a literal
    // prepended to a temporary string, a known false alarm.
    std::string message = "'";
    message += qualified_type_name(offending_type);
    message += "' object cannot be converted to '";
    message += target;
    message += "'";
    return message;
}

void set_error_from_text(PyObject* type, const std::string& message) {
    OwnedRef text = OwnedRef::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) {
        PyErr_SetObject(type, text.get());
    }
    // Otherwise the interpreter's MemoryError stays pending in its place.
}

}  // namespace

void ErrorValue::raise() && {
    if (auto* deferred = std::get_if<Deferred>(&form_)) {
        set_error_from_text(deferred->type, deferred->message);
    } else if (auto* mismatch = std::get_if<Mismatch>(&form_)) {
        set_error_from_text(PyExc_TypeError, mismatch_message(mismatch->offending_type.get(), mismatch->target));
    } else {
        PyErr_SetRaisedException(std::get_if<Raised>(&form_)->exception.release());
    }
}

ErrorValue ErrorValue::tagged_with_argument(const char* parameter) && {
    const std::string prefix = std::string("argument '") + parameter + "': ";
    OwnedRef message;
    OwnedRef cause;
    if (auto* raised_form = std::get_if<Raised>(&form_)) {
        PyObject* original = raised_form->exception.get();
        if (Py_TYPE(original) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
            return std::move(*this);
        }
        // %S is str() of the original exception.
        message = OwnedRef::steal(PyUnicode_FromFormat("%s%S", prefix.c_str(), original));
        cause = OwnedRef::steal(PyException_GetCause(original));
    } else {
        std::string text;
        if (auto* deferred = std::get_if<Deferred>(&form_)) {
            if (deferred->type != PyExc_TypeError) {
                return std::move(*this);
            }
            text = prefix + deferred->message;
        } else {
            const Mismatch& mismatch = *std::get_if<Mismatch>(&form_);
            text = prefix + mismatch_message(mismatch.offending_type.get(), mismatch.target);
        }
        message = OwnedRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    }
    // The original error itself is not the cause; its own cause is.
    return with_cause(PyExc_TypeError, std::move(message), std::move(cause));
}

ErrorValue ErrorValue::with_cause(PyObject* type, OwnedRef message, OwnedRef cause) {
    if (!message) {
        return take_pending_error();
    }
    OwnedRef exception = new_exception(type, message.get());
    if (!exception) {
        return take_pending_error();
    }
    // Also sets __suppress_context__, even when there is no cause.
    PyException_SetCause(exception.get(), cause.release());
    return raised(std::move(exception));
}

std::optional<ErrorValue> take_pending_exception() {
    OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
    if (!exception) {
        return std::nullopt;
    }
    if (is_panic_exception(exception.get())) {
        OwnedRef text = OwnedRef::steal(PyObject_Str(exception.get()));
        std::optional<std::string> message = text ? utf8_of(text.get()) : std::nullopt;
        PyErr_Clear();
        PySys_WriteStderr("velarix: a PanicException was raised inside a call; passing it on:\n");
        PyErr_SetRaisedException(exception.release());
        PyErr_PrintEx(0);
        fail_internally(message.value_or(kGenericPanicMessage));
    }
    return ErrorValue::raised(std::move(exception));
}

ErrorValue take_pending_error() {
    std::optional<ErrorValue> pending = take_pending_exception();
    if (pending) {
        return std::move(*pending);
    }
    return ErrorValue::deferred(PyExc_SystemError, kNoExceptionSetMessage);
}

std::string describe_pending_exception() {
    OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
    if (!exception) {
        return kNoExceptionSetMessage;
    }
    std::string description = qualified_type_name(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())));
    OwnedRef text = OwnedRef::steal(PyObject_Str(exception.get()));
    std::optional<std::string> message = text ? utf8_of(text.get()) : std::nullopt;
    PyErr_Clear();
    if (message && !message->empty()) {
        description += ": " + *message;
    }
    return description;
}

void report_internal_failure(const char* message, const char* place) noexcept {
    PySys_FormatStderr("velarix: internal failure in %s: %s\n", place, message);
}

void fail_internally(const std::string& message, CodePlace where) {
    const std::string place =
        std::string(where.function) + " (" + where.file + ":" + std::to_string(where.line) + ")";
    report_internal_failure(message.c_str(), place.c_str());
    throw InternalFailure(message);
}

OwnedRef expect_new_reference(PyObject* result, CodePlace where) {
    if (result == nullptr) {
        PyErr_Print();
        fail_internally("Python API call failed", where);
    }
    return OwnedRef::steal(result);
}

void raise_panic(const char* message) noexcept {
    PyObject* type = panic_exception_type();
    if (type == nullptr) {
        return;  // the class could not be created: its MemoryError is raised instead
    }
    OwnedRef text = OwnedRef::steal(PyUnicode_FromString(message != nullptr ? message : kGenericPanicMessage));
    if (!text) {
        return;
    }
    OwnedRef exception = new_exception(type, text.get());
    if (exception) {
        PyErr_SetRaisedException(exception.release());
    }
}

}  // namespace velarix
