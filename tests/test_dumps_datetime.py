"""datetime, date and time values: their text in both layouts and as dict
keys, the options, the offsets the time-zone libraries give, and the
failures."""

import datetime as dt
import gc
import random
import sys
import zoneinfo

import dateutil.tz
import pendulum
import pytest
import pytz

import vellum
from vellum import JSONEncodeError

from support import encode_error

NAIVE_UTC = vellum.OPT_NAIVE_UTC
UTC_Z = vellum.OPT_UTC_Z
OMIT = vellum.OPT_OMIT_MICROSECONDS
KEYS = vellum.OPT_NON_STR_KEYS
TZ_MESSAGE = (
    "datetime's timezone library is not supported: use datetime.timezone.utc, pendulum, pytz, or dateutil"
)


class Fixed(dt.tzinfo):
    """A tzinfo reached through "dst" whose utcoffset returns anything."""

    def __init__(self, offset):
        self.offset = offset

    def utcoffset(self, d):
        return self.offset

    def dst(self, d):
        return None


class Raising(dt.tzinfo):
    offset = "raise"

    def utcoffset(self, d):
        if self.offset == "raise":
            raise ValueError("no offset today")
        return self.offset

    def dst(self, d):
        return None


class Hidden(dt.tzinfo):
    """Offers none of the attributes the libraries are told apart by."""

    def utcoffset(self, d):  # for hashing only
        return None

    @property
    def dst(self):
        raise AttributeError("dst")


def text(obj, option=0):
    out = vellum.dumps(obj, option=option)
    assert out[:1] == b'"' and out[-1:] == b'"'
    return out[1:-1].decode()


def keyed(obj):
    """{obj: 1}, for a datetime whose tzinfo misbehaves only once armed (the
    dict hashes its keys through utcoffset)."""
    zone = obj.tzinfo if isinstance(obj, dt.datetime) else None
    bad = getattr(zone, "offset", None)
    if bad is None:
        return {obj: 1}
    zone.offset = dt.timedelta(0)
    data = {obj: 1}
    zone.offset = bad
    return data


def key_text(obj, option=0):
    out = vellum.dumps({obj: 0}, option=option | KEYS)
    assert out.startswith(b'{"') and out.endswith(b'":0}')
    return out[2:-4].decode()


def tz(**delta):
    return dt.timezone(dt.timedelta(**delta))


D = dt.datetime(2024, 1, 2, 3, 4, 5)

CASES = [
    (dt.date(1, 1, 1), 0, "0001-01-01"),
    (dt.date(9999, 12, 31), 0, "9999-12-31"),
    (dt.date(2024, 2, 29), NAIVE_UTC | UTC_Z, "2024-02-29"),
    (dt.time(0, 0), 0, "00:00:00"),
    (dt.time(12, 30, 15, 12345), 0, "12:30:15.012345"),
    (dt.time(12, 30, 15, 12345), OMIT, "12:30:15"),
    (dt.time(23, 59, 59, 5), 0, "23:59:59.000005"),
    (dt.time(1, 2, 3, 123456), NAIVE_UTC | UTC_Z, "01:02:03.123456"),
    (dt.time(1, 2, 3, fold=1), 0, "01:02:03"),
    (D, 0, "2024-01-02T03:04:05"),
    (D, NAIVE_UTC, "2024-01-02T03:04:05+00:00"),
    (D, NAIVE_UTC | UTC_Z, "2024-01-02T03:04:05Z"),
    (D, UTC_Z, "2024-01-02T03:04:05"),
    (D.replace(microsecond=7, tzinfo=tz(hours=-5)), 0, "2024-01-02T03:04:05.000007-05:00"),
    (D.replace(microsecond=7, tzinfo=tz(hours=-5)), OMIT, "2024-01-02T03:04:05-05:00"),
    (D.replace(microsecond=999999), 0, "2024-01-02T03:04:05.999999"),
    (dt.datetime(1, 1, 1), 0, "0001-01-01T00:00:00"),
    (dt.datetime.max, 0, "9999-12-31T23:59:59.999999"),
    (D.replace(tzinfo=dt.timezone.utc), 0, "2024-01-02T03:04:05+00:00"),
    (D.replace(tzinfo=dt.timezone.utc), UTC_Z, "2024-01-02T03:04:05Z"),
    (D.replace(tzinfo=dt.timezone.utc), NAIVE_UTC, "2024-01-02T03:04:05+00:00"),
    (D.replace(tzinfo=tz(hours=5, minutes=30)), NAIVE_UTC, "2024-01-02T03:04:05+05:30"),
    (D.replace(tzinfo=tz(hours=-3, minutes=-30)), UTC_Z, "2024-01-02T03:04:05-03:30"),
    (D.replace(tzinfo=tz()), UTC_Z, "2024-01-02T03:04:05Z"),
    (D.replace(fold=1), 0, "2024-01-02T03:04:05"),
]


@pytest.mark.parametrize("obj,option,expected", CASES)
def test_text(obj, option, expected):
    assert text(obj, option) == expected
    assert key_text(obj, option) == expected


@pytest.mark.parametrize("obj,option,expected", CASES[::4])
def test_layouts(obj, option, expected):
    quoted = f'"{expected}"'.encode()
    assert vellum.dumps([obj, obj], option=option) == b"[" + quoted + b"," + quoted + b"]"
    indented = vellum.dumps({"a": [obj]}, option=option | vellum.OPT_INDENT_2)
    assert indented == b'{\n  "a": [\n    ' + quoted + b"\n  ]\n}"


@pytest.mark.parametrize(
    "offset,expected",
    [
        (dt.timedelta(hours=5, minutes=30), "+05:30"),
        (dt.timedelta(hours=-3, minutes=-30), "-03:30"),
        (dt.timedelta(seconds=-30), "-00:01"),
        # An offset that rounds to zero is +00:00: -00:00 would say that the
        # local offset is unknown.
        (dt.timedelta(seconds=-29), "+00:00"),
        (dt.timedelta(microseconds=-1), "+00:00"),
        (dt.timedelta(seconds=29), "+00:00"),
        (dt.timedelta(hours=1, seconds=30), "+01:01"),
        (dt.timedelta(hours=1, minutes=59, seconds=30), "+02:00"),
        (-dt.timedelta(hours=1, minutes=59, seconds=30), "-02:00"),
        (dt.timedelta(hours=1, minutes=59, seconds=29), "+01:59"),
        (dt.timedelta(hours=23, minutes=59), "+23:59"),
        (-dt.timedelta(hours=23, minutes=59), "-23:59"),
        (dt.timedelta(hours=23, minutes=59, seconds=29), "+23:59"),
        (-dt.timedelta(hours=23, minutes=59, seconds=29), "-23:59"),
        (dt.timedelta(microseconds=999999), "+00:00"),
        (dt.timedelta(hours=2, microseconds=999999), "+02:00"),
        (dt.timedelta(0), "+00:00"),
    ],
)
def test_offsets(offset, expected):
    d = D.replace(tzinfo=Fixed(offset))
    assert text(d) == "2024-01-02T03:04:05" + expected
    assert key_text(d) == "2024-01-02T03:04:05" + expected
    # An offset of no whole seconds is Z; the others keep their text.
    zero = offset.days == 0 and offset.seconds == 0
    assert text(d, UTC_Z).endswith("Z" if zero else expected)


def test_offsets_of_historical_zones_are_rounded_to_the_minute():
    from zoneinfo import ZoneInfo

    # Amsterdam kept its mean solar time, 19 min 32 s ahead of Greenwich, until 1937.
    d = dt.datetime(1900, 1, 1, tzinfo=ZoneInfo("Europe/Amsterdam"))
    assert d.utcoffset() == dt.timedelta(minutes=19, seconds=32)
    assert text(d) == "1900-01-01T00:00:00+00:20"


@pytest.mark.parametrize(
    "offset,shown",
    [
        (dt.timedelta(hours=24), "+24:00:00"),
        (dt.timedelta(hours=30), "+30:00:00"),
        (dt.timedelta(hours=-24), "-24:00:00"),
        (dt.timedelta(hours=-30, seconds=-5), "-30:00:05"),
        # Offsets that round to a whole day.
        (dt.timedelta(hours=23, minutes=59, seconds=30), "+23:59:30"),
        (-dt.timedelta(hours=23, minutes=59, seconds=30), "-23:59:30"),
        (dt.timedelta(hours=-24, microseconds=1), "-23:59:59.999999"),
        (dt.timedelta(days=1, microseconds=1), "+24:00:00.000001"),
        (dt.timedelta(days=-2, microseconds=1), "-47:59:59.999999"),
        (dt.timedelta(days=999999999), "+23999999976:00:00"),
        (dt.timedelta(days=-999999999), "-23999999976:00:00"),
    ],
)
def test_offset_of_a_day_or_more_fails(offset, shown):
    message = f"datetime's UTC offset must be strictly within 24 hours, got {shown}"
    d = D.replace(tzinfo=Fixed(offset))
    for obj, option in [(d, 0), ([1, d], vellum.OPT_INDENT_2), (keyed(d), KEYS), (keyed(d), KEYS | vellum.OPT_SORT_KEYS)]:
        err = encode_error(obj, option=option)
        assert str(err) == message
        assert err.__cause__ is None


@pytest.mark.parametrize("route", ["dst", "convert", "normalize"])
def test_offset_of_a_day_or_more_fails_alike_as_key_and_value(route):
    # "convert" and "normalize" ask a datetime, whose own utcoffset() refuses
    # the offset (the cause); "dst" asks the tzinfo, and the offset is
    # checked here.
    class Zone(Fixed):
        pass

    if route == "convert":
        Zone.convert = lambda self, d: d
    if route == "normalize":
        Zone.normalize = lambda self, d: d
    d = D.replace(tzinfo=Zone(dt.timedelta(hours=30)))
    outcomes = []
    for obj, option in [(d, 0), (keyed(d), KEYS), (keyed(d), KEYS | vellum.OPT_SORT_KEYS)]:
        err = encode_error(obj, option=option)
        outcomes.append((str(err), type(err.__cause__)))
    expected = (
        ("datetime's UTC offset must be strictly within 24 hours, got +30:00:00", type(None))
        if route == "dst"
        else (TZ_MESSAGE, ValueError)
    )
    assert outcomes == [expected] * 3


@pytest.mark.parametrize("result,name", [(3600, "int"), ("+01:00", "str"), (1.5, "float"), (D, "datetime.datetime")])
def test_offset_of_another_type_fails(result, name):
    d = D.replace(tzinfo=Fixed(result))
    for obj, option in [(d, 0), (keyed(d), KEYS)]:
        err = encode_error(obj, option=option)
        assert str(err) == f"datetime's tzinfo.utcoffset() must return a timedelta or None, not {name}"


def test_offset_of_a_timedelta_subclass():
    class Delta(dt.timedelta):
        pass

    assert text(D.replace(tzinfo=Fixed(Delta(hours=2)))) == "2024-01-02T03:04:05+02:00"


@pytest.mark.parametrize("option,expected", [(0, "2024-01-02T03:04:05"), (NAIVE_UTC, "2024-01-02T03:04:05+00:00"),
                                             (NAIVE_UTC | UTC_Z, "2024-01-02T03:04:05Z")])
def test_offset_none_is_naive(option, expected):
    d = D.replace(tzinfo=Fixed(None))
    assert d.isoformat() == "2024-01-02T03:04:05"
    assert text(d, option) == expected
    assert key_text(d, option) == expected


@pytest.mark.parametrize(
    "tzinfo,cause",
    [(Raising(), ValueError), (dt.tzinfo(), NotImplementedError), (Hidden(), None)],
    ids=["raising", "base-tzinfo", "no-attributes"],
)
def test_unreadable_time_zone(tzinfo, cause):
    d = D.replace(tzinfo=tzinfo)
    cases = [(d, 0), ([d], vellum.OPT_INDENT_2), ({"k": d}, vellum.OPT_SORT_KEYS)]
    if type(tzinfo) is not dt.tzinfo:  # the base class cannot even be hashed
        cases.append((keyed(d), KEYS))
    for obj, option in cases:
        err = encode_error(obj, option=option)
        assert str(err) == TZ_MESSAGE
        assert (type(err.__cause__) if err.__cause__ else None) is cause


def test_normalize_route_failures():
    class Normalizing(dt.tzinfo):
        def __init__(self, result):
            self.result = result

        def normalize(self, d):
            if isinstance(self.result, Exception):
                raise self.result
            return self.result

    err = encode_error(D.replace(tzinfo=Normalizing(KeyError("k"))))
    assert str(err) == TZ_MESSAGE and type(err.__cause__) is KeyError
    # What normalize returns is asked for its offset, and checked like any.
    # The normalized datetime's own utcoffset() checks what its tzinfo gives.
    err = encode_error(D.replace(tzinfo=Normalizing(D.replace(tzinfo=Fixed(7)))))
    assert str(err) == TZ_MESSAGE and type(err.__cause__) is TypeError
    err = encode_error(D.replace(tzinfo=Normalizing(object())))
    assert str(err) == TZ_MESSAGE and type(err.__cause__) is AttributeError
    assert text(D.replace(tzinfo=Normalizing(D.replace(tzinfo=tz(hours=3))))) == "2024-01-02T03:04:05+03:00"


def test_route_order():
    # "convert" asks the datetime, "normalize" the normalized datetime, and
    # "dst" the tzinfo; the first attribute found decides.
    calls = []

    class Both(dt.tzinfo):
        def convert(self, d):
            raise AssertionError

        def normalize(self, d):
            raise AssertionError

        def utcoffset(self, d):
            calls.append("utcoffset")
            return dt.timedelta(hours=1)

    assert text(D.replace(tzinfo=Both())) == "2024-01-02T03:04:05+01:00"
    assert calls == ["utcoffset"]


@pytest.mark.parametrize("route", ["convert", "normalize", "dst"])
def test_route_probe_that_raises(route):
    # Only a missing attribute (AttributeError) means "no such route": the
    # probe's other failures are not ignored.
    class Probed(dt.tzinfo):
        failure = AttributeError(route)

        def utcoffset(self, d):
            return dt.timedelta(hours=1)

    def probe(self):
        raise self.failure

    setattr(Probed, route, property(probe))
    zone = Probed()
    value = D.replace(tzinfo=zone)
    keyed_value = {value: 1}
    unraisable = []
    hook, sys.unraisablehook = sys.unraisablehook, unraisable.append
    try:
        # Missing: the next route ("dst" inherited from tzinfo when it is not
        # the one probed), or none.
        if route == "dst":
            assert str(encode_error(value)) == TZ_MESSAGE
        else:
            assert text(value) == "2024-01-02T03:04:05+01:00"
        for failure in (ValueError("probe"), KeyError("probe")):
            zone.failure = failure
            for obj, option in [(value, 0), (keyed_value, KEYS)]:
                err = encode_error(obj, option=option)
                assert str(err) == TZ_MESSAGE and err.__cause__ is failure
        zone.failure = MemoryError()
        for obj, option in [(value, 0), (keyed_value, KEYS)]:
            with pytest.raises(MemoryError) as info:
                vellum.dumps(obj, option=option)
            assert info.value is zone.failure
    finally:
        sys.unraisablehook = hook
    assert unraisable == []


def test_time_with_tzinfo_fails():
    for t in [dt.time(1, tzinfo=dt.timezone.utc), dt.time(1, tzinfo=Fixed(None)), dt.time(1, tzinfo=Hidden())]:
        for obj, option in [(t, 0), ([t], vellum.OPT_INDENT_2), ({t: 1}, KEYS), ({t: 1}, KEYS | vellum.OPT_SORT_KEYS)]:
            err = encode_error(obj, option=option)
            assert str(err) == "datetime.time must not have tzinfo set"
            assert err.__cause__ is None


@pytest.mark.parametrize("obj", [D, dt.date(2020, 1, 1), dt.time(1, 2)])
def test_passthrough_datetime(obj):
    option = vellum.OPT_PASSTHROUGH_DATETIME
    assert vellum.dumps(obj, lambda o: type(o).__name__, option=option) == f'"{type(obj).__name__}"'.encode()
    err = encode_error(obj, option=option)
    assert str(err) == f"Type is not JSON serializable: datetime.{type(obj).__name__}"
    # Keys are converted all the same.
    assert key_text(obj, option) == obj.isoformat()


class MyDatetime(dt.datetime):
    pass


class MyDate(dt.date):
    pass


class MyTime(dt.time):
    pass


@pytest.mark.parametrize("obj", [MyDatetime(2020, 1, 1), MyDate(2020, 1, 1), MyTime(1), pendulum.datetime(2020, 1, 1)])
def test_subclasses_go_to_default(obj):
    assert vellum.dumps(obj, lambda o: "d") == b'"d"'
    assert str(encode_error({obj: 1}, option=KEYS)) == "Dict key must a type serializable with OPT_NON_STR_KEYS"


# --- the time-zone libraries ------------------------------------------------

NEW_YORK = "America/New_York"


def zones(name):
    return [
        zoneinfo.ZoneInfo(name),
        dateutil.tz.gettz(name),
        pendulum.timezone(name),
    ]


@pytest.mark.parametrize("zone", zones(NEW_YORK), ids=["zoneinfo", "dateutil", "pendulum"])
@pytest.mark.parametrize(
    "wall,fold,expected",
    [
        (dt.datetime(2021, 1, 15, 12), 0, "-05:00"),
        (dt.datetime(2021, 7, 15, 12), 0, "-04:00"),
        # The repeated hour when clocks go back: fold picks the occurrence.
        (dt.datetime(2021, 11, 7, 1, 30), 0, "-04:00"),
        (dt.datetime(2021, 11, 7, 1, 30), 1, "-05:00"),
        (dt.datetime(2021, 11, 7, 0, 59, 59, 999999), 1, "-04:00"),
        (dt.datetime(2021, 11, 7, 2, 0), 0, "-05:00"),
        # The hour that is skipped when clocks go forward.
        (dt.datetime(2021, 3, 14, 1, 59, 59), 0, "-05:00"),
        (dt.datetime(2021, 3, 14, 3, 0), 0, "-04:00"),
    ],
)
def test_zones_across_transitions(zone, wall, fold, expected):
    d = wall.replace(tzinfo=zone, fold=fold)
    assert d.utcoffset() is not None
    assert text(d) == d.isoformat()
    assert text(d).endswith(expected)
    assert key_text(d, OMIT) == d.replace(microsecond=0).isoformat()


@pytest.mark.parametrize("zone", zones(NEW_YORK), ids=["zoneinfo", "dateutil", "pendulum"])
def test_zones_in_the_gap_agree_with_isoformat(zone):
    for fold in (0, 1):
        d = dt.datetime(2021, 3, 14, 2, 30, tzinfo=zone, fold=fold)
        assert text(d) == d.isoformat()


def offset_text(delta):
    sign = "-" if delta < dt.timedelta(0) else "+"
    minutes = round(abs(delta).total_seconds() / 60)
    return f"{sign}{minutes // 60:02d}:{minutes % 60:02d}"


@pytest.mark.parametrize(
    "wall,is_dst,expected",
    [
        (dt.datetime(2021, 1, 15, 12), None, "-05:00"),
        (dt.datetime(2021, 7, 15, 12), None, "-04:00"),
        (dt.datetime(2021, 11, 7, 1, 30), True, "-04:00"),
        (dt.datetime(2021, 11, 7, 1, 30), False, "-05:00"),
        # A wall time in the gap: normalize() moves it, and its offset is
        # the one written, beside the datetime's own fields.
        (dt.datetime(2021, 3, 14, 2, 30), True, "-05:00"),
        (dt.datetime(2021, 3, 14, 2, 30), False, "-04:00"),
    ],
)
def test_pytz_localized(wall, is_dst, expected):
    zone = pytz.timezone(NEW_YORK)
    d = zone.localize(wall, is_dst=is_dst)
    assert text(d) == wall.isoformat() + expected
    assert offset_text(zone.normalize(d).utcoffset()) == expected
    if zone.normalize(d).replace(tzinfo=None) == wall:
        assert text(d) == d.isoformat()
    assert key_text(d) == text(d)


@pytest.mark.parametrize(
    "zone,expected",
    [
        (pytz.utc, "+00:00"),
        (pytz.FixedOffset(-150), "-02:30"),
        (pendulum.UTC, "+00:00"),
        (pendulum.FixedTimezone(5 * 3600 + 45 * 60), "+05:45"),
        (dateutil.tz.tzutc(), "+00:00"),
        (dateutil.tz.tzoffset("X", -3600), "-01:00"),
        (dateutil.tz.UTC, "+00:00"),
        (zoneinfo.ZoneInfo("UTC"), "+00:00"),
        (zoneinfo.ZoneInfo("Asia/Kolkata"), "+05:30"),
        (zoneinfo.ZoneInfo("Asia/Kathmandu"), "+05:45"),
        (zoneinfo.ZoneInfo("Pacific/Kiritimati"), "+14:00"),
        (zoneinfo.ZoneInfo("Pacific/Pago_Pago"), "-11:00"),
    ],
)
def test_fixed_zones(zone, expected):
    d = dt.datetime(2024, 6, 1, 12, 0, 1, 250)
    d = zone.localize(d) if hasattr(zone, "localize") else d.replace(tzinfo=zone)
    assert text(d) == "2024-06-01T12:00:01.000250" + expected
    zulu = "Z" if expected == "+00:00" else expected
    assert text(d, UTC_Z | OMIT) == "2024-06-01T12:00:01" + zulu
    assert key_text(d, UTC_Z) == "2024-06-01T12:00:01.000250" + zulu


def test_random_datetimes_agree_with_isoformat():
    rng = random.Random(20240102)
    names = ["Europe/Paris", NEW_YORK, "Australia/Lord_Howe", "Asia/Kolkata", "America/St_Johns", "UTC"]
    tzinfos = [None, dt.timezone.utc]
    for name in names:
        tzinfos += zones(name)
    compared = 0
    for _ in range(4000):
        zone = rng.choice(tzinfos)
        low = 1 if zone is None or isinstance(zone, dt.timezone) else 1971
        high = 9999 if zone is None or isinstance(zone, dt.timezone) else 2037
        d = dt.datetime(
            rng.randint(low, high), rng.randint(1, 12), rng.randint(1, 28), rng.randint(0, 23),
            rng.randint(0, 59), rng.randint(0, 59), rng.choice([0, rng.randrange(10**6)]),
            tzinfo=zone, fold=rng.randint(0, 1),
        )
        offset = d.utcoffset()
        if offset is not None and offset.seconds % 60:
            continue  # isoformat writes the seconds, which are rounded here
        compared += 1
        assert vellum.dumps(d) == f'"{d.isoformat()}"'.encode(), repr(d)
        assert vellum.dumps(d.date()) == f'"{d.date().isoformat()}"'.encode()
        assert vellum.dumps(d.time()) == f'"{d.time().isoformat()}"'.encode()
    assert compared > 3500


# --- references and hostile time zones --------------------------------------


@pytest.mark.not_hostile  # the hostile mode's finalizer and thread may hold references a while
def test_offset_and_normalized_references_released():
    offset = dt.timedelta(hours=30)
    good = dt.timedelta(hours=2)
    normalized = D.replace(tzinfo=Fixed(good))

    class Normalizing(dt.tzinfo):
        def normalize(self, d):
            return normalized

        def utcoffset(self, d):  # for hashing only
            return good

    values = [D.replace(tzinfo=Fixed(offset)), D.replace(tzinfo=Fixed(good)), D.replace(tzinfo=Normalizing())]
    tracked = [offset, good, normalized, *values]
    before = [sys.getrefcount(o) for o in tracked]
    for _ in range(20):
        with pytest.raises(JSONEncodeError):
            vellum.dumps(values[0])
        with pytest.raises(JSONEncodeError):
            vellum.dumps([values[1], values[0]], option=KEYS)
        vellum.dumps(values[1:])
        vellum.dumps(dict.fromkeys(values[1:], 1), option=KEYS | vellum.OPT_SORT_KEYS)
    assert [sys.getrefcount(o) for o in tracked] == before


class Clearing(dt.tzinfo):
    """Empties the container being written, dropping the datetime itself."""

    def __init__(self, container, route="dst"):
        self.container = container
        if route != "dst":
            setattr(self, route, self.normalize_to_self)

    def normalize_to_self(self, d):
        self.container.clear()
        return d

    def utcoffset(self, d):
        self.container.clear()
        gc.collect()
        return dt.timedelta(hours=1, minutes=30)

    def dst(self, d):
        return None


@pytest.mark.parametrize("route", ["dst", "normalize", "convert"])
@pytest.mark.parametrize("option", [0, vellum.OPT_INDENT_2])
def test_time_zone_that_frees_the_datetime(route, option):
    data = []
    data.append(dt.datetime(2024, 5, 6, 7, 8, 9, 10, tzinfo=Clearing(data, route)))
    data.append(["x" * 100] * 10)
    out = vellum.dumps(data, option=option)
    assert out.replace(b"\n", b"").replace(b" ", b"") == b'["2024-05-06T07:08:09.000010+01:30"]'


@pytest.mark.parametrize("option", [KEYS, KEYS | vellum.OPT_SORT_KEYS])
def test_time_zone_that_clears_the_dict_of_its_key(option):
    data = {}
    data["a"] = [1] * 50
    data[dt.datetime(2024, 5, 6, tzinfo=Clearing(data))] = ["v" * 50]
    data["z"] = "last"
    out = vellum.dumps(data, option=option)
    # Every key and value was taken before the dict was cleared.
    assert b'"2024-05-06T00:00:00+01:30":["' + b"v" * 50 + b'"]' in out


def test_route_follows_changes_to_the_class():
    class Slim(dt.tzinfo):
        __slots__ = ()

        def utcoffset(self, d):
            return dt.timedelta(hours=1)

        def dst(self, d):
            return None

    d = D.replace(tzinfo=Slim())
    assert text(d) == "2024-01-02T03:04:05+01:00"
    Slim.normalize = lambda self, x: x.replace(tzinfo=dt.timezone(dt.timedelta(hours=4)))
    assert text(d) == "2024-01-02T03:04:05+04:00"
    del Slim.normalize
    assert text(d) == "2024-01-02T03:04:05+01:00"
    Slim.dst = property(lambda self: (_ for _ in ()).throw(AttributeError("dst")))
    assert str(encode_error(d)) == TZ_MESSAGE
