"""Dense documents must parse whatever their size: the outcome of loads depends
only on the text, never on how its working memory is sized."""

import pytest

import vellum

from support import decode_error

SIZES = [1, 2, 5, 10, 50, 100, 200, 300, 500, 700, 938, 939, 1000, 1023, 1024, 1025, 1500, 2000, 3000, 5000,
         8000, 20000, 100000]


def shapes(n):
    yield "[" + ",".join("0" * n) + "]"
    yield "[  " + ",".join("0" * n) + "]"
    yield "[ \n" + ",\n".join("0" * n) + "]"
    yield "[" + ",".join(["[]"] * n) + "]"
    yield "[  " + ",".join(["{}"] * n) + "]"
    yield "{" + ",".join(f'"{i % 10}":0' for i in range(n)) + "}"
    yield "{  " + ",".join(f'"":{i % 10}' for i in range(n)) + "}"
    yield "[" + ",".join(['""'] * n) + "]"


@pytest.mark.parametrize("n", SIZES)
def test_dense_documents(n):
    import json

    for text in shapes(n):
        assert vellum.loads(text) == json.loads(text)


def test_example_of_overshooting_growth():
    text = "[  " + "0," * 938 + "0]"
    assert len(text) == 1881
    assert vellum.loads(text) == [0] * 939


@pytest.mark.parametrize("depth", [1, 2, 100, 500, 1000, 1023, 1024, 1025, 1100, 2000])
def test_runs_of_open_brackets(depth):
    err = decode_error("[" * depth)
    expected = "unexpected end of data" if depth <= 1025 else "array and object recursion depth exceeded"
    assert err.msg == expected
    assert err.pos == (depth if depth <= 1025 else 1025)


@pytest.mark.parametrize("depth", [1000, 1024])
def test_open_brackets_then_dense(depth):
    text = "[" * (depth - 1) + "[" + ",".join("0" * 3000)
    err = decode_error(text)
    assert (err.msg, err.pos) == ("unexpected end of data", len(text))
