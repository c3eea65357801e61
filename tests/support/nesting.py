"""Nested documents of each kind dumps recurses through, shared by the
small-stack tests (in a child process) and tests/support/stack_costs.py."""

import dataclasses
import enum


def nested(depth, wrap, inner=1):
    for _ in range(depth):
        inner = wrap(inner)
    return inner


@dataclasses.dataclass
class Node:
    child: object


@dataclasses.dataclass(slots=True)
class Slotted:
    child: object


def member(value, names=iter(range(10**6))):
    return enum.Enum(f"E{next(names)}", [("A", value)]).A


class Wrapped:
    """`default` below turns it into another, n - 1 times."""

    def __init__(self, n):
        self.n = n


def default(obj, last=None):
    return Wrapped(obj.n - 1) if obj.n else last
