"""vellum in sub-interpreters: imported in each, isolated ones (with their
own interpreter lock, 3.13 on) and legacy ones sharing the main lock, calling
dumps and loads in several at once, each with its own types and caches."""

import importlib.util
import subprocess
import sys
import textwrap

import pytest

# What each script starts with: `create()` makes an interpreter of the kind
# in CONFIG, `run(interp, code)` runs code in it and returns its failure as
# text, or None. 3.13 on name the module _interpreters; 3.12 names it
# _xxsubinterpreters, whose run_string raises the failure instead.
if importlib.util.find_spec("_interpreters") is not None:
    MODULE = "_interpreters"
    HELPERS = """
import _interpreters as interpreters
def create():
    return interpreters.create(CONFIG)
def run(interp, code):
    failure = interpreters.run_string(interp, code)
    return None if failure is None else failure.formatted
"""
elif sys.version_info >= (3, 12):
    MODULE = "_xxsubinterpreters"
    HELPERS = """
import _xxsubinterpreters as interpreters
def create():
    return interpreters.create(isolated=CONFIG == "isolated")
def run(interp, code):
    try:
        interpreters.run_string(interp, code)
    except interpreters.RunFailedError as exc:
        return str(exc)
"""
else:
    MODULE = HELPERS = None

pytestmark = pytest.mark.skipif(MODULE is None, reason="3.11 has no sub-interpreters with a lock of their own")

# 3.12's datetime module, whose C API vellum uses, loads only in interpreters
# that share the main lock: so does vellum there.
ISOLATED_LOADS = sys.version_info >= (3, 13)
CONFIGS = [
    pytest.param("isolated", marks=pytest.mark.skipif(not ISOLATED_LOADS, reason="3.12: datetime refuses isolated interpreters")),
    "legacy",
]

INTERPRETERS = 4

# Run in each interpreter: a workload checked against the standard library,
# then the id of a key that loads took from its cache (an object of that
# interpreter alone while the interpreters live).
WORK = textwrap.dedent(
    """
    import datetime, decimal, enum, json, vellum
    class Color(enum.Enum):
        RED = "red"
    doc = {{"interp": {n}, "cached_key": [1.5, "short", None, True], "when": datetime.datetime(2024, 1, 2,
           tzinfo=datetime.timezone.utc), "color": Color.RED, "text": "é" * {n}, "big": 2 ** 63 + {n},
           "price": decimal.Decimal("1.50")}}
    for _ in range(300):
        out = vellum.dumps(doc, option=vellum.OPT_SORT_KEYS | vellum.OPT_NON_STR_KEYS | vellum.OPT_DECIMAL)
        back = vellum.loads(out)
        assert back == json.loads(out), back
        assert back["color"] == "red" and back["when"] == "2024-01-02T00:00:00+00:00", back
        # This interpreter's own Decimal type, both ways.
        price = vellum.loads(out, parse_float=decimal.Decimal)["price"]
        assert type(price) is decimal.Decimal and str(price) == "1.50", repr(price)
    try:
        vellum.loads(b"[1,")
    except vellum.JSONDecodeError as exc:
        assert isinstance(exc, json.JSONDecodeError) and exc.pos == 3, exc
    first = vellum.loads(b'{{"cached_key": 1}}')
    again = vellum.loads(b'{{"cached_key": 2}}')
    (kept,) = first
    assert next(iter(again)) is kept
    with open({out!r}, "w") as f:
        f.write(str(id(kept)))
    """
)


def run_script(config, body):
    script = f"CONFIG = {config!r}\n" + HELPERS + textwrap.dedent(body)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stdout + out.stderr
    assert out.stdout.strip() == "ok"


@pytest.mark.parametrize("config", CONFIGS)
def test_interpreters_at_once(config, tmp_path):
    outs = [str(tmp_path / f"out{n}") for n in range(INTERPRETERS)]
    works = [WORK.format(n=n, out=out) for n, out in enumerate(outs)]
    body = f"""
        import threading, vellum
        works = {works!r}
        interps = [create() for _ in works]
        failures = []
        def worker(interp, code):
            failure = run(interp, code)
            if failure:
                failures.append(failure)
        threads = [threading.Thread(target=worker, args=pair) for pair in zip(interps, works)]
        for t in threads: t.start()
        # The main interpreter's module goes on working meanwhile.
        for _ in range(300):
            assert vellum.loads(vellum.dumps({{"main": [1, 2]}})) == {{"main": [1, 2]}}
        for t in threads: t.join()
        assert not failures, failures
        ids = {{open(out).read() for out in {outs!r}}}
        # Each interpreter's cache holds its own str (the interpreters still live).
        assert len(ids) == len(works), ids
        for interp in interps:
            interpreters.destroy(interp)
        print("ok")
        """
    run_script(config, body)


@pytest.mark.parametrize("config", CONFIGS)
def test_first_import_in_an_interpreter_that_is_gone(config):
    # The first import happens in a sub-interpreter, which is then destroyed
    # with its module: the main interpreter's own import starts afresh and
    # keeps none of the other's objects.
    body = """
        interp = create()
        failure = run(interp, "import vellum; assert vellum.loads(vellum.dumps([1, 'a'])) == [1, 'a']")
        interpreters.destroy(interp)
        assert failure is None, failure
        import gc, vellum
        gc.collect()
        assert vellum.loads(vellum.dumps({"a": [1.5, None]})) == {"a": [1.5, None]}
        try:
            vellum.loads(b"[")
        except vellum.JSONDecodeError as exc:
            assert exc.msg == "unexpected end of data", exc.msg
        print("ok")
        """
    run_script(config, body)


@pytest.mark.skipif(ISOLATED_LOADS, reason="vellum loads in isolated interpreters from 3.13")
def test_isolated_interpreter_refused_on_3_12():
    body = """
        interp = create()
        failure = run(interp, "import vellum")
        interpreters.destroy(interp)
        assert "ImportError" in failure and "subinterpreters" in failure, failure
        print("ok")
        """
    run_script("isolated", body)
