"""Validate and reformat JSON from the shell.

    python -m vellum [--compact] [--sort-keys] [--json-lines] [--check] [INFILE [OUTFILE]]

Exit status: 0 on success, 1 when the input is not valid JSON (or cannot be
written back as JSON), 2 when a file cannot be read or written or the
arguments are wrong.
"""

import argparse
import contextlib
import errno
import mmap
import os
import re
import select
import stat
import sys

import vellum

PROG = "python -m vellum"

# JSON whitespace; a JSON Lines line made only of it holds no document.
_BLANK = re.compile(rb"[ \t\r\n]*")


class _Exit(Exception):
    def __init__(self, status, lines=()):
        super().__init__(status)
        self.status = status
        self.lines = list(lines)


def _io_error(action, path, err):
    reason = err.strerror or str(err)
    return _Exit(2, [f"{PROG}: error: cannot {action} {path!r}: {reason}"])


def _read(path, stack):
    """The input as a buffer: a read-only map of a regular file, else the
    whole stream's bytes. Resources are closed by `stack`."""
    if path == "-":
        if sys.stdin is None:  # started with standard input closed
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))
        return sys.stdin.buffer.read()
    f = stack.enter_context(open(path, "rb"))
    info = os.fstat(f.fileno())
    if stat.S_ISREG(info.st_mode) and info.st_size > 0:
        try:
            return stack.enter_context(mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ))
        except (OSError, ValueError):
            pass  # a file system without mapping support: read it instead
    # An empty file cannot be mapped, and a pipe or device has no size.
    return f.read()


def _decode(buf, name, json_lines):
    """Every document of `buf`, or _Exit(1) naming every decode error."""
    errors = []
    docs = []
    with memoryview(buf) as view:
        if not json_lines:
            try:
                docs.append(vellum.loads(view))
            except vellum.JSONDecodeError as e:
                errors.append(f"{name}:{e.lineno}:{e.colno}: {e.msg}")
        else:
            start, line, size = 0, 1, len(view)
            while start < size:
                end = buf.find(b"\n", start)
                if end < 0:
                    end = size
                if not _BLANK.fullmatch(buf, start, end):
                    try:
                        docs.append((line, vellum.loads(view[start:end])))
                    except vellum.JSONDecodeError as e:
                        errors.append(f"{name}:{line + e.lineno - 1}:{e.colno}: {e.msg}")
                start, line = end + 1, line + 1
    if errors:
        raise _Exit(1, errors)
    return docs


def _encode(docs, name, option, json_lines):
    out = []
    for item in docs:
        line, doc = item if json_lines else (None, item)
        try:
            out.append(vellum.dumps(doc, option=option))
        except vellum.JSONEncodeError as e:
            # Deeper nesting than dumps writes, though loads accepted it.
            where = name if line is None else f"{name}:{line}"
            raise _Exit(1, [f"{where}: cannot write: {e}"]) from None
    return out


def _write_all(out, chunks):
    # An unbuffered stream (python -u, PYTHONUNBUFFERED) may take part of a
    # chunk per call.
    for chunk in chunks:
        view = memoryview(chunk)
        while view:
            n = out.write(view)
            if n is None:  # a non-blocking stream that is full
                select.select([], [out], [])
                continue
            view = view[n:]
    out.flush()


def _write(chunks, path):
    if path == "-":
        try:
            if sys.stdout is None:  # started with standard output closed
                raise OSError(errno.EBADF, os.strerror(errno.EBADF))
            _write_all(sys.stdout.buffer, chunks)
        except BrokenPipeError:
            # The reader went away: stop quietly, and keep the interpreter's
            # own flush at exit from failing again.
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, sys.stdout.fileno())
            raise _Exit(1) from None
        except OSError as e:
            raise _io_error("write", "<stdout>", e) from None
        return
    try:
        with open(path, "wb") as out:
            _write_all(out, chunks)
    except OSError as e:
        raise _io_error("write", path, e) from None


def _parser():
    p = argparse.ArgumentParser(
        prog=PROG,
        description="Validate JSON and write it out again, indented by two spaces "
        "unless --compact is given. Files are read through a memory map.",
    )
    p.add_argument("infile", nargs="?", default="-",
                   help="a JSON file to validate or reformat (default: standard input, also '-')")
    p.add_argument("outfile", nargs="?", default="-",
                   help="where to write the result (default: standard output, also '-'); "
                   "written only after the whole input was read and checked, so it may "
                   "be the input file itself")
    p.add_argument("--compact", action="store_true", help="write without any whitespace")
    p.add_argument("--sort-keys", action="store_true", help="sort the keys of every object")
    p.add_argument("--json-lines", action="store_true",
                   help="one document per input line (blank lines are skipped); "
                   "written as one compact document per output line")
    p.add_argument("--check", action="store_true",
                   help="only validate: write nothing, report decode errors on standard "
                   "error, exit status 0 or 1")
    return p


def main(argv=None):
    parser = _parser()
    args = parser.parse_args(argv)
    if args.check and args.outfile != "-":
        parser.error("--check writes nothing: give no OUTFILE")
    name = "<stdin>" if args.infile == "-" else args.infile
    option = vellum.OPT_APPEND_NEWLINE
    if args.sort_keys:
        option |= vellum.OPT_SORT_KEYS
    if not (args.compact or args.json_lines):
        option |= vellum.OPT_INDENT_2
    try:
        # The input is closed (and its map released) before the output is
        # opened, so that OUTFILE may be INFILE.
        with contextlib.ExitStack() as stack:
            try:
                buf = _read(args.infile, stack)
            except OSError as e:
                raise _io_error("read", name, e) from None
            docs = _decode(buf, name, args.json_lines)
        if args.check:
            return 0
        chunks = _encode(docs, name, option, args.json_lines)
        del docs
        _write(chunks, args.outfile)
    except _Exit as e:
        for line in e.lines:
            print(line, file=sys.stderr)
        return e.status
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
