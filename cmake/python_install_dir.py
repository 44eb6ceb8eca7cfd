"""Where under PREFIX this Python looks for packages, relative to PREFIX:
    python3 cmake/python_install_dir.py PREFIX
prints the folder and, on a second line, "found" if the interpreter looks
there, or "not-on-path" if no such folder exists under PREFIX (then the
sysconfig scheme's folder, which needs PYTHONPATH).

Debian's /usr gives lib/python3/dist-packages (where its own python3-*
packages are), /usr/local lib/python3.X/dist-packages, a virtual
environment lib/python3.X/site-packages."""

import os
import site
import sys
import sysconfig


def under(prefix: str, folders) -> list[str]:
    found = []
    for folder in folders:
        folder = os.path.normpath(folder)
        if folder.startswith(prefix.rstrip("/") + "/") and \
                os.path.basename(folder) in ("site-packages", "dist-packages"):
            found.append(os.path.relpath(folder, prefix))
    # The fewest levels: /usr's lib/python3/dist-packages, not local/lib/...
    return sorted(found, key=lambda rel: rel.count("/"))


prefix = os.path.normpath(os.path.abspath(sys.argv[1]))
# Folders it looks in now, then those it would look in once they exist.
for candidates in (under(prefix, sys.path), under(prefix, site.getsitepackages())):
    if candidates:
        print(candidates[0], "found", sep="\n")
        break
else:
    scheme = sysconfig.get_path("platlib", "posix_prefix", vars={"base": prefix, "platbase": prefix})
    print(os.path.relpath(scheme, prefix), "not-on-path", sep="\n")
