"""Several threads calling loads and dumps at once, switching as often as the
interpreter allows, get exactly what one thread alone gets."""

import subprocess
import sys
import textwrap
import threading

import pytest

import vellum

THREADS = 8
ROUNDS = 300


class Opaque:
    def __init__(self, value):
        self.value = value


def default(obj):
    # Python code in the middle of dumps: a point where other threads run.
    return {"opaque": obj.value, "more": [obj.value] * 3}


def make_document(seed):
    return {
        f"key{seed}_{i}": [i, -i * seed, i / 7, "é€𝄞" * (i % 4), None, i % 2 == 0, {"n": {"m": [seed] * i}}]
        for i in range(40)
    } | {"text": "x" * (seed * 50), "escapes": '"\\\n\t\x01' * seed, "big": 2**63 + seed}


def make_object(seed):
    doc = make_document(seed)
    doc["objects"] = [Opaque(seed), Opaque([seed, "é"]), vellum.Fragment(b'{"raw":1}')]
    return doc


def run_threads(worker):
    """worker(t) for each of THREADS threads, all running at once."""
    threads = [threading.Thread(target=worker, args=(t,)) for t in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


OPTIONS = [0, vellum.OPT_INDENT_2, vellum.OPT_SORT_KEYS, vellum.OPT_SORT_KEYS | vellum.OPT_INDENT_2]


@pytest.fixture
def tiny_switch_interval():
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(previous)


def test_threads_agree_with_one_thread(tiny_switch_interval):
    shared_text = vellum.dumps(make_document(0))
    shared_object = make_object(0)
    own = {t: (vellum.dumps(make_document(t + 1)), make_object(t + 1)) for t in range(THREADS)}

    # What one thread alone gets.
    def expected_for(text, obj):
        return vellum.loads(text), [vellum.dumps(obj, default, option) for option in OPTIONS]

    expected_shared = expected_for(shared_text, shared_object)
    expected_own = {t: expected_for(*own[t]) for t in range(THREADS)}

    start = threading.Barrier(THREADS)
    failures = []
    calls = [0] * THREADS

    def worker(t):
        start.wait()
        text, obj = own[t]
        for r in range(ROUNDS):
            # Shared and own documents, str and bytes input, in an order of
            # the thread's own so that threads overlap in every pairing.
            for source, target, expected in ((shared_text, shared_object, expected_shared),
                                             (text, obj, expected_own[t]))[:: 1 if (r + t) % 2 else -1]:
                loaded = vellum.loads(source if r % 3 else source.decode())
                written = [vellum.dumps(target, default, option) for option in OPTIONS]
                calls[t] += 1 + len(OPTIONS)
                if loaded != expected[0] or written != expected[1]:
                    failures.append((t, r))
                    return

    run_threads(worker)
    assert failures == []
    assert calls == [ROUNDS * 2 * (1 + len(OPTIONS))] * THREADS


def test_errors_in_threads_stay_their_own(tiny_switch_interval):
    # Each thread's failure carries its own message, position and cause.
    start = threading.Barrier(THREADS)
    failures = []

    def refuse(obj):
        raise ValueError(obj.value)

    def worker(t):
        start.wait()
        bad_text = b"[" * (t + 1) + b"1,]" + b"]" * t
        for r in range(ROUNDS):
            try:
                vellum.loads(bad_text)
            except vellum.JSONDecodeError as exc:
                if (exc.msg, exc.pos) != ("trailing comma is not allowed", t + 2):
                    failures.append((t, r, exc.msg, exc.pos))
            try:
                vellum.dumps([Opaque(t)], refuse)
            except vellum.JSONEncodeError as exc:
                if exc.__cause__.args != (t,):
                    failures.append((t, r, exc.__cause__.args))

    run_threads(worker)
    assert failures == []


def test_first_import_from_many_threads_at_once():
    # The one-time set-up runs once, whichever thread gets there first.
    code = textwrap.dedent(
        """
        import sys, threading
        sys.setswitchinterval(1e-6)
        start = threading.Barrier(8)
        seen = []
        def worker():
            start.wait()
            import vellum
            seen.append((vellum.Fragment, vellum.JSONDecodeError, vellum.loads(b'{"a":[1]}')))
        threads = [threading.Thread(target=worker) for _ in range(8)]
        for t in threads: t.start()
        for t in threads: t.join()
        assert len(seen) == 8 and all(s == seen[0] for s in seen), seen
        print("ok")
        """
    )
    for _ in range(5):
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        assert out.returncode == 0, out.stderr
        assert out.stdout.strip() == "ok"
