# SPDX-License-Identifier: MIT
"""Every mode through the package, against the library called directly."""
import pathlib
import pickle
import re
import typing

import numpy as np
import pytest

import byteblend
from conftest import CHANNEL_MODES, KERNELS, direct, random_bytes

SHAPES = [(0,), (1,), (7,), (64,), (1000,), (5, 7, 3), (2, 3, 33, 3),
          (17, 3)]
SHAPES_ANY_MODE = [(3, 4, 4), (9, 2)]


def shapes_for(mode):
    return SHAPES + ([] if mode in CHANNEL_MODES else SHAPES_ANY_MODE)


def test_modes_are_the_thirteen_names_in_the_librarys_order():
    assert byteblend.MODES == tuple(KERNELS)


# The names that a type checker reads are spelled out by hand (Mode, and a
# function a mode): they are MODES, each function is named after its mode,
# exported in MODES' order, and found again by its name when pickled (as
# Dask sends it to its workers).
def test_the_names_spelled_for_type_checkers_are_the_modes():
    names = [mode.replace("-", "_") for mode in KERNELS]
    assert set(typing.get_args(byteblend.Mode)) == {*KERNELS, *names}
    assert [name for name in byteblend.__all__ if name in names] == names
    for name in names:
        function = getattr(byteblend, name)
        assert function.__name__ == name
        assert pickle.loads(pickle.dumps(function)) is function


def test_version_is_the_project_version():
    cmake = pathlib.Path(__file__).parents[2] / "CMakeLists.txt"
    project = re.search(r"project\(byteblend\s+VERSION\s+([0-9.]+)",
                        cmake.read_text()).group(1)
    assert byteblend.__version__ == project


def test_every_mode_into_out(mode):
    for index, shape in enumerate(shapes_for(mode)):
        top, bottom = random_bytes(shape, index), random_bytes(shape, 99 + index)
        out = random_bytes(shape, 7)
        wanted = direct(mode, top, bottom, out)
        returned = byteblend.blend(mode, top, bottom, out, threads=1)
        assert returned is out
        np.testing.assert_array_equal(out, wanted, err_msg=f"{mode} {shape}")


def test_every_mode_new_array(mode):
    for index, shape in enumerate(shapes_for(mode)):
        top, bottom = random_bytes(shape, index), random_bytes(shape, 50 + index)
        result = byteblend.blend(mode, top, bottom)
        assert result.shape == shape and result.dtype == np.uint8
        # A new array for a channel mode starts as bottom.
        np.testing.assert_array_equal(result, direct(mode, top, bottom, bottom))


def test_function_per_mode_is_blend_of_that_mode(mode):
    function = getattr(byteblend, mode.replace("-", "_"))
    top, bottom = random_bytes((31, 3), 1), random_bytes((31, 3), 2)
    np.testing.assert_array_equal(function(top, bottom),
                                  byteblend.blend(mode, top, bottom))


def test_zero_dimensional_arrays():
    top, bottom = np.array(200, np.uint8), np.array(100, np.uint8)
    result = byteblend.addition(top, bottom)
    assert result.shape == () and int(result) == 255


def test_mode_name_in_any_case():
    top, bottom = random_bytes(30, 1), random_bytes(30, 2)
    np.testing.assert_array_equal(
        byteblend.blend("Color-DODGE", top, bottom),
        byteblend.blend("color-dodge", top, bottom))


@pytest.mark.parametrize("kind", [bytes, bytearray, memoryview])
def test_plain_buffers(mode, kind):
    top, bottom = random_bytes(300, 3), random_bytes(300, 4)
    out = bytearray(random_bytes(300, 5).tobytes())
    wanted = direct(mode, top, bottom, np.frombuffer(out, np.uint8))
    returned = byteblend.blend(mode, kind(top.tobytes()),
                               kind(bottom.tobytes()), out)
    assert returned is out
    assert bytes(out) == wanted.tobytes()
    result = byteblend.blend(mode, kind(top.tobytes()), bottom)
    assert result.shape == (300,)


def test_plain_buffer_with_image_array():
    top, bottom = random_bytes((4, 5, 3), 3), random_bytes((4, 5, 3), 4)
    out = np.zeros((4, 5, 3), np.uint8)
    byteblend.blend("screen", top.tobytes(), bottom, out)
    np.testing.assert_array_equal(out, direct("screen", top, bottom, out))


@pytest.mark.parametrize("into", ["top", "bottom"])
def test_in_place(mode, into):
    top, bottom = random_bytes((40, 9, 3), 8), random_bytes((40, 9, 3), 9)
    wanted = direct(mode, top, bottom, top if into == "top" else bottom)
    target = top if into == "top" else bottom
    assert byteblend.blend(mode, top, bottom, target) is target
    np.testing.assert_array_equal(target, wanted)


def test_in_place_on_one_buffer_for_both():
    data = random_bytes(99, 8)
    wanted = direct("addition", data, data, data)
    byteblend.addition(data, data, data)
    np.testing.assert_array_equal(data, wanted)


@pytest.mark.parametrize("threads", [None, 1, 2, 3, 8, np.int64(2)])
def test_threads_give_the_same_bytes(mode, threads):
    shape = (301, 333, 3)
    top, bottom = random_bytes(shape, 10), random_bytes(shape, 11)
    out = random_bytes(shape, 12)
    wanted = direct(mode, top, bottom, out)
    byteblend.blend(mode, top, bottom, out, threads=threads)
    np.testing.assert_array_equal(out, wanted)


# Any positive int is a thread count; one that does not fit an unsigned is
# the most it holds. The arrays are large enough (4 MiB and over) to be split.
@pytest.mark.parametrize("threads", [2**32, 2**64, 10**6])
@pytest.mark.parametrize("mode", ["screen", "green-channel"])
def test_thread_counts_beyond_an_unsigned(mode, threads):
    size = (4 << 20) + 2
    top, bottom = random_bytes(size, 13), random_bytes(size, 14)
    out, wanted = random_bytes(size, 15), random_bytes(size, 15)
    byteblend.blend(mode, top, bottom, wanted, threads=1)
    assert byteblend.blend(mode, top, bottom, out, threads=threads) is out
    np.testing.assert_array_equal(out, wanted)


def test_blends_from_other_threads_at_once():
    import concurrent.futures
    shape = (500, 500, 3)
    pairs = [(random_bytes(shape, i), random_bytes(shape, 100 + i))
             for i in range(4)]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        results = list(pool.map(lambda p: byteblend.overlay(*p, threads=1),
                                pairs))
    for (top, bottom), result in zip(pairs, results):
        np.testing.assert_array_equal(result,
                                      direct("overlay", top, bottom, top))


def test_the_gil_is_released_while_blending():
    # With a switch interval far longer than the test, the interpreter never
    # takes the GIL from a thread: this one gets it only when the blending
    # thread lets it go. Then the counter moves during a blend only if the
    # blend released the GIL (a blend that holds it returns to Python code
    # that reads the counter before this thread can run again).
    import sys
    import threading
    import time
    top, bottom = random_bytes(16 << 20, 1), random_bytes(16 << 20, 2)
    out = np.empty_like(top)
    counter = [0]
    moved = []
    done = threading.Event()

    def blend_three_times():
        for _ in range(3):
            before = counter[0]
            byteblend.color_burn(top, bottom, out, threads=1)
            moved.append(counter[0] - before)
        done.set()

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    try:
        worker = threading.Thread(target=blend_three_times)
        worker.start()
        while not done.is_set():
            counter[0] += 1
            time.sleep(0)  # lets the GIL go, as a blocking call does
        worker.join()
    finally:
        sys.setswitchinterval(interval)
    assert max(moved) > 0, moved


def test_the_package_docstring_example():
    import doctest
    assert doctest.testmod(byteblend).failed == 0
