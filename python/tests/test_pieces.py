# SPDX-License-Identifier: MIT
"""Arrays are handed to the kernels in pieces of at most the piece size (a
multiple of 3): shown with small pieces, as large arrays would be split."""
import numpy as np
import pytest

import byteblend
from byteblend import _native
from conftest import direct, random_bytes


@pytest.fixture
def piece_size():
    def set_size(size):
        _native._set_piece_size(size)
    yield set_size
    _native._set_piece_size(_native.default_piece_size)


def test_default_is_the_largest_multiple_of_three_a_kernel_takes():
    assert _native._piece_size() == _native.default_piece_size
    assert _native.default_piece_size % 3 == 0
    assert _native.default_piece_size < 2**31


@pytest.mark.parametrize("size", [3, 6, 63, 3 * 1001])
@pytest.mark.parametrize("threads", [1, 2])
def test_pieces_give_the_same_bytes(mode, piece_size, size, threads):
    piece_size(size)
    for length in (1, 2, 3, size - 1, size, size + 1, 3 * size + 2, 10000):
        top, bottom = random_bytes(length, length), random_bytes(length, 1)
        out = random_bytes(length, 2)
        wanted = direct(mode, top, bottom, out)
        byteblend.blend(mode, top, bottom, out, threads=threads)
        np.testing.assert_array_equal(out, wanted, err_msg=f"{length}")


def test_pieces_of_long_rows(mode, piece_size):
    piece_size(30)
    top = random_bytes((20, 300, 3), 1)[:, :200]
    bottom = random_bytes((20, 200, 3), 2)
    out = random_bytes((20, 200, 3), 3)
    wanted = direct(mode, top, bottom, out)
    byteblend.blend(mode, top, bottom, out)
    np.testing.assert_array_equal(out, wanted)


@pytest.mark.parametrize("size", [0, 4, 2**31 + 2])
def test_piece_size_must_be_a_multiple_of_three_a_kernel_takes(size):
    with pytest.raises(ValueError, match="multiple of 3"):
        _native._set_piece_size(size)
