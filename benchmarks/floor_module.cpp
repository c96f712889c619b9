// The floor of the Python benchmark: a module with functions that have the
// calling convention of velarix's functions (METH_VARARGS | METH_KEYWORDS,
// called with their arguments). `empty` does nothing but return a new float:
// a velarix call cannot cost less than this plus its pricing core.
// `read_arguments` also makes the interpreter calls that any binding reading
// its arguments through the stable ABI must make (PyTuple_Size, then
// PyTuple_GetItem for each argument and PyFloat_AsDouble for each number),
// with no checks: the part of the binding's cost that it cannot shed.
#include <Python.h>

namespace {

PyObject* empty(PyObject*, PyObject*, PyObject*) { return PyFloat_FromDouble(1.0); }

PyObject* read_arguments(PyObject*, PyObject* positional, PyObject*) {
    constexpr Py_ssize_t kNumbers = 6;
    const Py_ssize_t given = PyTuple_Size(positional);
    double sum = 0.0;
    for (Py_ssize_t i = 0; i < given; ++i) {
        PyObject* argument = PyTuple_GetItem(positional, i);
        if (i < kNumbers) {
            sum += PyFloat_AsDouble(argument);
        }
    }
    return PyFloat_FromDouble(sum);
}

PyMethodDef floor_methods[] = {
    {"empty", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(empty)), METH_VARARGS | METH_KEYWORDS,
     "Return a new float, ignoring the arguments."},
    {"read_arguments", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_arguments)),
     METH_VARARGS | METH_KEYWORDS, "Read every argument as the stable ABI allows, then return a new float."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef floor_module = {PyModuleDef_HEAD_INIT, "velarix_floor", "The benchmark's empty function.", -1,
                            floor_methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_velarix_floor() { return PyModule_Create(&floor_module); }
