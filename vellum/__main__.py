"""Validate and reformat JSON from the shell.

    python -m vellum [--compact] [--sort-keys] [--json-lines] [--decimal] [--check] [--version] [INFILE [OUTFILE]]

Exit status: 0 on success, 1 when the input is not valid JSON or cannot be
written back exactly, 2 when a file cannot be read or written or the
arguments are wrong, 130 when interrupted.
"""

from __future__ import annotations

import argparse
import errno
import os
import re
import stat
import sys
import tempfile
from collections.abc import Callable, Iterator, Sequence
from decimal import Decimal
from typing import IO, Any, NoReturn

import vellum
from vellum._files import decode_line, is_blank, writer

PROG = "python -m vellum"

EXIT_STATUSES = """\
exit status:
  0    success
  1    the input is not valid JSON, holds an integer beyond 64 bits (which
       would not be written back exactly; --decimal keeps it), or nests
       deeper than can be written
  2    a file cannot be read or written, or the arguments are wrong
  130  interrupted (Ctrl-C)"""


class _Exit(Exception):
    def __init__(self, status: int, lines: Sequence[str] = ()) -> None:
        super().__init__(status)
        self.status = status
        self.lines = list(lines)


def _io_error(action: str, path: str, err: OSError) -> _Exit:
    reason = err.strerror or str(err)
    return _Exit(2, [f"{PROG}: error: cannot {action} {path!r}: {reason}"])


def _report(lines: Sequence[str]) -> None:
    # Standard error alone: when it is closed the lines are lost, never sent
    # to standard output (print's fallback when sys.stderr is None).
    if sys.stderr is None:
        return
    try:
        for line in lines:
            sys.stderr.write(line + "\n")
        sys.stderr.flush()
    except (OSError, ValueError):
        pass


def _hold_standard_descriptors() -> None:
    """Put /dev/null on any of descriptors 0 to 2 that is closed, so that a
    file the tool opens never takes one of their numbers (and with it the
    output of anything that writes there)."""
    for fd in (0, 1, 2):
        try:
            os.fstat(fd)
        except OSError:
            # The lowest free number, which is this one: the lower ones are open.
            os.open(os.devnull, os.O_RDWR)


# ---------------------------------------------------------------- long integers
# loads reads an integer beyond -2**63 .. 2**64 - 1 as a float, which the tool
# would then write as another number. Such an integer has 19 digits or more: a
# cheap scan for digit runs that long comes first, and only a document that
# has one is tokenized.
_DIGITS_AS_ZERO = bytes(0x30 if 0x30 <= b <= 0x39 else 0x20 for b in range(256))
_LONG_RUN = b"0" * 19
_RUN_CHUNK = 1 << 20
_TOKEN = re.compile(rb'"[^"\\]*(?:\\.[^"\\]*)*"|(-?[0-9]+)(\.[0-9]+)?([eE][-+]?[0-9]+)?')
_INT_MIN, _INT_MAX = -(2**63), 2**64 - 1


def _has_long_digit_run(data: bytes) -> bool:
    if len(data) < len(_LONG_RUN):
        return False
    if len(data) <= _RUN_CHUNK:
        return _LONG_RUN in data.translate(_DIGITS_AS_ZERO)
    # In pieces, so that the translated copy stays small; the pieces overlap
    # by one run less a digit.
    overlap = len(_LONG_RUN) - 1
    with memoryview(data) as view:
        for start in range(0, len(data), _RUN_CHUNK):
            if _LONG_RUN in bytes(view[start:start + _RUN_CHUNK + overlap]).translate(_DIGITS_AS_ZERO):
                return True
    return False


def _inexact_integer(data: bytes) -> int | None:
    """The byte offset of the first integer of the valid document `data` that
    loads does not return exactly, or None."""
    if not _has_long_digit_run(data):
        return None
    for token in _TOKEN.finditer(data):
        number = token.group(1)
        if number is None or token.group(2) or token.group(3):
            continue
        digits = len(number) - number.startswith(b"-")
        # Both ends of the range have 19 or 20 digits.
        if digits > 20 or (digits >= 19 and not _INT_MIN <= int(number) <= _INT_MAX):
            return token.start()
    return None


def _position(data: bytes, offset: int) -> tuple[int, int]:
    """Line and column (characters, from 1) of a byte offset of valid UTF-8."""
    start = data.rfind(b"\n", 0, offset) + 1
    return data.count(b"\n", 0, start) + 1, len(data[start:offset].decode()) + 1


_INEXACT = "integer beyond 64 bits would not be written back exactly"


def _exact(option: int) -> bool:
    """Whether numbers are kept as written (--decimal): every number that
    would be a float, wide integers included, is read as a Decimal and
    written with its digits."""
    return bool(option & vellum.OPT_DECIMAL)


def _parse_float(option: int) -> type[Decimal] | None:
    return Decimal if _exact(option) else None


# ---------------------------------------------------------------- input
class _Source:
    """The input, read as a stream of bytes (a regular file is read, never
    mapped). A regular file that changes while it is read is an error: the
    size and modification time must be the same before and after, and equal
    to what was read."""

    def __init__(self, path: str, name: str) -> None:
        self.name = name
        self.file: IO[bytes]
        self.owned = path != "-"
        try:
            if self.owned:
                self.file = open(path, "rb")
            elif sys.stdin is None:  # started with standard input closed
                raise OSError(errno.EBADF, os.strerror(errno.EBADF))
            else:
                self.file = sys.stdin.buffer
        except OSError as e:
            raise _io_error("read", name, e) from None
        try:
            info: os.stat_result | None = os.fstat(self.file.fileno())
        except (OSError, ValueError):
            info = None  # a stream without a descriptor, such as a replaced sys.stdin
        self.before = info if info is not None and stat.S_ISREG(info.st_mode) else None
        self.read_bytes = 0
        # Standard input may start anywhere in its file.
        self.start = 0
        if self.before is not None and not self.owned:
            try:
                self.start = self.file.tell()
            except OSError:
                self.before = None

    def close(self) -> None:
        if self.owned:
            self.file.close()

    def read_all(self) -> bytes:
        try:
            data = self.file.read()
        except OSError as e:
            raise _io_error("read", self.name, e) from None
        self.read_bytes = len(data)
        self._check_unchanged()
        return data

    def lines(self) -> Iterator[tuple[int, bytes]]:
        """Each line with its number, its end of line included."""
        number = 0
        try:
            for line in self.file:
                number += 1
                self.read_bytes += len(line)
                yield number, line
        except OSError as e:
            raise _io_error("read", self.name, e) from None
        self._check_unchanged()

    def _check_unchanged(self) -> None:
        if self.before is None:
            return
        try:
            after = os.fstat(self.file.fileno())
        except OSError as e:
            raise _io_error("read", self.name, e) from None
        before = self.before
        if (after.st_size, after.st_mtime_ns) != (before.st_size, before.st_mtime_ns) \
                or self.start + self.read_bytes != after.st_size:
            raise _Exit(2, [f"{PROG}: error: cannot read {self.name!r}: the file changed while it was read"])


# ---------------------------------------------------------------- output
class _Output:
    def write(self, data: bytes) -> None:
        raise NotImplementedError

    def commit(self) -> None:
        """Everything was written: make it final."""

    def discard(self) -> None:
        """The run failed: leave every existing file as it was."""


class _Stdout(_Output):
    """Standard output, written as the documents come."""

    def __init__(self) -> None:
        self.write_chunk: Callable[[bytes], object] | None = None

    def _fail(self, err: OSError) -> NoReturn:
        if isinstance(err, BrokenPipeError):
            # The reader went away: stop quietly, and keep the interpreter's
            # own flush at exit from failing again.
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, sys.stdout.fileno())
            os.close(devnull)
            raise _Exit(1) from None
        raise _io_error("write", "<stdout>", err) from None

    def write(self, data: bytes) -> None:
        try:
            if sys.stdout is None:  # started with standard output closed
                raise OSError(errno.EBADF, os.strerror(errno.EBADF))
            if self.write_chunk is None:
                self.write_chunk = writer(sys.stdout.buffer)
            self.write_chunk(data)
        except OSError as e:
            self._fail(e)

    def commit(self) -> None:
        try:
            if sys.stdout is None:
                raise OSError(errno.EBADF, os.strerror(errno.EBADF))
            sys.stdout.buffer.flush()
        except OSError as e:
            self._fail(e)


def _umask() -> int:
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


_DESCRIPTOR_PATH = re.compile(rf"/(?:dev|proc/self|proc/thread-self|proc/{os.getpid()})/fd/([0-9]+)")


def _descriptor_named(path: str) -> int | None:
    """The descriptor of this process that `path` names through its links
    (/dev/stdout, /dev/fd/N, /proc/self/fd/N), or None."""
    path = os.path.abspath(path)
    for _ in range(40):  # the kernel's own limit on links followed
        found = _DESCRIPTOR_PATH.fullmatch(path)
        if found:
            return int(found.group(1))
        try:
            link = os.readlink(path)
        except OSError:
            return None
        path = os.path.normpath(os.path.join(os.path.dirname(path), link))
    return None


def _open_in_place(path: str, info: os.stat_result) -> IO[bytes]:
    """A pipe, device or socket, written as it is. A socket cannot be opened
    by a path; one named as a descriptor of this process is written through
    a copy of that descriptor."""
    try:
        return open(path, "wb")
    except OSError as e:
        fd = _descriptor_named(path) if e.errno == errno.ENXIO and stat.S_ISSOCK(info.st_mode) else None
        if fd is None:
            raise
    return os.fdopen(os.dup(fd), "wb")


class _FileOutput(_Output):
    """OUTFILE, written to a temporary file in its folder that replaces it
    only once everything was written and synced: until then, and after any
    failure, OUTFILE is as it was (and may be the input itself). A device or
    a pipe is written directly. The temporary file is made at the first
    write, so a run that fails before it creates nothing."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.file: IO[bytes] | None = None
        self.temp: str | None = None
        self.target = ""
        self.existing: os.stat_result | None = None

    def _open(self) -> IO[bytes]:
        # Through the links to what is written. Not by its real path: that of
        # /dev/stdout or /dev/fd/N behind which a pipe or socket lies is a
        # name such as /proc/PID/fd/pipe:[N], which names nothing.
        try:
            info: os.stat_result | None = os.stat(self.path)
        except FileNotFoundError:
            info = None
        if info is not None and stat.S_ISDIR(info.st_mode):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR))
        if info is not None and not stat.S_ISREG(info.st_mode):
            self.file = _open_in_place(self.path, info)
            return self.file
        # Beside the file that a link points to, so that the link stays one.
        target = os.path.realpath(self.path)
        if info is not None and not os.access(target, os.W_OK, effective_ids=True):
            # A file that could not be written in place is not replaced either.
            raise PermissionError(errno.EACCES, os.strerror(errno.EACCES))
        folder, base = os.path.split(target)
        # A short prefix of the name, so that the temporary name fits too.
        fd, self.temp = tempfile.mkstemp(prefix=f".{base[:64]}.", suffix=".tmp", dir=folder)
        self.file = os.fdopen(fd, "wb", buffering=1 << 16)
        self.target, self.existing = target, info
        return self.file

    def write(self, data: bytes) -> None:
        try:
            (self._open() if self.file is None else self.file).write(data)
        except OSError as e:
            raise _io_error("write", self.path, e) from None

    def commit(self) -> None:
        try:
            out = self._open() if self.file is None else self.file
            out.flush()
            if self.temp is not None:
                fd = out.fileno()
                if self.existing is not None:
                    # The owner and mode of the file replaced, as far as allowed.
                    if (self.existing.st_uid, self.existing.st_gid) != (os.getuid(), os.getgid()):
                        try:
                            os.fchown(fd, self.existing.st_uid, self.existing.st_gid)
                        except OSError:
                            pass
                    mode = stat.S_IMODE(self.existing.st_mode)
                else:
                    mode = 0o666 & ~_umask()  # what creating it directly would give
                os.fchmod(fd, mode)
                os.fsync(fd)
            out.close()
            if self.temp is not None:
                os.replace(self.temp, self.target)
                self.temp = None
                self._sync_folder()
        except OSError as e:
            raise _io_error("write", self.path, e) from None

    def _sync_folder(self) -> None:
        # The rename itself survives a crash once its folder is synced.
        try:
            fd = os.open(os.path.dirname(self.target), os.O_RDONLY | os.O_DIRECTORY)
        except OSError:
            return
        try:
            os.fsync(fd)
        except OSError:
            pass
        finally:
            os.close(fd)

    def discard(self) -> None:
        if self.file is not None:
            try:
                self.file.close()
            except OSError:
                pass  # the data it failed to flush is thrown away anyway
        if self.temp is not None:
            try:
                os.unlink(self.temp)
            except OSError:
                pass
            self.temp = None


# ---------------------------------------------------------------- the run
def _one_document(source: _Source, output: _Output | None, option: int) -> None:
    name = source.name
    data = source.read_all()
    try:
        doc = vellum.loads(data, parse_float=_parse_float(option))
    except vellum.JSONDecodeError as e:
        raise _Exit(1, [f"{name}:{e.lineno}:{e.colno}: {e.msg}"]) from None
    at = None if _exact(option) else _inexact_integer(data)
    if at is not None:
        line, col = _position(data, at)
        raise _Exit(1, [f"{name}:{line}:{col}: {_INEXACT}"])
    del data
    # Also under --check, which answers what a reformat would.
    try:
        out = vellum.dumps(doc, option=option)
    except vellum.JSONEncodeError as e:
        # Deeper nesting than dumps writes, though loads accepted it.
        raise _Exit(1, [f"{name}: cannot write: {e}"]) from None
    del doc
    if output is not None:
        output.write(out)


def _json_lines(source: _Source, output: _Output | None, option: int) -> None:
    """Line by line, in memory bounded by the longest line. Every bad line is
    reported; nothing is written after the first."""
    name = source.name
    errors: list[str] = []
    for number, line in source.lines():
        if is_blank(line):
            continue
        try:
            doc = decode_line(line, number, _parse_float(option))
        except vellum.JSONDecodeError as e:
            errors.append(f"{name}:{e.lineno}:{e.colno}: {e.msg}")
            continue
        at = None if _exact(option) else _inexact_integer(line)
        if at is not None:
            errors.append(f"{name}:{number}:{_position(line, at)[1]}: {_INEXACT}")
            continue
        try:
            out = vellum.dumps(doc, option=option)
        except vellum.JSONEncodeError as e:
            errors.append(f"{name}:{number}: cannot write: {e}")
            continue
        del doc
        if output is not None and not errors:
            output.write(out)
    if errors:
        raise _Exit(1, errors)


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog=PROG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Validate JSON and write it out again, indented by two spaces\n"
        "unless --compact is given.",
        epilog=EXIT_STATUSES,
    )
    p.add_argument("infile", nargs="?", default="-",
                   help="a JSON file to validate or reformat (default: standard input, also '-')")
    p.add_argument("outfile", nargs="?", default="-",
                   help="where to write the result (default: standard output, also '-'); "
                   "a file is replaced only once the whole input was read, checked and "
                   "written, so it may be the input file itself")
    p.add_argument("--compact", action="store_true", help="write without any whitespace")
    p.add_argument("--sort-keys", action="store_true", help="sort the keys of every object")
    p.add_argument("--json-lines", action="store_true",
                   help="one document per input line (blank lines are skipped); "
                   "written as one compact document per output line")
    p.add_argument("--decimal", action="store_true",
                   help="keep every number exactly: fractions, exponents and integers "
                   "beyond 64 bits are read as decimal.Decimal and written with the same "
                   "digits and exponent (1.10 stays 1.10; an exponent is written as 1E+5), "
                   "where otherwise they pass through a float")
    p.add_argument("--check", action="store_true",
                   help="only validate: write nothing, report errors on standard "
                   "error, exit status 0 or 1")
    p.add_argument("--version", action="version", version=f"%(prog)s {vellum.__version__}")
    return p


def main(argv: Sequence[str] | None = None) -> int:
    """Run the tool on `argv` (default: the command line); return the exit status."""
    _hold_standard_descriptors()
    parser = _parser()
    args: Any = parser.parse_args(argv)
    if args.check and args.outfile != "-":
        parser.error("--check writes nothing: give no OUTFILE")
    option = vellum.OPT_APPEND_NEWLINE
    if args.sort_keys:
        option |= vellum.OPT_SORT_KEYS
    if args.decimal:
        option |= vellum.OPT_DECIMAL
    if not (args.compact or args.json_lines):
        option |= vellum.OPT_INDENT_2
    output: _Output | None = None
    if not args.check:
        output = _Stdout() if args.outfile == "-" else _FileOutput(args.outfile)
    try:
        try:
            source = _Source(args.infile, "<stdin>" if args.infile == "-" else args.infile)
            try:
                if args.json_lines:
                    _json_lines(source, output, option)
                else:
                    _one_document(source, output, option)
            finally:
                source.close()
            if output is not None:
                output.commit()
        except BaseException:
            if output is not None:
                output.discard()
            raise
    except _Exit as e:
        _report(e.lines)
        return e.status
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
