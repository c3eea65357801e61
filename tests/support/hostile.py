"""The hostile mode of the dumps tests (VELLUM_HOSTILE=1, run by `make
sanitize`): while a test's dumps call runs, its document keeps changing under
it, wherever Python code can run. A collection runs at every allocation of a
tracked object (gc.set_threshold(1)) and always finds a finalizer, and a
thread runs whenever the interpreter may switch (sys.setswitchinterval(1e-6));
both replace the items of the document's lists and dicts with equal copies,
which frees the items that only the document held. What dumps writes stays
the same, so every test still holds; a pointer that dumps holds without a
reference of its own across Python code (a callback, an import, a lookup, a
finalizer run by an allocation) is then left to freed memory, which the
sanitizers report."""

import gc
import sys
import threading

import vellum

# The documents of the dumps calls running now, innermost last (default may
# call dumps again).
documents = []

# Containers walked, items replaced per container, and the largest object
# copied: enough to reach what a test writes, bounded so that a collection
# stays cheap.
MAX_CONTAINERS = 64
MAX_ITEMS = 64


def twin(value):
    """An object equal to `value` and written the same, but another one: for
    exact strs, lists, dicts and tuples that are cheap to copy; anything
    else is itself."""
    kind = type(value)
    if kind not in (str, list, dict, tuple) or len(value) > MAX_ITEMS:
        return value
    if kind is str:
        return (value + "\0")[:-1]
    if kind is list:
        return list(value)
    if kind is dict:
        return dict(value)
    if kind is tuple:
        return tuple(list(value))
    return value


def replace_items(document):
    """Replaces items of the document's exact lists and dicts (the root
    first, then what they hold) with their twins."""
    pending = [document]
    for _ in range(MAX_CONTAINERS):
        if not pending:
            return
        container = pending.pop()
        if type(container) is list:
            for i in range(min(len(container), MAX_ITEMS)):
                try:
                    container[i] = item = twin(container[i])
                except IndexError:  # the list shrank meanwhile
                    break
                pending.append(item)
        elif type(container) is dict:
            for key in list(container)[:MAX_ITEMS]:
                try:
                    container[key] = item = twin(container[key])
                except KeyError:
                    continue
                pending.append(item)


def mutate():
    if documents:
        try:
            replace_items(documents[-1])
        except RuntimeError:  # a dict changed size while its keys were listed
            pass


class Finalizer:
    """Garbage in a cycle, whose finalizer mutates the running dumps call's
    document and leaves a new one behind, so that every collection finds
    one."""

    def __init__(self):
        self.cycle = self

    def __del__(self):
        mutate()
        Finalizer()


class Hostile:
    """Turns the mode on (on entry) and off (on exit) around one test."""

    def __enter__(self):
        self.dumps = vellum.dumps
        self.threshold = gc.get_threshold()
        self.interval = sys.getswitchinterval()
        self.running = True
        real = self.dumps

        running = self.running_dumps = threading.Event()
        mutating = self.mutating = threading.Lock()

        def dumps(*args, **kwargs):
            documents.append(args[0] if args else kwargs.get("obj"))
            running.set()
            try:
                return real(*args, **kwargs)
            except BaseException:
                # The traceback keeps this frame: not the arguments, which a
                # test may count references to.
                del args, kwargs
                raise
            finally:
                documents.pop()
                if not documents:
                    running.clear()
                    # The thread's walk is over, with the references it took:
                    # the test may count them.
                    with mutating:
                        pass

        vellum.dumps = dumps
        self.thread = threading.Thread(target=self.keep_mutating, daemon=True)
        self.thread.start()
        Finalizer()
        sys.setswitchinterval(1e-6)
        # A young collection at every allocation; the older generations, whose
        # collections walk the whole heap, no more often than usual.
        gc.set_threshold(1, self.threshold[0] * self.threshold[1], self.threshold[2])
        return self

    def keep_mutating(self):
        # Only while a dumps call runs: the test's own code runs undisturbed.
        while self.running:
            if self.running_dumps.wait(0.05):
                with self.mutating:
                    if self.running_dumps.is_set():
                        mutate()

    def __exit__(self, *exc):
        gc.set_threshold(*self.threshold)
        sys.setswitchinterval(self.interval)
        self.running = False
        self.thread.join()
        vellum.dumps = self.dumps
        gc.collect()  # the last finalizer's work, while dumps is ours again
        return False
