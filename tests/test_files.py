"""load, dump, load_lines and dump_lines on file objects, against the
standard json module on the same files."""

import io
import json
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

import vellum

CORPUS = pathlib.Path(__file__).resolve().parents[1] / "bench" / "data"
DOCS = [
    {"zeta": [1, 2.5, None, True], "alpha": {"é": "日本", "b": []}, "m": {}},
    ["\U0001f600", "\x00\n\"\\", -(2**63), 2**64 - 1, 1e-300, False],
    "text",
    0,
]


@pytest.mark.parametrize("mode", ["rb", "r"])
@pytest.mark.parametrize("path", sorted(CORPUS.glob("*.json")), ids=lambda p: p.name)
def test_load_reads_the_corpus_like_json_load(path, mode):
    with open(path, mode, encoding=None if "b" in mode else "utf-8") as f:
        got = vellum.load(f)
    with open(path, mode, encoding=None if "b" in mode else "utf-8") as f:
        assert got == json.load(f)


@pytest.mark.parametrize("doc", DOCS)
def test_dump_then_load_match_json_on_the_same_files(tmp_path, doc):
    path = tmp_path / "doc.json"
    compact = json.dumps(doc, ensure_ascii=False, separators=(",", ":"))
    # A text file gets str, a binary file bytes: the same UTF-8 on disk.
    for mode, encoding in (("w", "utf-8"), ("wb", None)):
        with open(path, mode, encoding=encoding) as f:
            assert vellum.dump(doc, f) is None
        assert path.read_bytes() == compact.encode()
        for read_mode in ("r", "rb"):
            with open(path, read_mode, encoding=None if "b" in read_mode else "utf-8") as f:
                assert vellum.load(f) == doc
            with open(path, read_mode, encoding=None if "b" in read_mode else "utf-8") as f:
                assert json.load(f) == doc
    with open(path, "w", encoding="utf-8") as f:
        json.dump(doc, f, ensure_ascii=False)
    with open(path, "rb") as f:
        assert vellum.load(f) == doc


def test_dump_takes_default_and_option_like_dumps():
    out = io.BytesIO()
    vellum.dump({"b": {1, 2}, "a": None}, out, default=sorted, option=vellum.OPT_SORT_KEYS | vellum.OPT_INDENT_2)
    assert out.getvalue() == vellum.dumps({"b": {1, 2}, "a": None}, sorted, vellum.OPT_SORT_KEYS | vellum.OPT_INDENT_2)
    text = io.StringIO()
    vellum.dump(["é"], text, None, vellum.OPT_APPEND_NEWLINE)
    assert text.getvalue() == '["é"]\n'
    with pytest.raises(vellum.JSONEncodeError, match="Type is not JSON serializable: object"):
        vellum.dump(object(), io.BytesIO())


class Trickle(io.RawIOBase):
    """An unbuffered file that takes at most three bytes per call."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        chunk = bytes(b[:3])
        self.data += chunk
        return len(chunk)


class Misreporting(io.RawIOBase):
    """An unbuffered file whose write takes nothing, or claims to have
    written more than it was given; it gives up after a few calls."""

    def __init__(self, extra):
        self.extra = extra
        self.calls = 0

    def writable(self):
        return True

    def write(self, b):
        self.calls += 1
        if self.calls > 100:
            raise RuntimeError("write was called again and again")
        return 0 if self.extra is None else len(b) + self.extra


class Collector:
    """Any object with a write method: it gets bytes."""

    def __init__(self):
        self.parts = []

    def write(self, b):
        self.parts.append(b)


def test_dump_writes_everything_to_an_unbuffered_or_plain_writer():
    raw = Trickle()
    vellum.dump(DOCS[0], raw)
    assert bytes(raw.data) == vellum.dumps(DOCS[0])
    plain = Collector()
    vellum.dump(DOCS[1], plain)
    assert plain.parts == [vellum.dumps(DOCS[1])]


@pytest.mark.parametrize("extra,message", [
    (None, r"raw write\(\) wrote nothing of 7 bytes"),
    (1, r"raw write\(\) returned invalid length 8 \(should have been between 0 and 7\)"),
])
def test_dump_refuses_a_write_that_takes_nothing_or_claims_too_much(extra, message):
    # As io.BufferedWriter refuses it: no endless retries, no bytes lost.
    raw = Misreporting(extra)
    with pytest.raises(OSError, match=message):
        vellum.dump([1, 2, 3], raw)
    assert raw.calls == 1


def test_dump_to_an_unbuffered_file(tmp_path):
    path = tmp_path / "raw.json"
    with open(path, "wb", buffering=0) as f:
        vellum.dump(DOCS[0], f)
    assert json.loads(path.read_bytes()) == DOCS[0]


def test_load_errors_are_those_of_loads():
    with pytest.raises(vellum.JSONDecodeError) as info:
        vellum.load(io.StringIO('{"a":\n  [1,]}'))
    assert (info.value.msg, info.value.lineno, info.value.colno) == ("trailing comma is not allowed", 2, 5)
    with pytest.raises(vellum.JSONDecodeError, match="Input is a zero-length, empty document"):
        vellum.load(io.BytesIO())


# ---------------------------------------------------------------- JSON Lines

LINES = '{"b": 1, "a": [1, 2]}\n\n"é"\r\n  \n[]\n{"x": null}'


@pytest.mark.parametrize("source", [
    lambda: io.BytesIO(LINES.encode()),
    lambda: io.StringIO(LINES, newline=""),
    lambda: io.TextIOWrapper(io.BytesIO(LINES.encode()), encoding="utf-8"),
    lambda: LINES.encode().splitlines(keepends=True),
    lambda: LINES.splitlines(),
    lambda: [bytearray(line) for line in LINES.encode().splitlines()],
], ids=["bytes", "str", "text-file", "byte-lines", "str-lines", "bytearrays"])
def test_load_lines_reads_each_document_and_skips_blank_lines(source):
    it = vellum.load_lines(source())
    assert iter(it) is it
    assert list(it) == [{"b": 1, "a": [1, 2]}, "é", [], {"x": None}]


@pytest.mark.parametrize("text", ['[1]\n[2]\n', b"[1]\n[2]\n", bytearray(b"[1]\n"), memoryview(b"[1]\n")])
def test_load_lines_refuses_a_text_in_place_of_lines(text):
    with pytest.raises(TypeError, match="load_lines reads a file or an iterable of lines, not "):
        vellum.load_lines(text)
    assert list(vellum.load_lines(text.splitlines() if not isinstance(text, memoryview) else [text])) in ([[1], [2]], [[1]])


def test_load_lines_matches_json_on_a_file(tmp_path):
    path = tmp_path / "in.jsonl"
    rows = [{"id": i, "name": "é" * (i % 5), "v": i / 7} for i in range(500)]
    with open(path, "wb") as f:
        vellum.dump_lines(rows, f)
    with open(path, encoding="utf-8") as f:
        assert [json.loads(line) for line in f] == rows
    for mode in ("rb", "r"):
        with open(path, mode) as f:
            assert list(vellum.load_lines(f)) == rows


@pytest.mark.parametrize("text,line,col,msg", [
    ('[1]\n[1, 2\n"ok"\n', 2, 6, "unexpected end of data"),
    ('[1]\n\n\n{"é": x}\n', 4, 7, "unexpected character"),
    ('[1]\r\n[1,]\r\n', 2, 3, "trailing comma is not allowed"),
    ("[1]\n[2] [3]", 2, 5, "unexpected content after document"),
])
def test_bad_line_reports_the_line_and_column_of_the_file(text, line, col, msg):
    for source in (io.BytesIO(text.encode()), io.StringIO(text)):
        docs = vellum.load_lines(source)
        assert next(docs) == [1]
        with pytest.raises(vellum.JSONDecodeError) as info:
            next(docs)
        e = info.value
        assert (e.msg, e.lineno, e.colno) == (msg, line, col)
        # doc is the bad line and pos the offset in it.
        bad = text.split("\n")[line - 1].rstrip("\r")
        assert e.doc.rstrip("\r") == bad and e.pos == col - 1
        assert str(e) == f"{msg}: line {line} column {col} (char {col - 1})"
        assert isinstance(e, json.JSONDecodeError) and e.__cause__ is None


def test_dump_lines_writes_one_compact_document_per_line():
    out = io.BytesIO()
    assert vellum.dump_lines(iter(DOCS), out) is None
    assert out.getvalue() == b"".join(json.dumps(d, ensure_ascii=False, separators=(",", ":")).encode() + b"\n"
                                      for d in DOCS)
    text = io.StringIO()
    vellum.dump_lines([{"b": 1, "a": {"d": 2, "c": 3}}], text, option=vellum.OPT_SORT_KEYS)
    assert text.getvalue() == '{"a":{"c":3,"d":2},"b":1}\n'
    raw = Trickle()
    vellum.dump_lines([[1, 2], {"é": None}], raw, default=None, option=vellum.OPT_APPEND_NEWLINE)
    assert bytes(raw.data) == '[1,2]\n{"é":null}\n'.encode()
    plain = Collector()
    vellum.dump_lines([{1, 2}], plain, default=sorted)
    assert plain.parts == [b"[1,2]\n"]


@pytest.mark.parametrize("option,message", [
    (vellum.OPT_INDENT_2, "OPT_INDENT_2 would spread a document over several lines"),
    (1 << 20, "Invalid opts"),
])
def test_dump_lines_refuses_options_before_any_output(option, message):
    out = io.BytesIO()
    with pytest.raises(vellum.JSONEncodeError, match=message):
        vellum.dump_lines([[1]], out, option=option)
    with pytest.raises(vellum.JSONEncodeError, match=message):
        vellum.dump_lines([], out, option=option)
    assert out.getvalue() == b""


def test_dump_lines_writes_the_documents_before_a_failure():
    out = io.BytesIO()
    with pytest.raises(vellum.JSONEncodeError, match="Type is not JSON serializable: object"):
        vellum.dump_lines([[1], {"a": 2}, object(), [3]], out)
    assert out.getvalue() == b'[1]\n{"a":2}\n'
    # A Fragment is copied as it is: one that holds a line break would split the line.
    out = io.BytesIO()
    with pytest.raises(vellum.JSONEncodeError, match="line break"):
        vellum.dump_lines([[1], [vellum.Fragment(b"[1,\n2]")]], out)
    assert out.getvalue() == b"[1]\n"
    # A text-mode reader splits at a carriage return too.
    with pytest.raises(vellum.JSONEncodeError, match="line break"):
        vellum.dump_lines([[vellum.Fragment(b"[1,\r2]")]], out)
    vellum.dump_lines([[vellum.Fragment(b"[1,\t2]")]], out)
    assert out.getvalue() == b"[1]\n[[1,\t2]]\n"


# ---------------------------------------------------------------- memory

STREAM = textwrap.dedent(
    """
    import sys, vellum
    path, out, mode = sys.argv[1:]
    # Each line read, parsed, written and dropped; the sum keeps them honest.
    total = 0
    def rows():
        global total
        with open(path, mode) as f:
            for doc in vellum.load_lines(f):
                total += doc["id"]
                yield doc
    with open(out, "wb") as f:
        vellum.dump_lines(rows(), f)
    print(total)
    """
)


def peak_rss(args):
    proc = subprocess.Popen([sys.executable, "-c", STREAM, *map(str, args)], stdout=subprocess.PIPE)
    total = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
    return int(total), usage.ru_maxrss * 1024


@pytest.mark.parametrize("mode", ["rb", "r"])
def test_json_lines_stream_in_memory_bounded_by_the_longest_line(tmp_path, mode):
    lines = b"".join(json.dumps({"id": i, "text": "é" * i, "v": [i / 7] * 50}, ensure_ascii=False).encode()
                     + b"\n" for i in range(2000))
    small, big, out = tmp_path / "small.jsonl", tmp_path / "big.jsonl", tmp_path / "out.jsonl"
    small.write_bytes(lines[:lines.index(b"\n") + 1])
    with big.open("wb") as f:
        while f.tell() < 64 << 20:
            f.write(lines)
    copies = big.stat().st_size // len(lines)
    _, base = peak_rss([small, out, mode])
    total, peak = peak_rss([big, out, mode])
    assert total == copies * sum(range(2000))
    compact = b"".join(json.dumps(json.loads(line), ensure_ascii=False, separators=(",", ":")).encode() + b"\n"
                       for line in lines.splitlines())
    assert out.stat().st_size == copies * len(compact)
    # 64 MiB went through; lines are at most 6 KiB.
    assert peak - base < 8 << 20, (base, peak)
