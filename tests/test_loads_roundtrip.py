import json
import pathlib
import random

import pytest

import vellum
from test_dumps_roundtrip import random_value

CORPUS = pathlib.Path(__file__).resolve().parents[1] / "bench" / "data"


@pytest.mark.parametrize("seed", range(40))
def test_generated_documents(seed):
    doc = random_value(random.Random(1000 + seed))
    for text in (json.dumps(doc), json.dumps(doc, indent=2), json.dumps(doc, ensure_ascii=False)):
        assert vellum.loads(text) == json.loads(text)
        assert vellum.loads(text.encode()) == json.loads(text)
    assert vellum.loads(vellum.dumps(doc)) == doc


@pytest.mark.parametrize("path", sorted(CORPUS.glob("*.json")), ids=lambda p: p.name)
def test_corpus(path):
    data = path.read_bytes()
    expected = json.loads(data)
    assert vellum.loads(data) == expected
    assert vellum.loads(data.decode()) == expected
    assert vellum.loads(bytearray(data)) == expected
    assert vellum.loads(memoryview(data)) == expected
