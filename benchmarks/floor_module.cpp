// The floor of the Python benchmark: a module with one function that has the
// calling convention of velarix's functions (METH_VARARGS | METH_KEYWORDS,
// called with their arguments) and does nothing but return a new float. A
// velarix call cannot cost less than this plus its pricing core.
#include <Python.h>

namespace {

PyObject* empty(PyObject*, PyObject*, PyObject*) { return PyFloat_FromDouble(1.0); }

PyMethodDef floor_methods[] = {
    {"empty", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(empty)), METH_VARARGS | METH_KEYWORDS,
     "Return a new float, ignoring the arguments."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef floor_module = {PyModuleDef_HEAD_INIT, "velarix_floor", "The benchmark's empty function.", -1,
                            floor_methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_velarix_floor() { return PyModule_Create(&floor_module); }
