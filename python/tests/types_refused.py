# SPDX-License-Identifier: MIT
"""Calls that must not type-check: mypy --strict reports an error on each
line marked expect-error, and on no other line (check_types.py)."""
import numpy as np
from numpy.typing import NDArray
from PIL import Image

import byteblend

top: NDArray[np.uint8] = np.zeros((4, 5, 3), np.uint8)
bottom: NDArray[np.uint8] = np.zeros((4, 5, 3), np.uint8)
floats: NDArray[np.float32] = np.zeros((4, 5, 3), np.float32)
words: NDArray[np.uint16] = np.zeros((4, 5, 3), np.uint16)
some_mode: str = "screen"
image = Image.new("RGB", (5, 4))

byteblend.blend("colour-dodge", top, bottom)  # expect-error
byteblend.blend("multiply", top, bottom)  # expect-error
byteblend.blend(some_mode, top, bottom)  # expect-error
byteblend.screen(floats, bottom)  # expect-error
byteblend.screen(top, words)  # expect-error
byteblend.screen("text", bottom)  # expect-error
byteblend.screen(top, bottom, out=5)  # expect-error
byteblend.screen(top, bottom, out=floats)  # expect-error
byteblend.screen(top, bottom, out=bytes(60))  # expect-error
byteblend.screen(top, bottom, threads=1.5)  # expect-error
byteblend.screen(top, bottom, bottom, 2)  # expect-error
byteblend.dissolve(top, bottom)  # expect-error
grown: bytearray = byteblend.screen(top, bottom)  # expect-error
byteblend.screen(image, image, out=image)  # expect-error
byteblend.screen(top, bottom, out=bottom, threads=None)
byteblend.screen(top, bottom, opacity="half")  # expect-error
byteblend.blend("normal", top, bottom)  # expect-error
byteblend.composite("normal", top, bottom, operator="under")  # expect-error
byteblend.composite("dissolve", top, bottom)  # expect-error
byteblend.composite("normal", floats, bottom)  # expect-error
byteblend.composite("normal", top, bottom, 0.7)  # expect-error
byteblend.composite("normal", top, bottom, opacity=0.7)
