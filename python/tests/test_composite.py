# SPDX-License-Identifier: MIT
"""composite(): RGB or RGBA pixels onto RGB or RGBA pixels, in every mode
and normal, by both operators, against the rule worked out in integers
(layers_reference); out=, views, and every refused call."""
import typing

import numpy as np
import pytest

import byteblend
from layers_reference import OPACITIES, composited, pixels

OPERATORS = ("atop", "over")
CHANNELS = [(3, 3), (4, 3), (3, 4), (4, 4)]


def test_composite_modes_are_the_modes_and_normal():
    assert byteblend.COMPOSITE_MODES == byteblend.MODES + ("normal",)
    names = {mode.replace("-", "_") for mode in byteblend.MODES}
    spelled = set(typing.get_args(byteblend.Mode)) | {"normal"}
    assert {arg for part in typing.get_args(byteblend.CompositeMode)
            for arg in typing.get_args(part) or (part,)} == spelled
    assert names <= spelled
    assert set(typing.get_args(byteblend.Operator)) == set(OPERATORS)


@pytest.mark.parametrize("opacity", OPACITIES)
@pytest.mark.parametrize("channels", CHANNELS, ids=lambda c: "%d onto %d" % c)
@pytest.mark.parametrize("operator", OPERATORS)
@pytest.mark.parametrize("mode", byteblend.COMPOSITE_MODES)
def test_every_mode_operator_and_opacity(mode, operator, channels, opacity):
    top = pixels((9, 11, channels[0]), 1)
    bottom = pixels((9, 11, channels[1]), 2)
    wanted = composited(mode, operator, top, bottom, opacity)
    result = byteblend.composite(mode, top, bottom, opacity=opacity,
                                 operator=operator)
    assert result.shape == bottom.shape and result.dtype == np.uint8
    np.testing.assert_array_equal(result, wanted)
    out = pixels(bottom.shape, 3)
    assert byteblend.composite(mode, top, bottom, out, opacity=opacity,
                               operator=operator) is out
    np.testing.assert_array_equal(out, wanted)


# The defaults (atop, opacity 1), and names in any case.
@pytest.mark.parametrize("name, keywords", [
    ("screen", {}), ("Color_Dodge", {"opacity": 0.5, "operator": "OVER"}),
    ("NORMAL", {"operator": "Atop"}), ("red_channel", {"opacity": 0.5})])
def test_defaults_and_names_in_any_case(name, keywords):
    top, bottom = pixels((3, 4, 4), 1), pixels((3, 4, 4), 2)
    mode = name.lower().replace("_", "-")
    np.testing.assert_array_equal(
        byteblend.composite(name, top, bottom, **keywords),
        composited(mode, keywords.get("operator", "atop").lower(), top,
                   bottom, keywords.get("opacity", 1)))


# Pixels in any number of axes: one pixel, a line longer than the rows of
# 4096 pixels the line is cut into, images, a stack of images; and none.
SHAPES = [(), (5,), (4097,), (9000,), (7, 13), (2, 3, 5, 6), (0, 4), (3, 0)]


@pytest.mark.parametrize("view", [np.asarray, lambda a: a[::-1]],
                         ids=["contiguous", "first axis reversed"])
@pytest.mark.parametrize("shape", SHAPES, ids=str)
@pytest.mark.parametrize("channels", CHANNELS, ids=lambda c: "%d onto %d" % c)
def test_shapes(shape, channels, view):
    top = view(pixels(shape + (channels[0],), 4))
    bottom = view(pixels(shape + (channels[1],), 5))
    for operator in OPERATORS:
        np.testing.assert_array_equal(
            byteblend.composite("multiplication", top, bottom, opacity=0.5,
                                operator=operator),
            composited("multiplication", operator, top, bottom, 0.5))


# out is bottom itself, or top where it has bottom's channels.
@pytest.mark.parametrize("into, channels", [
    *(("bottom", channels) for channels in CHANNELS),
    ("top", (3, 3)), ("top", (4, 4))], ids=str)
@pytest.mark.parametrize("operator", OPERATORS)
def test_in_place(operator, into, channels):
    top = pixels((20, 30, channels[0]), 6)
    bottom = pixels((20, 30, channels[1]), 7)
    wanted = composited("overlay", operator, top, bottom, 0.7)
    target = top if into == "top" else bottom
    assert byteblend.composite("overlay", top, bottom, target, opacity=0.7,
                               operator=operator) is target
    np.testing.assert_array_equal(target, wanted)


# Each takes an array of shape (40, 50, C) and gives a view of it.
VIEWS = {
    "rows reversed": lambda a: a[::-1],
    "columns reversed": lambda a: a[:, ::-1],
    "crop": lambda a: a[5:35, 10:45],
    "every other column": lambda a: a[:, ::2],
    "transposed": lambda a: a.transpose(1, 0, 2),
    "channels reversed": lambda a: a[..., ::-1],
    "one column": lambda a: a[:, 7],
    "one pixel": lambda a: a[3, 4],
}


@pytest.mark.parametrize("view", VIEWS.values(), ids=VIEWS.keys())
@pytest.mark.parametrize("strided", ["top", "bottom", "out", "all"])
@pytest.mark.parametrize("channels", CHANNELS, ids=lambda c: "%d onto %d" % c)
def test_views(channels, strided, view):
    wholes = {"top": pixels((40, 50, channels[0]), 10),
              "bottom": pixels((40, 50, channels[1]), 11),
              "out": pixels((40, 50, channels[1]), 12)}
    arrays = {name: view(whole) if strided in (name, "all")
              else np.ascontiguousarray(view(whole))
              for name, whole in wholes.items()}
    before = wholes["out"].copy()
    for operator in OPERATORS:
        wanted = composited("color-burn", operator, arrays["top"],
                            arrays["bottom"], 0.5)
        byteblend.composite("color-burn", arrays["top"], arrays["bottom"],
                            arrays["out"], opacity=0.5, operator=operator)
        np.testing.assert_array_equal(arrays["out"], wanted, err_msg=operator)
    if strided in ("out", "all"):
        # Bytes of the array outside the view of it are untouched.
        index = np.arange(before.size).reshape(before.shape)
        outside = np.ones(before.size, bool)
        outside[view(index).reshape(-1)] = False
        np.testing.assert_array_equal(wholes["out"].reshape(-1)[outside],
                                      before.reshape(-1)[outside])


def test_a_logo_onto_part_of_a_photo():
    logo, photo = pixels((8, 10, 4), 13), pixels((30, 40, 3), 14)
    wanted = photo.copy()
    wanted[5:13, 20:30] = composited("normal", "atop", logo,
                                     photo[5:13, 20:30], 0.7)
    part = photo[5:13, 20:30]
    byteblend.composite("normal", logo, part, out=part, opacity=0.7)
    np.testing.assert_array_equal(photo, wanted)


# Large enough (1 MB and more) to be split across threads.
@pytest.mark.parametrize("threads", [None, 1, 2, 8])
@pytest.mark.parametrize("view", [np.ascontiguousarray, lambda a: a[::-1, ::2]],
                         ids=["contiguous", "strided"])
def test_threads_give_the_same_bytes(threads, view):
    top, bottom = view(pixels((301, 666, 4), 15)), view(pixels((301, 666, 3),
                                                               16))
    for mode in ("color-dodge", "screen", "normal"):
        np.testing.assert_array_equal(
            byteblend.composite(mode, top, bottom, opacity=0.6,
                                operator="over", threads=threads),
            composited(mode, "over", top, bottom, 0.6), err_msg=mode)


def test_inputs_that_numpy_makes_arrays_of():
    top = [[[255, 0, 0, 128]]]
    bottom = memoryview(np.array([[[0, 0, 255]]], np.uint8))
    np.testing.assert_array_equal(
        byteblend.composite("normal", top, bottom),
        composited("normal", "atop", np.array(top, np.uint8),
                   np.asarray(bottom), 1))


SHAPE_TOP, SHAPE_BOTTOM = (6, 5, 4), (6, 5, 3)


def fresh():
    return (pixels(SHAPE_TOP, 1), pixels(SHAPE_BOTTOM, 2),
            pixels(SHAPE_BOTTOM, 3))


# Each call is given top (6, 5, 4), bottom (6, 5, 3) and out (6, 5, 3),
# and must raise before writing any byte of them.
REFUSED = {
    "unknown operator": (
        lambda t, b, o: byteblend.composite("normal", t, b, o,
                                            operator="under"),
        ValueError, r"^unknown operator 'under'; the operators are 'atop' "
                    r"\(the default.*and 'over' \(source-over"),
    "operator not a str": (
        lambda t, b, o: byteblend.composite("normal", t, b, o, operator=1),
        ValueError, r"^unknown operator 1;"),
    "unknown mode": (
        lambda t, b, o: byteblend.composite("normals", t, b, o),
        ValueError, r"^unknown blend mode 'normals' \(did you mean "
                    r"'normal'\?\); the modes .* color-burn normal$"),
    "two channels": (
        lambda t, b, o: byteblend.composite("normal", t[..., :2], b, o),
        ValueError, r"^composite takes pixels of 3 \(RGB\) or 4 \(RGBA\) "
                    r"values, but top has shape \(6, 5, 2\), whose last axis "
                    r"is not 3 or 4"),
    "five channels": (
        lambda t, b, o: byteblend.composite(
            "normal", t, np.concatenate([b, b[..., :2]], -1), o),
        ValueError, r"but bottom has shape \(6, 5, 5\)"),
    "no axes": (
        lambda t, b, o: byteblend.composite("normal", t[0, 0, 0], b, o),
        ValueError, r"but top has shape \(\)"),
    "bytes": (
        lambda t, b, o: byteblend.composite("normal", t.tobytes(), b, o),
        ValueError, r"but top has shape \(120,\).*np\.frombuffer\(data, "
                    r"np\.uint8\)\.reshape\(height, width, 3\)"),
    "shapes differ": (
        lambda t, b, o: byteblend.composite("normal", t[:, :4], b, o),
        ValueError, r"^shapes differ: top \(6, 4, 4\), bottom \(6, 5, 3\); "
                    r"a composite takes top and bottom of the same height "
                    r"and width"),
    "out has top's channels": (
        lambda t, b, o: byteblend.composite("normal", t, b, t),
        ValueError, r"^shapes differ: bottom \(6, 5, 3\), out \(6, 5, 4\); "
                    r"out must have bottom's shape"),
    "out of as many bytes in another shape": (
        lambda t, b, o: byteblend.composite("normal", t, b, o.reshape(5, 6, 3)),
        ValueError, r"out \(5, 6, 3\); out must have bottom's shape"),
    "out smaller": (
        lambda t, b, o: byteblend.composite("normal", t, b, o[:3]),
        ValueError, r"out \(3, 5, 3\); out must have bottom's shape"),
    "out overlaps bottom": (
        lambda t, b, o: byteblend.composite("normal", t[1:], b[1:], b[:-1]),
        ValueError, r"^out overlaps bottom without being the very same"),
    "out overlaps top": (
        lambda t, b, o: byteblend.composite(
            "normal", t, b, t.reshape(-1)[:90].reshape(6, 5, 3)),
        ValueError, r"^out overlaps top without being the very same"),
    "read-only out": (
        lambda t, b, o: byteblend.composite(
            "normal", t, b, np.frombuffer(o.tobytes(), np.uint8).reshape(
                o.shape)),
        ValueError, r"^out is read-only"),
    "float top": (
        lambda t, b, o: byteblend.composite("normal", t / 255, b, o),
        TypeError, r"^top must hold uint8 values, not dtype float64; scale "
                   r"floats in 0\.\.1"),
    "uint16 bottom": (
        lambda t, b, o: byteblend.composite("normal", t,
                                            b.astype(np.uint16), o),
        TypeError, r"^bottom must hold uint8 values, not dtype uint16"),
    "int32 out": (
        lambda t, b, o: byteblend.composite("normal", t, b,
                                            o.astype(np.int32)),
        TypeError, r"^out must hold uint8 values, not dtype int32"),
    "threads zero": (
        lambda t, b, o: byteblend.composite("normal", t, b, o, threads=0),
        ValueError, r"threads must be None or a positive int"),
}


@pytest.mark.parametrize("call, error, match", REFUSED.values(),
                         ids=REFUSED.keys())
def test_refused_before_any_write(call, error, match):
    top, bottom, out = fresh()
    before = [top.copy(), bottom.copy(), out.copy()]
    with pytest.raises(error, match=match):
        call(top, bottom, out)
    for array, kept in zip((top, bottom, out), before):
        np.testing.assert_array_equal(array, kept)
