"""The documents against what they describe.

    python3 tests/docs_check.py result_codes|performance_table

result_codes: the code table of docs/contract.md has exactly the header's
codes, each with the value, names and meaning that BMPContrastDescribeResult
gives, and the lines it quotes are exactly the library's (messages.h); the
colour mode's own lines there are each quoted in docs/architecture.md.
performance_table: the table in docs/performance.md is the one
docs/make_figures.py makes from docs/performance.csv.

Standard library only.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def header_codes() -> dict[int, tuple[str, str, str]]:
    """value -> (name, short name, meaning), from include/bmpcontrast.h."""
    header = (ROOT / "include/bmpcontrast.h").read_text(encoding="utf-8")
    enum = re.search(r"enum BMPContrastResult[^{]*\{(.*?)\};", header, re.S).group(1)
    enum = re.sub(r"/\*.*?\*/", "", enum, flags=re.S)
    values = {name: int(v) for name, v in re.findall(r"(BMPCONTRAST_\w+)\s*=\s*(\d+)", enum)}
    short = {name: alias for alias, name in re.findall(r"\b(\w+)\s*=\s*(BMPCONTRAST_\w+)", enum)}
    describe = header[header.index("BMPContrastDescribeResult(int32_t"):]
    describe = describe[:describe.index("return text;")]
    texts = {
        case: (name, meaning)
        for case, name, meaning in re.findall(
            r'case (BMPCONTRAST_\w+):\s*text\.name = "([^"]*)",\s*text\.meaning = "([^"]*)"',
            describe)
    }
    problems = [f"{n}: no case in BMPContrastDescribeResult" for n in values if n not in texts]
    problems += [f"{n}: described under {texts[n][0]}" for n in texts if texts[n][0] != n]
    problems += [f"{n}: no short name" for n in values if n not in short]
    if problems:
        sys.exit("include/bmpcontrast.h:\n  " + "\n  ".join(problems))
    return {v: (n, short[n], texts[n][1]) for n, v in values.items()}


def table_rows(markdown: str, heading: str) -> list[list[str]]:
    """The cells of the first table after `heading`, header row left out."""
    section = markdown[markdown.index(heading):]
    rows = []
    for line in section.splitlines()[1:]:
        if line.startswith("|"):
            rows.append([c.strip() for c in line.strip().strip("|").split("|")])
        elif rows:
            break
    return [r for r in rows[1:] if not set("".join(r)) <= set("-: ")]


def check_result_codes() -> list[str]:
    contract = (ROOT / "docs/contract.md").read_text(encoding="utf-8")
    documented = {}
    lines_quoted = set()
    for cells in table_rows(contract, "## Result codes"):
        value, name, short, meaning, printed = cells
        documented[int(value)] = (name.strip("`"), short.strip("`"), meaning)
        lines_quoted |= set(re.findall(r"`((?:Error|Warning|Success): [^`]*)`", printed))
    # The warning line is described below the table.
    lines_quoted |= set(re.findall(r"`(Warning: [^`]*)`", contract))

    problems = []
    header = header_codes()
    for value in sorted(set(header) | set(documented)):
        if header.get(value) != documented.get(value):
            problems.append(f"{value}: header {header.get(value)}, docs/contract.md "
                            f"{documented.get(value)}")
    if "`BMPCONTRAST_UNKNOWN_RESULT`, \"not a result of BMPContrast\"" not in contract:
        problems.append("docs/contract.md does not give the unknown result's text")

    def quoted_lines(source: str) -> set[str]:
        return {m.replace("\\n", "") for m in re.findall(r'"([^"]*)\\n"', source)}

    # The colour mode's lines close the file; the exported call never gives them.
    messages = (ROOT / "src/engine/messages.h").read_text(encoding="utf-8")
    contract_part, colour_part = messages.split("namespace colour {")
    library_lines = quoted_lines(contract_part)
    architecture = (ROOT / "docs/architecture.md").read_text(encoding="utf-8")
    colour_documented = set(re.findall(r"`(Error: [^`]*)`", architecture))
    problems += [f"colour mode's line not in docs/architecture.md: {line}"
                 for line in sorted(quoted_lines(colour_part) - colour_documented)]
    problems += [f"quoted but not printed by the library: {line}"
                 for line in sorted(lines_quoted - library_lines)]
    problems += [f"printed by the library but not in docs/contract.md: {line}"
                 for line in sorted(library_lines - lines_quoted)]
    return problems


def check_performance_table() -> list[str]:
    sys.path.insert(0, str(ROOT / "docs"))
    import make_figures

    expected = make_figures.performance_table(make_figures.read_performance())
    found = make_figures.table_in_markdown(make_figures.MARKDOWN.read_text(encoding="utf-8"))
    if found == expected:
        return []
    return ["docs/performance.md's table is not docs/performance.csv's; run "
            "/usr/bin/python3 docs/make_figures.py --table-only, which writes:\n" + expected]


CHECKS = {"result_codes": check_result_codes, "performance_table": check_performance_table}

if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in CHECKS:
        sys.exit(f"usage: {sys.argv[0]} {'|'.join(CHECKS)}")
    failures = CHECKS[sys.argv[1]]()
    if failures:
        sys.exit("\n".join(failures))
    print(f"{sys.argv[1]}: docs agree")
