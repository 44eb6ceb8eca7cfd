#!/usr/bin/env bash
# Debian packages: build them, check them with lintian, install them into
# the machine with apt-get as docs/building.md says, use the installed tool
# and build a program against the installed development package, then
# purge them again the same way.
set -euo pipefail
root=$PWD
build=$root/build-deb
rm -rf "$build"
cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr -DBMPCONTRAST_WERROR=ON >/dev/null
cmake --build "$build" -j2 >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/*.deb)
ls -l "${debs[@]}"
for pkg in libbmpcontrast1 libbmpcontrast-dev bmpcontrast; do
  ls "$build/${pkg}_"*.deb >/dev/null
done

# Neither errors nor warnings.
lintian --fail-on error,warning "${debs[@]}"

installed=()
cleanup() {
  if [ ${#installed[@]} -gt 0 ]; then apt-get purge -y -qq "${installed[@]}" >/dev/null; fi
  rm -rf "$work"
}
work=$(mktemp -d)
trap cleanup EXIT
installed=(bmpcontrast libbmpcontrast-dev libbmpcontrast1)
apt-get install -y -qq --no-install-recommends "${debs[@]}" >/dev/null

# The installed tool, from the system's search path, on a generated sample.
"$build"/tools/make_sample "$work/in.bmp"
tool=$(command -v bmpcontrast)
[ "$tool" = /usr/bin/bmpcontrast ]
bmpcontrast "$work/in.bmp" "$work/out.bmp" 150
bmpcontrast -q -r -o "$work/tree" 120 "$work"
[ -f "$work/tree/in.bmp" ] && [ -f "$work/tree/out.bmp" ]
bmpcontrast --version
man -l /usr/share/man/man1/bmpcontrast.1.gz >/dev/null 2>&1 || zcat /usr/share/man/man1/bmpcontrast.1.gz >/dev/null

# Each package has its own summary, and a long description that does not
# begin by repeating it.
summaries=$(dpkg-query -W -f='${binary:Summary}\n' bmpcontrast libbmpcontrast-dev libbmpcontrast1)
echo "$summaries"
[ "$(sort -u <<<"$summaries" | wc -l)" = 3 ]
for pkg in bmpcontrast libbmpcontrast-dev libbmpcontrast1; do
  description=$(dpkg-query -W -f='${Description}' "$pkg")
  [ "$(sed -n '2s/^ //p' <<<"$description")" != "$(sed -n 1p <<<"$description")" ]
done
# ldconfig runs through the library's trigger, from no maintainer script.
[ -z "$(ls /var/lib/dpkg/info/libbmpcontrast1*.post* 2>/dev/null)" ]

# On a /usr install pkg-config gives no system paths: just the library.
read -r -a flags <<<"$(pkg-config --cflags --libs bmpcontrast)"
echo "pkg-config --cflags --libs bmpcontrast: ${flags[*]}"
[ "${flags[*]}" = "-lbmpcontrast" ]
# Nor a run path: the loader finds the library there anyway.
[ -z "$(pkg-config --variable=rpath bmpcontrast)" ]

# A consumer of the installed development package, through pkg-config.
cc "$root/tests/consumers/pkgconfig_consumer/consumer.c" $(pkg-config --cflags --libs bmpcontrast) \
  -o "$work/consumer"
mkdir "$work/consumer-files"
"$work/consumer" "$work/consumer-files"
echo "packages built, lint-clean, installed and used"
