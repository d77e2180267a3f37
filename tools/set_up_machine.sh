#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what the build, the tests, the examples and the benchmarks need,
# and does nothing when it is all there already, so that every configure of
# the default preset can run it:
#   - Debian packages, through apt-get (as root, or through sudo);
#   - Python packages, into the build's own venv (build/venv by default),
#     made from Debian's interpreter /usr/bin/python3 whatever python3 is
#     first on PATH.
# Usage: tools/set_up_machine.sh [VENV_DIR]
# BYTEBLEND_SKIP_SETUP=1 skips it all (for machines set up some other way).
set -euo pipefail
cd "$(dirname "$0")/.."
[[ ${BYTEBLEND_SKIP_SETUP:-0} == 1 ]] && exit 0

venv=${1:-build/venv}
python=/usr/bin/python3
requirements=tools/python-requirements.txt

debian_packages=(
  # build
  cmake ninja-build g++ clang-14 pkg-config binutils
  # the tool, and groff to check its man page
  libpng-dev libjpeg62-turbo-dev groff-base
  # tests and benchmarks
  libgtest-dev libbenchmark-dev libopencv-core-dev
  # the Python package and its venv; python3-numpy too, never used by the
  # build, because it puts numpy 1.x headers into Python's own include
  # folder (/usr/include/python3.X/numpy), as on many Debian and Ubuntu
  # machines: the package must build and import beside them
  python3 python3-venv python3-dev python3-numpy
  # checking stages: other CPUs, sanitizers and fuzzing, analysis
  qemu-user valgrind libclang-rt-14-dev clang-tidy-14 clang-format-14 cppcheck
  # the Debian package
  dpkg-dev fakeroot file lintian
)

missing=()
for package in "${debian_packages[@]}"; do
  if ! dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null |
    grep -q '^ii'; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  echo "set-up: installing Debian packages: ${missing[*]}"
  sudo=()
  ((EUID == 0)) || sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q \
    --no-install-recommends "${missing[@]}"
fi

# The venv is remade when it is missing or broken, and its packages are
# installed again when the requirements change.
stamp=$venv/.requirements
if [[ ! -x $venv/bin/python ]] || ! "$venv/bin/python" -c '' 2>/dev/null; then
  echo "set-up: making the venv $venv from $python"
  rm -rf "$venv"
  "$python" -m venv "$venv"
fi
if ! cmp -s "$requirements" "$stamp"; then
  echo "set-up: installing Python packages into $venv"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check \
    -r "$requirements"
  cp "$requirements" "$stamp"
fi
