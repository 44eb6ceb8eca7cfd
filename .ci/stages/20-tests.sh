#!/usr/bin/env bash
# The README's two commands as a new user runs them: in a fresh clone of
# this checkout, from a clean HOME and PATH, in a root that holds only the
# Debian packages of the sections the README names (.ci/fresh_run.py), so a
# package the README leaves out fails here. The first command with only the
# sections named before it; the second, the whole test suite (C++, C and
# Python), with every section of "Try it". Warnings are errors, and a
# missing interoperability peer fails the run instead of skipping.
set -euo pipefail
try_it=$(awk '/^## / { p = ($0 == "## Try it") } p' README.md)
mapfile -t commands < <(sed -n 's/^    \(cmake -S \)/\1/p' <<<"$try_it")
sections_in() { grep -oE 'tools/packages\.sh( [a-z]+)+' | cut -d' ' -f2- | tr '\n' ' '; }
first_sections=$(awk '/^    cmake -S / { exit } { print }' <<<"$try_it" | sections_in)
all_sections=$(sections_in <<<"$try_it")
if [ ${#commands[@]} != 2 ] || [ -z "$first_sections" ]; then
  echo "20-tests: README's \"Try it\" should have two commands and the sections before them" >&2
  exit 1
fi

# The root is made of mounts in a namespace of its own: root's work, as the
# packages stage's installs are.
if ! unshare --mount --propagation private true 2>/dev/null; then
  echo "20-tests: needs root (a mount namespace, overlays) for the fresh root" >&2
  exit 1
fi

area=$PWD/build-fresh
rm -rf "$area/home" "$area/tmp"
mkdir -p "$area/home"
# The root's /tmp, on disk; the clone and its build stay for a look after.
trap 'rm -rf "$area/tmp"' EXIT
git clone -q "$PWD" "$area/home/bmpcontrast"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "-- uncommitted changes are not in the fresh clone: this stage checks $(git rev-parse --short HEAD)"
fi

fresh() {
  unshare --mount --propagation private /usr/bin/python3 .ci/fresh_run.py \
    --home "$area/home" --cwd bmpcontrast "$@"
}
start=$SECONDS
echo "-- sections $first_sections: ${commands[0]}"
fresh --sections "$first_sections" -- \
  "cmake -S . -B build -DBMPCONTRAST_WERROR=ON >/dev/null && ${commands[0]}"
echo "-- first command: $((SECONDS - start)) s"
start=$SECONDS
echo "-- sections $all_sections: ${commands[1]}"
fresh --sections "$all_sections" --env BMPCONTRAST_REQUIRE_PEERS=1 -- "${commands[1]}"
echo "-- second command: $((SECONDS - start)) s"
