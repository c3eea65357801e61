import sys

import vellum


def pytest_report_header(config):
    return f"vellum from {sys.modules['vellum.vellum'].__file__}"
