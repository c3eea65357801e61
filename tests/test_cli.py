import json
import os
import resource
import shutil
import stat
import subprocess
import sys
import threading

import pytest

import vellum

DOC = {"zeta": [1, 2.5, None, True], "alpha": {"é": "日本", "b": []}, "m": {}}
TEXT = json.dumps(DOC, ensure_ascii=False).encode()


def run(*args, stdin=b"", prefix=(), cwd=None):
    return subprocess.run([*prefix, sys.executable, "-m", "vellum", *map(str, args)],
                          input=stdin, capture_output=True, cwd=cwd)


def expected(doc, indent=True, sort_keys=False):
    text = json.dumps(doc, ensure_ascii=False, sort_keys=sort_keys,
                      **({"indent": 2} if indent else {"separators": (",", ":")}))
    return text.encode() + b"\n"


@pytest.fixture
def infile(tmp_path):
    path = tmp_path / "in.json"
    path.write_bytes(TEXT)
    return path


@pytest.mark.parametrize("flags,indent,sort_keys", [
    ([], True, False),
    (["--compact"], False, False),
    (["--sort-keys"], True, True),
    (["--compact", "--sort-keys"], False, True),
])
def test_file_and_stdin_are_reformatted(infile, flags, indent, sort_keys):
    want = expected(DOC, indent, sort_keys)
    for out in (run(*flags, infile), run(*flags, stdin=TEXT), run(*flags, "-", stdin=TEXT)):
        assert (out.returncode, out.stderr) == (0, b"")
        assert out.stdout == want


def test_outfile_is_written(infile, tmp_path):
    target = tmp_path / "out.json"
    out = run("--sort-keys", infile, target)
    assert (out.returncode, out.stdout, out.stderr) == (0, b"", b"")
    assert target.read_bytes() == expected(DOC, sort_keys=True)
    out = run("-", "-", stdin=TEXT)
    assert out.stdout == expected(DOC)


def test_outfile_may_be_the_infile(infile):
    # The result goes to a temporary file that replaces the input at the end.
    out = run("--compact", infile, infile)
    assert (out.returncode, out.stderr) == (0, b"")
    assert infile.read_bytes() == expected(DOC, indent=False)


def test_large_file(tmp_path):
    doc = [{"id": i, "name": "x" * (i % 50), "v": i / 7} for i in range(20000)]
    path = tmp_path / "big.json"
    path.write_bytes(json.dumps(doc).encode())
    out = run("--compact", path)
    assert out.returncode == 0
    assert out.stdout == expected(doc, indent=False)


@pytest.mark.parametrize("text,line,col,msg", [
    (b'{"a": 1,}', 1, 8, "trailing comma is not allowed"),
    (b'[1,\n 2,\n x]', 3, 2, "unexpected character"),
    # Columns count characters, not bytes.
    ('[1,\n "é日", x]'.encode(), 2, 8, "unexpected character"),
    (b"[1, 2", 1, 6, "unexpected end of data"),
    (b"[1] [2]", 1, 5, "unexpected content after document"),
    (b"NaN", 1, 1, "unexpected character"),
    (b"", 1, 1, "Input is a zero-length, empty document"),
    ('{"a": "é",\n "b": "\xff"}'.encode("latin-1").replace("é".encode("latin-1"), "é".encode()), 2, 8,
     "str is not valid UTF-8: surrogates not allowed"),
])
def test_decode_error_names_file_line_and_column(tmp_path, text, line, col, msg):
    with pytest.raises(vellum.JSONDecodeError) as info:
        vellum.loads(text)
    assert (info.value.lineno, info.value.colno, info.value.msg) == (line, col, msg)
    path = tmp_path / "bad.json"
    path.write_bytes(text)
    target = tmp_path / "out.json"
    for args, name in (([path, target], str(path)), (["-", target], "<stdin>")):
        out = run(*args, stdin=text)
        assert out.returncode == 1
        assert out.stdout == b""
        assert out.stderr.decode() == f"{name}:{line}:{col}: {msg}\n"
        assert not target.exists()


@pytest.mark.parametrize("depth", [256, 1024])
def test_encode_failure_is_reported_without_traceback(tmp_path, depth):
    # loads accepts deeper nesting than dumps writes; --check answers what a
    # reformat would.
    deep = b"[" * depth + b"]" * depth
    path = tmp_path / "deep.json"
    path.write_bytes(deep)
    for flags in ([], ["--check"]):
        out = run(*flags, path)
        assert (out.returncode, out.stdout) == (1, b"")
        assert out.stderr.decode() == f"{path}: cannot write: Recursion limit reached\n"
    path.write_bytes(b"[1]\n" + deep + b"\n" + deep + b"\n[2]\n")
    # Standard output gets the lines before the first bad one.
    for flags, written in (([], b"[1]\n"), (["--check"], b"")):
        out = run("--json-lines", *flags, path)
        assert (out.returncode, out.stdout) == (1, written)
        assert out.stderr.decode().splitlines() == [f"{path}:{n}: cannot write: Recursion limit reached" for n in (2, 3)]


JSONL = b'{"b": 1, "a": [1, 2]}\n\n"text"\r\n  \n[]\n{"x": null}'


@pytest.mark.parametrize("flags", [[], ["--compact"]])
def test_json_lines_are_written_one_compact_document_per_line(tmp_path, flags):
    path = tmp_path / "in.jsonl"
    path.write_bytes(JSONL)
    want = b'{"b":1,"a":[1,2]}\n"text"\n[]\n{"x":null}\n'
    for out in (run("--json-lines", *flags, path), run("--json-lines", *flags, stdin=JSONL)):
        assert (out.returncode, out.stderr) == (0, b"")
        assert out.stdout == want
    out = run("--json-lines", "--sort-keys", path)
    assert out.stdout == want.replace(b'{"b":1,"a":[1,2]}', b'{"a":[1,2],"b":1}')


@pytest.mark.parametrize("text", [b"", b"\n", b"\n \n\t\r\n"])
def test_json_lines_without_documents(tmp_path, text):
    path = tmp_path / "empty.jsonl"
    path.write_bytes(text)
    out = run("--json-lines", path)
    assert (out.returncode, out.stdout, out.stderr) == (0, b"", b"")


def test_json_lines_report_every_bad_line_with_file_line_and_column(tmp_path):
    text = '{"a": 1}\n[1, 2\n\n"ok"\n{"é": x}\n{"b": 2}\n'.encode()
    path = tmp_path / "in.jsonl"
    path.write_bytes(text)
    target = tmp_path / "out.jsonl"
    for args, name in (([path, target], str(path)), (["-", target], "<stdin>")):
        out = run("--json-lines", *args, stdin=text)
        assert out.returncode == 1
        assert out.stdout == b""
        assert out.stderr.decode().splitlines() == [
            f"{name}:2:6: unexpected end of data",
            f"{name}:5:7: unexpected character",
        ]
        assert not target.exists()


@pytest.mark.parametrize("text,status", [
    (TEXT, 0),
    (b"[1, 2", 1),
])
def test_check_validates_only(tmp_path, text, status):
    path = tmp_path / "in.json"
    path.write_bytes(text)
    for args in ([path], []):
        out = run("--check", *args, stdin=text)
        assert out.returncode == status
        assert out.stdout == b""
        if status:
            assert out.stderr.decode().endswith(":1:6: unexpected end of data\n")
        else:
            assert out.stderr == b""
    out = run("--check", "--json-lines", stdin=b"[1]\n{\n")
    assert (out.returncode, out.stdout, out.stderr) == (1, b"", b"<stdin>:2:2: unexpected end of data\n")


def test_check_takes_no_outfile(infile, tmp_path):
    out = run("--check", infile, tmp_path / "out.json")
    assert out.returncode == 2
    assert not (tmp_path / "out.json").exists()


def without_file_permissions():
    """A command prefix under which the file mode bits are enforced: as root,
    drop the capabilities that let root ignore them."""
    if os.geteuid() != 0:
        return ()
    caps = "-dac_override,-dac_read_search"
    return (shutil.which("setpriv"), f"--inh-caps={caps}", f"--bounding-set={caps}")


@pytest.mark.parametrize("case", ["missing", "directory", "unreadable", "outfile_dir_missing",
                                  "outfile_is_directory", "outfile_read_only_dir", "outfile_read_only"])
def test_file_errors_are_one_line_and_status_2(tmp_path, infile, case):
    prefix = ()
    if case == "missing":
        args, shown, verb = [tmp_path / "nope.json"], tmp_path / "nope.json", "read"
    elif case == "directory":
        args, shown, verb = [tmp_path], tmp_path, "read"
    elif case == "unreadable":
        infile.chmod(0)
        args, shown, verb, prefix = [infile], infile, "read", without_file_permissions()
    elif case == "outfile_dir_missing":
        args, shown, verb = [infile, tmp_path / "no" / "out.json"], tmp_path / "no" / "out.json", "write"
    elif case == "outfile_is_directory":
        args, shown, verb = [infile, tmp_path], tmp_path, "write"
    elif case == "outfile_read_only":
        target = tmp_path / "out.json"
        target.write_bytes(b"[1]")
        target.chmod(0o444)
        args, shown, verb, prefix = [infile, target], target, "write", without_file_permissions()
    else:
        locked = tmp_path / "locked"
        locked.mkdir()
        locked.chmod(0o555)
        args, shown, verb, prefix = [infile, locked / "out.json"], locked / "out.json", "write", without_file_permissions()
    out = run(*args, prefix=prefix)
    assert out.returncode == 2, out.stderr
    assert out.stdout == b""
    lines = out.stderr.decode().splitlines()
    assert len(lines) == 1, lines
    assert lines[0].startswith(f"python -m vellum: error: cannot {verb} '{shown}': ")
    if case == "outfile_read_only":
        assert sorted(os.listdir(tmp_path)) == ["in.json", "out.json"]
        assert (tmp_path / "out.json").read_bytes() == b"[1]"


def test_closed_output_pipe_ends_quietly(tmp_path):
    path = tmp_path / "big.json"
    path.write_bytes(json.dumps(list(range(300000))).encode())
    proc = subprocess.Popen([sys.executable, "-m", "vellum", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    proc.stdout.read(10)
    proc.stdout.close()
    err = proc.stderr.read()
    assert proc.wait() == 1
    assert err == b""


@pytest.mark.parametrize("fd,args,message", [
    (0, [], "cannot read '<stdin>'"),
    (1, ["IN"], "cannot write '<stdout>'"),
])
def test_closed_standard_stream_is_one_line_and_status_2(infile, fd, args, message):
    args = [str(infile) if a == "IN" else a for a in args]
    out = subprocess.run([sys.executable, "-m", "vellum", *args], stderr=subprocess.PIPE,
                         stdin=subprocess.DEVNULL, preexec_fn=lambda: os.close(fd))
    assert out.returncode == 2
    lines = out.stderr.decode().splitlines()
    assert len(lines) == 1 and lines[0].startswith(f"python -m vellum: error: {message}: "), lines


# ---------------------------------------------------------------- OUTFILE replaced whole or not at all

ROWS = [{"id": i, "tags": ["a", "b"], "v": i / 3} for i in range(3000)]
ROWS_TEXT = json.dumps(ROWS).encode()
ROWS_LINES = b"".join(json.dumps(r).encode() + b"\n" for r in ROWS)


def copies(flags, n):
    """n copies of the rows: a document holding n lists, or n times the lines."""
    return ROWS_LINES * n if flags else b"[" + b",".join([ROWS_TEXT] * n) + b"]"


def file_size_limit(limit):
    # Writes past `limit` bytes fail with EFBIG: the interpreter ignores SIGXFSZ.
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))


def folder(path):
    return {p.name: (p.read_bytes(), stat.S_IMODE(p.stat().st_mode)) for p in sorted(path.iterdir())}


@pytest.mark.parametrize("outfile", ["infile", "other"])
@pytest.mark.parametrize("flags,text", [([], ROWS_TEXT), (["--json-lines"], ROWS_LINES)])
def test_failed_write_leaves_every_file_as_it_was(tmp_path, outfile, flags, text):
    infile = tmp_path / "in.json"
    infile.write_bytes(text)
    target = infile
    if outfile == "other":
        target = tmp_path / "out.json"
        target.write_bytes(b"[1]\n")
        target.chmod(0o640)
    before = folder(tmp_path)
    out = subprocess.run([sys.executable, "-m", "vellum", *flags, infile, target], capture_output=True,
                         preexec_fn=file_size_limit(len(text) // 2))
    assert out.returncode == 2, out.stderr
    assert out.stdout == b""
    assert out.stderr.decode() == f"python -m vellum: error: cannot write '{target}': File too large\n"
    assert folder(tmp_path) == before  # no temporary file left either


def test_outfile_keeps_its_mode_and_a_new_one_follows_the_umask(tmp_path, infile):
    target = tmp_path / "out.json"
    target.write_bytes(b"old")
    target.chmod(0o604)
    assert run("--compact", infile, target).returncode == 0
    assert stat.S_IMODE(target.stat().st_mode) == 0o604
    assert target.read_bytes() == expected(DOC, indent=False)
    fresh = tmp_path / "fresh.json"
    out = subprocess.run([sys.executable, "-m", "vellum", infile, fresh], capture_output=True,
                         preexec_fn=lambda: os.umask(0o027))
    assert out.returncode == 0, out.stderr
    assert stat.S_IMODE(fresh.stat().st_mode) == 0o640
    assert fresh.read_bytes() == expected(DOC)
    assert sorted(os.listdir(tmp_path)) == ["fresh.json", "in.json", "out.json"]


def test_outfile_through_a_link_replaces_the_file_it_points_to(tmp_path, infile):
    real = tmp_path / "real.json"
    real.write_bytes(b"old")
    link = tmp_path / "link.json"
    link.symlink_to(real.name)
    assert run("--compact", infile, link).returncode == 0
    assert link.is_symlink() and os.readlink(link) == real.name
    assert real.read_bytes() == expected(DOC, indent=False)


def written_through_path(infile, kind):
    """What the tool writes to OUTFILE when that names a pipe or socket by a
    path: /dev/stdout, or /dev/fd/N (as the shell's >(...) gives)."""
    import socket

    if kind == "/dev/stdout":
        out = run(infile, "/dev/stdout")
        return out.returncode, out.stderr, out.stdout
    if kind == "pipe":
        read_end, write_end = os.pipe()
    else:
        ours, theirs = socket.socketpair()
        read_end, write_end = os.dup(ours.fileno()), os.dup(theirs.fileno())
        ours.close()
        theirs.close()
    proc = subprocess.run([sys.executable, "-m", "vellum", infile, f"/dev/fd/{write_end}"],
                          pass_fds=(write_end,), capture_output=True)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as f:
        return proc.returncode, proc.stderr, f.read()


@pytest.mark.parametrize("kind", ["/dev/stdout", "pipe", "socket"])
def test_outfile_that_names_a_pipe_or_socket_is_written_in_place(infile, kind):
    assert written_through_path(infile, kind) == (0, b"", expected(DOC))


def test_outfile_that_is_a_device_is_written_in_place(infile):
    out = run(infile, os.devnull)
    assert (out.returncode, out.stderr) == (0, b"")
    assert stat.S_ISCHR(os.stat(os.devnull).st_mode)


# ---------------------------------------------------------------- input that changes while read

# Truncates the input file to half when the native loads is first called,
# however the tool reaches it.
TRUNCATE_AT_FIRST_LOADS = """
import os, sys
import vellum, vellum.__main__ as tool
path = sys.argv[-1]
def hook(frame, event, arg):
    if event == "c_call" and arg is vellum.loads:
        sys.setprofile(None)
        os.truncate(path, os.path.getsize(path) // 2)
sys.setprofile(hook)
sys.exit(tool.main(sys.argv[1:]))
"""


@pytest.mark.parametrize("flags,status", [
    # One document is read whole before it is parsed: a consistent read.
    ([], 0),
    # Lines are parsed as they are read: the change is noticed.
    (["--json-lines"], 2),
])
def test_input_truncated_while_read_is_never_a_signal(tmp_path, flags, status):
    path = tmp_path / "in.json"
    path.write_bytes(copies(flags, 20))
    out = subprocess.run([sys.executable, "-c", TRUNCATE_AT_FIRST_LOADS, *flags, "--check", path],
                         capture_output=True)
    assert out.returncode == status, out
    if status:
        assert out.stderr.decode() == f"python -m vellum: error: cannot read '{path}': the file changed while it was read\n"


@pytest.mark.parametrize("flags", [[], ["--json-lines"]])
def test_standard_input_read_from_the_middle_of_a_file(tmp_path, flags):
    path = tmp_path / "in.json"
    path.write_bytes(b"skipped\n[1, 2]\n")
    with path.open("rb") as f:
        f.seek(8)
        out = subprocess.run([sys.executable, "-m", "vellum", "--compact", *flags], stdin=f, capture_output=True)
    assert (out.returncode, out.stdout, out.stderr) == (0, b"[1,2]\n", b"")


@pytest.mark.parametrize("flags", [[], ["--json-lines"]])
def test_input_truncated_by_another_process(tmp_path, flags):
    path = tmp_path / "in.json"
    path.write_bytes(copies(flags, 200))
    proc = subprocess.Popen([sys.executable, "-m", "vellum", "--check", *flags, path],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    # As soon as the tool has the file open, cut it.
    fds = f"/proc/{proc.pid}/fd"
    while proc.poll() is None:
        try:
            if any(os.readlink(f"{fds}/{fd}") == str(path) for fd in os.listdir(fds)):
                os.truncate(path, path.stat().st_size // 3)
                break
        except OSError:
            pass
    err = proc.stderr.read()
    assert proc.wait() in (0, 1, 2), err  # never a signal


# ---------------------------------------------------------------- memory

def peak_rss(args, cwd):
    """The tool's exit status and its peak resident memory in bytes."""
    proc = subprocess.Popen([sys.executable, "-m", "vellum", *map(str, args)], cwd=cwd,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return proc.returncode, usage.ru_maxrss * 1024


@pytest.mark.parametrize("mode", ["--check", "stdout", "outfile"])
def test_json_lines_memory_is_bounded_by_the_longest_line(tmp_path, mode):
    small, big = tmp_path / "small.jsonl", tmp_path / "big.jsonl"
    lines = b"".join(json.dumps({"id": i, "text": "é" * i, "v": [i / 7] * 50}, ensure_ascii=False).encode()
                     + b"\n" for i in range(2000))
    small.write_bytes(lines[:lines.index(b"\n") + 1])
    with big.open("wb") as f:
        while f.tell() < 64 << 20:
            f.write(lines)

    def args(infile):
        return {"--check": ["--check", infile], "stdout": [infile], "outfile": [infile, tmp_path / "out"]}[mode]

    status, base = peak_rss(["--json-lines", *args(small)], tmp_path)
    assert status == 0
    status, peak = peak_rss(["--json-lines", *args(big)], tmp_path)
    assert status == 0
    # The file is 64 MiB; lines of up to 5 KiB are read, parsed and written one by one.
    assert big.stat().st_size > 60 << 20
    assert peak - base < 8 << 20, (base, peak)


# ---------------------------------------------------------------- closed standard error

@pytest.mark.parametrize("args,stdin,status", [
    (["-"], b"[1,", 1),
    (["--json-lines", "-"], b"[1]\n[1,\n", 1),
    (["MISSING"], b"", 2),
])
def test_error_lines_never_go_to_standard_output(tmp_path, args, stdin, status):
    args = [str(tmp_path / "nope.json") if a == "MISSING" else a for a in args]
    out = subprocess.run([sys.executable, "-m", "vellum", *args], input=stdin, stdout=subprocess.PIPE,
                         preexec_fn=lambda: os.close(2))
    assert out.returncode == status
    assert out.stdout == (b"[1]\n" if "--json-lines" in args else b"")


# ---------------------------------------------------------------- integers past 64 bits

INEXACT = "integer beyond 64 bits would not be written back exactly"


@pytest.mark.parametrize("text,line,col", [
    (b"[1, 123456789012345678901234567890]", 1, 5),
    (b'{"a":\n  -9223372036854775809}', 2, 3),
    (b"18446744073709551616", 1, 1),
    (b"[" + b"9" * 300 + b"]", 1, 2),
    (b'["\\\\", 99999999999999999999]', 1, 8),
    ('{"é日": [\n  0, 1,  -99999999999999999999999]}'.encode(), 2, 10),
    # A digit run across the pieces that the scan for long runs takes.
    (b'["' + b"x" * ((1 << 20) - 10) + b'", 123456789012345678901234567890]', 1, (1 << 20) - 4),
])
def test_integer_past_64_bits_is_refused_with_its_position(tmp_path, text, line, col):
    path = tmp_path / "in.json"
    path.write_bytes(text)
    target = tmp_path / "out.json"
    for args in ([path, target], ["--check", path], ["--compact", "-"]):
        out = run(*args, stdin=text)
        assert (out.returncode, out.stdout) == (1, b"")
        name = "<stdin>" if "-" in args else path
        assert out.stderr.decode() == f"{name}:{line}:{col}: {INEXACT}\n"
    assert not target.exists()


def test_integer_past_64_bits_in_json_lines(tmp_path):
    text = '[1]\n"x"\n{"é": 123456789012345678901234567890}\n[2]\n'.encode()
    out = run("--json-lines", "-", stdin=text)
    assert out.returncode == 1
    assert out.stdout == b'[1]\n"x"\n'
    assert out.stderr.decode() == f"<stdin>:3:7: {INEXACT}\n"


@pytest.mark.parametrize("text", [
    # The edges of what loads returns as int.
    b"[18446744073709551615, -9223372036854775808, 9999999999999999999]",
    # Long digit runs that are no integer: in strings, fractions, exponents.
    b'["123456789012345678901234567890", "\\"12345678901234567890123"]',
    b'{"12345678901234567890123": 1.12345678901234567890123}',
    b"[1e-12345678901234567890, 12345678901234567890123.5, -1E+12345678901234567890]",
])
def test_long_digit_runs_that_read_exactly_are_written(text):
    try:
        want = vellum.dumps(vellum.loads(text), option=vellum.OPT_APPEND_NEWLINE)
    except vellum.JSONDecodeError:
        return  # an exponent loads refuses on its own
    out = run("--compact", stdin=text)
    assert (out.returncode, out.stderr) == (0, b"")
    assert out.stdout == want
    assert "1" * 19 not in str(out.stdout) or text.startswith(b'["')


# ---------------------------------------------------------------- --decimal

EXACT_NUMBERS = (b'{"price": 19.990, "tiny": 1e-400, "huge": -2.5E+400, "pi": 3.14159265358979323846264338327950288,'
                 b' "wide": [123456789012345678901234567890, -9223372036854775809], "n": [0, -0, 7, -0.0, 1.5e3]}')


@pytest.mark.parametrize("flags,want", [
    (["--compact"], b'{"price":19.990,"tiny":1E-400,"huge":-2.5E+400,"pi":3.14159265358979323846264338327950288,'
                    b'"wide":[123456789012345678901234567890,-9223372036854775809],"n":[0,0,7,-0.0,1.5E+3]}\n'),
    (["--compact", "--sort-keys"], b'{"huge":-2.5E+400,"n":[0,0,7,-0.0,1.5E+3],"pi":3.14159265358979323846264338327950288,'
                                   b'"price":19.990,"tiny":1E-400,"wide":[123456789012345678901234567890,'
                                   b'-9223372036854775809]}\n'),
])
def test_decimal_keeps_every_number_exactly(tmp_path, flags, want):
    path = tmp_path / "in.json"
    path.write_bytes(EXACT_NUMBERS)
    for args in ([*flags, "--decimal", path], [*flags, "--decimal", "-"]):
        out = run(*args, stdin=EXACT_NUMBERS)
        assert (out.returncode, out.stderr) == (0, b"")
        assert out.stdout == want
    assert run("--decimal", "--check", path).returncode == 0
    indented = run("--decimal", path)
    assert json.loads(indented.stdout, parse_float=str) == json.loads(want, parse_float=str)
    # Without it the wide integers are refused.
    assert run("--compact", path).returncode == 1


def test_decimal_json_lines(tmp_path):
    text = b'[1.10, 123456789012345678901234567890]\n\n{"a": 2.000}\n'
    out = run("--json-lines", "--decimal", "-", stdin=text)
    assert (out.returncode, out.stderr) == (0, b"")
    assert out.stdout == b'[1.10,123456789012345678901234567890]\n{"a":2.000}\n'


# ---------------------------------------------------------------- help and version

def test_version():
    out = run("--version")
    assert (out.returncode, out.stdout, out.stderr) == (0, f"python -m vellum {vellum.__version__}\n".encode(), b"")


def test_help_lists_the_exit_statuses():
    out = run("--help")
    assert out.returncode == 0
    text = out.stdout.decode()
    assert "memory map" not in text
    assert "--decimal" in text and "decimal.Decimal" in text
    statuses = text[text.index("exit status:"):].split("\n")[1:]
    assert [s.split()[0] for s in statuses if s[:3].strip().isdigit() or s[:5].strip().isdigit()] == ["0", "1", "2", "130"]
