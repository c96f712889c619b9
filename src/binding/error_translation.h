// How failures travel through the binding and reach Python. Operations return
// a Fallible: their result, or an ErrorValue that is raised only at the entry
// point. Internal failures are C++ exceptions that the failure guard turns
// into pyo3_runtime.PanicException, so that nothing native ever escapes into
// the interpreter and the interpreter keeps running.
#pragma once

#include "python_prelude.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace velarix {

class ErrorValue;
ErrorValue take_pending_error();

// A new exception instance of `type` with the single argument `message`;
// empty, with the interpreter's error pending, when that fails.
inline OwnedRef new_exception(PyObject* type, PyObject* message) {
    return OwnedRef::steal(PyObject_CallFunctionObjArgs(type, message, nullptr));
}

// A failure on its way to the boundary. The deferred forms create no Python
// object until they are raised; the raised form holds an exception object.
class ErrorValue {
public:
    // `type` is one of the interpreter's built-in exception types.
    static ErrorValue deferred(PyObject* type, std::string message) {
        return ErrorValue(Deferred{type, std::move(message)});
    }
    // "'<type of object>' object cannot be converted to '<target>'", a TypeError.
    static ErrorValue conversion_mismatch(PyObject* object, const char* target) {
        return ErrorValue(Mismatch{OwnedRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(object))), target});
    }
    static ErrorValue raised(OwnedRef exception) { return ErrorValue(Raised{std::move(exception)}); }
    // A new exception of `type` whose single argument is the str `message`.
    static ErrorValue with_message_object(PyObject* type, PyObject* message) {
        OwnedRef exception = new_exception(type, message);
        return exception ? raised(std::move(exception)) : take_pending_error();
    }

    // A new exception of `type` with the str `message` (empty when making it
    // failed, with the interpreter's error pending) and `cause` as __cause__.
    static ErrorValue with_cause(PyObject* type, OwnedRef message, OwnedRef cause);

    // Sets the interpreter's error indicator and gives up the value.
    void raise() &&;

    // The same failure as a TypeError prefixed with "argument '<name>': " when
    // it is exactly a TypeError; any other exception unchanged.
    ErrorValue tagged_with_argument(const char* parameter) &&;

private:
    struct Deferred {
        PyObject* type;
        std::string message;
    };
    struct Mismatch {
        OwnedRef offending_type;
        const char* target;
    };
    struct Raised {
        OwnedRef exception;
    };

    template <typename Form>
    explicit ErrorValue(Form form) : form_(std::move(form)) {}

    std::variant<Deferred, Mismatch, Raised> form_;
};

// The result of a binding operation, or the reason it failed.
template <typename Value>
class [[nodiscard]] Fallible {
public:
    Fallible(Value value) : state_(std::in_place_index<0>, std::move(value)) {}
    Fallible(ErrorValue error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    Value& value() { return *std::get_if<0>(&state_); }
    ErrorValue& error() { return *std::get_if<1>(&state_); }

private:
    std::variant<Value, ErrorValue> state_;
};

// The pending exception, if any. A PanicException raised by code the binding
// called (a __float__ method, say) is reported and passed on as an internal
// failure, so the caller receives a PanicException with the same message.
std::optional<ErrorValue> take_pending_exception();

// After an interpreter call reported failure: its exception, or SystemError
// when it set none.
ErrorValue take_pending_error();

// "TypeName: message" of the pending exception, which it clears.
std::string describe_pending_exception();

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

}  // namespace velarix
