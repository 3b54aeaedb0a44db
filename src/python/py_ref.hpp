// A minimal owning reference to a Python object, so no path leaks or double-frees.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tavrel::python {

class PyRef {
  public:
    PyRef() = default;
    explicit PyRef(PyObject* owned) : object_(owned) {}
    static PyRef borrow(PyObject* borrowed) {
        Py_XINCREF(borrowed);
        return PyRef(borrowed);
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    PyObject* object_ = nullptr;
};

}  // namespace tavrel::python
