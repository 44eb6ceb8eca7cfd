"""One policy for what happens around the bytes, in every form the project
offers: the tool on one file, the tool on a batch, the tool in place, and
Python's adjust(). Each cell runs one form in one situation and checks the
outcome and the result's mode; the second table runs every form against
faults (special files, closed descriptors, failing reads, long names, hard
links, endless or stalled input)."""

from __future__ import annotations

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest

import bitmaps
import bmpcontrast as bc
from conftest import BUILD

OLD = 1_000_000_000  # a time well before the input's
NEW = 4_000_000_000  # and one well after it
FORMS = ("single", "batch", "inplace", "python")


def run_form(tool, form, src: Path, dst: Path, flags=(), env=None, **popen):
    """The finished process of one form; Python's exceptions exit with 1.
    Python's `overwrite` is the tool's -f."""
    if form == "python":
        code = (f"import bmpcontrast, sys\n"
                f"try:\n    bmpcontrast.adjust({str(src)!r}, {str(dst)!r}, 150, "
                f"overwrite={'-f' in flags})\n"
                f"except Exception as e:\n    print(type(e).__name__, e); sys.exit(1)\n")
        args = [sys.executable, "-W", "ignore", "-c", code]
    elif form == "single":
        args = [str(tool), *flags, str(src), str(dst), "150"]
    elif form == "batch":
        args = [str(tool), "-q", "-o", str(dst.parent), *flags, "150", str(src)]
    else:
        args = [str(tool), "-q", "-i", *flags, "150", str(src)]
    return subprocess.run(args, capture_output=True, env=env, **popen)


def destination(tmp_path: Path, form: str, src: Path) -> Path:
    return src if form == "inplace" else tmp_path / "out" / src.name


# situation -> (forms it applies to, flags per form, what the output is then)
# Outcomes: "new" converted, "kept" left as it was with success (skipped),
# "refused" left as it was with a failure, "none" nothing created, failure.
POLICY = [
    # name, forms, flags, before (output's mode, its time; None: no output), outcome, mode
    ("new output", ("single", "batch", "python"), (), None, "new", 0o644),
    ("existing output, -f", ("single", "batch", "python"), ("-f",), (0o640, OLD), "new", 0o640),
    ("existing output, batch default", ("batch",), (), (0o644, OLD), "refused", None),
    ("existing output, overwrite=False", ("python",), ("no-overwrite",), (0o644, OLD), "refused",
     None),
    ("existing output, --skip-existing", ("single", "batch"), ("--skip-existing",), (0o644, OLD),
     "kept", None),
    ("older output, --update", ("single", "batch"), ("--update",), (0o644, OLD), "new", 0o644),
    ("newer output, --update", ("single", "batch"), ("--update",), (0o644, NEW), "kept", None),
    ("read-only output", ("single", "batch", "inplace"), (), (0o444, OLD), "refused", None),
    ("read-only output, -f", FORMS, ("-f",), (0o444, OLD), "new", 0o444),
    ("private input, new output", ("single", "batch", "python"), ("private",), None, "new", 0o600),
    ("private input, existing output", ("single", "batch", "python"), ("private", "-f"),
     (0o644, OLD), "new", 0o600),
    ("private input, in place", ("inplace",), ("private",), None, "new", 0o600),
    ("missing input", FORMS, (), None, "none", None),
    ("missing input, --update", ("single", "batch"), ("--update",), None, "none", None),
    ("missing input, --skip-existing", ("single", "batch"), ("--skip-existing",), (0o644, OLD),
     "none", None),
]


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("name, forms, flags, before, outcome, mode", POLICY,
                         ids=[row[0] for row in POLICY])
def test_one_policy_in_every_form(tmp_path, tool, form, name, forms, flags, before, outcome,
                                  mode):
    if form not in forms:
        pytest.skip(f"{name}: no such case for {form}")
    os.umask(0o022)
    data = bitmaps.build(5, 3, 24)
    src = tmp_path / "in.bmp"
    (tmp_path / "out").mkdir()
    dst = destination(tmp_path, form, src)
    if not name.startswith("missing"):
        src.write_bytes(data)
        os.utime(src, ns=(2_000_000_000 * 10**9,) * 2)
    if "private" in flags:
        src.chmod(0o600)
    previous = b"previous"
    if before is not None:
        if form == "inplace":
            dst.chmod(before[0])
            previous = data
        else:
            dst.write_bytes(previous)
            dst.chmod(before[0])
            os.utime(dst, ns=(before[1] * 10**9,) * 2)
    tool_flags = tuple(f for f in flags if f not in ("private", "no-overwrite"))
    if form == "python" and "no-overwrite" not in flags:
        tool_flags = ("-f",)
    run = run_form(tool, form, src, dst, tool_flags)
    said = run.stdout.decode() + run.stderr.decode()
    if outcome == "new":
        assert run.returncode == 0, said
        assert dst.read_bytes() == bitmaps.expected(data, 150)
        assert dst.stat().st_mode & 0o777 == mode
    elif outcome == "kept":
        assert run.returncode == 0, said
        assert dst.read_bytes() == previous
    elif outcome == "refused":
        assert run.returncode != 0, said
        assert dst.read_bytes() == previous
        assert dst.stat().st_mode & 0o777 == before[0]
    else:
        assert run.returncode != 0 and "skipped" not in said, said
        assert dst.exists() == (before is not None and form != "inplace")
    scratch = [n for n in os.listdir(dst.parent) if ".bmpcontrast-" in n]
    assert scratch == []


FAULT_SHIM = BUILD / "tests/support/libbmpcontrast_read_fault.so"


def faulty_env(name: str, after: int) -> dict:
    if not FAULT_SHIM.exists():
        pytest.skip(f"{FAULT_SHIM} is not built")
    return dict(os.environ, LD_PRELOAD=str(FAULT_SHIM), BMPCONTRAST_FAULT_NAME=name,
                BMPCONTRAST_FAULT_AFTER=str(after))


@pytest.mark.parametrize("form", FORMS)
def test_a_failing_read_never_replaces_an_original(tmp_path, tool, form):
    data = bitmaps.build(300, 200, 24)
    src = tmp_path / "in.bmp"
    src.write_bytes(data)
    # OUTPUT = INPUT in the single form and in Python: the original is at stake.
    dst = tmp_path / "out" / "in.bmp" if form == "batch" else src
    dst.parent.mkdir(exist_ok=True)
    run = run_form(tool, form, src, dst, ("-f", "--strict") if form == "batch" else ("-f",),
                   env=faulty_env("in.bmp", 100_000))
    assert run.returncode != 0, run.stderr
    assert src.read_bytes() == data
    if form == "batch":  # --strict: a result padded with zeros is no result
        assert not dst.exists()


def test_a_failing_read_elsewhere_keeps_the_library_warning(tmp_path, tool):
    src, dst = tmp_path / "in.bmp", tmp_path / "out.bmp"
    src.write_bytes(bitmaps.build(300, 200, 24))
    run = run_form(tool, "single", src, dst, env=faulty_env("in.bmp", 100_000))
    assert run.returncode == 0 and b"Warning: Could not read all pixel data." in run.stderr


@pytest.mark.parametrize("form", ("single", "python"))
@pytest.mark.parametrize("kind", ("null device", "fifo"))
def test_special_outputs_are_written_where_they_are(tmp_path, tool, form, kind):
    src = tmp_path / "in.bmp"
    src.write_bytes(bitmaps.build(9, 4, 24))
    if kind == "null device":
        dst = Path("/dev/null")
        run = run_form(tool, form, src, dst, ("-f",))
        assert run.returncode == 0 and Path("/dev/null").is_char_device()
        return
    dst = tmp_path / "out.fifo"
    os.mkfifo(dst)
    reader = subprocess.Popen(["cat", str(dst)], stdout=subprocess.PIPE)
    run = run_form(tool, form, src, dst, ("-f",))
    got = reader.communicate(timeout=20)[0]
    assert run.returncode == 0, run.stderr
    assert got == bitmaps.expected(src.read_bytes(), 150) and dst.is_fifo()


def test_a_full_device_is_a_failure(tmp_path, tool):
    src = tmp_path / "in.bmp"
    src.write_bytes(bitmaps.build(9, 4, 24))
    for form in ("single", "python"):
        run = run_form(tool, form, src, Path("/dev/full"), ("-f",))
        assert run.returncode != 0 and Path("/dev/full").is_char_device()


@pytest.mark.parametrize("closed", ((0, 1), (1, 2), (0, 2)))
def test_closed_standard_descriptors_never_meet_an_output(tmp_path, tool, closed):
    files = []
    for k in range(6):
        f = tmp_path / f"x{k}.bmp"
        f.write_bytes(bitmaps.build(40 + k, 30, 24, seed=k))
        files.append(f)
    expected = [bitmaps.expected(f.read_bytes(), 150) for f in files]
    shell = " ".join(f"{fd}>&-" for fd in closed)
    for args in (["-v", "-i", "-j", "1", "150"], ["-v", "-o", str(tmp_path / "out"), "150"]):
        cmd = " ".join(f"'{a}'" for a in [str(tool), *args, *map(str, files)])
        subprocess.run(f"{cmd} {shell}", shell=True, check=True)
        outputs = files if "-i" in args else [tmp_path / "out" / f.name for f in files]
        assert [o.read_bytes() for o in outputs] == expected
        for f, e in zip(files, expected):
            f.write_bytes(e)  # the next run converts them again
        expected = [bitmaps.expected(e, 150) for e in expected]
    # The image for a closed standard output is a failure, not a success.
    run = subprocess.run(f"'{tool}' - - 150 < '{files[0]}' >&-", shell=True, capture_output=True)
    assert run.returncode == 1 and b"closed" in run.stderr


@pytest.mark.parametrize("form", FORMS)
def test_names_too_long_for_a_scratch_beside_them(tmp_path, tool, form):
    src = tmp_path / ("x" * 240 + ".bmp")
    src.write_bytes(bitmaps.build(9, 4, 24))
    dst = destination(tmp_path, form, src)
    dst.parent.mkdir(exist_ok=True)
    expected = bitmaps.expected(src.read_bytes(), 150)
    run = run_form(tool, form, src, dst, ("-f",))
    assert run.returncode == 0, run.stderr
    assert dst.read_bytes() == expected


@pytest.mark.parametrize("form", ("single", "inplace", "python"))
def test_hard_links_stay_one_file(tmp_path, tool, form):
    src, link = tmp_path / "a.bmp", tmp_path / "b.bmp"
    src.write_bytes(bitmaps.build(9, 4, 24))
    os.link(src, link)
    expected = bitmaps.expected(src.read_bytes(), 150)
    if form == "inplace":
        run = subprocess.run([str(tool), "-q", "-i", "150", str(src), str(link)],
                             capture_output=True)
    else:
        run = run_form(tool, form, src, src, ("-f",))
    assert run.returncode == 0, run.stderr
    assert src.read_bytes() == link.read_bytes() == expected
    assert os.stat(src).st_ino == os.stat(link).st_ino


def test_in_place_keeps_owner_and_group(tmp_path, tool):
    if os.geteuid() != 0:
        pytest.skip("only root can give a file to another user")
    for form in ("inplace", "python"):
        src = tmp_path / f"{form}.bmp"
        src.write_bytes(bitmaps.build(9, 4, 24))
        os.chown(src, 65534, 65534)
        src.chmod(0o600)
        run = run_form(tool, form, src, src, ("-f",))
        assert run.returncode == 0, run.stderr
        st = os.stat(src)
        assert (st.st_uid, st.st_gid, st.st_mode & 0o777) == (65534, 65534, 0o600)


def test_standard_input_is_looked_at_before_it_is_spooled(tool, tmp_path):
    started = time.monotonic()
    with open("/dev/zero", "rb") as zeros:
        run = subprocess.run([str(tool), "-", str(tmp_path / "o.bmp"), "150"], stdin=zeros,
                             capture_output=True, timeout=60)
    assert run.returncode == 1 and b"Invalid BMP file signature" in run.stderr
    assert time.monotonic() - started < 30


def test_a_signal_ends_a_run_blocked_on_its_input(tool, tmp_path):
    env = dict(os.environ, TMPDIR=str(tmp_path))
    child = subprocess.Popen([str(tool), "-", str(tmp_path / "o.bmp"), "150"],
                             stdin=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    child.stdin.write(bitmaps.build(300, 200, 24)[:5000])
    child.stdin.flush()
    time.sleep(0.5)
    child.send_signal(signal.SIGTERM)
    try:
        child.wait(timeout=10)
    finally:
        child.kill()
        child.stdin.close()
    assert child.returncode == -signal.SIGTERM
    assert os.listdir(tmp_path) == []


def test_stale_scratch_files_of_killed_runs_are_removed(tool, tmp_path):
    out = tmp_path / "out"
    out.mkdir()
    stale = out / ".a.bmp.bmpcontrast-abc123"
    stale.write_bytes(b"half")
    held = out / ".b.bmp.bmpcontrast-def456"  # a live process still writes this one
    held.write_bytes(b"busy")
    holder = subprocess.Popen([sys.executable, "-c",
                               "import fcntl, sys, time\n"
                               f"f = open({str(held)!r}, 'rb')\n"
                               "fcntl.flock(f, fcntl.LOCK_EX)\n"
                               "print('locked', flush=True)\n"
                               "time.sleep(60)\n"], stdout=subprocess.PIPE)
    try:
        assert holder.stdout.readline() == b"locked\n"
        src = tmp_path / "a.bmp"
        src.write_bytes(bitmaps.build(9, 4, 24))
        run = subprocess.run([str(tool), "-v", "-o", str(out), "150", str(src)],
                             capture_output=True)
        assert run.returncode == 0, run.stderr
        assert f"removed '{stale}'".encode() in run.stdout
        assert not stale.exists() and held.exists()
    finally:
        holder.kill()


def test_a_list_of_names_is_read_as_the_batch_goes(tool, tmp_path):
    src = tmp_path / "a.bmp"
    src.write_bytes(bitmaps.build(9, 4, 24))
    out = tmp_path / "out"
    child = subprocess.Popen([str(tool), "-q", "-o", str(out), "--files-from", "-", "150"],
                             stdin=subprocess.PIPE, cwd=tmp_path)
    try:
        child.stdin.write(b"a.bmp\n")
        child.stdin.flush()
        deadline = time.monotonic() + 20
        while not (out / "a.bmp").exists():  # converted while the list is still open
            assert time.monotonic() < deadline and child.poll() is None
            time.sleep(0.02)
        child.stdin.close()
        assert child.wait(timeout=20) == 0
    finally:
        child.kill()
    assert (out / "a.bmp").read_bytes() == bitmaps.expected(src.read_bytes(), 150)


def test_threads_that_cannot_start_leave_the_batch_to_fewer(tool, tmp_path):
    if os.geteuid() != 0 or not Path("/usr/bin/setpriv").exists():
        pytest.skip("needs root and setpriv to run as a user with a thread limit")
    # Outside pytest's folders, which only root may enter.
    work = Path(tempfile.mkdtemp(prefix="bmpc-nproc-"))
    work.chmod(0o777)
    files = []
    for k in range(6):
        f = work / f"x{k}.bmp"
        f.write_bytes(bitmaps.build(20 + k, 9, 24, seed=k))
        f.chmod(0o644)
        files.append(f)
    # One process for the user: no thread can start beside the main one.
    script = f"ulimit -u 1; exec '{tool}' -q -j 8 -o '{work / 'out'}' 150 " + " ".join(
        f"'{f}'" for f in files)
    try:
        run = subprocess.run(["/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                              "--clear-groups", "/bin/bash", "-c", script], capture_output=True,
                             timeout=60)
        assert run.returncode == 0, run.stderr
        for f in files:
            assert (work / "out" / f.name).read_bytes() == bitmaps.expected(f.read_bytes(), 150)
    finally:
        shutil.rmtree(work)


@pytest.mark.parametrize("args, status", [
    (["{src}", "", "150"], 2),        # an empty name is no name for standard output
    (["", "{dst}", "150"], 2),
    (["--help"], 1),                  # into a full disk: not done, so not a success
    (["-n", "-o", "{out}", "150", "{src}"], 1),
    (["-v", "-f", "-o", "{out}", "150", "{src}"], 1),
])
def test_empty_names_and_lines_that_cannot_be_written(tool, tmp_path, args, status):
    src = tmp_path / "in.bmp"
    src.write_bytes(bitmaps.build(9, 4, 24))
    names = {"src": src, "dst": tmp_path / "o.bmp", "out": tmp_path / "out"}
    with open("/dev/full", "wb") as full:
        run = subprocess.run([str(tool), *(a.format(**names) for a in args)], stdout=full,
                             stderr=subprocess.PIPE)
    assert run.returncode == status, run.stderr
    assert not (tmp_path / "o.bmp").exists()


def test_the_warning_comes_before_the_success_line(tool, tmp_path):
    src = tmp_path / "short.bmp"
    src.write_bytes(bitmaps.build(30, 20, 24)[:-100])
    run = subprocess.run(f"'{tool}' '{src}' '{tmp_path / 'o.bmp'}' 150 2>&1", shell=True,
                         capture_output=True)
    assert run.returncode == 0
    assert run.stdout == (b"Warning: Could not read all pixel data.\n"
                          b"Success: Contrast adjustment applied.\n")
