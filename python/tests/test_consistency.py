"""The package's code table, version and engine sources agree with the C
project's."""

import re

import bmpcontrast
from conftest import ROOT


def test_codes_match_the_header():
    header = (ROOT / "include/bmpcontrast.h").read_text()
    enum = re.search(r"enum BMPContrastResult[^{]*\{(.*?)\};", header, re.S).group(1)
    enum = re.sub(r"/\*.*?\*/", "", enum, flags=re.S)
    values = dict(re.findall(r"(BMPCONTRAST_\w+)\s*=\s*(\d+)", enum))
    aliases = dict(re.findall(r"(\w+)\s*=\s*(BMPCONTRAST_\w+)", enum))
    # Each of our names is the header's short name, an alias of the
    # prefixed constant that holds the value.
    ours = {c.name: c.value for c in bmpcontrast.CODES.values()}
    assert set(ours) == set(aliases)
    assert {name: int(values[aliases[name]]) for name in aliases} == ours
    assert {int(v) for v in values.values()} == set(bmpcontrast.CODES)


def test_version_matches_the_project():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    version = re.search(r"project\(\s*BMPContrast\s+VERSION\s+([\d.]+)", cmake).group(1)
    assert bmpcontrast.__version__ == version
    from bmpcontrast import _engine  # the engine's own header, as compiled in
    assert _engine.VERSION == version


