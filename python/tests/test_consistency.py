"""The package's code table and version agree with the C project's."""

import re

import bmpcontrast
from conftest import ROOT


def test_codes_match_the_header():
    header = (ROOT / "include/bmpcontrast.h").read_text()
    enum = re.search(r"enum BMPContrastResult[^{]*\{(.*?)\};", header, re.S).group(1)
    enum = re.sub(r"/\*.*?\*/", "", enum, flags=re.S)
    entries = [(name, int(value)) for name, value in re.findall(r"(\w+)\s*=\s*(\d+)", enum)]
    # Prefixed aliases, where the header has them, repeat the same values.
    plain = {name: value for name, value in entries if not name.startswith("BMPCONTRAST_")}
    assert {c.name: c.value for c in bmpcontrast.CODES.values()} == plain
    assert {value for _, value in entries} == set(bmpcontrast.CODES)


def test_version_matches_the_project():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    version = re.search(r"project\(\s*BMPContrast\s+VERSION\s+([\d.]+)", cmake).group(1)
    assert bmpcontrast.__version__ == version
