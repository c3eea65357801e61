/* Test-only allocator hook: fails the N-th allocation made through the
 * interpreter's PyMem_* and PyObject_* allocators after arm(N), so that a
 * test can walk N over every allocation of an operation. The raw domain is
 * left alone: the interpreter's own bookkeeping lives there, not ours. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

typedef struct {
    PyMemAllocatorEx wrapped;
} Hook;

static Hook hooks[2];                      /* PYMEM_DOMAIN_MEM, PYMEM_DOMAIN_OBJ */
static const PyMemAllocatorDomain domains[2] = {PYMEM_DOMAIN_MEM, PYMEM_DOMAIN_OBJ};
static int installed = 0;
static Py_ssize_t countdown = 0;           /* 0: not armed */
static Py_ssize_t seen = 0;                /* allocations since arm() */
static int failed = 0;                     /* the armed allocation was refused */
static int counting = 0;

/* Called at the refusal: a place for a debugger's breakpoint, to see which
 * allocation a walk's step refused. */
__attribute__((noinline)) static void refusing(void) { __asm__ volatile(""); }

/* True when this allocation is the one to refuse. */
static int refuse(void) {
    if (!counting) return 0;
    ++seen;
    if (countdown > 0 && --countdown == 0) {
        failed = 1;
        refusing();
        return 1;
    }
    return 0;
}

static void *hook_malloc(void *ctx, size_t size) {
    Hook *h = ctx;
    return refuse() ? NULL : h->wrapped.malloc(h->wrapped.ctx, size);
}

static void *hook_calloc(void *ctx, size_t nelem, size_t elsize) {
    Hook *h = ctx;
    return refuse() ? NULL : h->wrapped.calloc(h->wrapped.ctx, nelem, elsize);
}

static void *hook_realloc(void *ctx, void *ptr, size_t new_size) {
    Hook *h = ctx;
    return refuse() ? NULL : h->wrapped.realloc(h->wrapped.ctx, ptr, new_size);
}

static void hook_free(void *ctx, void *ptr) {
    Hook *h = ctx;
    h->wrapped.free(h->wrapped.ctx, ptr);
}

static void install(void) {
    if (installed) return;
    for (int i = 0; i < 2; ++i) {
        PyMem_GetAllocator(domains[i], &hooks[i].wrapped);
        PyMemAllocatorEx alloc = {&hooks[i], hook_malloc, hook_calloc, hook_realloc, hook_free};
        PyMem_SetAllocator(domains[i], &alloc);
    }
    installed = 1;
}

/* arm(n): count allocations from now on and refuse the n-th (n = 0 only
 * counts). */
static PyObject *arm(PyObject *Py_UNUSED(module), PyObject *arg) {
    Py_ssize_t n = PyLong_AsSsize_t(arg);
    if (n < 0) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "n must be >= 0");
        return NULL;
    }
    seen = 0;
    failed = 0;
    countdown = n;
    counting = 1;
    Py_RETURN_NONE;
}

/* disarm() -> (allocations seen, whether the armed one was refused). */
static PyObject *disarm(PyObject *Py_UNUSED(module), PyObject *Py_UNUSED(unused)) {
    counting = 0;
    countdown = 0;
    return Py_BuildValue("(nO)", seen, failed ? Py_True : Py_False);
}

static PyMethodDef methods[] = {
    {"arm", arm, METH_O, NULL},
    {"disarm", disarm, METH_NOARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static int exec_module(PyObject *Py_UNUSED(module)) {
    install();
    return 0;
}

static PyModuleDef_Slot slots[] = {
    {Py_mod_exec, exec_module},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, NULL},
};

static struct PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "failalloc", NULL, 0, methods, slots, NULL, NULL, NULL,
};

PyMODINIT_FUNC PyInit_failalloc(void) { return PyModuleDef_Init(&definition); }
