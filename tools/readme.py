"""The package index's copy of README.md, a provider of scikit-build-core's
[[tool.dynamic-metadata]] (pyproject.toml). scikit-build-core's provider for
hatch-fancy-pypi-readme builds it as [tool.hatch.metadata.hooks.fancy-pypi-readme]
says: the README's relative links, which work in the repository, become
$SOURCE links. $SOURCE is then the Source address of [project.urls], the
one place of the project's home."""

from collections.abc import Mapping
from typing import Any

from scikit_build_core.metadata import fancy_pypi_readme


def dynamic_metadata(settings: Mapping[str, Any], project: Mapping[str, Any]) -> dict[str, Any]:
    readme = fancy_pypi_readme.dynamic_metadata("readme", {}, project)
    assert isinstance(readme, dict)
    return {"readme": {**readme, "text": readme["text"].replace("$SOURCE", project["urls"]["Source"])}}
