"""What dumps makes of a numpy it cannot rely on: one that fails to import,
and arrays whose interface capsule is not what it should be. Each runs in a
fresh interpreter whose `numpy` is a stand-in module, since numpy is looked
up once per process."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

# The stand-in numpy's ndarray serves whatever interface record a case describes;
# it keeps the record and its arrays alive as long as the instance lives.
FAKE_NUMPY = r'''
import ctypes

class Interface(ctypes.Structure):
    _fields_ = [("two", ctypes.c_int), ("nd", ctypes.c_int), ("typekind", ctypes.c_char),
                ("itemsize", ctypes.c_int), ("flags", ctypes.c_int),
                ("shape", ctypes.POINTER(ctypes.c_ssize_t)), ("strides", ctypes.POINTER(ctypes.c_ssize_t)),
                ("data", ctypes.c_void_p), ("descr", ctypes.c_void_p)]

_capsule_new = ctypes.pythonapi.PyCapsule_New
_capsule_new.restype = ctypes.py_object
_capsule_new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]

C_CONTIGUOUS, NOT_SWAPPED = 0x1, 0x200


def sizes(values):
    return (ctypes.c_ssize_t * max(len(values), 1))(*values) if values is not None else None


class Dtype:
    def __init__(self, descr):
        self._descr = descr

    @property
    def descr(self):
        if isinstance(self._descr, BaseException):
            raise self._descr
        return self._descr


class ndarray:
    def __init__(self, data=b"", typekind=b"i", itemsize=4, shape=None, strides=None, flags=C_CONTIGUOUS | NOT_SWAPPED,
                 two=2, nd=None, null_data=False, capsule_name=None, attribute=None, descr=None):
        self.buffer = ctypes.create_string_buffer(data, max(len(data), 1))
        self.shape, self.strides = sizes(shape), sizes(strides)
        self.record = Interface(two, len(shape or ()) if nd is None else nd, typekind, itemsize, flags,
                                self.shape, self.strides, None if null_data else ctypes.addressof(self.buffer), None)
        self.capsule_name, self.attribute, self.dtype_descr = capsule_name, attribute, descr

    @property
    def __array_struct__(self):
        if isinstance(self.attribute, BaseException):
            raise self.attribute
        if self.attribute is not None:
            return self.attribute
        return _capsule_new(ctypes.addressof(self.record), self.capsule_name, None)

    @property
    def dtype(self):
        if isinstance(self.dtype_descr, BaseException):
            raise self.dtype_descr
        return Dtype(self.dtype_descr)
'''

# Runs each case and prints its outcome: the output, or the message and the
# type of the cause, and whether default was called.
CHILD = r'''
import json, struct, sys
import stand_in as fake
import vellum

def run(make, default=False):
    called = []
    def fallback(obj):
        called.append(type(obj).__name__)
        return "default"
    try:
        out = vellum.dumps(make(), fallback if default else None, vellum.OPT_SERIALIZE_NUMPY)
        result = ["ok", out.decode()]
    except vellum.JSONEncodeError as e:
        result = ["error", str(e), type(e.__cause__).__name__ if e.__cause__ else None]
    assert sys.exc_info() == (None, None, None)
    return result + [called]

i32 = lambda *v: struct.pack(f"{len(v)}i", *v)
f64 = lambda *v: struct.pack(f"{len(v)}d", *v)
A = fake.ndarray
CASES = {CASES}
print(json.dumps({name: run(*case) for name, case in CASES.items()}))
'''

MALFORMED = "numpy array is malformed"
NOT_CONTIGUOUS = "numpy array is not C contiguous; use ndarray.tolist() in default"


def run_child(tmp_path, cases, import_failure=None):
    # numpy is the stand-in's ndarray, or fails to import after defining it.
    (tmp_path / "stand_in.py").write_text(FAKE_NUMPY)
    package = tmp_path / "numpy"
    package.mkdir()
    init = "from stand_in import ndarray\n"
    if import_failure:
        init += f"raise {import_failure}\n"
    (package / "__init__.py").write_text(init)
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([str(tmp_path)] + [p for p in [env.get("PYTHONPATH")] if p])
    code = CHILD.replace("{CASES}", textwrap.dedent(cases))
    done = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


CASES = """{
    "int32 row": (lambda: A(i32(1, -2, 3), shape=[3], strides=[4]),),
    "float64 matrix": (lambda: A(f64(1.5, 2, 3, 4), b"f", 8, shape=[2, 2], strides=[16, 8]),),
    "extent one, any stride": (lambda: A(i32(7, 8), shape=[1, 2], strides=[999, 4]),),
    "empty, no data": (lambda: A(shape=[0, 5], strides=[0, 0], null_data=True),),
    "two is not 2": (lambda: A(i32(1), shape=[1], strides=[4], two=3),),
    "two is not 2, with default": (lambda: A(i32(1), shape=[1], strides=[4], two=3), True),
    "negative dimensions": (lambda: A(i32(1), shape=[1], strides=[4], nd=-1),),
    "too many dimensions": (lambda: A(i32(1), shape=[1] * 65, strides=[4] * 65),),
    "no shape": (lambda: A(i32(1), shape=None, strides=[4], nd=1),),
    "no strides": (lambda: A(i32(1), shape=[1], strides=None),),
    "negative extent": (lambda: A(i32(1), shape=[-1], strides=[4]),),
    "no data": (lambda: A(shape=[2], strides=[4], null_data=True),),
    "strides not C order": (lambda: A(i32(1, 2, 3, 4), shape=[2, 2], strides=[4, 8]),),
    "strides overrun": (lambda: A(i32(1, 2), shape=[2], strides=[8]),),
    "flag says not contiguous": (lambda: A(i32(1, 2), shape=[2], strides=[4], flags=0x200),),
    "not contiguous, with default": (lambda: A(i32(1, 2), shape=[2], strides=[4], flags=0x200), True),
    "flag says swapped": (lambda: A(i32(1, 2), shape=[2], strides=[4], flags=0x1), True),
    "complex": (lambda: A(f64(1, 2), b"c", 16, shape=[1], strides=[16]), True),
    "zero dimensions": (lambda: A(i32(5), shape=[], strides=[]), True),
    "attribute raises": (lambda: A(attribute=ValueError("no interface")),),
    "attribute raises, with default": (lambda: A(attribute=ValueError("no interface")), True),
    "attribute not a capsule": (lambda: A(attribute=42),),
    "capsule of another name": (lambda: A(i32(1), shape=[1], strides=[4], capsule_name=b"other"),),
    "datetime64 seconds": (lambda: A(struct.pack("q", 86400), b"M", 8, shape=[1], strides=[8],
                                     descr=[("", "<M8[s]")]),),
    "datetime64 unit text with multiplier": (lambda: A(struct.pack("q", 1), b"M", 8, shape=[1], strides=[8],
                                                       descr=[("", "<M8[10s]")]),),
    "datetime64 multiplier, with default": (lambda: A(struct.pack("q", 1), b"M", 8, shape=[1], strides=[8],
                                                      descr=[("", "<M8[10s]")]), True),
    "datetime64 dtype raises": (lambda: A(struct.pack("q", 1), b"M", 8, shape=[1], strides=[8],
                                          descr=RuntimeError("dtype")),),
    "datetime64 descr not a list": (lambda: A(struct.pack("q", 1), b"M", 8, shape=[1], strides=[8],
                                              descr="<M8[s]"),),
    "datetime64 descr empty": (lambda: A(struct.pack("q", 1), b"M", 8, shape=[1], strides=[8], descr=[]),),
    "datetime64 type string not str": (lambda: A(struct.pack("q", 1), b"M", 8, shape=[1], strides=[8],
                                                 descr=[("", b"<M8[s]")]),),
    "datetime64 type string short": (lambda: A(struct.pack("q", 1), b"M", 8, shape=[1], strides=[8],
                                               descr=[("", "<M")]),),
    "datetime64 surrogate": (lambda: A(struct.pack("q", 1), b"M", 8, shape=[1], strides=[8],
                                       descr=[("", "<M8[\\ud800]")]),),
    "datetime64 empty, unreadable unit": (lambda: A(shape=[0], strides=[8], typekind=b"M", itemsize=8,
                                                    descr=RuntimeError("dtype")),),
}"""

EXPECTED = {
    "int32 row": ["ok", "[1,-2,3]", []],
    "float64 matrix": ["ok", "[[1.5,2.0],[3.0,4.0]]", []],
    "extent one, any stride": ["ok", "[[7,8]]", []],
    "empty, no data": ["ok", "[]", []],
    "two is not 2": ["error", MALFORMED, None, []],
    "two is not 2, with default": ["error", MALFORMED, None, []],
    "negative dimensions": ["error", MALFORMED, None, []],
    "too many dimensions": ["error", MALFORMED, None, []],
    "no shape": ["error", MALFORMED, None, []],
    "no strides": ["error", MALFORMED, None, []],
    "negative extent": ["error", MALFORMED, None, []],
    "no data": ["error", MALFORMED, None, []],
    "strides not C order": ["error", MALFORMED, None, []],
    "strides overrun": ["error", MALFORMED, None, []],
    "flag says not contiguous": ["error", NOT_CONTIGUOUS, None, []],
    "not contiguous, with default": ["ok", '"default"', ["ndarray"]],
    "flag says swapped": ["error", "numpy array is not native-endianness", None, []],
    "complex": ["ok", '"default"', ["ndarray"]],
    "zero dimensions": ["ok", '"default"', ["ndarray"]],
    "attribute raises": ["error", MALFORMED, "ValueError", []],
    "attribute raises, with default": ["error", MALFORMED, "ValueError", []],
    "attribute not a capsule": ["error", MALFORMED, None, []],
    "capsule of another name": ["error", MALFORMED, "ValueError", []],
    "datetime64 seconds": ["ok", '["1970-01-02T00:00:00"]', []],
    "datetime64 unit text with multiplier": ["error", "unsupported numpy.datetime64 unit: 10s", None, []],
    "datetime64 multiplier, with default": ["ok", '"default"', ["ndarray"]],
    "datetime64 dtype raises": ["error", "unsupported numpy.datetime64 unit: NaT", None, []],
    "datetime64 descr not a list": ["error", "unsupported numpy.datetime64 unit: NaT", None, []],
    "datetime64 descr empty": ["error", "unsupported numpy.datetime64 unit: NaT", None, []],
    "datetime64 type string not str": ["error", "unsupported numpy.datetime64 unit: NaT", None, []],
    "datetime64 type string short": ["error", "unsupported numpy.datetime64 unit: NaT", None, []],
    "datetime64 surrogate": ["error", "unsupported numpy.datetime64 unit: NaT", None, []],
    "datetime64 empty, unreadable unit": ["ok", "[]", []],
}


@pytest.fixture(scope="module")
def interface_outcomes(tmp_path_factory):
    return run_child(tmp_path_factory.mktemp("fake"), CASES)


@pytest.mark.parametrize("case", list(EXPECTED))
def test_interface_record(interface_outcomes, case):
    assert interface_outcomes[case] == EXPECTED[case]


UNAVAILABLE_CASES = """{
    "plain object": (lambda: object(),),
    "plain object, with default": (lambda: object(), True),
    "json types": (lambda: {"a": [1, 2.5, None, "x"]},),
    "array stand-in": (lambda: A(i32(1), shape=[1], strides=[4]), True),
}"""


@pytest.mark.parametrize("failure", ["ImportError('no numpy here')", "RuntimeError('broken install')"])
def test_numpy_that_cannot_be_imported(tmp_path, failure):
    # The module's ndarray exists, then its import fails: nothing of it is
    # used, and no exception escapes from the probe.
    outcomes = run_child(tmp_path, UNAVAILABLE_CASES, import_failure=failure)
    assert outcomes == {
        "plain object": ["error", "Type is not JSON serializable: object", None, []],
        "plain object, with default": ["ok", '"default"', ["object"]],
        "json types": ["ok", '{"a":[1,2.5,null,"x"]}', []],
        "array stand-in": ["ok", '"default"', ["ndarray"]],
    }


INTERRUPTED_IMPORT = r'''
import json, struct, stand_in
import vellum

outcomes = []
for _ in range(2):
    try:
        out = vellum.dumps([stand_in.ndarray(struct.pack("i", 7), shape=[1], strides=[4])],
                           option=vellum.OPT_SERIALIZE_NUMPY)
        outcomes.append(["ok", out.decode()])
    except BaseException as e:
        outcomes.append([type(e).__name__, e is stand_in.raised])
print(json.dumps(outcomes))
'''


@pytest.mark.parametrize("failure", ["KeyboardInterrupt", "SystemExit", "MemoryError"])
def test_numpy_import_interrupted(tmp_path, failure):
    # The exception reaches the caller as it is, and numpy is not taken to
    # be absent: the next call imports it.
    (tmp_path / "stand_in.py").write_text(FAKE_NUMPY + f"\nraised = {failure}()\npending = [raised]\n")
    package = tmp_path / "numpy"
    package.mkdir()
    (package / "__init__.py").write_text(
        "import stand_in\nfrom stand_in import ndarray\nif stand_in.pending:\n    raise stand_in.pending.pop()\n"
    )
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([str(tmp_path)] + [p for p in [env.get("PYTHONPATH")] if p])
    done = subprocess.run(
        [sys.executable, "-c", INTERRUPTED_IMPORT], env=env, capture_output=True, text=True, cwd=tmp_path
    )
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) == [[failure, True], ["ok", "[[7]]"]]
