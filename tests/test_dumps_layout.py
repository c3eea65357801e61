import json

import pytest

import vellum

INDENT = vellum.OPT_INDENT_2
NEWLINE = vellum.OPT_APPEND_NEWLINE


def test_indented_example():
    obj = {"a": [1, {}], "b": {"c": None}}
    assert vellum.dumps(obj) == b'{"a":[1,{}],"b":{"c":null}}'
    assert vellum.dumps(obj, option=INDENT).decode().split("\n") == [
        "{",
        '  "a": [',
        "    1,",
        "    {}",
        "  ],",
        '  "b": {',
        '    "c": null',
        "  }",
        "}",
    ]


@pytest.mark.parametrize(
    "obj",
    [[], (), {}, {"a": []}, [[]], [{}], {"a": {}, "b": [[], {}]}, [[[]]], {"x": [1, [2, [3, {}]]]}],
)
def test_indent_matches_standard_layout(obj):
    expected = json.dumps(obj, indent=2, ensure_ascii=False).encode()
    assert vellum.dumps(obj, option=INDENT) == expected
    assert vellum.dumps(obj) == json.dumps(obj, separators=(",", ":")).encode()


@pytest.mark.parametrize("obj,text", [(1, b"1"), ("x", b'"x"'), (None, b"null"), (True, b"true"), (1.5, b"1.5")])
@pytest.mark.parametrize("option", [0, INDENT])
def test_scalar_roots(obj, text, option):
    assert vellum.dumps(obj, option=option) == text
    assert vellum.dumps(obj, option=option | NEWLINE) == text + b"\n"


def test_append_newline():
    assert vellum.dumps([], option=NEWLINE) == b"[]\n"
    assert vellum.dumps([1], option=NEWLINE | INDENT) == b"[\n  1\n]\n"
    assert vellum.dumps({"a": 1}, option=NEWLINE | INDENT) == b'{\n  "a": 1\n}\n'


def boundary_sizes():
    sizes = []
    # The buffer starts at 479 bytes (a 512-byte bytes object) and doubles.
    for capacity in (479, 958, 1916, 1024, 2048, 3832, 4096, 8192, 16384, 65536, 1 << 20):
        sizes += [capacity - 2, capacity - 1, capacity, capacity + 1, capacity + 100]
    return sizes


@pytest.mark.parametrize("size", boundary_sizes())
def test_output_sizes_across_growth(size):
    # A string of size-2 bytes gives exactly `size` bytes of output.
    text = "a" * (size - 2)
    assert vellum.dumps(text) == b'"' + text.encode() + b'"'
    items = ["x" * 7] * (size // 10)
    assert json.loads(vellum.dumps(items)) == items
    assert json.loads(vellum.dumps(items, option=INDENT)) == items


@pytest.mark.parametrize("pad", range(0, 300, 7))
def test_deep_closing_run_near_capacity(pad):
    # The innermost element ends just below a capacity boundary and is
    # followed by 200 closing brackets.
    obj = "a" * (1024 - 200 - 2 - pad)
    for _ in range(200):
        obj = [obj]
    out = vellum.dumps(obj)
    assert out == b"[" * 200 + b'"' + b"a" * (1024 - 202 - pad) + b'"' + b"]" * 200


def test_fragments_are_not_reindented():
    frag = vellum.Fragment(b'{"a" :  [1,\n2]}')
    assert vellum.dumps([frag], option=INDENT) == b'[\n  {"a" :  [1,\n2]}\n]'
    assert vellum.dumps({"k": frag}, option=INDENT) == b'{\n  "k": {"a" :  [1,\n2]}\n}'
