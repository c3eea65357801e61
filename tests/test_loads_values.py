import ctypes
import json
import sys

import pytest

import vellum


# Which numbers become ints and which floats, and the sign of zero, are in
# test_conformance.py; the values of numbers are the reader's.


def test_long_mantissas_match_float():
    import random

    rng = random.Random(3)
    for _ in range(2000):
        digits = "".join(rng.choice("0123456789") for _ in range(rng.randrange(1, 400)))
        text = f"{rng.choice(['', '-'])}{rng.randrange(1, 10)}.{digits}e{rng.randrange(-330, 310)}"
        try:
            expected = float(text)
        except OverflowError:
            continue
        if expected in (float("inf"), float("-inf")):
            continue
        assert repr(vellum.loads(text)) == repr(expected), text


@pytest.mark.parametrize(
    "text,expected",
    [
        ('"abc"', "abc"), ('"é"', "é"), ('"€"', "€"), ('"\U0001f600"', "\U0001f600"),
        ('"a\\"b"', 'a"b'), ('"\\/"', "/"), ('"\\u00e9"', "é"), ('"\\u20ac"', "€"),
        ('"\\ud83d\\ude00"', "\U0001f600"), ('"\\u0000"', "\x00"), ('"é\\n€"', "é\n€"),
        ('"\\b\\f\\n\\r\\t"', "\b\f\n\r\t"), ('"\x7f"', "\x7f"),
    ],
)
def test_strings(text, expected):
    assert vellum.loads(text) == expected
    assert vellum.loads(text.encode()) == expected


@pytest.mark.parametrize("text", ["a" * 300, "é" * 300, "€" * 300, "\U0001f600" * 300, "aé€\U0001f600" * 77])
def test_string_widths(text):
    value = vellum.loads(json.dumps(text, ensure_ascii=False))
    assert value == text
    assert sys.getsizeof(value) == sys.getsizeof(text[:-1] + text[-1])  # same canonical width


def test_duplicate_keys_keep_first_key_and_last_value():
    result = vellum.loads('{"a": 1, "b": 2, "a": 3}')
    assert result == {"a": 3, "b": 2}
    assert list(result) == ["a", "b"]


def test_empty_values():
    result = vellum.loads('[[], {}, ""]')
    assert result == [[], {}, ""]
    assert result[2] is vellum.loads('""')


def test_dict_sizes_around_presize():
    for n in (7, 8, 9, 20):
        doc = {f"k{i}": i for i in range(n)}
        assert vellum.loads(json.dumps(doc)) == doc


def test_key_strs_shared_up_to_64_bytes():
    for n in (0, 1, 16, 63, 64):
        key = "k" * n
        doc = json.dumps([{key: 1}, {key: 2}])
        first, second = vellum.loads(doc)
        again = vellum.loads(doc)[0]
        (a,), (b,), (c,) = first, second, again
        assert a is b is c
    key = "k" * 65
    (a,), (b,) = vellum.loads(json.dumps([{key: 1}, {key: 2}]))
    assert a == b and a is not b


def test_escaped_key_shares_the_plain_key():
    (plain,), (escaped,) = vellum.loads('[{"A": 1}, {"\\u0041": 2}]')
    assert plain is escaped


@pytest.mark.parametrize("key", ["", "a", "é", "€" * 20, "\U0001f600", "x" * 64, "y" * 65, "z" * 1000])
def test_key_hashes_agree(key):
    (loaded,) = vellum.loads(json.dumps({key: 0}))
    assert hash(loaded) == hash("".join(list(key)))
    assert {loaded: 1}[key] == 1


def test_keys_mapping_to_one_slot_still_correct():
    keys = [f"key{i}" for i in range(5000)]
    docs = [vellum.loads(json.dumps({k: i})) for i, k in enumerate(keys)]
    assert [next(iter(d)) for d in docs] == keys


def test_key_cache_compares_text_on_hash_match():
    # Stage what a colliding key leaves behind: the slot of "a" holding "b".
    native = sys.modules["vellum.vellum"]
    library = ctypes.PyDLL(native.__file__)
    store = library.vellum_key_cache_store
    store.argtypes = [ctypes.py_object, ctypes.c_char_p, ctypes.c_size_t, ctypes.py_object]
    store.restype = None
    impostor = "".join(["b"])
    store(native, b"a", 1, impostor)
    assert vellum.loads('{"a": 1}') == {"a": 1}
    (key,) = vellum.loads('{"a": 1}')
    assert key == "a" and key is not impostor


def test_nesting_to_the_limit():
    deep = vellum.loads("[" * 1024 + "]" * 1024)
    depth = 0
    while deep:
        deep = deep[0]
        depth += 1
    assert depth == 1023
    obj = vellum.loads('{"a":' * 1023 + "1" + "}" * 1023)
    assert obj["a"]["a"]["a"] is not None


def test_references_are_balanced():
    doc = b'{"key": [1, "text", {"k": null}], "other": 2.5}'
    results = [vellum.loads(doc) for _ in range(100)]
    held = sys.getrefcount(results[0]) - sys.getrefcount([])
    assert held == 1
    key = next(iter(results[0]))
    before = sys.getrefcount(key)
    del results
    assert sys.getrefcount(key) == before - 100


# Short strings take their own path: a non-ASCII character at every place,
# written plainly and through escapes (which leave unread bytes after the
# text), as values and keys.
@pytest.mark.parametrize("length", range(1, 20))
def test_short_strings_with_a_wide_character_anywhere(length):
    for at in range(length):
        for wide in ("é", "€", "\U0001f600"):
            text = "a" * at + wide + "b" * (length - at - 1)
            for doc in (json.dumps([text, {text: text}], ensure_ascii=False), json.dumps([text, {text: text}])):
                assert vellum.loads(doc) == [text, {text: text}]
                assert vellum.loads(doc.encode()) == [text, {text: text}]
