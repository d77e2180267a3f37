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


# Views of every rank up to 4, each array large enough for dodge and burn
# to be split across two threads: (shape of the whole, view of it).
RANKS = {
    "1-D reversed": ((700001,), lambda a: a[::-1]),
    "1-D every other byte": ((1400003,), lambda a: a[::2]),
    "2-D grey transposed": ((500, 700), lambda a: a.T),
    "2-D grey every other column": ((400, 1500), lambda a: a[:, ::2]),
    "2-D pixels reversed": ((250001, 3), lambda a: a[::-1]),
    "3-D every other column": ((300, 800, 3), lambda a: a[:, ::2]),
    "3-D columns reversed": ((300, 700, 3), lambda a: a[:, ::-1]),
    "3-D transposed": ((700, 300, 3), lambda a: a.transpose(1, 0, 2)),
    "3-D rows and channels reversed": ((300, 700, 3), lambda a: a[::-1, :, ::-1]),
    "3-D RGBA columns reversed": ((300, 500, 4), lambda a: a[:, ::-1]),
    "3-D grey and alpha reversed": ((300, 500, 2), lambda a: a[::-1, ::-1]),
    "3-D 5 bytes, every other column": ((300, 800, 5), lambda a: a[:, ::2]),
    "3-D 5 bytes, rows reversed": ((300, 400, 5), lambda a: a[::-1]),
    "4-D reversed, every other column":
        ((2, 240, 1200, 3), lambda a: a[::-1, :, ::2]),
    "4-D transposed": ((3, 300, 600, 3), lambda a: a.transpose(0, 2, 1, 3)),
}


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("rank", RANKS.values(), ids=RANKS.keys())
def test_views_of_every_rank(rank, threads):
    shape, view = rank
    for mode in ("color-dodge", "color-burn", "overlay", "screen",
                 "red-channel", "green-channel"):
        if mode in CHANNEL_MODES and len(shape) > 1 and shape[-1] != 3:
            continue
        top, bottom, out = (view(random_bytes(shape, seed))
                            for seed in range(3))
        wanted = direct(mode, top, bottom, out)
        byteblend.blend(mode, top, bottom, out, threads=threads)
        np.testing.assert_array_equal(out, wanted, err_msg=mode)
        # A new array: the channel modes start from bottom.
        np.testing.assert_array_equal(
            byteblend.blend(mode, top, bottom, threads=threads),
            direct(mode, top, bottom, bottom), err_msg=mode)
