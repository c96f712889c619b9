// The method definitions of a module and their docstrings, generated from the
// table of pricing functions: the same summary, parameter lines and returns for both
// modules, with what velarix_batch adds (array-likes, threads, the shape of
// the result).
#pragma once

#include <array>
#include <span>
#include <string>

#include "pricing_functions.h"
#include "python_prelude.h"

namespace velarix {

// One function of a module: its entry in the table and its entry point
// (METH_VARARGS | METH_KEYWORDS).
struct ModuleFunction {
    const FunctionDefinition* definition;
    PyCFunctionWithKeywords entry;
};

enum class ModuleKind { Scalar, Batch };

// The docstring with its text signature line, as help() and inspect read it.
std::string docstring(const FunctionDefinition& function, ModuleKind kind);

// The method definitions, and the docstrings they point to, live for the life
// of the process because every function object refers to them. The last
// definition is the zeroed end marker.
class MethodDefinitions {
public:
    MethodDefinitions(std::span<const ModuleFunction, kFunctions.size()> functions, ModuleKind kind);
    MethodDefinitions(const MethodDefinitions&) = delete;
    MethodDefinitions& operator=(const MethodDefinitions&) = delete;

    std::span<PyMethodDef, kFunctions.size()> functions() { return std::span(methods_).first<kFunctions.size()>(); }
    // With the end marker, as PyModule_AddFunctions reads it.
    PyMethodDef* terminated() { return methods_.data(); }

private:
    std::array<std::string, kFunctions.size()> docs_;
    std::array<PyMethodDef, kFunctions.size() + 1> methods_{};
};

}  // namespace velarix
