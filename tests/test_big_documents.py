"""Documents of more than 2 GiB, read and written with memory to spare."""

import pytest

import vellum

pytestmark = pytest.mark.bigmem

SIZE = 2**31 + 7


def available_memory():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    return 0


@pytest.fixture(autouse=True)
def enough_memory():
    # Input, copy and result of several GiB each: a host with less memory
    # cannot run these at all.
    if available_memory() < 16 * 2**30:
        pytest.skip("needs 16 GiB of available memory")


def test_loads_of_a_string_over_2_gib():
    text = bytearray(b"a") * (SIZE + 2)
    text[0] = text[-1] = ord('"')
    result = vellum.loads(text)
    del text
    assert len(result) == SIZE
    assert result.count("a") == SIZE


def test_dumps_of_a_string_over_2_gib():
    text = "a" * (SIZE - 1) + '"'
    out = vellum.dumps(text)
    del text
    assert len(out) == SIZE + 3
    assert out[:4] == b'"aaa' and out[-4:] == b'a\\""'
