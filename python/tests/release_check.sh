#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The release files, made and used as a user gets them:
#   1. `python -m build` (the build's venv, Debian's Python 3.11) makes the
#      sdist and, from it, a wheel; the sdist must hold the sources the build
#      reads, the licence and the package's own tests, and nothing else.
#   2. pip builds a wheel from that sdist on each other Python version (pip
#      unpacks it into a temporary folder outside the project).
#   3. auditwheel repairs every wheel to a manylinux tag.
#   4. Each repaired wheel goes into a fresh venv (another interpreter of the
#      same version where the machine has two, e.g. pyenv's 3.11 for the
#      wheel Debian's 3.11 built) with a PATH that holds no compiler and no
#      CMake, pip told to take wheels only, beside numpy 1.26 or 2.x and
#      Pillow (whose images the package takes); the sdist's copy of the
#      package's tests runs there (all but the Dask one, which needs a
#      cluster's worth of packages, and the timed GIL one).
# Versions: RELEASE_PYTHONS (default "3.9 3.11 3.13"); numpy 1.26 with 3.9,
# numpy 2 with the others. Interpreters: /usr/bin/python3.X and pyenv's
# ($PYENV_ROOT, default ~/.pyenv). A version the machine lacks fails.
# Usage: release_check.sh SOURCE_DIR WORK_DIR VERSION BUILD_VENV PIP_CACHE
set -euo pipefail
source_dir=$1 work=$2 version=$3 build_venv=$4
export PIP_CACHE_DIR=$5 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
unset LD_LIBRARY_PATH PYTHONPATH BYTEBLEND_LIBRARY
versions=(${RELEASE_PYTHONS:-3.9 3.11 3.13})
pyenv_root=${PYENV_ROOT:-$HOME/.pyenv}
rm -rf "$work"
mkdir -p "$work/dist" "$work/wheelhouse" "$PIP_CACHE_DIR"

fail() {
  echo "release check: $*" >&2
  exit 1
}

# Every CPython X.Y on the machine, Debian's first.
interpreters() {
  local candidate
  for candidate in "/usr/bin/python$1" "$pyenv_root"/versions/"$1".*/bin/"python$1"; do
    [[ -x $candidate ]] && echo "$candidate"
  done
  return 0
}

# 1. The sdist, and a wheel from it.
"$build_venv/bin/python" -m build --outdir "$work/dist" "$source_dir" \
  >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log"; fail "python -m build failed"; }
sdists=("$work/dist/byteblend-$version.tar.gz")
[[ -f ${sdists[0]} ]] || fail "no sdist byteblend-$version.tar.gz"
sdist=${sdists[0]}
members=$(tar tzf "$sdist" | sed "s|^byteblend-$version/||" | grep -v '/$' | sort)
for needed in pyproject.toml PKG-INFO CMakeLists.txt LICENSE README.md \
  cmake/install.cmake include/byteblend.h src/CMakeLists.txt src/exports.cpp \
  src/exports.map python/CMakeLists.txt python/README.md python/version.py.in \
  python/native/module.cpp python/src/byteblend/__init__.py \
  include/byteblend_layers.h include/byteblend_layers.hpp src/layers/CMakeLists.txt \
  python/native/strided_composite.cpp python/tests/layers_reference.py \
  python/tests/conftest.py python/tests/test_blend.py python/tests/test_composite.py; do
  grep -qxF "$needed" <<<"$members" || fail "the sdist lacks $needed"
done
# Only the package's build and tests: no build output, C++ tests, tool,
# benchmarks, fuzzing corpus, examples or CI scripts.
strays=$(grep -E '^(build|tests|cli|bench|fuzz|examples|tools|demo|\.ci|\.git)/' <<<"$members" || true)
[[ -z $strays ]] || fail "the sdist holds files it should not: $strays"
large=$(tar tvzf "$sdist" | awk '$3 > 65536 {print $6}')
[[ -z $large ]] || fail "the sdist holds files over 64 KiB: $large"
pkg_info=$(tar xzf "$sdist" -O "byteblend-$version/PKG-INFO")
grep -qx 'License-Expression: MIT' <<<"$pkg_info" || fail "the sdist's PKG-INFO has no MIT licence"
grep -qx 'License-File: LICENSE' <<<"$pkg_info" || fail "the sdist's PKG-INFO names no licence file"
echo "sdist $(basename "$sdist"): $(stat -c %s "$sdist") bytes, $(wc -l <<<"$members") files"

# 2. The other versions' wheels, built by pip from the sdist.
declare -A tester
for minor in "${versions[@]}"; do
  mapfile -t found < <(interpreters "$minor")
  ((${#found[@]})) || fail "no Python $minor on this machine (looked in /usr/bin and $pyenv_root)"
  tester[$minor]=${found[-1]}
  builder=${found[0]}
  tag=cp${minor/./}
  compgen -G "$work/dist/byteblend-$version-$tag-$tag-*.whl" >/dev/null && continue
  "$builder" -m venv "$work/build-$minor"
  "$work/build-$minor/bin/python" -m pip wheel -q --no-deps -w "$work/dist" \
    "$sdist" >"$work/build-$minor.log" 2>&1 ||
    { tail -n 40 "$work/build-$minor.log"; fail "pip could not build the $minor wheel from the sdist"; }
done

# 3. manylinux tags.
for wheel in "$work"/dist/*.whl; do
  PATH=$build_venv/bin:$PATH auditwheel repair -w "$work/wheelhouse" "$wheel" \
    >"$work/repair.log" 2>&1 || { cat "$work/repair.log"; fail "auditwheel refused $(basename "$wheel")"; }
done

# 4. Each wheel installed without a compiler, and the tests run there.
mkdir -p "$work/no-compilers" "$work/elsewhere"
tar xzf "$sdist" -C "$work"
tests=$work/byteblend-$version/python/tests
# Timed against the machine's load, and about the build, not the packaging:
# python.blend runs it.
gil_test=test_the_gil_is_released_while_blending
for minor in "${versions[@]}"; do
  tag=cp${minor/./}
  wheels=("$work"/wheelhouse/byteblend-"$version"-"$tag"-"$tag"-manylinux_2_*_x86_64.whl)
  wheel=${wheels[0]}
  [[ -f $wheel ]] || fail "no manylinux wheel for $minor: $(ls "$work/wheelhouse")"
  listing=$(python3 -m zipfile -l "$wheel")
  for needed in byteblend/libbyteblend.so.1 byteblend/libbyteblend_layers.so.1 \
    "byteblend/_native.cpython-${minor/./}-x86_64" \
    "byteblend-$version.dist-info/licenses/LICENSE"; do
    grep -qF "$needed" <<<"$listing" || fail "$(basename "$wheel") lacks $needed"
  done
  [[ $minor == 3.9 ]] && numpy='numpy==1.26.*' || numpy='numpy>=2'
  venv=$work/test-$minor
  "${tester[$minor]}" -m venv "$venv"
  # Nothing but the venv and an empty folder on PATH: no cc, c++, cmake.
  path=$venv/bin:$work/no-compilers
  for tool in cc c++ gcc g++ clang cmake ninja make; do
    if PATH=$path command -v "$tool" >/dev/null; then
      fail "$tool is on the test's PATH"
    fi
  done
  PATH=$path "$venv/bin/python" -m pip install -q --only-binary=:all: \
    "$wheel" "$numpy" pytest Pillow >"$work/install-$minor.log" 2>&1 ||
    { cat "$work/install-$minor.log"; fail "pip could not install $(basename "$wheel")"; }
  (cd "$work/elsewhere" && PATH=$path "$venv/bin/python" - "$version" <<'PY'
import sys

import numpy as np

import byteblend

assert byteblend.__version__ == sys.argv[1], byteblend.__version__
assert byteblend.__file__.startswith(sys.prefix), byteblend.__file__
# composite() runs in libbyteblend_layers.so.1, which the wheel carries.
pixel = byteblend.composite("normal", np.array([[255, 0, 0, 255]], np.uint8),
                            np.array([[0, 0, 255]], np.uint8), opacity=0.7)
assert pixel.tolist() == [[179, 0, 76]], pixel
print(f"{byteblend.__file__}: Python {sys.version.split()[0]}, "
      f"numpy {np.__version__}")
PY
  )
  (cd "$work/elsewhere" && PATH=$path PYTHONDONTWRITEBYTECODE=1 \
    "$venv/bin/python" -m pytest -q -p no:cacheprovider \
    --ignore="$tests/test_dask.py" -k "not $gil_test" "$tests") ||
    fail "the tests failed with $(basename "$wheel")"
  echo "$(basename "$wheel"): tests passed on ${tester[$minor]}"
done
