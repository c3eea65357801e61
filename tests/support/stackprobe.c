/* Test-only stack gauge: paint() fills the next MiB of the calling thread's
 * stack below the caller with a pattern, used() tells how deep the stack
 * has been written into since, from the caller's frame. Used by
 * stack_costs.py to measure what a level of each kind of nesting costs. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define PATTERN 0xA5
#define SPAN (1u << 20)
#define GAP 512 /* left alone below paint's own frame */

static char *painted_low;
static char *painted_top;

static PyObject *paint(PyObject *self, PyObject *args) {
    (void)self;
    (void)args;
    painted_top = (char *)__builtin_frame_address(0) - GAP;
    painted_low = painted_top - SPAN;
    for (volatile char *p = painted_low; p < painted_top; ++p) *p = (char)PATTERN;
    Py_RETURN_NONE;
}

static PyObject *used(PyObject *self, PyObject *args) {
    (void)self;
    (void)args;
    const char *p = painted_low;
    while (p < painted_top && (unsigned char)*p == PATTERN) ++p;
    return PyLong_FromSsize_t(painted_top + GAP - p);
}

static PyMethodDef methods[] = {
    {"paint", paint, METH_NOARGS, "Paint the next MiB of this thread's stack."},
    {"used", used, METH_NOARGS, "Bytes of stack written since paint(), from its caller's frame."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "stackprobe", NULL, -1, methods};

PyMODINIT_FUNC PyInit_stackprobe(void) { return PyModule_Create(&module); }
