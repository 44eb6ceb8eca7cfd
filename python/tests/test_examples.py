"""Every example of the documents and of the package's docstrings, run as
written, as a user would run it: in a scratch folder holding sample.bmp,
in.bmp, a.bmp, b.bmp and photos/ (a.bmp, b.bmp, night/c.bmp).

- A document's fenced ```python and ```sh blocks run in order, in one
  folder: Python blocks as scripts of the installed package's interpreter,
  sh blocks with bash -e, with VENV naming that interpreter's environment.
  A Python block whose first line is "# NAME.py" is saved as NAME.py for
  later blocks instead. A ```text block after a block is what it prints:
  its lines must appear in that order ("..." within a line matches
  anything); a block whose expected output holds a traceback must fail,
  every other block must succeed.
- Indented command lines in documents are set-up, run by CI's stages
  (the README's by 20-tests.sh, the venv lines of docs/python.md by
  90-python.sh), not here.
- A docstring's example is a paragraph indented by four spaces; each runs
  as a script in a folder of its own.
"""

from __future__ import annotations

import ast
import os
import re
import shutil
import signal
import subprocess
import sys
import textwrap
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

from conftest import BUILD, ROOT

DOCUMENTS = ["README.md", "python/README.md", *sorted(
    str(p.relative_to(ROOT)) for p in (ROOT / "docs").glob("*.md"))]
PACKAGE = ROOT / "python/bmpcontrast"
FENCE = re.compile(r"^```(\w*)\n(.*?)^```$", re.S | re.M)


@dataclass
class Example:
    kind: str  # "python" or "sh"
    code: str
    expected: str | None = None  # the ```text block after it


def document_examples(path: Path) -> list[Example]:
    examples: list[Example] = []
    for m in FENCE.finditer(path.read_text(encoding="utf-8")):
        kind, body = m.group(1), m.group(2)
        if kind in ("python", "sh"):
            examples.append(Example(kind, body))
        elif kind == "text" and examples and examples[-1].expected is None:
            examples[-1].expected = body
    return examples


def docstring_examples() -> list[tuple[str, str]]:
    found = []
    for source in sorted(PACKAGE.glob("*.py")):
        tree = ast.parse(source.read_text(encoding="utf-8"))
        nodes = [tree] + [n for n in ast.walk(tree)
                          if isinstance(n, (ast.FunctionDef, ast.ClassDef, ast.AsyncFunctionDef))]
        for node in nodes:
            doc = ast.get_docstring(node, clean=True)
            module = "bmpcontrast" + ("" if source.stem == "__init__" else f".{source.stem}")
            where = module if node is tree else f"{module}.{node.name}"
            blocks: list[list[str]] = []
            in_block, after_blank = False, True
            for line in (doc or "").splitlines():
                if line.startswith("    ") and (in_block or after_blank):
                    if not in_block:
                        blocks.append([])
                    blocks[-1].append(line)
                    in_block = True
                elif line.strip():
                    in_block = False
                elif in_block:
                    blocks[-1].append(line)  # a blank line within the example
                after_blank = not line.strip()
            for i, block in enumerate(blocks):
                code = textwrap.dedent("\n".join(block)).strip() + "\n"
                found.append((where if len(blocks) == 1 else f"{where}#{i + 1}", code))
    return found


def scratch_folder(path: Path) -> Path:
    path.mkdir()
    subprocess.run([BUILD / "tools/make_sample", path / "sample.bmp"], check=True,
                   capture_output=True)
    for name in ("in.bmp", "a.bmp", "b.bmp", "photos/a.bmp", "photos/b.bmp",
                 "photos/night/c.bmp"):
        (path / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(path / "sample.bmp", path / name)
    return path


def environment() -> dict[str, str]:
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env["VENV"] = sys.prefix
    return env


def stop_servers(folder: Path) -> None:
    """Whatever a failed example left running, by the PIDs it wrote."""
    for pid_file in folder.glob("*.pid"):
        pid = int(pid_file.read_text().split()[0])
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                break
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and alive(pid):
                time.sleep(0.05)
            if not alive(pid):
                break


def alive(pid: int) -> bool:
    try:
        state = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
    except FileNotFoundError:
        return False
    return state != "Z"


def run(argv: list[str], folder: Path) -> subprocess.CompletedProcess:
    # In a session of its own, so that a hung example goes with all it started.
    proc = subprocess.Popen(argv, cwd=folder, env=environment(), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, start_new_session=True)
    try:
        out, err = proc.communicate(timeout=120)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, err = proc.communicate()
        pytest.fail(f"{argv} did not finish in 120 s; output:\n{out}{err}")
    return subprocess.CompletedProcess(argv, proc.returncode, out, err)


def check_output(example: Example, result: subprocess.CompletedProcess, where: str) -> None:
    output = result.stdout + result.stderr
    shown = f"{where}: exit status {result.returncode}, output:\n{output}"
    fails = example.expected is not None and "Traceback (most recent call last):" in example.expected
    assert (result.returncode != 0) == fails, shown
    if example.expected is None:
        return
    lines, at = output.splitlines(), 0
    for want in example.expected.splitlines():
        if want.strip() in ("", "..."):
            continue
        pattern = re.compile(".*".join(re.escape(part) for part in want.split("...")))
        while at < len(lines) and not pattern.fullmatch(lines[at].rstrip()):
            at += 1
        assert at < len(lines), f"{shown}\nexpected, in order: {want!r}"
        at += 1


def run_example(example: Example, folder: Path, where: str) -> None:
    if example.kind == "python":
        first = example.code.splitlines()[0]
        saved = re.fullmatch(r"# (\w+\.py)", first)
        if saved:
            (folder / saved.group(1)).write_text(example.code, encoding="utf-8")
            return
        argv = [sys.executable, "-c", example.code]
    else:
        argv = ["bash", "-e", "-c", example.code]
    check_output(example, run(argv, folder), where)


@pytest.mark.parametrize("document", [d for d in DOCUMENTS if document_examples(ROOT / d)])
def test_document_examples(document, tmp_path):
    examples = document_examples(ROOT / document)
    if any("/usr/bin/dask" in e.code for e in examples) and subprocess.run(
            ["/usr/bin/python3", "-c", "import bmpcontrast"], cwd=tmp_path,
            capture_output=True).returncode == 0:
        pytest.skip("/usr/bin/python3 has the package installed: no worker lacks it")
    folder = scratch_folder(tmp_path / "run")
    try:
        for i, example in enumerate(examples):
            run_example(example, folder, f"{document}, example {i + 1}")
    finally:
        stop_servers(folder)


DOCSTRINGS = docstring_examples()


@pytest.mark.parametrize("name, code", DOCSTRINGS, ids=[n for n, _ in DOCSTRINGS])
def test_docstring_examples(name, code, tmp_path):
    folder = scratch_folder(tmp_path / "run")
    # As a script of its own: a LocalCluster's workers import it again.
    (folder / "example.py").write_text(code, encoding="utf-8")
    check_output(Example("python", code), run([sys.executable, "example.py"], folder), name)


def test_the_examples_are_found():
    # A change of fence or indent must not leave examples unrun.
    assert {"bmpcontrast", "bmpcontrast.dask"} <= {name for name, _ in DOCSTRINGS}
    assert [e.kind for e in document_examples(ROOT / "docs/python.md")].count("sh") >= 4
    assert any(e.expected for e in document_examples(ROOT / "docs/python.md"))


def test_the_venv_lines_are_the_same_everywhere():
    def venv_lines(path: str) -> list[str]:
        return [line.strip() for line in (ROOT / path).read_text(encoding="utf-8").splitlines()
                if line.startswith(("    /usr/bin/python3 -m venv", '    "$VENV/bin/python" -m pip'))]
    assert venv_lines("docs/python.md") == venv_lines("python/README.md") != []
