// PyRef owns one reference to a Python object. A raw PyObject* enters only through Steal (the
// caller hands over a new reference) or Borrow (a new reference is taken), so every reference's
// owner is written down and no reference is dropped by hand.
//
// PRECONDITION for every operation that touches a non-null object (construction by Borrow,
// copying, assignment, destruction): the calling thread holds the interpreter lock. Debug builds
// check it.
#pragma once

#include <Python.h>

#include <cassert>
#include <utility>

class PyRef {
public:
    PyRef() = default;
    ~PyRef() {
        assert(!object || PyGILState_Check());
        Py_XDECREF(object);
    }

    // Takes over a new reference (a null pointer makes an empty PyRef).
    static PyRef Steal(PyObject* newReference) { return PyRef(newReference); }
    // Takes a reference of its own to a borrowed object.
    static PyRef Borrow(PyObject* borrowed) {
        assert(!borrowed || PyGILState_Check());
        Py_XINCREF(borrowed);
        return PyRef(borrowed);
    }

    PyRef(const PyRef& other) : object(other.object) {
        assert(!object || PyGILState_Check());
        Py_XINCREF(object);
    }
    PyRef(PyRef&& other) noexcept : object(std::exchange(other.object, nullptr)) {}
    PyRef& operator=(PyRef other) noexcept {
        std::swap(object, other.object);
        return *this;
    }

    PyObject* Get() const { return object; }
    explicit operator bool() const { return object != nullptr; }

    // Hands the reference to the caller, which owns it from then on.
    PyObject* Release() { return std::exchange(object, nullptr); }
    // Drops the reference now.
    void Reset() { PyRef().Swap(*this); }
    void Swap(PyRef& other) noexcept { std::swap(object, other.object); }

private:
    explicit PyRef(PyObject* newReference) : object(newReference) {}

    PyObject* object = nullptr;
};
