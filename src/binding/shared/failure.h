// How the failures a caller can cause travel through the binding: every
// operation returns a Fallible, its result or an ErrorValue, which is raised
// only at the entry point (internal_failure.h holds the entry points' guard
// and the failures no caller can cause).
#pragma once

#include "python_prelude.h"

#include <optional>
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

// The one way a binding operation fails: it returns a Fallible, its result
// or the ErrorValue that stops the call, and the caller passes a failure on
// with VELARIX_PASS_ON_FAILURE. Only the entry point's guard raises it.
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

// An operation with no result of its own: success (`return {};`) or the failure.
template <>
class [[nodiscard]] Fallible<void> {
public:
    Fallible() = default;
    Fallible(ErrorValue error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    ErrorValue& error() { return *error_; }

private:
    std::optional<ErrorValue> error_;
};

// Returns the failure of `fallible`, a named Fallible, from the enclosing
// operation, which returns a Fallible of any kind or an ErrorValue.
#define VELARIX_PASS_ON_FAILURE(fallible)          \
    do {                                           \
        if (!(fallible).ok()) {                    \
            return std::move((fallible).error());  \
        }                                          \
    } while (false)

// Success when no exception is pending, else the pending exception, taken.
// A PanicException raised by code the binding called (a __float__ method,
// say) is reported and passed on as an internal failure, so the caller
// receives a PanicException with the same message.
Fallible<void> take_pending_exception();

// The text of a str, or nothing when it cannot be encoded (its error cleared).
std::optional<std::string> utf8_of(PyObject* text);

// After an interpreter call reported failure: its exception, or SystemError
// when it set none.
ErrorValue take_pending_error();

// "TypeName: message" of the pending exception, which it clears.
std::string describe_pending_exception();

}  // namespace velarix
