#!/usr/bin/env bash
# The Python package: installed with pip into a scratch virtual environment
# (over Debian's pytest, dask and Pillow), its tests, the README's Python
# example, and the package as `cmake --install` places it.
set -euo pipefail
python=/usr/bin/python3  # Debian's packages live there, not in a pyenv python3
cmake -S . -B build -DBMPCONTRAST_WERROR=ON >/dev/null
cmake --build build -j2 --target bmpcontrast bmpcontrast_cli make_sample >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r python "$scratch/src"
rm -rf "$scratch/src/build" "$scratch/src"/*.egg-info
$python -m venv --system-site-packages "$scratch/venv"
"$scratch/venv/bin/python" -m pip install -q --no-index --no-build-isolation "$scratch/src"
export BMPCONTRAST_LIBRARY=$PWD/build/src/contrast/libbmpcontrast.so.1

# Tests of the installed package (the source folder is not on sys.path);
# pytest's exit code 5, no tests collected, fails like any other.
"$scratch/venv/bin/python" -m pytest -p no:cacheprovider -q -W ignore::DeprecationWarning python/tests
"$scratch/venv/bin/python" -c 'import bmpcontrast, sys; sys.exit("not the installed package" if "/venv/" not in bmpcontrast.__file__ else 0)'

# The README's example, in a scratch folder with a sample bitmap.
example=$(awk '/^## Python/{p=1} p&&/^```python/{q=1;next} q&&/^```/{exit} q' README.md)
mkdir "$scratch/run" && build/tools/make_sample "$scratch/run/sample.bmp" >/dev/null
(cd "$scratch/run" && "$scratch/venv/bin/python" -c "$example")
test -s "$scratch/run/sample-150.bmp"

# As `cmake --install` places it: found through its _libpath.py alone.
cmake -S . -B "$scratch/build" -DBMPCONTRAST_INSTALL_PYTHON=ON -DBMPCONTRAST_BUILD_TESTS=OFF -DBMPCONTRAST_BUILD_TOOLS=OFF >/dev/null
cmake --build "$scratch/build" -j2 --target bmpcontrast >/dev/null
cmake --install "$scratch/build" --prefix "$scratch/prefix" >/dev/null
(cd "$scratch/run" && env -u BMPCONTRAST_LIBRARY PYTHONPATH="$scratch/prefix/lib/python3/site-packages" \
  $python -c "import bmpcontrast; assert bmpcontrast.library_path().startswith('$scratch/prefix/'); bmpcontrast.adjust('sample.bmp', 'installed.bmp', 150)")
cmp "$scratch/run/sample-150.bmp" "$scratch/run/installed.bmp"
