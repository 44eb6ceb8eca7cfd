#!/usr/bin/env bash
# The Python package with the engine compiled in: installed into a fresh
# virtual environment (over Debian's pytest, dask and Pillow) by the lines of
# docs/python.md, as written there, with no library installed and nothing in
# the environment pointing at one; the README's Python example; a wheel
# built by `python3 -m build` from its sdist, in a second fresh environment;
# and the extension as CMake builds and installs it (docs/python.md's lines
# again), where the interpreter looks under the prefix.
set -euo pipefail
python=/usr/bin/python3  # Debian's packages live there, not in a pyenv python3
unset PYTHONPATH

# The Nth block of indented lines under "## Installing" in docs/python.md.
docs_block() {
  $python - "$1" <<'PY'
import re, sys
text = open("docs/python.md", encoding="utf-8").read()
section = text.split("\n## Installing\n", 1)[1].split("\n## ", 1)[0]
blocks = re.findall(r"(?:^    \S.*\n)+", section, re.M)
print("".join(line[4:] + "\n" for line in blocks[int(sys.argv[1])].splitlines()), end="")
PY
}
# Runs docs/python.md's block N with VENV=$2, its output in a log shown on failure.
run_docs_block() {
  echo "-- docs/python.md, VENV=$2:" && docs_block "$1" | sed 's/^/     /'
  VENV=$2 bash -euc "$(docs_block "$1")" >"$scratch/block$1.log" 2>&1 \
    || { cat "$scratch/block$1.log"; exit 1; }
}
# The tool is the reference the tests compare outputs with.
cmake -S . -B build -DBMPCONTRAST_WERROR=ON >/dev/null
cmake --build build -j2 --target bmpcontrast_cli make_sample >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
run_docs_block 0 "$scratch/venv"
module=$(echo "$scratch"/venv/lib/python3*/site-packages/bmpcontrast/_engine*.so)
if ldd "$module" | grep -q bmpcontrast; then
  echo "90-python: $module links a separate library" >&2
  exit 1
fi

# The package's tests ran in the test stage (CTest's `python`), installed
# the same way; here the installed package is used as a user would.
"$scratch/venv/bin/python" -c 'import bmpcontrast, sys; sys.exit("not the installed package" if "/venv/" not in bmpcontrast.__file__ else 0)'

# The README's example, in a scratch folder with a sample bitmap.
example=$(awk '/^## Python/{p=1} p&&/^```python/{q=1;next} q&&/^```/{exit} q' README.md)
mkdir "$scratch/run" && build/tools/make_sample "$scratch/run/sample.bmp" >/dev/null
(cd "$scratch/run" && "$scratch/venv/bin/python" -c "$example")
test -s "$scratch/run/sample-150.bmp"
build/tools/bmpcontrast "$scratch/run/sample.bmp" "$scratch/run/tool-150.bmp" 150 >/dev/null
cmp "$scratch/run/sample-150.bmp" "$scratch/run/tool-150.bmp"

# A wheel from the sdist (which must carry the engine's sources), installed
# alone into an environment without Debian's packages.
$python -m build --no-isolation --outdir "$scratch/dist" python >"$scratch/build.log" 2>&1 \
  || { cat "$scratch/build.log"; exit 1; }
$python -m venv "$scratch/wheel-venv"
"$scratch/wheel-venv/bin/python" -m pip install -q --no-index "$scratch"/dist/bmpcontrast-*.whl
(cd "$scratch/run" && "$scratch/wheel-venv/bin/python" -W error -c "
import pathlib, bmpcontrast as bc
bc.adjust('sample.bmp', 'wheel.bmp', 150)
assert bc.adjust_bytes(pathlib.Path('sample.bmp').read_bytes(), 150) == pathlib.Path('wheel.bmp').read_bytes()
assert bc.curve(100) == bytes(range(256))")
cmp "$scratch/run/tool-150.bmp" "$scratch/run/wheel.bmp"

# As CMake builds (warnings as errors) and installs it, beside the library,
# into a venv's prefix for the venv's Python: imported there without
# PYTHONPATH.
$python -m venv "$scratch/cmake-venv"
cmake -S . -B build-py -DBMPCONTRAST_WERROR=ON >/dev/null
run_docs_block 1 "$scratch/cmake-venv"
(cd "$scratch/run" && "$scratch/cmake-venv/bin/python" -c "
import bmpcontrast
assert bmpcontrast._engine.__file__.startswith('$scratch/cmake-venv/lib/'), bmpcontrast._engine.__file__
bmpcontrast.adjust('sample.bmp', 'installed.bmp', 150)")
cmp "$scratch/run/tool-150.bmp" "$scratch/run/installed.bmp"

# Under Debian's /usr and /usr/local (into a DESTDIR), the package goes
# where /usr/bin/python3 looks, and is whole there.
for prefix in /usr /usr/local; do
  cmake -S . -B build-py -DCMAKE_INSTALL_PREFIX=$prefix -DPython3_EXECUTABLE=$python >/dev/null
  cmake --build build-py -j2 >/dev/null
  rm -rf "$scratch/destdir"
  DESTDIR="$scratch/destdir" cmake --install build-py >/dev/null
  module=$(find "$scratch/destdir" -name '_engine*.so')
  site=$(dirname "$(dirname "$module")")
  where=${site#"$scratch/destdir"}
  $python -c "import site, sys; sys.exit(None if sys.argv[1] in site.getsitepackages() else
    f'{sys.argv[1]} is not where {sys.executable} looks')" "$where"
  (cd "$scratch/run" && PYTHONPATH=$site $python -c "import bmpcontrast; bmpcontrast.curve(150)")
  echo "-- prefix $prefix: the package in $where"
done
