# SPDX-License-Identifier: MIT
"""Every refused call raises the right error and leaves out untouched."""
import re
import subprocess
import sys

import numpy as np
import pytest

import byteblend
from conftest import random_bytes

SHAPE = (6, 5, 3)


def fresh():
    return (random_bytes(SHAPE, 1), random_bytes(SHAPE, 2),
            random_bytes(SHAPE, 3))


def refused(error, match, call):
    """Calls call(top, bottom, out) and checks it raises and writes
    nothing into any of the three."""
    top, bottom, out = fresh()
    before = [top.copy(), bottom.copy(), out.copy()]
    with pytest.raises(error, match=match):
        call(top, bottom, out)
    for array, kept in zip((top, bottom, out), before):
        np.testing.assert_array_equal(array, kept)


@pytest.mark.parametrize("mode, match", [
    ("dissolve", r"unknown blend mode 'dissolve'; the modes \(in any case, "
     r"with '-' or '_'\) are: addition .*blue-channel.*color-burn$"),
    ("colour_dodge", r"^unknown blend mode 'colour_dodge' \(did you mean "
     r"'color-dodge'\?\); the modes"),
    ("Scren", r"'Scren' \(did you mean 'screen'\?\)"),
    ("red channel", r"did you mean 'red-channel' or "),
    (3, r"unknown blend mode 3; the modes"),
])
def test_unknown_mode_lists_the_modes_and_the_closest(mode, match):
    refused(ValueError, match,
            lambda t, b, o: byteblend.blend(mode, t, b, o))


# Each wrong dtype names the conversion to uint8 it needs, in the
# argument's own name.
ITEMS = {
    np.float32: r"not dtype float32; scale floats in 0\.\.1 to bytes with "
                r"\({0} \* 255\)\.round\(\)\.astype\(np\.uint8\), floats in "
                r"0\.\.255 with {0}\.round\(\)\.astype\(np\.uint8\)$",
    np.float64: r"not dtype float64; scale floats in 0\.\.1",
    np.uint16: r"not dtype uint16; scale 16-bit values to bytes with "
               r"\({0} >> 8\)\.astype\(np\.uint8\) or "
               r"\({0} // 257\)\.astype\(np\.uint8\)$",
    np.int8: r"not dtype int8; convert values that are already in 0\.\.255 "
             r"with {0}\.astype\(np\.uint8\)$",
    np.bool_: r"not dtype bool; convert values",
    "datetime64[s]": r"not dtype datetime64\[s\]; byteblend blends uint8 "
                     r"values only$",
}


@pytest.mark.parametrize("dtype, match", ITEMS.items(),
                         ids=[str(dtype) for dtype in ITEMS])
@pytest.mark.parametrize("which", ["top", "bottom"])
def test_items_other_than_uint8_name_the_conversion(dtype, match, which):
    def call(t, b, o):
        arrays = {"top": t, "bottom": b, "out": o}
        arrays[which] = arrays[which].astype(dtype)
        byteblend.screen(arrays["top"], arrays["bottom"], arrays["out"])
    refused(TypeError, f"{which} must hold uint8 values, " +
            match.format(which), call)


@pytest.mark.parametrize("kind, match", [
    ("f", r"items of format 'f'; scale floats in 0\.\.1"),
    ("H", r"items of format 'H'; scale 16-bit values"),
])
def test_buffers_of_other_items_name_the_conversion(kind, match):
    import array
    top = array.array(kind, [0] * 4)
    with pytest.raises(TypeError, match="top must hold uint8 values, not " +
                       match):
        byteblend.screen(top, bytes(len(top.tobytes())))


@pytest.mark.parametrize("dtype", [np.float32, np.uint16, "datetime64[s]"])
def test_out_of_other_items_is_refused(dtype):
    refused(TypeError, "out must hold uint8 values, not dtype .*; blend "
            r"into a uint8 array \(out=None makes one\)",
            lambda t, b, o: byteblend.screen(t, b, o.astype(dtype)))


@pytest.mark.parametrize("top, error, match", [
    ("top", TypeError, "top must be a uint8 numpy array, a buffer such as "
     r"bytes, or what numpy.asarray makes one of \(a Pillow image, a list "
     r"of ints in 0..255\), not str"),
    (object(), TypeError, "not object"),
    ([[0, 300]], ValueError, r"top holds values outside 0\.\.255 \(0 to "
     r"300\); clip them first: np\.clip\(top, 0, 255\)"),
    ([-1, 2], ValueError, r"outside 0\.\.255 \(-1 to 2\)"),
    ([0.5, 1.0], TypeError, "not dtype float64; scale floats"),
])
def test_what_is_no_uint8_array(top, error, match):
    refused(error, match, lambda t, b, o: byteblend.screen(top, b, o))


@pytest.mark.parametrize("out", ["out", 5, [0] * 90])
def test_out_must_be_a_writable_array_or_buffer(out):
    refused(TypeError, "out must be None, a writable numpy array of uint8 "
            "or a writable buffer such as a bytearray, not ",
            lambda t, b, o: byteblend.screen(t.tobytes(), b.tobytes(), out))


# Shapes that neither match nor broadcast: both named, and how to blend a
# smaller top onto part of bottom, with top's own height and width.
@pytest.mark.parametrize("top_shape, bottom_shape, part", [
    ((5, 6, 3), (6, 5, 3), "bottom[y:y+5, x:x+6]"),
    ((2, 3, 3), (6, 5, 3), "bottom[y:y+2, x:x+3]"),
    ((6, 5, 4), (6, 5, 3), "bottom[y:y+6, x:x+5]"),
    ((6, 5, 3), (6, 5), "bottom[y:y+6, x:x+5]"),
    ((4,), (6, 5, 3), "bottom[y:y+h, x:x+w]"),
])
def test_shapes_that_do_not_broadcast(top_shape, bottom_shape, part):
    top = random_bytes(top_shape, 1)
    bottom = random_bytes(bottom_shape, 2)
    message = (re.escape(f"shapes differ: top {top_shape}, bottom "
                         f"{bottom_shape}; top must have bottom's shape or "
                         "broadcast to it") + ".*" +
               re.escape(f'byteblend.blend("overlay", top, {part}, '
                         f'out={part})') + "$")
    kept = bottom.copy()
    with pytest.raises(ValueError, match=message):
        byteblend.overlay(top, bottom, bottom)
    np.testing.assert_array_equal(bottom, kept)


@pytest.mark.parametrize("which", ["bottom", "out"])
def test_shapes_differ(which):
    def call(t, b, o):
        arrays = {"top": t, "bottom": b, "out": o}
        arrays[which] = arrays[which].reshape(5, 6, 3)
        byteblend.screen(arrays["top"], arrays["bottom"], arrays["out"])
    advice = ("top must have bottom's shape" if which == "bottom" else
              r"out must have the shape of the result, bottom's")
    refused(ValueError, rf"shapes differ: top \(6, 5, 3\), {which} "
            rf"\(5, 6, 3\); {advice}", call)


def test_sizes_differ():
    refused(ValueError, "sizes differ: top has 90 bytes, bottom 89",
            lambda t, b, o: byteblend.screen(t, b.tobytes()[:89], o))
    refused(ValueError, "sizes differ: top has 90 bytes, out 91",
            lambda t, b, o: byteblend.screen(t.tobytes(), b.tobytes(),
                                             bytearray(91)))


READ_ONLY = (r"out is read-only; blend into a writable array: out\.copy\(\), "
             r"bytearray\(out\) for bytes, or np\.array\(image\) for a "
             r"Pillow image \(np\.asarray\(image\) gives a read-only view")


def test_read_only_out():
    def call(t, b, o):
        o.flags.writeable = False
        byteblend.screen(t, b, o)
    refused(ValueError, READ_ONLY, call)
    with pytest.raises(ValueError, match=READ_ONLY):
        byteblend.screen(b"abc", b"def", b"ghi")


def test_pillow_image_as_out_through_asarray_is_read_only():
    from PIL import Image
    image = Image.new("RGB", (5, 6), (1, 2, 3))
    with pytest.raises(ValueError, match=READ_ONLY):
        byteblend.screen(image, image, np.asarray(image))
    writable = np.array(image)
    assert byteblend.screen(image, image, writable) is writable


@pytest.mark.parametrize("view", [
    lambda a: a[1:], lambda a: a[::-1], lambda a: a[45:],
])
def test_out_overlapping_an_input(view):
    # One buffer of 91 bytes; out is a shifted or reversed piece of top's.
    def call(t, b, o):
        flat = np.concatenate([t.reshape(-1), t.reshape(-1)[:1]])
        first, second = view(flat)[:90], flat[:90]
        if first.size < 90:
            second = second[:first.size]
            b = b.reshape(-1)[:first.size]
        before = flat.copy()
        try:
            byteblend.screen(second, b.reshape(-1), first)
        finally:
            np.testing.assert_array_equal(flat, before)
    refused(ValueError, "out overlaps top", call)


def test_out_overlapping_bottom_as_a_strided_view():
    def call(t, b, o):
        byteblend.screen(t[:, :4], b[:, 1:], b[:, :4])
    refused(ValueError, "out overlaps bottom", call)


def test_out_interleaved_with_an_input_is_not_an_overlap():
    data = random_bytes((8, 6), 4)
    top, out = data[:, 0::2], data[:, 1::2]
    bottom = random_bytes((8, 3), 5)
    wanted = out.copy()
    byteblend.addition(top, bottom, wanted)
    byteblend.addition(top, bottom, out)
    np.testing.assert_array_equal(out, wanted)


@pytest.mark.parametrize("mode", ["red-channel", "green-channel",
                                  "blue-channel"])
def test_channel_modes_want_three_values_a_pixel(mode):
    def call(t, b, o):
        rgba = np.zeros((6, 5, 4), np.uint8)
        byteblend.blend(mode, rgba, rgba.copy(), None)
    refused(ValueError, r"last axis is not 3; it needs shape \(6, 5, 3\) "
            r"\(for RGBA, blend the view rgba\[\.\.\., :3\]\)$", call)
    refused(ValueError, r"out has shape \(90, 1\), whose last axis is not "
            r"3; it needs shape \(90, 3\); for a Dask array, keep the last "
            r"axis in one chunk: map_blocks over array\.rechunk\(\{-1: -1\}\)",
            lambda t, b, o: byteblend.blend(mode, t.tobytes(), b.tobytes(),
                                            o.reshape(90, 1)))


def test_channel_modes_take_flat_arrays_and_buffers():
    top, bottom = random_bytes(12, 1), random_bytes(12, 2)
    byteblend.red_channel(top, bottom.tobytes())
    byteblend.red_channel(top.reshape(4, 3), bottom.reshape(4, 3))


@pytest.mark.parametrize("threads", [0, -1, -2**64, 1.5, "2", True])
def test_threads_must_be_a_positive_int(threads):
    refused((ValueError, TypeError), "threads must be None or a positive int",
            lambda t, b, o: byteblend.screen(t, b, o, threads=threads))


# A child process whose address space is capped 1 GiB above what it holds,
# so that 4 GiB cannot be had whatever the machine's overcommit setting. The
# arrays are views of one byte each: they take no memory until a blend makes
# a new array of them.
MEMORY_CAPPED = """
import resource, sys
import numpy as np
from numpy.lib.stride_tricks import as_strided
import byteblend

def huge(value, shape):
    return as_strided(np.full(1, value, np.uint8), shape, (0, 0))

calls = {
    "new array": lambda: byteblend.screen(huge(10, (1 << 16, 1 << 16)),
                                          huge(20, (1 << 16, 1 << 16))),
    # 1.5 GiB of copies if views were copied whole to be blended.
    "views": lambda: byteblend.screen(huge(10, (1 << 14, 1 << 15)),
                                      huge(20, (1 << 14, 1 << 15)), out,
                                      threads=1),
}
out = huge(30, (1 << 14, 1 << 15))
pages = int(open("/proc/self/statm").read().split()[0])
limit = pages * resource.getpagesize() + (1 << 30)
_, hard = resource.getrlimit(resource.RLIMIT_AS)
if hard != resource.RLIM_INFINITY:
    limit = min(limit, hard)
resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
try:
    calls[sys.argv[1]]()
except MemoryError as error:
    print(f"MemoryError: {error}; ", end="")
print(f"out holds {out[0, 0]}")
"""


def run_capped(call):
    child = subprocess.run([sys.executable, "-c", MEMORY_CAPPED, call],
                           capture_output=True, text=True, timeout=120,
                           check=False)
    assert child.returncode == 0, child.stderr
    return child.stdout


def test_out_of_memory_for_a_new_array_is_a_memory_error_saying_how_much():
    stdout = run_capped("new array")
    assert stdout.startswith("MemoryError: "), stdout
    assert re.search(r"Unable to allocate 4\.00 GiB", stdout), stdout
    assert stdout.endswith("; out holds 30\n"), stdout


def test_views_are_blended_without_copies_of_them():
    # screen(10, 20) is 29.
    assert run_capped("views") == "out holds 29\n"
