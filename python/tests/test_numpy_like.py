# SPDX-License-Identifier: MIT
"""What numpy's own functions take, byteblend takes: array-likes, mode names
spelt as the functions are, and a top that broadcasts to bottom's shape."""
import inspect
import pydoc

import numpy as np
import pytest
from PIL import Image

import byteblend
from conftest import direct, random_bytes


class ExportsArray:
    """An object that only hands out an array through __array__."""

    def __init__(self, array):
        self.array = array

    def __array__(self, dtype=None, copy=None):
        return self.array


# Each makes an input of the given uint8 array without the buffer protocol.
ARRAY_LIKES = {
    "Pillow RGB image": lambda a: Image.fromarray(a, "RGB"),
    "list of ints": lambda a: a.tolist(),
    "tuple of ints": lambda a: tuple(a.tolist()),
    "__array__": ExportsArray,
}


@pytest.mark.parametrize("make", ARRAY_LIKES.values(), ids=ARRAY_LIKES)
@pytest.mark.parametrize("which", ["top", "bottom", "both"])
def test_array_likes_as_inputs(mode, make, which):
    top, bottom = random_bytes((6, 5, 3), 1), random_bytes((6, 5, 3), 2)
    given = {name: make(array) if which in (name, "both") else array
             for name, array in (("top", top), ("bottom", bottom))}
    result = byteblend.blend(mode, given["top"], given["bottom"])
    assert result.shape == bottom.shape
    np.testing.assert_array_equal(result, direct(mode, top, bottom, bottom))


def test_array_like_without_a_copy():
    # numpy.asarray of an __array__ object gives its own array; the blend
    # reads it where it is, as into=top shows.
    top, bottom = random_bytes(100, 1), random_bytes(100, 2)
    wanted = direct("screen", top, bottom, top)
    byteblend.screen(ExportsArray(top), bottom, top)
    np.testing.assert_array_equal(top, wanted)


def test_grey_pillow_image_onto_an_rgb_one():
    grey = Image.linear_gradient("L").resize((8, 6))
    rgb = random_bytes((6, 8, 3), 3)
    result = byteblend.multiplication(grey, rgb)
    wanted = direct("multiplication",
                    np.repeat(np.asarray(grey)[:, :, None], 3, axis=2), rgb,
                    rgb)
    np.testing.assert_array_equal(result, wanted)


@pytest.mark.parametrize("name", [
    "color_dodge", "COLOR_DODGE", "Color-Dodge", "color-dodge", "color_Dodge",
])
def test_mode_names_in_any_case_with_either_joiner(name):
    top, bottom = random_bytes(30, 1), random_bytes(30, 2)
    np.testing.assert_array_equal(byteblend.blend(name, top, bottom),
                                  byteblend.color_dodge(top, bottom))


def test_every_function_name_is_a_mode(mode):
    name = mode.replace("-", "_")
    top, bottom = random_bytes((10, 3), 1), random_bytes((10, 3), 2)
    np.testing.assert_array_equal(byteblend.blend(name, top, bottom),
                                  getattr(byteblend, name)(top, bottom))


# top shape -> bottom shape, as numpy.broadcast_to reads top.
BROADCASTS = [
    ((6, 5), (6, 5, 3)),
    ((6, 5, 1), (6, 5, 3)),
    ((3,), (6, 5, 3)),
    ((1, 5, 3), (6, 5, 3)),
    ((1,), (40,)),
    ((), (4, 2, 3)),
    ((70, 1), (2, 70, 90)),
    ((3, 3), (3, 3, 3)),
    ((70, 90), (70, 90, 3)),
]


@pytest.mark.parametrize("top_shape, bottom_shape", BROADCASTS)
def test_top_broadcasts_to_bottom(mode, top_shape, bottom_shape):
    if mode.endswith("channel") and bottom_shape[-1] != 3:
        pytest.skip("the channel modes take RGB")
    top = random_bytes(top_shape, 1)
    bottom = random_bytes(bottom_shape, 2)
    # Where numpy's rule does not fit, a grey (H, W) layer is taken as
    # (H, W, 1); (3, 3) onto (3, 3, 3) goes by numpy's rule.
    try:
        read = np.broadcast_to(top, bottom_shape)
    except ValueError:
        read = np.broadcast_to(top[..., None], bottom_shape)
    out = random_bytes(bottom_shape, 3)
    wanted = direct(mode, read, bottom, out)
    assert byteblend.blend(mode, top, bottom, out) is out
    np.testing.assert_array_equal(out, wanted)
    result = byteblend.blend(mode, top, bottom)
    assert result.shape == bottom_shape
    np.testing.assert_array_equal(result, direct(mode, read, bottom, bottom))


def test_top_broadcast_in_place_into_bottom():
    top, bottom = random_bytes((3,), 1), random_bytes((20, 30, 3), 2)
    wanted = direct("overlay", np.broadcast_to(top, bottom.shape), bottom,
                    bottom)
    byteblend.overlay(top, bottom, bottom)
    np.testing.assert_array_equal(bottom, wanted)


# help() of blend and of every function: the signature, each argument, the
# formula with t and b, the errors and an example.
HELP = ["top", "bottom", "out", "threads", "where t is top's byte and b",
        "Raises", "TypeError", "ValueError", "MemoryError", ">>> ",
        "astype(np.uint8)", "out.copy()", "broadcast"]
FORMULAS = {
    "blend": "color-dodge     255 * b / (255 - t)",
    "screen": "255 * (1 - (1 - t/255) * (1 - b/255)), rounded to nearest",
    "overlay": "2 * t * b / 255 (multiply) where b <= 127",
    "color_burn": "255 - 255 * (255 - b) / t",
    "red_channel": "3 * t + b, clamped to 255, in the red value",
}


@pytest.mark.parametrize("name", FORMULAS)
def test_help_gives_signature_arguments_formula_errors_example(name):
    function = getattr(byteblend, name)
    text = pydoc.render_doc(function, renderer=pydoc.plaintext)
    assert f"{name}(" in text and "threads" in str(inspect.signature(
        function))
    for part in HELP + [FORMULAS[name], f"byteblend.{name}("]:
        assert part in text, (name, part)
    assert "See the package's help" not in text


@pytest.mark.parametrize("top_kind", [bytes, memoryview, "array"])
def test_a_new_array_has_bottoms_shape(top_kind):
    top, bottom = random_bytes((4, 5, 3), 1), random_bytes((4, 5, 3), 2)
    given = top if top_kind == "array" else top_kind(top.tobytes())
    result = byteblend.overlay(given, bottom)
    assert result.shape == (4, 5, 3)
    np.testing.assert_array_equal(result, direct("overlay", top, bottom, top))
    # With bottom a plain buffer, top's shape.
    assert byteblend.overlay(top, bottom.tobytes()).shape == (4, 5, 3)
