"""The documents against what they describe.

    python3 tests/docs_check.py result_codes|performance_table|tool_statuses

result_codes: the code table of docs/contract.md has exactly the header's
codes, each with the value, names and meaning that BMPContrastDescribeResult
gives, and the lines it quotes are exactly the library's (messages.h); the
colour mode's own lines there are each quoted in docs/architecture.md.
performance_table: the table in docs/performance.md is the one
docs/make_figures.py makes from docs/performance.csv.
tool_statuses: the README, docs/tool.md and the manual page give every exit
status of the tool (tools/exit_status.h, and 130 for Ctrl-C) and `--`.
package_sections: every `tools/packages.sh SECTION...` in the documents and
messages names sections of .ci/packages.txt (a misspelt one would install
nothing), and the script prints each section's packages once.

Standard library only.
"""

from __future__ import annotations

import re
import subprocess
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


def check_tool_statuses() -> list[str]:
    header = (ROOT / "tools/exit_status.h").read_text(encoding="utf-8")
    # 130: what the shell reports for a run that Ctrl-C ends (128 + SIGINT).
    statuses = {int(v) for v in re.findall(r"kExit\w+ = (\d+);", header)} | {130}
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    tool = readme[readme.index("## The tool"):]
    tool = tool[:tool.index("\n## ", 4)]
    texts = {"README.md (The tool)": tool,
             "docs/tool.md": (ROOT / "docs/tool.md").read_text(encoding="utf-8").split("\n## ")[0]}
    problems = []
    for name, text in texts.items():
        if "Exit status" not in text:
            problems.append(f"{name}: no paragraph on exit statuses")
            continue
        paragraph = text[text.index("Exit status"):].split("\n\n")[0]
        said = {int(n) for n in re.findall(r"(?<![\w.-])(\d+)(?= )", paragraph)}
        problems += [f"{name}: no exit status {n}" for n in sorted(statuses - said)]
        problems += [f"{name}: exit status {n}, which the tool has not" for n in sorted(said - statuses)]
        if "skipped" not in paragraph or "`--`" not in paragraph:
            problems.append(f"{name}: says nothing of skipped files or of `--`")
    man = (ROOT / "tools/man/bmpcontrast.1").read_text(encoding="utf-8")
    section = man[man.index(".SH EXIT STATUS"):man.index(".SH", man.index(".SH EXIT STATUS") + 1)]
    listed = {int(n) for n in re.findall(r"^\.B (\d+)$", section, re.M)}
    if listed != statuses:
        problems.append(f"tools/man/bmpcontrast.1: exit statuses {sorted(listed)}, "
                        f"not {sorted(statuses)}")
    if not re.search(r"^\.B \\-\\-$", man, re.M):
        problems.append("tools/man/bmpcontrast.1: no entry for --")
    return problems


def check_package_sections() -> list[str]:
    listed: dict[str, list[str]] = {}
    for line in (ROOT / ".ci/packages.txt").read_text(encoding="utf-8").splitlines():
        m = re.match(r"([a-z]+):(.*)", line)
        if m:
            listed.setdefault(m.group(1), []).extend(m.group(2).split())
    problems = [f".ci/packages.txt: {name} twice in {section}"
                for section, names in listed.items() for name in set(names)
                if names.count(name) > 1]
    sources = [ROOT / "README.md", ROOT / "python/README.md", *sorted((ROOT / "docs").glob("*")),
               ROOT / "CMakeLists.txt", *sorted((ROOT / "tests").glob("*.cmake")),
               *sorted((ROOT / ".ci/stages").glob("*.sh"))]
    script = str(ROOT / "tools/packages.sh")
    for source in sources:
        if not source.is_file() or source.suffix == ".png":
            continue
        text = source.read_text(encoding="utf-8")
        for sections in re.findall(r"tools/packages\.sh((?: [a-z]+)+)", text):
            named = sections.split()
            unknown = [n for n in named if n not in listed]
            if unknown:
                problems.append(f"{source.relative_to(ROOT)}: tools/packages.sh {' '.join(named)}: "
                                f"no section {' '.join(unknown)}")
                continue
            out = subprocess.run([script, *named], capture_output=True, text=True, check=True)
            # In the list's order, each once.
            wanted = list(dict.fromkeys(p for n in listed if n in named for p in listed[n]))
            if out.stdout.split() != wanted:
                problems.append(f"tools/packages.sh {' '.join(named)}: {out.stdout.strip()!r}, "
                                f"not {' '.join(wanted)!r}")
    if subprocess.run([script, "no-such-section"], capture_output=True).returncode != 2:
        problems.append("tools/packages.sh no-such-section: not a failure")
    return problems


CHECKS = {"result_codes": check_result_codes, "performance_table": check_performance_table,
          "tool_statuses": check_tool_statuses, "package_sections": check_package_sections}

if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in CHECKS:
        sys.exit(f"usage: {sys.argv[0]} {'|'.join(CHECKS)}")
    failures = CHECKS[sys.argv[1]]()
    if failures:
        sys.exit("\n".join(failures))
    print(f"{sys.argv[1]}: docs agree")
