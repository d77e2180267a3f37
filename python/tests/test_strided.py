# SPDX-License-Identifier: MIT
"""Views that are not contiguous, as inputs and as out, give the bytes of
their contiguous copies."""
import numpy as np
import pytest

import byteblend
from conftest import CHANNEL_MODES, direct, random_bytes

# Each takes an image of shape (60, 80, 3) and gives a view of it.
VIEWS = {
    "every other column": lambda a: a[:, ::2],
    "crop": lambda a: a[10:50, 5:70],
    "reversed channels": lambda a: a[:, :, ::-1],
    "transposed": lambda a: a.transpose(1, 0, 2),
    "rows reversed": lambda a: a[::-1],
    "flat, every other byte": lambda a: a.reshape(-1)[::2],
    "one column": lambda a: a[:, 7],
    "Fortran order": np.asfortranarray,
}


@pytest.mark.parametrize("view", VIEWS.values(), ids=VIEWS.keys())
@pytest.mark.parametrize("strided", ["top", "bottom", "out", "all"])
def test_views(mode, view, strided):
    wholes = {name: random_bytes((60, 80, 3), seed)
              for seed, name in enumerate(("top", "bottom", "out"))}
    arrays = {name: view(whole) if strided in (name, "all")
              else np.ascontiguousarray(view(whole))
              for name, whole in wholes.items()}
    out = arrays["out"]
    wanted = direct(mode, arrays["top"], arrays["bottom"], out)
    before = wholes["out"].copy()
    returned = byteblend.blend(mode, arrays["top"], arrays["bottom"], out)
    assert returned is out
    np.testing.assert_array_equal(out, wanted)
    if strided in ("out", "all"):
        # Bytes of the image outside the view of it are untouched.
        index = np.arange(before.size).reshape(before.shape)
        outside = np.ones(before.size, bool)
        outside[view(index).reshape(-1)] = False
        np.testing.assert_array_equal(wholes["out"].reshape(-1)[outside],
                                      before.reshape(-1)[outside])


@pytest.mark.parametrize("into", ["top", "bottom"])
def test_in_place_on_a_view(mode, into):
    if mode in CHANNEL_MODES:
        view = VIEWS["crop"]
    else:
        view = VIEWS["every other column"]
    top = view(random_bytes((60, 80, 3), 1))
    bottom = view(random_bytes((60, 80, 3), 2))
    target = top if into == "top" else bottom
    wanted = direct(mode, top, bottom, target)
    byteblend.blend(mode, top, bottom, target)
    np.testing.assert_array_equal(target, wanted)


def test_non_contiguous_memoryview_with_the_same_shape():
    data = bytearray(random_bytes(200, 1).tobytes())
    top = memoryview(data)[::2]
    bottom = random_bytes(100, 2)
    out = byteblend.addition(top, bottom)
    np.testing.assert_array_equal(
        out, direct("addition", np.frombuffer(data, np.uint8)[::2], bottom,
                    bottom))
