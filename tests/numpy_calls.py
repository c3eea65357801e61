"""dumps under OPT_SERIALIZE_NUMPY, and its failures, for the numpy tests."""

import pytest

import vellum
from vellum import JSONEncodeError

NUMPY = vellum.OPT_SERIALIZE_NUMPY


def dumps(obj, option=0, **kwargs):
    return vellum.dumps(obj, option=NUMPY | option, **kwargs)


def encode_error(obj, option=0, **kwargs):
    with pytest.raises(JSONEncodeError) as info:
        dumps(obj, option, **kwargs)
    return info.value


def fails(obj, **kwargs):
    # Keeps no exception (and so no frame) alive afterwards.
    try:
        dumps(obj, **kwargs)
    except JSONEncodeError:
        return True
    return False
