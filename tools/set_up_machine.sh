#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what a build needs, and does nothing when it is all there
# already, so that every configure of the demo and default presets can run
# it. PART says how much:
#   tool  the Debian packages that the library and the tool build from
#         (the demo preset: no venv, no Python package);
#   all   the Debian packages of the build, the tests, the examples, the
#         benchmarks, the checking stages and the Debian package, and the
#         Python packages of the build's own venv (build/venv by default),
#         made from Debian's interpreter /usr/bin/python3 whatever python3
#         is first on PATH (the default preset).
# Debian packages come through apt-get (as root, or through sudo).
# Usage: tools/set_up_machine.sh tool|all [VENV_DIR]
# BYTEBLEND_SKIP_SETUP=1 skips it all (for machines set up some other way).
set -euo pipefail
cd "$(dirname "$0")/.."
[[ ${BYTEBLEND_SKIP_SETUP:-0} == 1 ]] && exit 0

part=${1:-}
venv=${2:-build/venv}
python=/usr/bin/python3
requirements=tools/python-requirements.txt

# The library and the tool.
debian_packages=(cmake ninja-build g++ binutils libpng-dev libjpeg62-turbo-dev)
case $part in
tool) ;;
all)
  debian_packages+=(
    # the other compiler, and pkg-config for the examples
    clang-14 pkg-config
    # groff to check the tool's man page
    groff-base
    # tests and benchmarks
    libgtest-dev libbenchmark-dev libopencv-core-dev libpixman-1-dev
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
  ;;
*)
  echo "usage: $0 tool|all [VENV_DIR]" >&2
  exit 2
  ;;
esac

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

[[ $part == all ]] || exit 0

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
