"""Writes the native module's docstrings as a C++ header, from the stub that
types the module (vellum/vellum.pyi): the stub is their one source, so that
help() at run time and an editor reading the stub show the same text.

    docstrings.py STUB HEADER

Each function's and class's text starts with its signature in the
interpreter's convention ("name(args)\\n--\\n\\n"), which gives the native
objects their __text_signature__. Run by CMake at build time."""

import ast
import sys


def signature(function: ast.FunctionDef, skip_first: bool = False) -> str:
    """The parameters of a stub's function as a text signature: names and
    defaults, without annotations."""
    args = function.args
    positional = args.posonlyargs + args.args
    defaults = [None] * (len(positional) - len(args.defaults)) + args.defaults
    parts = []
    for i, (arg, default) in enumerate(zip(positional, defaults)):
        if i == 0 and skip_first:
            continue
        parts.append(arg.arg if default is None else f"{arg.arg}={ast.unparse(default)}")
        if i == len(args.posonlyargs) - 1:
            parts.append("/")
    if args.vararg or args.kwonlyargs:
        parts.append(f"*{args.vararg.arg}" if args.vararg else "*")
    for arg, default in zip(args.kwonlyargs, args.kw_defaults):
        parts.append(arg.arg if default is None else f"{arg.arg}={ast.unparse(default)}")
    if args.kwarg:
        parts.append(f"**{args.kwarg.arg}")
    return f"({', '.join(parts)})"


def docstrings(stub: ast.Module) -> dict[str, str]:
    """Constant name -> text: the module's, and each documented function's
    and class's (a class takes the signature of its __new__)."""
    found = {"ModuleDoc": ast.get_docstring(stub) or ""}
    for node in stub.body:
        text = ast.get_docstring(node) if isinstance(node, (ast.FunctionDef, ast.ClassDef)) else None
        if text is None:
            continue
        if isinstance(node, ast.FunctionDef):
            text = f"{node.name}{signature(node)}\n--\n\n{text}"
        else:
            new = next((n for n in node.body if isinstance(n, ast.FunctionDef) and n.name == "__new__"), None)
            if new is not None:
                text = f"{node.name}{signature(new, skip_first=True)}\n--\n\n{text}"
        found[node.name[0].upper() + node.name[1:] + "Doc"] = text
    return found


def cxx_string(text: str) -> str:
    """A C++ string literal of the UTF-8 text, one source line per line."""
    def escape(line: bytes) -> str:
        return "".join(
            chr(b) if 0x20 <= b < 0x7F and b not in b'"\\' else f"\\{b:03o}" for b in line
        )
    lines = text.encode().split(b"\n")
    pieces = [f'"{escape(line)}\\n"' for line in lines[:-1]] + [f'"{escape(lines[-1])}"']
    return "\n    ".join(pieces)


def main(stub_path: str, header_path: str) -> None:
    with open(stub_path, encoding="utf-8") as f:
        stub = ast.parse(f.read(), stub_path)
    out = ["// Written by tools/docstrings.py from vellum/vellum.pyi at build time: edit the stub.",
           "#pragma once", "", "namespace vellum {", ""]
    for name, text in docstrings(stub).items():
        out.append(f"inline constexpr const char {name}[] =\n    {cxx_string(text)};")
    out += ["", "}  // namespace vellum", ""]
    with open(header_path, "w", encoding="utf-8") as f:
        f.write("\n".join(out))


if __name__ == "__main__":
    main(*sys.argv[1:])
