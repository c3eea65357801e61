"""Expected texts for numpy values, built independently of vellum: numpy's own
shortest digits for singles and its own date strings for datetime64."""

import numpy as np

UNIT_NAMES = {
    "Y": "years", "M": "months", "W": "weeks", "D": "days", "h": "hours", "m": "minutes",
    "s": "seconds", "ms": "milliseconds", "us": "microseconds", "ns": "nanoseconds",
    "ps": "picoseconds", "fs": "femtoseconds", "as": "attoseconds",
}
CALENDAR_UNITS = ["Y", "M", "W", "D", "h", "m", "s", "ms", "us", "ns"]

NAIVE_UTC = 2
OMIT_MICROSECONDS = 8
UTC_Z = 128


def single_text(x) -> str:
    """A single's shortest digits in the layout of the float writer: fixed
    for first-digit exponents -6 to 12, exponent notation otherwise."""
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
    full = str(np.datetime_as_string(np.datetime64(count, unit), unit="ns" if unit == "ns" else "us"))
    date_time, fraction = full.split(".")
    micro = fraction[:6]
    text = date_time
    if not option & OMIT_MICROSECONDS and micro != "000000":
        text += "." + micro
    if option & NAIVE_UTC:
        text += "Z" if option & UTC_Z else "+00:00"
    return '"' + text + '"'


def unrepresentable(count: int, unit: str) -> str:
    return f"unrepresentable numpy.datetime64: {count} {UNIT_NAMES[unit]}"


def unsupported(name: str) -> str:
    return f"unsupported numpy.datetime64 unit: {name}"
