#!/bin/sh
# The Debian packages of the named sections of .ci/packages.txt, each once,
# on one line:
#   sudo apt-get install --no-install-recommends $(tools/packages.sh build tests python)
# With no section, every one; with -l, the sections and what each is for.
set -eu
list="$(dirname "$0")/../.ci/packages.txt"
if [ "${1-}" = -l ]; then
  awk '/^# [a-z]+: / { sub(/^# /, ""); print; shown = 1; next }
       /^# / && shown { sub(/^# /, "  "); print; next }
       { shown = 0 }' "$list"
  exit 0
fi
awk -v wanted="$*" '
  BEGIN { n = split(wanted, w, " "); for (i = 1; i <= n; i++) want[w[i]] = 1 }
  /^[a-z]+:/ {
    section = substr($1, 1, length($1) - 1)
    if (!(section in known)) { known[section] = 1; order = order " " section }
    if (n && !(section in want)) next
    for (i = 2; i <= NF; i++) if (!($i in seen)) { seen[$i] = 1; out = out sep $i; sep = " " }
  }
  END {
    for (s in want) if (!(s in known)) bad = bad " " s
    if (bad != "") {
      printf "tools/packages.sh: no section%s in .ci/packages.txt (sections:%s)\n", bad, order > "/dev/stderr"
      exit 2
    }
    print out
  }' "$list"
