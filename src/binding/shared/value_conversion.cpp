// One Python argument or result at a time. The usual option-type spellings
// are recognised by identity with interned words and cost no text decoding;
// the option-type text is the string's own UTF-8 buffer, never a copy.
#include "value_conversion.h"

#include <array>
#include <string>
#include <string_view>

#include "greeks_type.h"
#include "internal_failure.h"
#include "matched_texts.h"
#include "pricing_functions.h"

namespace velarix {
namespace {

// The interned words "call", "c", "put" and "p". A string literal in Python
// code is interned, so the usual spellings arrive as these very objects and
// are read by identity, without decoding; any other string is read as text.
struct InternedWord {
    const char* text;
    OptionType type;
};
constexpr std::array<InternedWord, 4> kInternedWords = {
    {{"call", OptionType::Call}, {"put", OptionType::Put}, {"c", OptionType::Call}, {"p", OptionType::Put}}};
std::array<PyObject*, kInternedWords.size()> interned_words{};

std::optional<OptionType> interned_option_type(PyObject* argument) {
    for (std::size_t i = 0; i < kInternedWords.size(); ++i) {
        if (argument == interned_words[i]) {
            return kInternedWords[i].type;
        }
    }
    return std::nullopt;
}

Fallible<std::string_view> to_utf8(PyObject* argument, std::size_t parameter) {
    if (!PyType_HasFeature(Py_TYPE(argument), Py_TPFLAGS_UNICODE_SUBCLASS)) {
        return ErrorValue::conversion_mismatch(argument, matched_text::kStrTarget)
            .tagged_with_argument(kParameterNames[parameter]);
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(argument, &size);
    if (text == nullptr) {
        return take_pending_error().tagged_with_argument(kParameterNames[parameter]);
    }
    return std::string_view(text, static_cast<std::size_t>(size));
}

}  // namespace

Fallible<void> conversion_failure(const char* parameter) {
    Fallible<void> pending = take_pending_exception();
    if (!pending.ok()) {
        return std::move(pending.error()).tagged_with_argument(parameter);
    }
    return {};
}

ErrorValue invalid_option_type() {
    return ErrorValue::deferred(PyExc_ValueError, std::string(kInvalidOptionTypeMessage));
}

Fallible<std::optional<OptionType>> option_type_element(PyObject* argument) {
    if (const std::optional<OptionType> known = interned_option_type(argument)) {
        return known;
    }
    Fallible<std::string_view> text = to_utf8(argument, kOptionTypeSlot);
    VELARIX_PASS_ON_FAILURE(text);
    return parse_option_type(text.value());
}

Fallible<OptionType> option_type_of(PyObject* argument) {
    Fallible<std::optional<OptionType>> read = option_type_element(argument);
    VELARIX_PASS_ON_FAILURE(read);
    if (const std::optional<OptionType> type = read.value()) {
        return *type;
    }
    return invalid_option_type();
}

Fallible<OwnedRef> to_python(const PricingResult<double>& result) {
    if (!result.has_value()) {
        return ErrorValue::deferred(PyExc_ValueError, result.error().display());
    }
    if (PyObject* number = PyFloat_FromDouble(result.value())) {
        return OwnedRef::steal(number);
    }
    return expect_new_reference(nullptr);
}

Fallible<OwnedRef> to_python(const PricingResult<Greeks>& result) {
    if (!result.has_value()) {
        return ErrorValue::deferred(PyExc_ValueError, result.error().display());
    }
    return new_py_greeks(result.value());
}

Fallible<void> intern_option_type_words() {
    for (std::size_t i = 0; i < kInternedWords.size(); ++i) {
        if (interned_words[i] == nullptr) {
            PyObject* word = PyUnicode_InternFromString(kInternedWords[i].text);
            if (word == nullptr) {
                return take_pending_error();
            }
            interned_words[i] = word;  // kept for the life of the process
        }
    }
    return {};
}

}  // namespace velarix
