// Owned Python references. A function that returns PyRef hands over a new
// reference; a plain PyObject* parameter or result is borrowed.
#pragma once

#include <utility>

#include "core/python.hpp"

namespace vellum {

class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference (may be null).
  static PyRef steal(PyObject* obj) { return PyRef(obj); }
  // Adds a reference to a borrowed object.
  static PyRef borrow(PyObject* obj) {
    Py_XINCREF(obj);
    return PyRef(obj);
  }

  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(obj_);
      obj_ = std::exchange(other.obj_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(obj_); }

  PyObject* get() const { return obj_; }
  explicit operator bool() const { return obj_ != nullptr; }
  // Gives the reference away to the caller.
  [[nodiscard]] PyObject* release() { return std::exchange(obj_, nullptr); }

 private:
  explicit PyRef(PyObject* obj) : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

}  // namespace vellum
