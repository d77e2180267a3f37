# SPDX-License-Identifier: MIT
"""blend() and the functions of each mode with an opacity: each byte the
mode's mixed with bottom's by the opacity byte, against the rule worked out
in integers (layers_reference), for arrays and views of them."""
import math

import numpy as np
import pytest

import byteblend
from conftest import direct, random_bytes
from layers_reference import OPACITIES, blended_with_opacity

SHAPES = [(1,), (7,), (1000,), (5, 7, 3), (2, 3, 33, 3), (17, 3)]


@pytest.mark.parametrize("opacity", OPACITIES + (0.7,))
def test_each_mode_at_each_opacity(mode, opacity):
    for index, shape in enumerate(SHAPES):
        top, bottom = random_bytes(shape, index), random_bytes(shape, 40 + index)
        out = random_bytes(shape, 80 + index)
        wanted = blended_with_opacity(mode, top, bottom, out, opacity)
        returned = byteblend.blend(mode, top, bottom, out, opacity=opacity)
        assert returned is out
        np.testing.assert_array_equal(out, wanted, err_msg=f"{shape}")
        # A new array: a channel mode's starts as bottom.
        np.testing.assert_array_equal(
            byteblend.blend(mode, top, bottom, opacity=opacity),
            blended_with_opacity(mode, top, bottom, bottom, opacity),
            err_msg=f"{shape}, new array")


def test_each_function_takes_the_opacity(mode):
    function = getattr(byteblend, mode.replace("-", "_"))
    top, bottom = random_bytes((31, 3), 1), random_bytes((31, 3), 2)
    np.testing.assert_array_equal(
        function(top, bottom, opacity=0.5),
        blended_with_opacity(mode, top, bottom, bottom, 0.5))


# Opacities whose byte is 255 are the plain kernels' bytes, to the bit.
@pytest.mark.parametrize("opacity", [1, 1.0, 0.999, np.float32(1)])
def test_full_opacity_is_the_plain_blend(mode, opacity):
    top, bottom = random_bytes((40, 9, 3), 3), random_bytes((40, 9, 3), 4)
    out = random_bytes((40, 9, 3), 5)
    wanted = direct(mode, top, bottom, out)
    byteblend.blend(mode, top, bottom, out, opacity=opacity)
    np.testing.assert_array_equal(out, wanted)


# Each takes an image of shape (60, 80, 3) and gives a view of it.
VIEWS = {
    "rows reversed": lambda a: a[::-1],
    "columns reversed": lambda a: a[:, ::-1],
    "crop": lambda a: a[10:50, 5:70],
    "every other column": lambda a: a[:, ::2],
    "transposed": lambda a: a.transpose(1, 0, 2),
    "flat, reversed": lambda a: a.reshape(-1)[::-1],
}


@pytest.mark.parametrize("view", VIEWS.values(), ids=VIEWS.keys())
@pytest.mark.parametrize("strided", ["top", "bottom", "out", "all"])
@pytest.mark.parametrize("mode", ["overlay", "screen", "green-channel"])
def test_views_at_half_opacity(mode, view, strided):
    wholes = {name: random_bytes((60, 80, 3), seed)
              for seed, name in enumerate(("top", "bottom", "out"))}
    arrays = {name: view(whole) if strided in (name, "all")
              else np.ascontiguousarray(view(whole))
              for name, whole in wholes.items()}
    before = wholes["out"].copy()
    out = arrays["out"]
    wanted = blended_with_opacity(mode, arrays["top"], arrays["bottom"], out,
                                  0.5)
    byteblend.blend(mode, arrays["top"], arrays["bottom"], out, opacity=0.5)
    np.testing.assert_array_equal(out, wanted)
    if strided in ("out", "all"):
        index = np.arange(before.size).reshape(before.shape)
        outside = np.ones(before.size, bool)
        outside[view(index).reshape(-1)] = False
        np.testing.assert_array_equal(wholes["out"].reshape(-1)[outside],
                                      before.reshape(-1)[outside])


@pytest.mark.parametrize("into", ["top", "bottom"])
def test_in_place_at_an_opacity(mode, into):
    top = random_bytes((60, 80, 3), 1)[::-1]
    bottom = random_bytes((60, 80, 3), 2)[::-1]
    target = top if into == "top" else bottom
    wanted = blended_with_opacity(mode, top, bottom, target, 0.25)
    assert byteblend.blend(mode, top, bottom, target, opacity=0.25) is target
    np.testing.assert_array_equal(target, wanted)


# Large enough (1 MB) for dodge and overlay to be split.
@pytest.mark.parametrize("threads", [None, 1, 2])
@pytest.mark.parametrize("view", [np.ascontiguousarray, lambda a: a[::-1]],
                         ids=["contiguous", "reversed"])
def test_threads_give_the_same_bytes(threads, view):
    for mode in ("color-dodge", "overlay", "screen", "blue-channel"):
        top, bottom = (view(random_bytes((420, 800, 3), seed))
                       for seed in (10, 11))
        np.testing.assert_array_equal(
            byteblend.blend(mode, top, bottom, opacity=0.3, threads=threads),
            blended_with_opacity(mode, top, bottom, bottom, 0.3),
            err_msg=mode)


# Refused before anything is written: the error, and its message.
OUT_OF_RANGE = (r"^opacity must be a number from 0 to 1 \(0: the bottom only, "
                r"1: all of the blend\), not ")
REFUSED_OPACITIES = {
    "above one": (1.0001, ValueError, OUT_OF_RANGE + r"1\.0001$"),
    "negative": (-0.1, ValueError, OUT_OF_RANGE + r"-0\.1$"),
    "NaN": (math.nan, ValueError, OUT_OF_RANGE + r"nan$"),
    "infinite": (math.inf, ValueError, OUT_OF_RANGE + r"inf$"),
    "a percentage": (70, ValueError, OUT_OF_RANGE + r"70$"),
    "a string": ("0.5", TypeError, r"from 0 to 1, not str$"),
    "None": (None, TypeError, r"not NoneType$"),
    "a bool": (True, TypeError, r"from 0 to 1$"),
    "numpy's bool": (np.True_, TypeError, r"from 0 to 1$"),
}


@pytest.mark.parametrize("opacity, error, match", REFUSED_OPACITIES.values(),
                         ids=REFUSED_OPACITIES.keys())
@pytest.mark.parametrize("call", [
    lambda t, b, o, opacity: byteblend.blend("screen", t, b, o,
                                             opacity=opacity),
    lambda t, b, o, opacity: byteblend.red_channel(t, b, b, opacity=opacity),
    lambda t, b, o, opacity: byteblend.composite("normal", t, b, o,
                                                 opacity=opacity),
], ids=["blend", "into bottom", "composite"])
def test_opacities_refused_before_any_write(call, opacity, error, match):
    top, bottom, out = (random_bytes((6, 5, 3), seed) for seed in range(3))
    before = [top.copy(), bottom.copy(), out.copy()]
    with pytest.raises(error, match=match):
        call(top, bottom, out, opacity)
    for array, kept in zip((top, bottom, out), before):
        np.testing.assert_array_equal(array, kept)


@pytest.mark.parametrize("name", ["normal", "Normal"])
def test_blend_refers_normal_to_composite(name):
    top, bottom = random_bytes((4, 3), 1), random_bytes((4, 3), 2)
    out = bottom.copy()
    with pytest.raises(ValueError, match=r"^'normal' \(the top itself\) is a "
                       r"mode of composite\(\), not of blend\(\): "
                       r"byteblend\.composite\(\"normal\""):
        byteblend.blend(name, top, bottom, out, opacity=0.5)
    np.testing.assert_array_equal(out, bottom)
