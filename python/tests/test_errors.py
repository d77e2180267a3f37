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


def test_unknown_mode_lists_the_modes():
    refused(ValueError, "unknown blend mode 'dissolve'.*addition.*"
            "color-dodge.*blue-channel",
            lambda t, b, o: byteblend.blend("dissolve", t, b, o))
    refused(ValueError, "unknown blend mode",
            lambda t, b, o: byteblend.blend("color_dodge", t, b, o))
    refused(ValueError, "unknown blend mode",
            lambda t, b, o: byteblend.blend(3, t, b, o))


@pytest.mark.parametrize("dtype", [np.int8, np.uint16, np.float32, np.bool_,
                                   "datetime64[s]"])
@pytest.mark.parametrize("which", ["top", "bottom", "out"])
def test_items_other_than_uint8(dtype, which):
    def call(t, b, o):
        arrays = {"top": t, "bottom": b, "out": o}
        arrays[which] = arrays[which].astype(dtype)
        byteblend.screen(arrays["top"], arrays["bottom"], arrays["out"])
    refused(TypeError, f"{which} must hold uint8 values, not dtype", call)


def test_not_a_buffer():
    refused(TypeError, "top must be a numpy array or an object with the "
            "buffer protocol, not list",
            lambda t, b, o: byteblend.screen(t.tolist(), b, o))
    refused(TypeError, "not str",
            lambda t, b, o: byteblend.screen(t, b, "out"))


@pytest.mark.parametrize("which", ["bottom", "out"])
def test_shapes_differ(which):
    def call(t, b, o):
        arrays = {"top": t, "bottom": b, "out": o}
        arrays[which] = arrays[which].reshape(5, 6, 3)
        byteblend.screen(arrays["top"], arrays["bottom"], arrays["out"])
    refused(ValueError, rf"shapes differ: top \(6, 5, 3\), {which} "
            r"\(5, 6, 3\)", call)


def test_sizes_differ():
    refused(ValueError, "sizes differ: top has 90 bytes, bottom 89",
            lambda t, b, o: byteblend.screen(t, b.tobytes()[:89], o))
    refused(ValueError, "sizes differ: top has 90 bytes, out 91",
            lambda t, b, o: byteblend.screen(t.tobytes(), b.tobytes(),
                                             bytearray(91)))


def test_read_only_out():
    def call(t, b, o):
        o.flags.writeable = False
        byteblend.screen(t, b, o)
    refused(ValueError, "out is read-only", call)
    with pytest.raises(ValueError, match="out is read-only"):
        byteblend.screen(b"abc", b"def", b"ghi")


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
    refused(ValueError, "last axis is not 3", call)
    refused(ValueError, r"out has shape \(90, 1\)",
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
# arrays are 65536 x 65536 views of one byte each: they take no memory
# until a blend makes a new array or contiguous copies of them.
OUT_OF_MEMORY = """
import resource, sys
import numpy as np
from numpy.lib.stride_tricks import as_strided
import byteblend

def huge(value):
    return as_strided(np.full(1, value, np.uint8), (1 << 16, 1 << 16), (0, 0))

top, bottom, out = huge(10), huge(20), huge(30)
calls = {"new array": lambda: byteblend.screen(top, bottom),
         "copies": lambda: byteblend.screen(top, bottom, out)}
pages = int(open("/proc/self/statm").read().split()[0])
limit = pages * resource.getpagesize() + (1 << 30)
_, hard = resource.getrlimit(resource.RLIMIT_AS)
if hard != resource.RLIM_INFINITY:
    limit = min(limit, hard)
resource.setrlimit(resource.RLIMIT_AS, (limit, hard))
try:
    calls[sys.argv[1]]()
except MemoryError as error:
    print(f"MemoryError: {error}; out holds {out[0, 0]}")
"""


@pytest.mark.parametrize("call, message", [
    ("new array", r"Unable to allocate 4\.00 GiB"),
    ("copies", r"cannot allocate 3 x 4294967296 bytes for contiguous copies"),
])
def test_out_of_memory_is_a_memory_error_saying_how_much(call, message):
    child = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY, call],
                           capture_output=True, text=True, timeout=60,
                           check=False)
    assert child.returncode == 0, child.stderr
    assert child.stdout.startswith("MemoryError: "), child.stdout
    assert re.search(message, child.stdout), child.stdout
    assert child.stdout.endswith("; out holds 30\n"), child.stdout
