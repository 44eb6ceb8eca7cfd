#!/usr/bin/env bash
# The Python package with the engine compiled in: installed with pip from
# ./python into a fresh virtual environment (over Debian's pytest, dask and
# Pillow) with no library installed and nothing in the environment pointing
# at one; the README's Python example; a wheel built by
# `python3 -m build` from its sdist, in a second fresh environment; and the
# extension as CMake builds and installs it.
set -euo pipefail
python=/usr/bin/python3  # Debian's packages live there, not in a pyenv python3
# The tool is the reference the tests compare outputs with.
cmake -S . -B build -DBMPCONTRAST_WERROR=ON >/dev/null
cmake --build build -j2 --target bmpcontrast_cli make_sample >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
$python -m venv --system-site-packages "$scratch/venv"
"$scratch/venv/bin/python" -m pip install -q --no-index --no-build-isolation ./python
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

# As CMake builds (warnings as errors) and installs it, beside the library.
cmake -S . -B "$scratch/build" -DBMPCONTRAST_WERROR=ON -DBMPCONTRAST_INSTALL_PYTHON=ON \
  -DBMPCONTRAST_BUILD_TESTS=OFF -DBMPCONTRAST_BUILD_TOOLS=OFF -DBMPCONTRAST_BUILD_BENCH=OFF >/dev/null
cmake --build "$scratch/build" -j2 --target bmpcontrast bmpcontrast_python >/dev/null
cmake --install "$scratch/build" --prefix "$scratch/prefix" >/dev/null
(cd "$scratch/run" && PYTHONPATH="$scratch/prefix/lib/python3/site-packages" $python -c "
import bmpcontrast
assert bmpcontrast._engine.__file__.startswith('$scratch/prefix/')
bmpcontrast.adjust('sample.bmp', 'installed.bmp', 150)")
cmp "$scratch/run/tool-150.bmp" "$scratch/run/installed.bmp"
