#!/usr/bin/env bash
# pip install ./python into a new venv (from /usr/bin/python3), then import
# the package from a folder outside the source tree, without
# LD_LIBRARY_PATH, and blend a Pillow image.
# Usage: pip_install_check.sh PACKAGE_DIR WORK_DIR VERSION
set -euo pipefail
package=$1 work=$2 version=$3
rm -rf "$work"
mkdir -p "$work/elsewhere"
/usr/bin/python3 -m venv "$work/venv"
"$work/venv/bin/python" -m pip install -q --disable-pip-version-check \
  "$package" Pillow
cd "$work/elsewhere"
unset LD_LIBRARY_PATH PYTHONPATH
"$work/venv/bin/python" - "$version" <<'PY'
import sys

import numpy as np
from PIL import Image

import byteblend

assert byteblend.__version__ == sys.argv[1], byteblend.__version__
assert "/site-packages/byteblend/" in byteblend._native.__file__
top = Image.new("RGB", (4, 3), (0, 64, 128))
bottom = Image.new("RGB", (4, 3), (128, 128, 64))
result = Image.fromarray(byteblend.screen(np.asarray(top), np.asarray(bottom)))
assert result.getpixel((0, 0)) == (128, 160, 160), result.getpixel((0, 0))
print("installed byteblend", byteblend.__version__, "blends",
      result.getpixel((0, 0)))
PY
