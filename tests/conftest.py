import os
import sys

import vellum

# The install tests need what `make wheel-test` builds first (dist/).
if not os.environ.get("VELLUM_DIST"):
    collect_ignore = ["wheel"]


def pytest_report_header(config):
    return f"vellum from {sys.modules['vellum.vellum'].__file__}"


# VELLUM_HOSTILE=1: the dumps tests run with their documents changing under
# them (tests/support/hostile.py). Tests that read reference counts, stack
# depths or an item's identity are left out (marked `not_hostile`).
HOSTILE = os.environ.get("VELLUM_HOSTILE") == "1"


def pytest_configure(config):
    config.addinivalue_line("markers", "not_hostile: left out of the hostile mode (VELLUM_HOSTILE=1)")


def pytest_collection_modifyitems(config, items):
    if not HOSTILE:
        return
    import pytest

    for item in items:
        if item.get_closest_marker("not_hostile") is not None or not item.path.name.startswith("test_dumps_"):
            item.add_marker(pytest.mark.skip(reason="not run in the hostile mode"))


if HOSTILE:
    import pytest

    @pytest.fixture(autouse=True)
    def hostile():
        from support.hostile import Hostile

        with Hostile():
            yield
