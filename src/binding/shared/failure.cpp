// Raising error values, the messages they are raised with, and taking the
// interpreter's pending exception.
#include "failure.h"

#include <string>

#include "internal_failure.h"
#include "matched_texts.h"

namespace velarix {

std::optional<std::string> utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

namespace {

std::string qualified_type_name(PyObject* type) {
    OwnedRef name = OwnedRef::steal(PyType_GetQualName(reinterpret_cast<PyTypeObject*>(type)));
    if (!name) {
        PyErr_Clear();
        return matched_text::kUnknownTypeName;
    }
    return utf8_of(name.get()).value_or(matched_text::kUnknownTypeName);
}

std::string mismatch_message(PyObject* offending_type, const char* target) {
    // Appended piece by piece: GCC 12 warns (-Wrestrict) about a literal
    // prepended to a temporary string, a known false alarm.
    std::string message = "'";
    message += qualified_type_name(offending_type);
    message += matched_text::kCannotBeConvertedTo;
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

Fallible<void> take_pending_exception() {
    OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
    if (!exception) {
        return {};
    }
    if (is_panic_exception(exception.get())) {
        pass_on_panic(std::move(exception));
    }
    return ErrorValue::raised(std::move(exception));
}

ErrorValue take_pending_error() {
    Fallible<void> pending = take_pending_exception();
    VELARIX_PASS_ON_FAILURE(pending);
    return ErrorValue::deferred(PyExc_SystemError, matched_text::kNoExceptionSet);
}

std::string describe_pending_exception() {
    OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
    if (!exception) {
        return matched_text::kNoExceptionSet;
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

}  // namespace velarix
