"""What the Python tests share: comparing values, the errors dumps and loads
raise, and for the numpy tests dumps under OPT_SERIALIZE_NUMPY and the texts
numpy itself gives (built independently of vellum: numpy's own shortest
digits for singles and its own date strings for datetime64).

The tests import it as `support` (pytest puts tests/ on the path); numpy is
imported only by the functions that need it."""

import gc
import math

import pytest

import vellum
from vellum import JSONDecodeError, JSONEncodeError

# ---------------------------------------------------------------- values


def same(a, b, wide_ints_as_floats=False):
    """Equal values of the same types (1 is not 1.0 and True is not 1),
    floats with their sign (0.0 is not -0.0) and NaN equal to NaN. With
    wide_ints_as_floats, an int a outside the 64-bit range also equals the
    float b nearest to it, which is how vellum reads such a literal."""
    if (
        wide_ints_as_floats
        and type(a) is int
        and type(b) is float
        and not -(2**63) <= a < 2**64
    ):
        return float(a) == b
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b) or (a != a and b != b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y, wide_ints_as_floats) for x, y in zip(a, b))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k], wide_ints_as_floats) for k in a)
    return a == b


# ---------------------------------------------------------------- errors


def decode_error(obj):
    """The JSONDecodeError that loads(obj) raises."""
    with pytest.raises(JSONDecodeError) as info:
        vellum.loads(obj)
    return info.value


def encode_error(obj, **kwargs):
    """The JSONEncodeError that dumps(obj, **kwargs) raises."""
    with pytest.raises(JSONEncodeError) as info:
        vellum.dumps(obj, **kwargs)
    return info.value


# ---------------------------------------------------------------- mutation


class Trigger:
    """For default=run_trigger: Python code run while dumps writes a
    container, which may change it (a collection follows)."""

    def __init__(self, action):
        self.action = action


def run_trigger(obj):
    obj.action()
    gc.collect()
    return "t"


# ---------------------------------------------------------------- numpy

NUMPY = vellum.OPT_SERIALIZE_NUMPY


def numpy_dumps(obj, option=0, **kwargs):
    """dumps with OPT_SERIALIZE_NUMPY added to `option`."""
    return vellum.dumps(obj, option=NUMPY | option, **kwargs)


def numpy_encode_error(obj, option=0, **kwargs):
    with pytest.raises(JSONEncodeError) as info:
        numpy_dumps(obj, option, **kwargs)
    return info.value


def numpy_fails(obj, **kwargs):
    """Whether numpy_dumps raises JSONEncodeError; keeps no exception (and so
    no frame) alive afterwards."""
    try:
        numpy_dumps(obj, **kwargs)
    except JSONEncodeError:
        return True
    return False


UNIT_NAMES = {
    "Y": "years", "M": "months", "W": "weeks", "D": "days", "h": "hours", "m": "minutes",
    "s": "seconds", "ms": "milliseconds", "us": "microseconds", "ns": "nanoseconds",
    "ps": "picoseconds", "fs": "femtoseconds", "as": "attoseconds",
}
CALENDAR_UNITS = ["Y", "M", "W", "D", "h", "m", "s", "ms", "us", "ns"]


def single_text(x) -> str:
    """A single's shortest digits in the layout of the float writer: fixed
    for first-digit exponents -6 to 12, exponent notation otherwise."""
    import numpy as np

    x = np.float32(x)
    if not np.isfinite(x):
        return "null"
    sign = "-" if np.signbit(x) else ""
    if x == 0:
        return sign + "0.0"
    mantissa, exponent = np.format_float_scientific(abs(x), unique=True, trim="-").split("e")
    digits = mantissa.replace(".", "").rstrip("0")
    e, k = int(exponent), len(digits)
    if -6 <= e <= 12:
        if e < 0:
            return sign + "0." + "0" * (-e - 1) + digits
        if e < k - 1:
            return sign + digits[: e + 1] + "." + digits[e + 1:]
        return sign + digits + "0" * (e - k + 1) + ".0"
    return sign + digits[0] + ("." + digits[1:] if k > 1 else "") + "e" + ("-" if e < 0 else "+") + str(abs(e))


def datetime64_text(count: int, unit: str, option: int = 0) -> str:
    """The JSON string of an in-range datetime64 count."""
    import numpy as np

    full = str(np.datetime_as_string(np.datetime64(count, unit), unit="ns" if unit == "ns" else "us"))
    date_time, fraction = full.split(".")
    micro = fraction[:6]
    text = date_time
    if not option & vellum.OPT_OMIT_MICROSECONDS and micro != "000000":
        text += "." + micro
    if option & vellum.OPT_NAIVE_UTC:
        text += "Z" if option & vellum.OPT_UTC_Z else "+00:00"
    return '"' + text + '"'


def unrepresentable(count: int, unit: str) -> str:
    return f"unrepresentable numpy.datetime64: {count} {UNIT_NAMES[unit]}"


def unsupported(name: str) -> str:
    return f"unsupported numpy.datetime64 unit: {name}"
