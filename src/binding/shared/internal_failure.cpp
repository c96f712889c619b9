// Internal failures: their report to stderr, the exception that carries them
// through the binding, and the PanicException class that carries them to
// Python.
#include "internal_failure.h"

#include <optional>
#include <string>

#include "matched_texts.h"

namespace velarix {
namespace {

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
            PyErr_NewExceptionWithDoc(matched_text::kPanicExceptionName, kPanicDoc, PyExc_BaseException, nullptr);
    }
    return panic_exception_class;
}

}  // namespace

bool is_panic_exception(PyObject* exception) {
    // Before the class exists no instance of it can exist either.
    return panic_exception_class != nullptr && PyErr_GivenExceptionMatches(exception, panic_exception_class);
}

void pass_on_panic(OwnedRef exception) {
    OwnedRef text = OwnedRef::steal(PyObject_Str(exception.get()));
    std::optional<std::string> message = text ? utf8_of(text.get()) : std::nullopt;
    PyErr_Clear();
    PySys_WriteStderr("velarix: a PanicException was raised inside a call; passing it on:\n");
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    fail_internally(message.value_or(matched_text::kGenericPanicMessage));
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
        fail_internally(matched_text::kApiCallFailed, where);
    }
    return OwnedRef::steal(result);
}

void raise_panic(const char* message) noexcept {
    PyObject* type = panic_exception_type();
    if (type == nullptr) {
        return;  // the class could not be created: its MemoryError is raised instead
    }
    OwnedRef text = OwnedRef::steal(PyUnicode_FromString(message != nullptr ? message : matched_text::kGenericPanicMessage));
    if (!text) {
        return;
    }
    OwnedRef exception = new_exception(type, text.get());
    if (exception) {
        PyErr_SetRaisedException(exception.release());
    }
}

}  // namespace velarix
