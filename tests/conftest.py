import os
import sys

import vellum

# The install tests need what `make wheel-test` builds first (dist/).
if not os.environ.get("VELLUM_DIST"):
    collect_ignore = ["wheel"]


def pytest_report_header(config):
    return f"vellum from {sys.modules['vellum.vellum'].__file__}"
