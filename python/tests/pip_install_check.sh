#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The README's install commands (examples/python/install.sh), run from the
# source tree with HOME in a scratch folder: pip builds the source tree (the
# root's pyproject.toml) into a new venv made from /usr/bin/python3. Then the package is imported from another
# folder, without LD_LIBRARY_PATH or PYTHONPATH, blends Pillow images and
# composites (libbyteblend_layers.so.1 beside libbyteblend.so.1).
# On Debian with python3-numpy installed (tools/set_up_machine.sh installs
# it), /usr/include/python3.X/numpy holds numpy 1.x headers beside the venv's
# numpy 2: an extension built against the wrong ones fails at import here.
# Usage: pip_install_check.sh SOURCE_DIR WORK_DIR VERSION
set -euo pipefail
source_dir=$1 work=$2 version=$3
rm -rf "$work"
mkdir -p "$work/elsewhere"
(cd "$source_dir" && HOME=$work PIP_DISABLE_PIP_VERSION_CHECK=1 \
  sh -e examples/python/install.sh)
python=$work/venvs/byteblend/bin/python
include=$("$python" -c 'import sysconfig; print(sysconfig.get_path("include"))')
if [[ -e $include/numpy ]]; then
  echo "$include/numpy is there (Debian's python3-numpy)"
fi
cd "$work/elsewhere"
unset LD_LIBRARY_PATH PYTHONPATH
"$python" "$source_dir/examples/python/pillow_blend.py" blended.png
"$python" - "$version" <<'PY'
import os
import sys

import numpy as np
from PIL import Image

import byteblend

assert sys.base_prefix == "/usr", sys.base_prefix  # from /usr/bin/python3
assert byteblend.__version__ == sys.argv[1], byteblend.__version__
assert "/site-packages/byteblend/" in byteblend._native.__file__
# Both libraries beside the extension, and composite() through the second.
folder = os.path.dirname(byteblend._native.__file__)
for library in ("libbyteblend.so.1", "libbyteblend_layers.so.1"):
    assert os.path.isfile(os.path.join(folder, library)), library
assert byteblend.composite(
    "normal", np.array([[255, 0, 0, 255]], np.uint8),
    np.array([[0, 0, 255]], np.uint8), opacity=0.7).tolist() == [[179, 0, 76]]
top = Image.new("RGB", (4, 3), (0, 64, 128))
bottom = Image.new("RGB", (4, 3), (128, 128, 64))
result = Image.fromarray(byteblend.screen(np.asarray(top), np.asarray(bottom)))
assert result.getpixel((0, 0)) == (128, 160, 160), result.getpixel((0, 0))
assert Image.open("blended.png").size == (320, 240)
print("installed byteblend", byteblend.__version__, "with numpy",
      np.__version__, "blends", result.getpixel((0, 0)))
PY
