# SPDX-License-Identifier: MIT
"""Calls that must type-check under mypy --strict, with the types they
give: the result follows out (None: a new uint8 array; else out's type)."""
import numpy as np
from numpy.typing import NDArray
from PIL import Image
from typing_extensions import assert_type

import byteblend

top: NDArray[np.uint8] = np.zeros((4, 5, 3), np.uint8)
bottom: NDArray[np.uint8] = np.zeros((4, 5, 3), np.uint8)
out: NDArray[np.uint8] = np.empty_like(bottom)
buffer = bytearray(60)

assert_type(byteblend.screen(top, bottom), NDArray[np.uint8])
assert_type(byteblend.screen(top, bottom, out), NDArray[np.uint8])
assert_type(byteblend.screen(bytes(60), memoryview(bytes(60)), buffer),
            bytearray)
assert_type(byteblend.overlay(top, bottom, out=None, threads=None),
            NDArray[np.uint8])
assert_type(byteblend.blend("color_dodge", top, bottom, threads=2),
            NDArray[np.uint8])
assert_type(byteblend.blend("color-burn", top, bottom, buffer), bytearray)

mode: byteblend.Mode = "red_channel"
byteblend.blend(mode, top, bottom, out, threads=1)
for name in ("addition", "blue-channel"):
    byteblend.blend(name, top, bottom)
assert_type(byteblend.MODES, tuple[str, ...])
image = Image.new("RGB", (5, 4))
assert_type(byteblend.multiplication(image.convert("L"), image),
            NDArray[np.uint8])
