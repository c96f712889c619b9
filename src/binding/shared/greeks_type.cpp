// The PyGreeks heap type, from a PyType_Spec: no constructor, no subclassing,
// no instance dictionary, not tracked by the garbage collector. Instances hold
// five doubles copied bit for bit and never change.
#include "greeks_type.h"

#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "decimal_text.h"
#include "internal_failure.h"
#include "matched_texts.h"

namespace velarix {
namespace {

struct PyGreeksObject {
    PyObject_HEAD
    double delta;
    double gamma;
    double theta;
    double vega;
    double rho;
};

PyGreeksObject* as_greeks(PyObject* self) { return reinterpret_cast<PyGreeksObject*>(self); }

template <double PyGreeksObject::*Field>
PyObject* get_field(PyObject* self, void*) {
    return guard_entry([&]() -> Fallible<OwnedRef> {
        return expect_new_reference(PyFloat_FromDouble(as_greeks(self)->*Field));
    });
}

void append(char*& out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    out += text.size();
}

PyObject* greeks_repr(PyObject* self) {
    return guard_entry([&]() -> Fallible<OwnedRef> {
        const PyGreeksObject& greeks = *as_greeks(self);
        const std::array<std::pair<std::string_view, double>, 5> fields = {{
            {matched_text::kGreeksReprPrefix, greeks.delta},
            {", gamma=", greeks.gamma},
            {", theta=", greeks.theta},
            {", vega=", greeks.vega},
            {", rho=", greeks.rho},
        }};
        std::array<char, 5 * (16 + kFixed6MaxLength)> text;
        char* out = text.data();
        for (const auto& [label, value] : fields) {
            append(out, label);
            out = format_fixed6(value, out);
        }
        append(out, ")");
        return expect_new_reference(PyUnicode_FromStringAndSize(text.data(), out - text.data()));
    });
}

PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
    return guard_entry([&]() -> Fallible<OwnedRef> {
        OwnedRef name = OwnedRef::steal(PyType_GetName(type));
        if (!name) {
            PyErr_Clear();
            return ErrorValue::deferred(PyExc_TypeError, std::string(matched_text::kNoConstructor) + "<unknown>");
        }
        OwnedRef message = OwnedRef::steal(PyUnicode_FromFormat("%s%U", matched_text::kNoConstructor, name.get()));
        if (!message) {
            return take_pending_error();
        }
        return ErrorValue::with_message_object(PyExc_TypeError, message.get());
    });
}

void deallocate(PyObject* self) {
    guard_unraisable([&] {
        // Heap-type instances own a reference to their type, released last.
        PyTypeObject* type = Py_TYPE(self);
        auto free_instance = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free_instance(self);
        Py_DECREF(reinterpret_cast<PyObject*>(type));
    });
}

PyGetSetDef greeks_attributes[] = {
    {"delta", get_field<&PyGreeksObject::delta>, nullptr, "", nullptr},
    {"gamma", get_field<&PyGreeksObject::gamma>, nullptr, "", nullptr},
    {"theta", get_field<&PyGreeksObject::theta>, nullptr, "", nullptr},
    {"vega", get_field<&PyGreeksObject::vega>, nullptr, "", nullptr},
    {"rho", get_field<&PyGreeksObject::rho>, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot greeks_slots[] = {
    {Py_tp_doc, const_cast<char*>("Container for all option Greeks returned to Python")},
    {Py_tp_repr, reinterpret_cast<void*>(greeks_repr)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(deallocate)},
    {Py_tp_getset, greeks_attributes},
    {0, nullptr},
};

PyType_Spec greeks_spec = {
    matched_text::kGreeksQualifiedName,
    static_cast<int>(sizeof(PyGreeksObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    greeks_slots,
};

// The one owned reference to the type, never released.
PyObject* greeks_type = nullptr;

}  // namespace

Fallible<PyObject*> py_greeks_type() {
    if (greeks_type != nullptr) {
        return greeks_type;
    }
    PyObject* created = PyType_FromSpec(&greeks_spec);
    if (created != nullptr) {
        greeks_type = created;
        return greeks_type;
    }
    OwnedRef cause = OwnedRef::steal(PyErr_GetRaisedException());
    OwnedRef message = OwnedRef::steal(
        PyUnicode_FromFormat("%s%s", matched_text::kClassInitializationFailed, matched_text::kGreeksClassName));
    return ErrorValue::with_cause(PyExc_RuntimeError, std::move(message), std::move(cause));
}

Fallible<OwnedRef> new_py_greeks(const Greeks& greeks) {
    Fallible<PyObject*> type = py_greeks_type();
    if (!type.ok()) {
        std::move(type.error()).raise();
        PyErr_PrintEx(0);
        fail_internally(std::string("failed to create type object for ") + matched_text::kGreeksClassName);
    }
    auto* type_object = reinterpret_cast<PyTypeObject*>(type.value());
    auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type_object, Py_tp_alloc));
    if (allocate == nullptr) {
        allocate = PyType_GenericAlloc;
    }
    PyObject* instance = allocate(type_object, 0);
    if (instance == nullptr) {
        fail_internally("could not allocate a PyGreeks instance: " + describe_pending_exception());
    }
    PyGreeksObject& fields = *as_greeks(instance);
    fields.delta = greeks.delta;
    fields.gamma = greeks.gamma;
    fields.theta = greeks.theta;
    fields.vega = greeks.vega;
    fields.rho = greeks.rho;
    return OwnedRef::steal(instance);
}

}  // namespace velarix
