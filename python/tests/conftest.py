# SPDX-License-Identifier: MIT
"""Shared by the package's tests: the library called directly through
ctypes, as the reference every blend is checked against."""
import ctypes
import os
import pathlib

import numpy as np
import pytest

import byteblend

# Each mode's C function, in the library's order: that of byteblend.h.
KERNELS = {
    "addition": "AdditionBlend", "subtraction": "SubtractionBlend",
    "multiplication": "MultiplicationBlend", "screen": "ScreenBlend",
    "red-channel": "RedChannelBlend", "green-channel": "GreenChannelBlend",
    "blue-channel": "BlueChannelBlend", "opacity": "OpacityBlend",
    "overlay": "OverlayBlend", "lighten": "LightenBlend",
    "darken": "DarkenBlend", "color-dodge": "ColorDodgeBlend",
    "color-burn": "ColorBurnBlend",
}
CHANNEL_MODES = ("red-channel", "green-channel", "blue-channel")


def _library_path():
    given = os.environ.get("BYTEBLEND_LIBRARY")
    if given:
        return given
    return str(pathlib.Path(byteblend._native.__file__).parent /
               "libbyteblend.so.1")


_library = ctypes.CDLL(_library_path())


def direct(mode, top, bottom, out):
    """The C kernel on contiguous copies: returns what it writes into a copy
    of out (which the channel kernels leave partly as it was)."""
    top = np.ascontiguousarray(top).reshape(-1)
    bottom = np.ascontiguousarray(bottom).reshape(-1)
    result = np.array(out, dtype=np.uint8, order="C").reshape(-1)
    kernel = getattr(_library, KERNELS[mode])
    kernel.restype = None
    pointer = ctypes.POINTER(ctypes.c_uint8)
    kernel(ctypes.c_int32(top.size),
           top.ctypes.data_as(pointer), bottom.ctypes.data_as(pointer),
           result.ctypes.data_as(pointer))
    return result.reshape(np.shape(out))


def random_bytes(shape, seed):
    return np.random.default_rng(seed).integers(0, 256, shape, np.uint8)


@pytest.fixture(params=byteblend.MODES)
def mode(request):
    return request.param
