// The module object `velarix_batch`: PyInit_velarix_batch, its only exported
// symbol, with multi-phase initialisation. Executing the module imports
// numpy (the only module that needs it, so that `import velarix` works
// without), keeps its handles and the Greeks named tuple class in the module
// state, and adds the thirteen functions. The core keeps no per-interpreter
// state, but the option-type words are interned once per process, so other
// interpreters are refused.
#include <array>
#include <utility>
#include <vector>

#include "batch_dispatch.h"
#include "engine_functions.h"
#include "internal_failure.h"
#include "matched_texts.h"
#include "value_conversion.h"

namespace velarix {
namespace {

constexpr const char* kModuleDoc =
    "The velarix functions over arrays of options.\n"
    "\n"
    "Each function takes the arguments of its velarix namesake as numbers or\n"
    "array-likes that broadcast together, and returns float64 arrays whose\n"
    "every element is bit for bit the velarix result for that option. The\n"
    "work runs on several threads with the interpreter lock released; a call\n"
    "of one option of Python numbers is computed directly, at most about twice\n"
    "the cost of the velarix call.";

// What users are told to install when numpy is missing; tests match on it.

constexpr std::array<const char*, 5> kGreeksFields = {"delta", "gamma", "theta", "vega", "rho"};

BatchState& state_of(PyObject* module) { return *static_cast<BatchState*>(PyModule_GetState(module)); }

MethodDefinitions& method_definitions() {
    static MethodDefinitions table(batch_functions(), ModuleKind::Batch);
    return table;
}

Fallible<OwnedRef> attribute(PyObject* object, const char* name) {
    OwnedRef value = OwnedRef::steal(PyObject_GetAttrString(object, name));
    if (!value) {
        return take_pending_error();
    }
    return value;
}

// Whether `error` says that numpy itself is not installed: a
// ModuleNotFoundError for the name "numpy". Any other failure of an installed
// numpy (a broken build, a second load in one process) is reported as it is,
// not as a missing package.
bool numpy_is_missing(PyObject* error) {
    if (!PyErr_GivenExceptionMatches(error, PyExc_ModuleNotFoundError)) {
        return false;
    }
    OwnedRef name = OwnedRef::steal(PyObject_GetAttrString(error, "name"));
    if (!name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_Check(name.get()) && PyUnicode_CompareWithASCIIString(name.get(), "numpy") == 0;
}

Fallible<OwnedRef> import_numpy() {
    OwnedRef numpy = OwnedRef::steal(PyImport_ImportModule("numpy"));
    if (numpy) {
        return numpy;
    }
    OwnedRef cause = OwnedRef::steal(PyErr_GetRaisedException());
    if (!cause || !numpy_is_missing(cause.get())) {
        PyErr_SetRaisedException(cause.release());
        return take_pending_error();
    }
    return ErrorValue::with_cause(PyExc_ImportError, expect_new_reference(PyUnicode_FromString(matched_text::kMissingNumpy)),
                                  std::move(cause));
}

// collections.namedtuple("Greeks", fields, module="velarix_batch").
Fallible<OwnedRef> make_greeks_class() {
    OwnedRef collections = OwnedRef::steal(PyImport_ImportModule("collections"));
    if (!collections) {
        return take_pending_error();
    }
    Fallible<OwnedRef> namedtuple = attribute(collections.get(), "namedtuple");
    VELARIX_PASS_ON_FAILURE(namedtuple);
    OwnedRef fields = expect_new_reference(PyTuple_New(kGreeksFields.size()));
    for (std::size_t i = 0; i < kGreeksFields.size(); ++i) {
        PyObject* field = PyUnicode_FromString(kGreeksFields[i]);
        if (field == nullptr || PyTuple_SetItem(fields.get(), static_cast<Py_ssize_t>(i), field) < 0) {
            return take_pending_error();
        }
    }
    OwnedRef arguments = OwnedRef::steal(Py_BuildValue("(sO)", "Greeks", fields.get()));
    OwnedRef options = arguments ? OwnedRef::steal(Py_BuildValue("{ss}", "module", "velarix_batch")) : OwnedRef();
    if (!options) {
        return take_pending_error();
    }
    OwnedRef greeks = OwnedRef::steal(PyObject_Call(namedtuple.value().get(), arguments.get(), options.get()));
    if (!greeks) {
        return take_pending_error();
    }
    return greeks;
}

Fallible<void> add_object(PyObject* module, const char* name, OwnedRef value) {
    if (PyModule_AddObjectRef(module, name, value.get()) < 0) {
        return take_pending_error();
    }
    return {};
}

Fallible<void> execute(PyObject* module) {
    Fallible<void> interned_words = intern_option_type_words();
    VELARIX_PASS_ON_FAILURE(interned_words);
    Fallible<OwnedRef> numpy = import_numpy();
    VELARIX_PASS_ON_FAILURE(numpy);
    BatchState& state = state_of(module);
    const std::array<std::pair<PyObject**, const char*>, 5> handles = {{{&state.numpy.asarray, "asarray"},
                                                                        {&state.numpy.empty, "empty"},
                                                                        {&state.numpy.float64, "float64"},
                                                                        {&state.numpy.int8, "int8"},
                                                                        {&state.numpy.ndarray, "ndarray"}}};
    for (const auto& [slot, name] : handles) {
        Fallible<OwnedRef> handle = attribute(numpy.value().get(), name);
        VELARIX_PASS_ON_FAILURE(handle);
        *slot = handle.value().release();
    }
    state.numpy.object = OwnedRef::borrow(reinterpret_cast<PyObject*>(&PyBaseObject_Type)).release();
    Fallible<OwnedRef> greeks = make_greeks_class();
    VELARIX_PASS_ON_FAILURE(greeks);
    state.greeks_class = OwnedRef::borrow(greeks.value().get()).release();

    if (PyModule_AddFunctions(module, method_definitions().terminated()) < 0 ||
        PyModule_AddFunctions(module, engine_methods()) < 0) {
        return take_pending_error();
    }
    OwnedRef all = expect_new_reference(PyList_New(0));
    std::vector<const char*> names;
    for (const PyMethodDef& method : method_definitions().functions()) {
        names.push_back(method.ml_name);
    }
    for (const PyMethodDef* method = engine_methods(); method->ml_name != nullptr; ++method) {
        names.push_back(method->ml_name);
    }
    for (const char* function_name : names) {
        OwnedRef name = expect_new_reference(PyUnicode_FromString(function_name));
        if (PyList_Append(all.get(), name.get()) < 0) {
            return take_pending_error();
        }
    }
    for (const char* object_name : {"Greeks", "IMPLIED_VOLATILITY_REASONS"}) {
        OwnedRef name = expect_new_reference(PyUnicode_FromString(object_name));
        if (PyList_Append(all.get(), name.get()) < 0) {
            return take_pending_error();
        }
    }
    Fallible<void> added = add_object(module, "Greeks", std::move(greeks.value()));
    VELARIX_PASS_ON_FAILURE(added);
    Fallible<OwnedRef> reasons = implied_volatility_reasons();
    VELARIX_PASS_ON_FAILURE(reasons);
    added = add_object(module, "IMPLIED_VOLATILITY_REASONS", std::move(reasons.value()));
    VELARIX_PASS_ON_FAILURE(added);
    added = add_object(module, "__version__", expect_new_reference(PyUnicode_FromString(VELARIX_VERSION)));
    VELARIX_PASS_ON_FAILURE(added);
    return add_object(module, "__all__", std::move(all));
}

int execute_slot(PyObject* module) {
    OwnedRef outcome = OwnedRef::steal(guard_entry([&]() -> Fallible<OwnedRef> {
        Fallible<void> executed = execute(module);
        VELARIX_PASS_ON_FAILURE(executed);
        return OwnedRef::borrow(Py_None);
    }));
    return outcome ? 0 : -1;
}

std::array<PyObject**, 7> state_references(BatchState& state) {
    return {&state.numpy.asarray, &state.numpy.empty,  &state.numpy.float64, &state.numpy.int8,
            &state.numpy.ndarray, &state.numpy.object, &state.greeks_class};
}

int traverse_state(PyObject* module, visitproc visit, void* arg) {
    for (PyObject** reference : state_references(state_of(module))) {
        Py_VISIT(*reference);
    }
    return 0;
}

int clear_state(PyObject* module) {
    for (PyObject** reference : state_references(state_of(module))) {
        Py_CLEAR(*reference);
    }
    return 0;
}

void free_state(void* module) { clear_state(static_cast<PyObject*>(module)); }

std::array<PyModuleDef_Slot, 3> module_slots = {{
    {Py_mod_exec, reinterpret_cast<void*>(execute_slot)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
}};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "velarix_batch", kModuleDoc, sizeof(BatchState), nullptr, module_slots.data(),
    traverse_state,        clear_state,     free_state,
};

}  // namespace
}  // namespace velarix

PyMODINIT_FUNC PyInit_velarix_batch() { return PyModuleDef_Init(&velarix::module_definition); }
