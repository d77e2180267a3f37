"""Exact 8-bit blend modes for numpy arrays and other byte buffers.

byteblend blends two arrays of uint8 values, value by value, in thirteen
blend modes; every output byte is fixed to the last bit. The work is done by
libbyteblend (carried inside this package) without the GIL, on every core
for large arrays.

    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.screen(top, bottom)
    array([  0, 160, 192, 208, 255, 224], dtype=uint8)

Every function takes the same arguments:

top, bottom
    numpy arrays of uint8 of one shape, or any objects with the buffer
    protocol (bytes, bytearray, memoryview, ...) of uint8 items with the
    same number of bytes.
out
    Where to write: None for a new array of top's shape, or a writable
    array or buffer of the same size (numpy arrays: of the same shape). It
    may be top or bottom itself (a blend in place) but may not overlap them
    any other way.
threads
    None: up to every core, where more threads pay for the mode and size
    (color dodge, burn and overlay from a few hundred KiB, the other modes
    from 8 MiB), else the calling thread; 1: the calling thread only; N: up
    to N threads (any positive int). The bytes are the same for every count.

Arrays need not be contiguous: views such as ``image[:, ::2]`` or
``image[100:200, 50:300]`` are blended row by row where their rows are
contiguous runs of at least 64 bytes, and otherwise through contiguous
copies; ``out`` is written through its own strides either way.

The channel modes treat the arrays as packed RGB pixels and write only
their channel, leaving the other two values of ``out`` as they were (a new
array starts as a copy of ``bottom``); an array of more than one dimension
must have 3 as its last axis.

Errors are raised before anything is written: ValueError for an unknown
mode, sizes or shapes that differ, a read-only ``out``, an ``out`` that
overlaps an input other than exactly, or a channel mode on arrays whose last
axis is not 3; TypeError for items other than uint8. MemoryError, saying how
many bytes, when a new array or the contiguous copies of views cannot be
allocated.
"""
from typing import Any, Optional, Tuple

from . import _native
from ._version import __version__

__all__ = [
    "MODES", "blend", "addition", "subtraction", "multiplication", "screen",
    "overlay", "lighten", "darken", "color_dodge", "color_burn", "opacity",
    "red_channel", "green_channel", "blue_channel", "__version__",
]

#: The thirteen mode names, as the byteblend tool and C++ interface spell
#: them; blend() takes them in any case.
MODES: Tuple[str, ...] = (
    "addition", "subtraction", "multiplication", "screen", "overlay",
    "lighten", "darken", "color-dodge", "color-burn", "opacity",
    "red-channel", "green-channel", "blue-channel",
)

_blend = _native.blend


def blend(mode: str, top: Any, bottom: Any, out: Optional[Any] = None, *,
          threads: Optional[int] = None) -> Any:
    """Blends top onto bottom in the named mode (any case; see MODES).

    Returns out, or a new uint8 array of top's shape. See the package's
    help for the arguments, non-contiguous arrays and errors.
    """
    return _blend(mode, top, bottom, out, threads)


def addition(top: Any, bottom: Any, out: Optional[Any] = None, *,
             threads: Optional[int] = None) -> Any:
    """t + b, clamped to 255. Arguments and result as for blend()."""
    return _blend("addition", top, bottom, out, threads)


def subtraction(top: Any, bottom: Any, out: Optional[Any] = None, *,
                threads: Optional[int] = None) -> Any:
    """t - b, clamped to 0. Arguments and result as for blend()."""
    return _blend("subtraction", top, bottom, out, threads)


def multiplication(top: Any, bottom: Any, out: Optional[Any] = None, *,
                   threads: Optional[int] = None) -> Any:
    """t * b / 255, rounded. Arguments and result as for blend()."""
    return _blend("multiplication", top, bottom, out, threads)


def screen(top: Any, bottom: Any, out: Optional[Any] = None, *,
           threads: Optional[int] = None) -> Any:
    """255 (1 - (1 - t/255)(1 - b/255)), rounded. As for blend()."""
    return _blend("screen", top, bottom, out, threads)


def overlay(top: Any, bottom: Any, out: Optional[Any] = None, *,
            threads: Optional[int] = None) -> Any:
    """Multiply (2tb/255) where b <= 127, screen where b >= 128.

    Arguments and result as for blend().
    """
    return _blend("overlay", top, bottom, out, threads)


def lighten(top: Any, bottom: Any, out: Optional[Any] = None, *,
            threads: Optional[int] = None) -> Any:
    """The larger of t and b. Arguments and result as for blend()."""
    return _blend("lighten", top, bottom, out, threads)


def darken(top: Any, bottom: Any, out: Optional[Any] = None, *,
           threads: Optional[int] = None) -> Any:
    """The smaller of t and b. Arguments and result as for blend()."""
    return _blend("darken", top, bottom, out, threads)


def color_dodge(top: Any, bottom: Any, out: Optional[Any] = None, *,
                threads: Optional[int] = None) -> Any:
    """255 b / (255 - t), rounded, clamped to 255; 255 where t = 255.

    Arguments and result as for blend().
    """
    return _blend("color-dodge", top, bottom, out, threads)


def color_burn(top: Any, bottom: Any, out: Optional[Any] = None, *,
               threads: Optional[int] = None) -> Any:
    """255 - 255 (255 - b) / t, rounded, clamped to 0; 0 where t = 0.

    Arguments and result as for blend().
    """
    return _blend("color-burn", top, bottom, out, threads)


def opacity(top: Any, bottom: Any, out: Optional[Any] = None, *,
            threads: Optional[int] = None) -> Any:
    """(t + b) / 2, rounded down. Arguments and result as for blend()."""
    return _blend("opacity", top, bottom, out, threads)


def red_channel(top: Any, bottom: Any, out: Optional[Any] = None, *,
                threads: Optional[int] = None) -> Any:
    """3t + b, clamped to 255, in the red value of each RGB pixel only.

    The green and blue values of out keep what they held. Arguments and
    result as for blend().
    """
    return _blend("red-channel", top, bottom, out, threads)


def green_channel(top: Any, bottom: Any, out: Optional[Any] = None, *,
                  threads: Optional[int] = None) -> Any:
    """3t + b, clamped to 255, in the green value of each RGB pixel only.

    The red and blue values of out keep what they held. Arguments and
    result as for blend().
    """
    return _blend("green-channel", top, bottom, out, threads)


def blue_channel(top: Any, bottom: Any, out: Optional[Any] = None, *,
                 threads: Optional[int] = None) -> Any:
    """3t + b, clamped to 255, in the blue value of each RGB pixel only.

    The red and green values of out keep what they held. Arguments and
    result as for blend().
    """
    return _blend("blue-channel", top, bottom, out, threads)
