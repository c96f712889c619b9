// Texts that callers match on. Each is fixed: tests, users' except clauses
// and log filters compare them character for character, so none may be
// reworded, however it reads. The pricing errors' own texts ("Invalid option
// type", "Invalid parameters: ...") are the core's (pricing_result.cpp).
#pragma once

namespace velarix::matched_text {

// The qualified name of the exception class of internal failures: callers
// catch it by the name under which native extensions of its kind raise it.
inline constexpr const char* kPanicExceptionName = "pyo3_runtime.PanicException";
// The message of an internal failure whose exception carried no text.
inline constexpr const char* kGenericPanicMessage = "velarix native code failed unexpectedly";
// The internal failure of an interpreter call that was not expected to fail.
inline constexpr const char* kApiCallFailed = "Python API call failed";
// A SystemError for an interpreter call that failed without an exception.
inline constexpr const char* kNoExceptionSet = "attempted to fetch exception but none was set";

// The ImportError of velarix imported into a second interpreter.
inline constexpr const char* kSubinterpreterRefusal =
    "PyO3 modules do not yet support subinterpreters, see "
    "https://docs.python.org/3/howto/isolating-extensions.html";

// The TypeError of a value of the wrong type:
// "'<qualified type name>' object cannot be converted to '<target>'",
// with these names for the targets.
inline constexpr const char* kCannotBeConvertedTo = "' object cannot be converted to '";
inline constexpr const char* kStrTarget = "PyString";
inline constexpr const char* kListTarget = "PyList";
// The placeholder of a type whose name cannot be read.
inline constexpr const char* kUnknownTypeName = "<failed to extract type name>";

// The Greeks class: its name in the module, its qualified name (shown by
// repr(type) and pickling errors), the repr's prefix, and the TypeError of
// calling it.
inline constexpr const char* kGreeksClassName = "PyGreeks";
inline constexpr const char* kGreeksQualifiedName = "builtins.PyGreeks";
inline constexpr const char* kGreeksReprPrefix = "Greeks(delta=";
inline constexpr const char* kNoConstructor = "No constructor defined for ";
// The RuntimeError of a Greeks class that cannot be made.
inline constexpr const char* kClassInitializationFailed = "An error occurred while initializing class ";

// The ImportError of velarix_batch without numpy.
inline constexpr const char* kMissingNumpy = "velarix_batch needs numpy: pip install 'velarix[batch]'";

}  // namespace velarix::matched_text
