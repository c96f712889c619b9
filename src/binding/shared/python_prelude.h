// The Python prelude of the binding: the limited API every file is compiled
// against, Python.h, and OwnedRef, the holder of one strong reference. Every
// file of the binding that touches the interpreter includes this first.
#pragma once

// The limited API of CPython 3.12, so that one abi3 build serves 3.12 and
// every later version. The build defines the same value.
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030C0000
#endif
#if Py_LIMITED_API != 0x030C0000
#error "velarix is built against the limited API of CPython 3.12"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace velarix {

// Owns one strong reference, released exactly once.
class OwnedRef {
public:
    OwnedRef() = default;
    static OwnedRef steal(PyObject* object) { return OwnedRef(object); }
    static OwnedRef borrow(PyObject* object) {
        Py_XINCREF(object);
        return OwnedRef(object);
    }
    OwnedRef(OwnedRef&& other) noexcept : object_(other.release()) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        OwnedRef(std::move(other)).swap(*this);
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    ~OwnedRef() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit OwnedRef(PyObject* object) : object_(object) {}
    void swap(OwnedRef& other) noexcept { std::swap(object_, other.object_); }

    PyObject* object_ = nullptr;
};

}  // namespace velarix
