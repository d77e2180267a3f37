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

# Opacity, and composite() of RGBA onto RGB.
logo: NDArray[np.uint8] = np.zeros((4, 5, 4), np.uint8)
assert_type(byteblend.screen(top, bottom, opacity=0.5), NDArray[np.uint8])
assert_type(byteblend.blend("overlay", top, bottom, buffer, opacity=1),
            bytearray)
assert_type(byteblend.composite("normal", logo, bottom, opacity=0.7),
            NDArray[np.uint8])
assert_type(byteblend.composite("screen", logo, bottom, out, operator="over",
                                threads=2), NDArray[np.uint8])
layer_mode: byteblend.CompositeMode = "color_dodge"
operator: byteblend.Operator = "atop"
byteblend.composite(layer_mode, top, bottom, operator=operator)
assert_type(byteblend.COMPOSITE_MODES, tuple[str, ...])
