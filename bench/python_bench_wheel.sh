#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# bench/python_bench.py on the package as a user installs it: the repaired
# manylinux wheel for Debian's Python 3.11, installed from its file into a
# venv of its own beside the same peers, not the build tree's copy. The "C"
# column calls the libbyteblend.so.1 that the wheel carries.
#   bench/python_bench_wheel.sh WHEEL [REPETITIONS]
# CTest's python.release leaves the wheels in
# build/default/python/tests/release-check/wheelhouse/.
set -euo pipefail
wheel=$(realpath "$1")
repetitions=${2:-101}
cd "$(dirname "$0")/.."
venv=build/bench-wheel-venv
rm -rf "$venv"
/usr/bin/python3 -m venv "$venv"
grep -E '^(numpy|Pillow|blend-modes|image-blender|opencv-python-headless)' \
  tools/python-requirements.txt >"$venv/peers.txt"
"$venv/bin/python" -m pip install -q --disable-pip-version-check \
  "$wheel" -r "$venv/peers.txt"
python=$PWD/$venv/bin/python
bench=$PWD/bench/python_bench.py
# From another folder, so that nothing of the source tree can be imported.
cd /
library=$("$python" -c 'import byteblend, pathlib
print(pathlib.Path(byteblend.__file__).with_name("libbyteblend.so.1"))')
case $("$python" -c 'import byteblend; print(byteblend.__file__)') in
*/site-packages/*) ;;
*) echo "byteblend does not come from the installed wheel" >&2; exit 1 ;;
esac
exec "$python" "$bench" "$library" "$repetitions"
