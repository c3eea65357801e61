import json
import pathlib
import random

import pytest

import vellum

CORPUS = pathlib.Path(__file__).resolve().parents[1] / "bench" / "data"


def random_text(rng):
    alphabet = ["a", "Z", "0", " ", '"', "\\", "/", "\n", "\t", "\x00", "\x1f", "\x7f", "é", "€", "\u2028", "\U0001f600"]
    return "".join(rng.choice(alphabet) for _ in range(rng.randrange(0, 40)))


def random_value(rng, depth=0):
    kind = rng.randrange(10 if depth < 6 else 7)
    if kind == 0:
        return rng.choice([None, True, False])
    if kind == 1:
        return rng.randrange(-(2**63), 2**64)
    if kind == 2:
        return rng.randrange(-1000, 1000)
    if kind == 3:
        # Outside [1e-5, 1e-4), where repr() switches to exponent form later.
        value = rng.uniform(-1e300, 1e300) * rng.choice([1, 1e-300, 1e-10])
        return value if not 1e-5 <= abs(value) < 1e-4 else 0.5
    if kind in (4, 5, 6):
        return random_text(rng)
    if kind in (7, 8):
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(0, 6))]
    return {random_text(rng): random_value(rng, depth + 1) for _ in range(rng.randrange(0, 6))}


@pytest.mark.parametrize("seed", range(40))
def test_generated_documents(seed):
    rng = random.Random(seed)
    doc = random_value(rng)
    for option in (0, vellum.OPT_INDENT_2, vellum.OPT_SORT_KEYS):
        out = vellum.dumps(doc, option=option)
        assert json.loads(out) == doc
    assert vellum.dumps(doc) == json.dumps(doc, ensure_ascii=False, separators=(",", ":")).encode()
    assert vellum.dumps(doc, option=vellum.OPT_INDENT_2) == json.dumps(doc, ensure_ascii=False, indent=2).encode()


@pytest.mark.parametrize("path", sorted(CORPUS.glob("*.json")), ids=lambda p: p.name)
def test_corpus(path):
    doc = json.loads(path.read_bytes())
    out = vellum.dumps(doc)
    assert json.loads(out) == doc
    assert out == json.dumps(doc, ensure_ascii=False, separators=(",", ":")).encode()
    assert json.loads(vellum.dumps(doc, option=vellum.OPT_INDENT_2 | vellum.OPT_SORT_KEYS)) == doc
