#!/usr/bin/python3
"""Runs a shell command as a new user on a fresh Debian meets it: in a root
that holds only Debian's required base and the packages of the named
sections of .ci/packages.txt, with their dependencies (no recommends), with
an empty /usr/local and /opt, a clean HOME and PATH, and nothing else in the
environment.

    unshare --mount --propagation private .ci/fresh_run.py \\
        --home DIR --sections 'build tests' [--env NAME=VALUE]... -- COMMAND

DIR is /root there (the command runs as root, as in a container, from
/root, or from --cwd below it); COMMAND runs under /bin/bash -c. The root is
this machine's /usr, /etc and /var seen through overlays whose upper layers
hide every file of the other packages; /tmp is DIR's sibling folder tmp,
emptied first. Everything is mounted in the caller's private mount
namespace and goes away with it. Exits with COMMAND's status.

So a package the README's commands need but its sections leave out fails
those commands here, as it would on a fresh machine: the check reads only
what dpkg knows, and needs the packages to be installed on this machine.
"""

from __future__ import annotations

import argparse
import os
import re
import shlex
import shutil
import stat
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
OVERLAID = ("/usr", "/etc", "/var")
# Folders a fresh system has empty: whatever lies there is this machine's own.
EMPTY = ("/usr/local",)
PATH = "/usr/sbin:/usr/bin:/sbin:/bin"


def section_packages(sections: list[str]) -> list[str]:
    out = subprocess.run([str(ROOT / "tools/packages.sh"), *sections], check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    return out.split()


class Installed:
    """The installed packages (dpkg's view), their dependencies and files."""

    FIELDS = ("db:Status-Abbrev", "binary:Package", "Package", "Architecture", "Essential",
              "Priority", "Pre-Depends", "Depends", "Provides")

    def __init__(self) -> None:
        fmt = "\t".join(f"${{{f}}}" for f in self.FIELDS) + "\n"
        out = subprocess.run(["dpkg-query", "-W", "-f", fmt], check=True,
                             stdout=subprocess.PIPE, text=True).stdout
        self.info: dict[str, dict[str, str]] = {}
        self.by_name: dict[str, list[str]] = {}
        self.providers: dict[str, list[str]] = {}
        for line in out.splitlines():
            row = dict(zip(self.FIELDS, line.split("\t")))
            if not row["db:Status-Abbrev"].startswith("ii"):
                continue
            key = row["binary:Package"]
            self.info[key] = row
            self.by_name.setdefault(row["Package"], []).append(key)
            for name, _ in self._alternatives(row["Provides"]):
                self.providers.setdefault(name, []).append(key)

    @staticmethod
    def _alternatives(field: str):
        """(name, arch qualifier) for every package named in a relation field."""
        for group in filter(None, (g.strip() for g in field.split(","))):
            for alt in group.split("|"):
                m = re.match(r"\s*([a-z0-9][a-z0-9+.-]*)(?::([a-z0-9-]+))?", alt)
                if m:
                    yield m.group(1), m.group(2)

    @staticmethod
    def _groups(field: str) -> list[list[str]]:
        groups = []
        for group in filter(None, (g.strip() for g in field.split(","))):
            names = [re.match(r"\s*([a-z0-9][a-z0-9+.-]*)", a).group(1) for a in group.split("|")]
            groups.append(names)
        return groups

    def instances(self, name: str, arch: str) -> list[str]:
        """The installed packages that satisfy a dependency on `name` from a
        package of architecture `arch`: the real package first, else its
        providers."""
        real = self.by_name.get(name, [])
        if real:
            same = [k for k in real if self.info[k]["Architecture"] in (arch, "all")]
            return same or real
        return sorted(self.providers.get(name, []))[:1]

    def closure(self, wanted: list[str]) -> set[str]:
        """The wanted packages, Debian's required base and every dependency,
        choosing the first alternative installed, as apt would."""
        base = [k for k, r in self.info.items()
                if r["Essential"] == "yes" or r["Priority"] == "required"]
        todo = list(base)
        for name in wanted:
            found = self.by_name.get(name)
            if not found:
                sys.exit(f"fresh_run: {name} is not installed here (.ci/run installs every "
                         "section of .ci/packages.txt)")
            todo += found
        chosen: set[str] = set()
        while todo:
            key = todo.pop()
            if key in chosen:
                continue
            chosen.add(key)
            row = self.info[key]
            for group in self._groups(row["Pre-Depends"]) + self._groups(row["Depends"]):
                options = [self.instances(name, row["Architecture"]) for name in group]
                if any(k in chosen for option in options for k in option):
                    continue
                first = next((option for option in options if option), [])
                todo += first
        return chosen

    def files(self, key: str, diversions: dict[str, tuple[str, str]]) -> list[str]:
        listing = Path(f"/var/lib/dpkg/info/{key}.list")
        paths = []
        for line in listing.read_text(encoding="utf-8", errors="surrogateescape").splitlines():
            diverted = diversions.get(line)
            if diverted and diverted[1] != self.info[key]["Package"]:
                line = diverted[0]
            paths.append(merged_usr(line))
        return paths


def merged_usr(path: str) -> str:
    # Debian's packages still list /bin, /lib, ...; here those are links into /usr.
    top = "/" + path.split("/")[1]
    if top != "/usr" and os.path.islink(top) and os.readlink(top) == "usr" + top:
        return "/usr" + path
    return path


def diversions() -> dict[str, tuple[str, str]]:
    out = subprocess.run(["dpkg-divert", "--list"], check=True, stdout=subprocess.PIPE,
                         text=True).stdout
    found = {}
    for line in out.splitlines():
        m = re.match(r"(?:local )?diversion of (\S+) to (\S+)(?: by (\S+))?", line)
        if m:
            found[m.group(1)] = (m.group(2), m.group(3) or "")
    return found


def ancestors(path: str):
    while path not in ("/", ""):
        path = os.path.dirname(path)
        yield path


def hidden_paths(installed: Installed, allowed: set[str]) -> list[str]:
    """The fewest paths whose removal hides every file of the packages not
    allowed, and what lies in the folders a fresh system has empty, while
    keeping every file of the allowed ones."""
    divs = diversions()
    keep: set[str] = set()
    for key in allowed:
        for path in installed.files(key, divs):
            keep.add(path)
            keep.update(ancestors(path))
    hide: set[str] = set()
    for key in installed.info.keys() - allowed:
        for path in installed.files(key, divs):
            if path in keep or not path.startswith(tuple(d + "/" for d in OVERLAID)):
                continue
            while os.path.dirname(path) not in keep:
                path = os.path.dirname(path)
            hide.add(path)
    for folder in EMPTY:
        stack = [folder]
        while stack:
            with os.scandir(stack.pop()) as entries:
                for entry in entries:
                    if entry.path not in keep:
                        hide.add(entry.path)
                    elif entry.is_dir(follow_symlinks=False):
                        stack.append(entry.path)
    # A path below a hidden folder needs no whiteout of its own.
    return sorted(p for p in hide if not any(a in hide for a in ancestors(p)))


def run(*argv: str) -> None:
    subprocess.run(argv, check=True)


def copy_dir_attributes(lower: str, upper: str) -> None:
    # An upper folder stands for the lower one in the merged view.
    st = os.lstat(lower)
    os.chown(upper, st.st_uid, st.st_gid)
    os.chmod(upper, stat.S_IMODE(st.st_mode))


def build_root(root: Path, layers: Path, tmp: Path, home: Path, hidden: list[str]) -> None:
    run("mount", "-t", "tmpfs", "-o", "mode=0755", "fresh-root", str(root))
    run("mount", "-t", "tmpfs", "-o", "mode=0700", "fresh-layers", str(layers))
    for top in OVERLAID:
        upper, work = layers / f"{top[1:]}-upper", layers / f"{top[1:]}-work"
        upper.mkdir()
        work.mkdir()
        copy_dir_attributes(top, str(upper))
        for path in (p for p in hidden if p.startswith(top + "/")):
            if not os.path.lexists(path):
                continue
            rel = Path(path).relative_to(top)
            parent = upper
            for part in rel.parts[:-1]:
                parent = parent / part
                if not parent.exists():
                    parent.mkdir()
                    copy_dir_attributes(str(Path(top) / parent.relative_to(upper)), str(parent))
            os.mknod(upper / rel, stat.S_IFCHR, os.makedev(0, 0))  # a whiteout
        target = root / top[1:]
        target.mkdir()
        run("mount", "-t", "overlay", "overlay", "-o",
            f"lowerdir={top},upperdir={upper},workdir={work}", str(target))
    for name in os.listdir("/"):
        link = "/" + name
        if os.path.islink(link) and os.readlink(link).startswith("usr/"):
            os.symlink(os.readlink(link), root / name)
    for name, mode in (("dev", 0o755), ("proc", 0o555), ("sys", 0o555), ("tmp", 0o1777),
                       ("root", 0o700), ("home", 0o755), ("opt", 0o755), ("run", 0o755)):
        (root / name).mkdir()
        os.chmod(root / name, mode)
    run("mount", "--rbind", "/dev", str(root / "dev"))
    run("mount", "--rbind", "/sys", str(root / "sys"))
    run("mount", "-t", "proc", "proc", str(root / "proc"))
    run("mount", "-t", "tmpfs", "-o", "mode=0755", "fresh-run", str(root / "run"))
    run("mount", "-t", "tmpfs", "-o", "mode=1777", "fresh-var-tmp", str(root / "var/tmp"))
    run("mount", "--bind", str(tmp), str(root / "tmp"))
    run("mount", "--bind", str(home), str(root / "root"))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--home", required=True, type=Path)
    parser.add_argument("--cwd", default=".", help="where COMMAND starts, below --home")
    parser.add_argument("--sections", required=True)
    parser.add_argument("--env", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()
    if os.readlink("/proc/self/ns/mnt") == os.readlink(f"/proc/{os.getppid()}/ns/mnt"):
        sys.exit("fresh_run: run me in a mount namespace of my own: "
                 "unshare --mount --propagation private .ci/fresh_run.py ...")

    home = args.home.resolve()
    base = home.parent
    root, layers, tmp = base / "root", base / "layers", base / "tmp"
    shutil.rmtree(tmp, ignore_errors=True)
    tmp.mkdir(parents=True)
    os.chmod(tmp, 0o1777)
    root.mkdir(exist_ok=True)
    layers.mkdir(exist_ok=True)

    sections = args.sections.split()
    installed = Installed()
    allowed = installed.closure(section_packages(sections))
    hidden = hidden_paths(installed, allowed)
    build_root(root, layers, tmp, home, hidden)
    print(f"fresh_run: sections {' '.join(sections)}: {len(allowed)} of "
          f"{len(installed.info)} installed packages, {len(hidden)} paths hidden", flush=True)

    env = ["HOME=/root", f"PATH={PATH}", *args.env]
    script = f"cd {shlex.quote(str(Path('/root') / args.cwd))} && {' '.join(args.command)}"
    return subprocess.run(["chroot", str(root), "/usr/bin/env", "-i", *env,
                           "/bin/bash", "-c", script]).returncode


if __name__ == "__main__":
    sys.exit(main())
