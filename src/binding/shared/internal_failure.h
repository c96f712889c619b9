// The failures no caller can cause, and the guard of every entry point.
// A state the binding does not expect to recover from (an interpreter call
// that should not fail, a native exception) is thrown as an InternalFailure
// after a report to stderr; the guard turns it into
// pyo3_runtime.PanicException, so that nothing native ever escapes into the
// interpreter and the interpreter keeps running. The guard also raises the
// ErrorValue of a Fallible body: the one place where failures reach Python.
#pragma once

#include "failure.h"

#include <stdexcept>
#include <string>

namespace velarix {

// Thrown for states the binding does not expect to recover from. The guard
// turns it into a PanicException carrying the message.
class InternalFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The place in the code where a failure arose. Its defaults, the compilers'
// builtins that std::source_location is made of, take the place of the call
// that leaves them out; unlike std::source_location they need no library
// support (Clang 14 with libstdc++ lacks it).
struct CodePlace {
    const char* function;
    const char* file;
    unsigned line;
};
inline CodePlace code_place(const char* function = __builtin_FUNCTION(), const char* file = __builtin_FILE(),
                            unsigned line = __builtin_LINE()) {
    return {function, file, line};
}

// Writes a report with the place of the failure to stderr, then throws.
[[noreturn]] void fail_internally(const std::string& message, CodePlace where = code_place());

// For interpreter calls that are not expected to fail: the new reference, or
// the pending error printed and an internal failure "Python API call failed".
OwnedRef expect_new_reference(PyObject* result, CodePlace where = code_place());

// Writes the report of an internal failure to stderr.
void report_internal_failure(const char* message, const char* place) noexcept;

// Raises a PanicException with `message`, or with a generic text when it is
// null (creating the class on first use).
void raise_panic(const char* message) noexcept;

// The failure guard of entry points and slots that return an object.
template <typename Body>
PyObject* guard_entry(Body&& body) noexcept {
    try {
        Fallible<OwnedRef> outcome = body();
        if (outcome.ok()) {
            return outcome.value().release();
        }
        std::move(outcome.error()).raise();
    } catch (const InternalFailure& failure) {
        raise_panic(failure.what());
    } catch (const std::exception& failure) {
        report_internal_failure(failure.what(), "a native exception");
        raise_panic(failure.what());
    } catch (...) {
        report_internal_failure("unknown native exception", "a native exception");
        raise_panic(nullptr);
    }
    return nullptr;
}

// The failure guard of slots that cannot raise: an internal failure is
// reported as an unraisable PanicException.
template <typename Body>
void guard_unraisable(Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& failure) {
        raise_panic(failure.what());
        PyErr_WriteUnraisable(nullptr);
    } catch (...) {
        raise_panic(nullptr);
        PyErr_WriteUnraisable(nullptr);
    }
}

// Whether `exception` is a PanicException (of this process's class).
bool is_panic_exception(PyObject* exception);

// A PanicException raised by code the binding called: printed, and passed on
// as an internal failure with its message.
[[noreturn]] void pass_on_panic(OwnedRef exception);

}  // namespace velarix
