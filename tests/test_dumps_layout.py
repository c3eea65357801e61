import json
import tracemalloc

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
    # The buffer starts at 512 bytes and doubles; past 4 MiB (the most that
    # is kept between calls) the output moves into a bytes object of its own.
    for capacity in (512, 1024, 2048, 4096, 8192, 16384, 65536, 1 << 20, 4 << 20, 8 << 20):
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


@pytest.mark.not_hostile  # the hostile mode's own allocations would be counted
@pytest.mark.parametrize("size,slack", [(100, 0), (300_000, 0), (3 << 20, 0), (5 << 20, 64 << 10)])
@pytest.mark.parametrize("option", [0, NEWLINE])
def test_result_has_no_slack(size, slack, option):
    # Written into storage kept between calls and copied out: the result
    # takes no more memory than its bytes. Past what is kept, shrunk to a
    # slack of 64 KiB, which keeps the next call of that size off fresh
    # mappings.
    text = "a" * size
    vellum.dumps(text, option=option)  # the kept storage grows to the size first
    tracemalloc.start()
    try:
        out = vellum.dumps(text, option=option)
        held = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    assert out == b'"' + text.encode() + b'"' + (b"\n" if option else b"")
    assert held <= len(out) + slack + 64


def test_nested_calls_write_their_own_output():
    # `default` calls dumps while the outer call holds the kept storage.
    def default(obj):
        return vellum.dumps(["x" * obj.size, obj.size]).decode()

    class Big:
        def __init__(self, size):
            self.size = size

    obj = [Big(10), "y" * 70_000, Big(100_000), Big(5 << 20)]
    out = json.loads(vellum.dumps(obj, default=default))
    assert out[1] == "y" * 70_000
    assert [json.loads(inner) for inner in (out[0], out[2], out[3])] == [["x" * n, n] for n in (10, 100_000, 5 << 20)]


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
