// The module object `velarix`: PyInit_velarix, the only exported symbol, and
// the one-time initialisation that adds the thirteen functions and PyGreeks
// and keeps __all__. The module is single-phase and keeps process-wide state,
// so it belongs to the first interpreter that imports it; every other
// interpreter is refused.
#include <atomic>
#include <cstdint>
#include <string>

#include "internal_failure.h"
#include "matched_texts.h"
#include "greeks_type.h"
#include "scalar_dispatch.h"
#include "value_conversion.h"

namespace velarix {
namespace {

constexpr const char* kModuleDoc =
    "Python module for option pricing Greeks calculations.\n"
    "\n"
    "This module provides functions for calculating option Greeks using:\n"
    "- Black-Scholes model (European options): bs_* functions\n"
    "- Bjerksund-Stensland model (American options): am_* functions";

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "velarix", kModuleDoc, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The first interpreter that imported the module; -1 until then.
std::atomic<std::int64_t> owning_interpreter{-1};
// The module of the first successful initialisation, never released.
PyObject* cached_module = nullptr;

// "__all__" and "__name__", interned once and kept.
PyObject* interned(PyObject*& cache, std::string_view text) {
    if (cache == nullptr) {
        PyObject* name =
            expect_new_reference(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())))
                .release();
        PyUnicode_InternInPlace(&name);
        cache = name;
    }
    return cache;
}
PyObject* all_name_cache = nullptr;
PyObject* name_name_cache = nullptr;
PyObject* all_name() { return interned(all_name_cache, "__all__"); }
PyObject* name_name() { return interned(name_name_cache, "__name__"); }

MethodDefinitions& method_definitions() {
    static MethodDefinitions table(scalar_functions(), ModuleKind::Scalar);
    return table;
}

// Appends `name` to the module's __all__ (creating the list if needed), then
// sets the attribute. Takes over both references.
Fallible<void> module_add(PyObject* module, OwnedRef name, OwnedRef value) {
    OwnedRef all = OwnedRef::steal(PyObject_GetAttr(module, all_name()));
    if (!all) {
        OwnedRef error = OwnedRef::steal(PyErr_GetRaisedException());
        if (!error || !PyErr_GivenExceptionMatches(error.get(), PyExc_AttributeError)) {
            PyErr_SetRaisedException(error.release());
            return take_pending_error();
        }
        all = expect_new_reference(PyList_New(0));
        if (PyObject_SetAttr(module, all_name(), all.get()) < 0) {
            return take_pending_error();
        }
    } else if (!PyType_HasFeature(Py_TYPE(all.get()), Py_TPFLAGS_LIST_SUBCLASS)) {
        return ErrorValue::conversion_mismatch(all.get(), matched_text::kListTarget);
    }
    if (PyList_Append(all.get(), name.get()) < 0) {
        fail_internally("could not append __name__ to __all__: " + describe_pending_exception());
    }
    if (PyObject_SetAttr(module, name.get(), value.get()) < 0) {
        return take_pending_error();
    }
    return {};
}

Fallible<void> add_function(PyObject* module, PyMethodDef& method) {
    OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
    if (!module_name) {
        return take_pending_error();
    }
    OwnedRef function = OwnedRef::steal(PyCMethod_New(&method, module, module_name.get(), nullptr));
    module_name = OwnedRef();
    if (!function) {
        return take_pending_error();
    }
    OwnedRef name = OwnedRef::steal(PyObject_GetAttr(function.get(), name_name()));
    if (!name) {
        return take_pending_error();
    }
    if (!PyType_HasFeature(Py_TYPE(name.get()), Py_TPFLAGS_UNICODE_SUBCLASS)) {
        return ErrorValue::conversion_mismatch(name.get(), matched_text::kStrTarget);
    }
    return module_add(module, std::move(name), std::move(function));
}

Fallible<void> initialise(PyObject* module) {
    Fallible<void> interned_words = intern_option_type_words();
    VELARIX_PASS_ON_FAILURE(interned_words);
    for (PyMethodDef& method : method_definitions().functions()) {
        Fallible<void> added = add_function(module, method);
        VELARIX_PASS_ON_FAILURE(added);
    }
    Fallible<PyObject*> type = py_greeks_type();
    VELARIX_PASS_ON_FAILURE(type);
    OwnedRef name = expect_new_reference(PyUnicode_FromString(matched_text::kGreeksClassName));
    return module_add(module, std::move(name), OwnedRef::borrow(type.value()));
}

constexpr std::int64_t kMainInterpreter = 0;

// Whether the importing interpreter is an isolated one. CPython 3.12 runs a
// single-phase module's initialisation in an isolated interpreter and refuses
// the module only afterwards, so claiming the module there would leave it
// owned by an interpreter that never had it, and refuse every other one. The
// stable ABI has no query for the setting that makes CPython refuse, so the
// interpreter is recognised by one that comes with it in every isolated
// configuration CPython creates: no daemon threads.
Fallible<bool> importer_is_isolated() {
    OwnedRef thread_module = OwnedRef::steal(PyImport_ImportModule("_thread"));
    if (!thread_module) {
        return take_pending_error();
    }
    OwnedRef allowed = OwnedRef::steal(PyObject_CallMethod(thread_module.get(), "daemon_threads_allowed", nullptr));
    if (!allowed) {
        return take_pending_error();
    }
    const int truth = PyObject_IsTrue(allowed.get());
    if (truth < 0) {
        return take_pending_error();
    }
    return truth == 0;
}

Fallible<OwnedRef> import_module() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1) {
        return take_pending_error();
    }
    if (interpreter != kMainInterpreter && owning_interpreter.load() == -1) {
        Fallible<bool> isolated = importer_is_isolated();
        VELARIX_PASS_ON_FAILURE(isolated);
        if (isolated.value()) {
            return ErrorValue::deferred(PyExc_ImportError, matched_text::kSubinterpreterRefusal);
        }
    }
    std::int64_t expected = -1;
    if (!owning_interpreter.compare_exchange_strong(expected, interpreter) && expected != interpreter) {
        return ErrorValue::deferred(PyExc_ImportError, matched_text::kSubinterpreterRefusal);
    }
    if (cached_module != nullptr) {
        return OwnedRef::borrow(cached_module);
    }
    OwnedRef module = OwnedRef::steal(PyModule_Create2(&module_definition, PYTHON_ABI_VERSION));
    if (!module) {
        return take_pending_error();
    }
    Fallible<void> initialised = initialise(module.get());
    VELARIX_PASS_ON_FAILURE(initialised);
    if (cached_module == nullptr) {
        cached_module = module.release();
    }
    return OwnedRef::borrow(cached_module);
}

}  // namespace
}  // namespace velarix

PyMODINIT_FUNC PyInit_velarix() {
    return velarix::guard_entry([] { return velarix::import_module(); });
}
